// Every reply-copy rule against arbitrary reply data and counts.
//
// Input: [rule] [fixed size, two bytes] [reply data...]; the reply area past the data reads 0,
// as the transports leave it. The caller's buffer is allocated at exactly the most the rule
// permits, so a copy one byte too long is caught at once.
// Checks: the count copied stays within the rule's bound, the copied bytes are the reply's
// first bytes unchanged, and nothing past the count is written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "check.hpp"
#include "core/reply_copy.hpp"

namespace {

using K = uhf::CopyRule::Kind;

constexpr K kKinds[] = {K::none,        K::counted, K::self_counted,    K::total_length,
                        K::status_echo, K::fixed,   K::two_byte_counted};

constexpr std::uint8_t kUntouched = 0xC3;

// The most each rule may write, whatever the reply says.
std::size_t most_permitted(K kind, std::size_t fixed) {
    switch (kind) {
    case K::none: return 0;
    case K::counted: return 256;
    case K::self_counted: return 255;
    case K::total_length: return uhf::kReplyCapacity;
    case K::status_echo: return 1;
    case K::fixed: return fixed;
    case K::two_byte_counted: return uhf::kReplyCapacity;
    }
    return 0;
}

// The least each rule writes: its count bytes.
std::size_t least(K kind, std::size_t fixed) {
    switch (kind) {
    case K::none: return 0;
    case K::counted:
    case K::self_counted:
    case K::status_echo: return 1;
    case K::total_length:
    case K::two_byte_counted: return 2;
    case K::fixed: return fixed;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *in, std::size_t size) {
    if (size < 3) return 0;
    const K kind = kKinds[in[0] % std::size(kKinds)];
    const std::size_t fixed = (static_cast<std::size_t>(in[1]) << 8 | in[2]) % (uhf::kReplyCapacity + 1);
    const std::size_t data_len = std::min(size - 3, uhf::kReplyCapacity);

    std::unique_ptr<std::uint8_t[]> reply(new std::uint8_t[uhf::kReplyCapacity]());
    std::memcpy(reply.get(), in + 3, data_len);
    std::span<const std::uint8_t, uhf::kReplyCapacity> area(reply.get(), uhf::kReplyCapacity);

    const std::size_t room = most_permitted(kind, fixed);
    std::unique_ptr<std::uint8_t[]> dst(new std::uint8_t[room ? room : 1]);
    std::memset(dst.get(), kUntouched, room ? room : 1);

    const uhf::CopyRule rule{kind, dst.get(), fixed};
    const std::size_t planned = uhf::copy_size(rule, area);
    const std::size_t copied = uhf::apply_copy(rule, area);

    UHF_FUZZ_CHECK(copied == planned);
    UHF_FUZZ_CHECK(copied >= least(kind, fixed) && copied <= room);
    UHF_FUZZ_CHECK(std::memcmp(dst.get(), reply.get(), copied) == 0);
    for (std::size_t i = copied; i < room; ++i) UHF_FUZZ_CHECK(dst[i] == kUntouched);

    // No destination: the count is still worked out, nothing is written anywhere.
    const uhf::CopyRule blind{kind, nullptr, fixed};
    UHF_FUZZ_CHECK(uhf::apply_copy(blind, area) == planned);
    return 0;
}
