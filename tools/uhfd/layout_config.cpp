#include "layout_config.hpp"

namespace uhfd {

namespace {

// { offset = N, size = N, signed = bool }, and for entry_length `add`, for id `end`.
struct FieldText {
    int offset = 0;
    int size = 0;
    int end = 0;
    int add = 0;
    bool is_signed = false;
};

std::optional<FieldText> field(Section& s, const std::string& key, Problems& problems, bool is_id = false,
                               bool has_add = false) {
    const toml::table* t = s.table(key);
    if (!t) return std::nullopt;
    Section f(*t, s.key_path(key), problems);
    FieldText out;
    out.offset = static_cast<int>(f.integer("offset", -2048, 2048, true).value_or(0));
    out.size = static_cast<int>(f.integer("size", is_id ? 0 : 1, is_id ? 2048 : 4, !is_id).value_or(is_id ? 0 : 1));
    if (is_id) {
        out.end = static_cast<int>(f.integer("end", -2048, 2048).value_or(0));
    } else {
        out.is_signed = f.flag("signed").value_or(false);
    }
    if (has_add) out.add = static_cast<int>(f.integer("add", 0, 2048).value_or(0));
    return out;
}

inventory::Field as_field(const std::optional<FieldText>& f) {
    if (!f) return {};
    return {f->offset, f->size, f->is_signed};
}

}  // namespace

inventory::Layout parse_layout(const toml::table& table, const std::string& name, Problems& problems) {
    inventory::Layout l;
    l.name = name;
    {
        Section s(table, "layouts." + name, problems);
        l.little_endian = s.flag("little_endian").value_or(false);
        l.total = as_field(field(s, "total", problems));
        l.in_list = as_field(field(s, "in_list", problems));
        l.count = as_field(field(s, "count", problems));
        l.entries = static_cast<int>(s.integer("entries", 0, 2048, true).value_or(0));
        l.trailer = static_cast<int>(s.integer("trailer", 0, 2048).value_or(0));
        l.entry_size = static_cast<int>(s.integer("entry_size", 0, 2048).value_or(0));
        if (auto len = field(s, "entry_length", problems, false, true)) {
            l.entry_length = as_field(len);
            l.entry_length_add = len->add;
        }
        if (auto id = field(s, "id", problems, true)) l.id = {id->offset, id->size, id->end};
        else s.problem("id", "missing (a table: { offset = N, size = N } or { offset = N, end = -N })");
        l.rssi = as_field(field(s, "rssi", problems));
        l.antenna = as_field(field(s, "antenna", problems));
        l.reads = as_field(field(s, "reads", problems));
    }
    if (problems.empty())
        if (auto why = inventory::check(l)) problems.add(table.source(), "layouts." + name, *why);
    return l;
}

}  // namespace uhfd
