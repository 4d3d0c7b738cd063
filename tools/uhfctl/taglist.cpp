#include "uhfctl/taglist.hpp"

namespace uhfctl {

std::optional<TagListPage> parse_tag_list(std::span<const std::uint8_t> copy) {
    if (copy.size() < 5) return std::nullopt;
    const std::size_t total = (std::size_t{copy[0]} << 8) | copy[1];
    if (total < 5 || total > copy.size()) return std::nullopt;
    TagListPage page;
    page.in_list = (std::size_t{copy[2]} << 8) | copy[3];
    const std::size_t here = copy[4];
    std::size_t at = 5;
    for (std::size_t i = 0; i < here; ++i) {
        if (at >= total) return std::nullopt;
        const std::size_t n = copy[at];
        if (n < 4 || at + 1 + n > total) return std::nullopt;
        SeenTag t;
        t.id.assign(copy.begin() + static_cast<long>(at) + 1, copy.begin() + static_cast<long>(at + n) - 2);
        t.rssi = static_cast<std::int8_t>(copy[at + n - 2]);
        t.antenna = copy[at + n - 1];
        t.reads = copy[at + n];
        page.tags.push_back(std::move(t));
        at += 1 + n;
    }
    if (at != total || page.tags.size() > page.in_list) return std::nullopt;
    return page;
}

}  // namespace uhfctl
