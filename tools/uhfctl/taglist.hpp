// Tag lists as the virtual reader delivers them (docs/simulator.md): a total-length block
//
//   [t hi, t lo, in list hi, in list lo, here, entries...]
//   entry: [n, id (n-3 bytes), rssi (signed dBm), antenna, reads]
//
// A list that does not parse this way is left to the caller to show as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace uhfctl {

struct SeenTag {
    std::vector<std::uint8_t> id;
    int rssi = 0;
    int antenna = 0;
    int reads = 0;
};

struct TagListPage {
    std::size_t in_list = 0;  // entries the reader holds in all
    std::vector<SeenTag> tags;  // the entries of this reply
};

std::optional<TagListPage> parse_tag_list(std::span<const std::uint8_t> copy);

}  // namespace uhfctl
