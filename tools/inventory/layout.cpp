#include "inventory/layout.hpp"

namespace inventory {

const Layout& virtual_layout() {
    static const Layout layout = [] {
        Layout l;
        l.name = "virtual";
        l.total = {0, 2};
        l.in_list = {2, 2};
        l.count = {4, 1};
        l.entries = 5;
        l.entry_length = {0, 1};
        l.entry_length_add = 1;  // the count byte counts the bytes after itself
        l.id = {1, 0, -3};
        l.rssi = {-3, 1, true};
        l.antenna = {-2, 1};
        l.reads = {-1, 1};
        return l;
    }();
    return layout;
}

Layout raw_layout() {
    Layout l;
    l.name = "raw";
    l.raw = true;
    return l;
}

namespace {

std::optional<std::string> check_field(const char* what, const Field& f, bool required, bool in_entry) {
    if (!f.present()) {
        if (required) return std::string(what) + " is required";
        return std::nullopt;
    }
    if (f.size > 4) return std::string(what) + ": size is 1 to 4 bytes";
    if (!in_entry && f.offset < 0) return std::string(what) + ": a page field's offset cannot be negative";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> check(const Layout& l) {
    if (l.raw) return std::nullopt;
    if (auto e = check_field("total", l.total, false, false)) return e;
    if (auto e = check_field("in_list", l.in_list, false, false)) return e;
    if (auto e = check_field("count", l.count, true, false)) return e;
    if (l.entries < 0) return "entries: the first entry's offset cannot be negative";
    if (l.trailer < 0) return "trailer cannot be negative";
    if (l.entry_size < 0) return "entry_size cannot be negative";
    if (l.entry_size == 0) {
        if (!l.entry_length.present()) return "entry_size or entry_length is required";
        if (auto e = check_field("entry_length", l.entry_length, true, true)) return e;
        if (l.entry_length_add < 0) return "entry_length.add cannot be negative";
    }
    for (auto [what, f] : {std::pair{"rssi", &l.rssi}, std::pair{"antenna", &l.antenna}, std::pair{"reads", &l.reads}})
        if (auto e = check_field(what, *f, false, true)) return e;
    if (l.id.size < 0) return "id: size cannot be negative";
    if (l.id.size == 0 && l.id.end > 0 && l.id.end <= l.id.offset) return "id: end must lie after offset";
    if (l.entry_size > 0) {
        const auto fits = [&](const Field& f) {
            const int at = f.offset < 0 ? l.entry_size + f.offset : f.offset;
            return !f.present() || (at >= 0 && at + f.size <= l.entry_size);
        };
        for (auto [what, f] : {std::pair{"rssi", &l.rssi}, std::pair{"antenna", &l.antenna}, std::pair{"reads", &l.reads}})
            if (!fits(*f)) return std::string(what) + " lies outside an entry of entry_size bytes";
        const int id_at = l.id.offset < 0 ? l.entry_size + l.id.offset : l.id.offset;
        const int id_end = l.id.size > 0 ? id_at + l.id.size : (l.id.end <= 0 ? l.entry_size + l.id.end : l.id.end);
        if (id_at < 0 || id_end > l.entry_size || id_end <= id_at) return "id lies outside an entry of entry_size bytes";
    }
    return std::nullopt;
}

}  // namespace inventory
