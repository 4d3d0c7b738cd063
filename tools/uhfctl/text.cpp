#include "uhfctl/text.hpp"

#include <cctype>
#include <cstdio>

namespace uhfctl {

std::optional<long long> parse_int(std::string_view text, long long lo, long long hi) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 12) return std::nullopt;
    long long value = 0;
    for (char ch : text) {
        const int c = std::tolower(static_cast<unsigned char>(ch));
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (digit < 0) return std::nullopt;
        value = value * base + digit;
    }
    if (negative) value = -value;
    if (value < lo || value > hi) return std::nullopt;
    return value;
}

std::optional<std::vector<std::uint8_t>> parse_hex(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char ch : text) {
        if (ch == ' ' || ch == ':' || ch == '-' || ch == '_') {
            if (high >= 0) return std::nullopt;  // a separator splitting a byte
            continue;
        }
        const int c = std::tolower(static_cast<unsigned char>(ch));
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::string hex(std::span<const std::uint8_t> bytes, std::string_view sep) {
    std::string out;
    out.reserve(bytes.size() * (2 + sep.size()));
    char buf[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out += sep;
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

std::string printable(std::span<const std::uint8_t> b) {
    std::string s;
    for (auto c : b) s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
    return s;
}

}  // namespace uhfctl
