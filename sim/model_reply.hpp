// What the reader model's command handlers share: its limits, how a tag command code splits into
// family and operation, and the shapes of replies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sim/model.hpp"

namespace uhfsim::model_detail {

inline constexpr std::uint8_t kBroadcast = 0xFF;
inline constexpr std::size_t kReplyCapacity = 2048;
inline constexpr std::size_t kMaxReadWords = 127;  // a counted reply holds at most 255 bytes after its count
inline constexpr std::size_t kChannelPages = 4;
inline constexpr std::uint8_t kMaxPowerDbm = 30;

// The family and operation of a tag command code.
struct TagCode {
    Family family;
    std::uint8_t op;  // the code's offset from its family's first code
};

inline std::optional<TagCode> tag_code(std::uint8_t cmd) {
    if (cmd >= 0x20 && cmd <= 0x2F) return TagCode{Family::epc, static_cast<std::uint8_t>(cmd - 0x20)};
    if (cmd >= 0x40 && cmd <= 0x59) return TagCode{Family::gb, static_cast<std::uint8_t>(cmd - 0x40)};
    if (cmd >= 0x60 && cmd <= 0x70) return TagCode{Family::gjb, static_cast<std::uint8_t>(cmd - 0x60)};
    return std::nullopt;
}

// Operations, as offsets from a family's first code.
namespace op {
inline constexpr std::uint8_t read_select = 0, write_select = 1, query = 2, tag_list = 3, set_pwd = 5,
                       wake = 6, access = 7, read = 8, write = 9, kill = 10, lock = 11,
                       write_block = 12, erase = 13, halt = 14, edit_pwd = 15, get_sec = 16,
                       set_sec = 17, set_auth = 18, first_auth_step = 19, last_auth_step = 25;
}

inline Reply make(const Request& req, std::uint8_t addr, std::uint8_t st,
           std::vector<std::uint8_t> data = {}) {
    return Reply{addr, req.cmd, st, std::move(data)};
}

inline std::vector<std::uint8_t> counted(const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out;
    out.reserve(body.size() + 1);
    out.push_back(static_cast<std::uint8_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline std::size_t be16(const std::uint8_t* p) { return (std::size_t{p[0]} << 8) | p[1]; }

// A stand-in digest (FNV-1a, widened): stable and input-sensitive, not cryptographic.
inline std::array<std::uint8_t, 16> digest(const std::uint8_t* data, std::size_t n, std::uint64_t salt) {
    std::array<std::uint8_t, 16> out{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t h = 1469598103934665603ULL ^ (salt + half * 0x9E3779B97F4A7C15ULL);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= data[i];
            h *= 1099511628211ULL;
        }
        for (std::size_t i = 0; i < 8; ++i) out[half * 8 + i] = static_cast<std::uint8_t>(h >> (56 - 8 * i));
    }
    return out;
}

}  // namespace uhfsim::model_detail
