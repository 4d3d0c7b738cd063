// Result rules and reply-copy rules: how a command hands a successful exchange back.
//
// Every copy reads its count from the reply data (never from BlkBLength), copies from the
// start of the reply so the caller receives the data unchanged, and never reads past the
// 2048-byte reply area: bytes past the data actually received read 0, because the
// transports zero them after every successful exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/frame.hpp"

namespace uhf {

enum class ResultRule {
    status,    // the exchange code when non-zero, else the reader's status byte
    exchange,  // the exchange code alone
};

struct CopyRule {
    enum class Kind {
        none,
        counted,           // byte 0 = n; bytes 0..n (n+1 bytes)
        self_counted,      // byte 0 = n including itself; bytes 0..n-1, at least byte 0
        total_length,      // bytes 0-1 = big-endian total t; bytes 0..t-1, at least 2 (t capped at 2048)
        status_echo,       // byte 0 back into the caller's request block
        fixed,             // bytes 0..n-1
        two_byte_counted,  // bytes 0-1 = big-endian c; bytes 0..c+1 (c capped at 2046)
    };
    Kind kind = Kind::none;
    std::uint8_t *dst = nullptr;
    std::size_t fixed_size = 0;

    static constexpr CopyRule nothing() { return {}; }
    static constexpr CopyRule counted(std::uint8_t *d) { return {Kind::counted, d, 0}; }
    static constexpr CopyRule self_counted(std::uint8_t *d) { return {Kind::self_counted, d, 0}; }
    static constexpr CopyRule total_length(std::uint8_t *d) { return {Kind::total_length, d, 0}; }
    static constexpr CopyRule status_echo(std::uint8_t *d) { return {Kind::status_echo, d, 0}; }
    static constexpr CopyRule fixed(std::uint8_t *d, std::size_t n) { return {Kind::fixed, d, n}; }
    static constexpr CopyRule two_byte_counted(std::uint8_t *d) {
        return {Kind::two_byte_counted, d, 0};
    }
};

// How many bytes the rule writes for this reply (0 for none).
std::size_t copy_size(const CopyRule &rule, std::span<const std::uint8_t, kReplyCapacity> reply);

// Applies the rule: writes copy_size() bytes from the start of reply into rule.dst.
std::size_t apply_copy(const CopyRule &rule, std::span<const std::uint8_t, kReplyCapacity> reply);

constexpr int apply_result(ResultRule rule, int exchange_code, std::uint8_t status) {
    if (exchange_code != 0 || rule == ResultRule::exchange) return exchange_code;
    return status;
}

}  // namespace uhf
