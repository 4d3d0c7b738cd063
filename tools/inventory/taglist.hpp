// One page of a tag list, read by a layout (inventory/layout.hpp). A page that does not read
// cleanly by its layout is refused whole rather than guessed at; callers show it as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "inventory/layout.hpp"

namespace inventory {

struct SeenTag {
    std::vector<std::uint8_t> id;
    std::optional<int> rssi;
    std::optional<int> antenna;
    int reads = 1;
};

struct TagListPage {
    std::size_t in_list = 0;    // entries the reader holds in all
    std::vector<SeenTag> tags;  // the entries of this page
};

// `why`, when given, receives the reason a page is refused.
std::optional<TagListPage> decode_page(const Layout& layout, std::span<const std::uint8_t> page,
                                       std::string* why = nullptr);

// A page in the virtual reader's form.
std::optional<TagListPage> parse_tag_list(std::span<const std::uint8_t> copy);

}  // namespace inventory
