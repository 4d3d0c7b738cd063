#include "inventory/taglist.hpp"

namespace inventory {

namespace {

long read_field(const Layout& l, std::span<const std::uint8_t> b, std::size_t at, const Field& f) {
    unsigned long v = 0;
    for (int i = 0; i < f.size; ++i) {
        const std::size_t k = l.little_endian ? at + static_cast<std::size_t>(f.size - 1 - i) : at + static_cast<std::size_t>(i);
        v = (v << 8) | b[k];
    }
    if (f.is_signed && (v >> (8 * f.size - 1)) & 1) return static_cast<long>(v) - (1L << (8 * f.size));
    return static_cast<long>(v);
}

// Where an entry field starts, or nullopt when it does not lie inside [begin, end).
std::optional<std::size_t> place(std::size_t begin, std::size_t end, int offset, int size) {
    const long at = offset < 0 ? static_cast<long>(end) + offset : static_cast<long>(begin) + offset;
    if (at < static_cast<long>(begin) || at + size > static_cast<long>(end)) return std::nullopt;
    return static_cast<std::size_t>(at);
}

std::optional<TagListPage> refuse(std::string* why, std::string text) {
    if (why) *why = std::move(text);
    return std::nullopt;
}

}  // namespace

std::optional<TagListPage> decode_page(const Layout& l, std::span<const std::uint8_t> page, std::string* why) {
    std::size_t end = page.size();
    const auto page_field = [&](const Field& f) -> std::optional<long> {
        if (static_cast<std::size_t>(f.offset + f.size) > end) return std::nullopt;
        return read_field(l, page, static_cast<std::size_t>(f.offset), f);
    };
    if (l.total.present()) {
        const auto total = page_field(l.total);
        if (!total) return refuse(why, "shorter than its length field");
        if (*total < 0 || static_cast<std::size_t>(*total) > page.size())
            return refuse(why, "its length " + std::to_string(*total) + " exceeds the " + std::to_string(page.size()) + " bytes copied");
        end = static_cast<std::size_t>(*total);
    }
    const auto here = page_field(l.count);
    if (!here || static_cast<std::size_t>(l.entries) > end) return refuse(why, "shorter than its header");
    TagListPage out;
    if (l.in_list.present()) {
        const auto in_list = page_field(l.in_list);
        if (!in_list) return refuse(why, "shorter than its header");
        out.in_list = static_cast<std::size_t>(*in_list);
    }
    if (end < static_cast<std::size_t>(l.trailer) + static_cast<std::size_t>(l.entries))
        return refuse(why, "shorter than its header and trailer");
    const std::size_t entries_end = end - static_cast<std::size_t>(l.trailer);
    std::size_t at = static_cast<std::size_t>(l.entries);
    for (long i = 0; i < *here; ++i) {
        const std::string which = "entry " + std::to_string(i);
        if (at >= entries_end) return refuse(why, which + " lies past the page's end");
        std::size_t size = static_cast<std::size_t>(l.entry_size);
        if (size == 0) {
            const auto len_at = place(at, entries_end, l.entry_length.offset, l.entry_length.size);
            if (!len_at) return refuse(why, which + ": its length field lies past the page's end");
            size = static_cast<std::size_t>(read_field(l, page, *len_at, l.entry_length) + l.entry_length_add);
        }
        if (size == 0 || at + size > entries_end) return refuse(why, which + " runs past the page's end");
        const std::size_t entry_end = at + size;
        SeenTag t;
        // False when a present field does not lie inside the entry.
        const auto field = [&](const Field& f, std::optional<int>& out) {
            if (!f.present()) return true;
            const auto p = place(at, entry_end, f.offset, f.size);
            if (p) out = static_cast<int>(read_field(l, page, *p, f));
            return p.has_value();
        };
        std::optional<int> reads;
        if (!field(l.rssi, t.rssi) || !field(l.antenna, t.antenna) || !field(l.reads, reads))
            return refuse(why, which + " is too short for its fields");
        if (reads) t.reads = *reads;
        std::optional<std::size_t> id_at, id_end;
        if (l.id.size > 0) {
            id_at = place(at, entry_end, l.id.offset, l.id.size);
            if (id_at) id_end = *id_at + static_cast<std::size_t>(l.id.size);
        } else {
            id_at = place(at, entry_end, l.id.offset, 0);
            const long e = l.id.end <= 0 ? static_cast<long>(entry_end) + l.id.end : static_cast<long>(at) + l.id.end;
            if (id_at && e > static_cast<long>(*id_at) && e <= static_cast<long>(entry_end)) id_end = static_cast<std::size_t>(e);
        }
        if (!id_at || !id_end) return refuse(why, which + " is too short for its fields");
        t.id.assign(page.begin() + static_cast<long>(*id_at), page.begin() + static_cast<long>(*id_end));
        out.tags.push_back(std::move(t));
        at = entry_end;
    }
    if (at != entries_end) return refuse(why, std::to_string(entries_end - at) + " bytes after the last entry");
    if (l.in_list.present() && out.tags.size() > out.in_list)
        return refuse(why, "more entries in the page than in the whole list");
    return out;
}

std::optional<TagListPage> parse_tag_list(std::span<const std::uint8_t> copy) {
    return decode_page(virtual_layout(), copy);
}

}  // namespace inventory
