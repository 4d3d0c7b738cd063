#include "core/reply_copy.hpp"

#include <algorithm>
#include <cstring>

namespace uhf {
namespace {

std::size_t big_endian16(std::span<const std::uint8_t, kReplyCapacity> r) {
    return static_cast<std::size_t>(r[0]) << 8 | r[1];
}

}  // namespace

std::size_t copy_size(const CopyRule &rule, std::span<const std::uint8_t, kReplyCapacity> reply) {
    using K = CopyRule::Kind;
    switch (rule.kind) {
    case K::none: return 0;
    case K::counted: return static_cast<std::size_t>(reply[0]) + 1;
    case K::self_counted: return std::max<std::size_t>(reply[0], 1);
    case K::total_length: return std::clamp<std::size_t>(big_endian16(reply), 2, kReplyCapacity);
    case K::status_echo: return 1;
    case K::fixed: return std::min(rule.fixed_size, kReplyCapacity);
    case K::two_byte_counted: return std::min<std::size_t>(big_endian16(reply), kReplyCapacity - 2) + 2;
    }
    return 0;
}

std::size_t apply_copy(const CopyRule &rule, std::span<const std::uint8_t, kReplyCapacity> reply) {
    std::size_t n = copy_size(rule, reply);
    if (n != 0 && rule.dst != nullptr) std::memmove(rule.dst, reply.data(), n);
    return n;
}

}  // namespace uhf
