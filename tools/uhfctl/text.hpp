// Parsing and printing shared by the command-line tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace uhfctl {

// Decimal or 0x hex, optionally negative, within [lo, hi].
std::optional<long long> parse_int(std::string_view text, long long lo, long long hi);

// Hex bytes: "0a1B", "0a 1b", "0a:1b" or "0x0a1b"; an even number of digits.
std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view text);

// "0A 1B 2C"; `sep` empty gives "0A1B2C".
std::string hex(std::span<const std::uint8_t> bytes, std::string_view sep = " ");

// The bytes as ASCII, '.' for anything unprintable.
std::string printable(std::span<const std::uint8_t> bytes);

}  // namespace uhfctl
