// The USB reply decoder fed whole transfers, as one bulk IN transfer delivers them.
//
// Input: [command expected] [address the request went to] [the transfer].
// Checks: the outcome is a documented pair; data lands only below the announced length; a
// success never reads past the transfer, echoes the request and keeps the USB address rule
// (no broadcast replier), and its fields re-encode to the transfer once the bytes the decoder
// skips after each 0x10 are taken as the 0x10 they stand for.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "check.hpp"
#include "sim/wire.hpp"

namespace {

constexpr std::uint8_t kUntouched = 0x5A;

// The transfer with every byte the decoder skipped after a 0x10 of the doubled region put
// back as 0x10; `frame_end` is where the decoder's end pair starts.
std::vector<std::uint8_t> as_doubled(const std::uint8_t *t, std::size_t frame_end) {
    std::vector<std::uint8_t> out(t, t + frame_end + 2);
    for (std::size_t i = 2; i < frame_end; ++i)
        if (out[i] == 0x10) out[++i] = 0x10;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *in, std::size_t size) {
    if (size < 2) return 0;
    const uhf::Expectation expect{in[0], in[1]};
    const std::size_t n = size - 2;
    std::unique_ptr<std::uint8_t[]> transfer(new std::uint8_t[n ? n : 1]);
    if (n) std::memcpy(transfer.get(), in + 2, n);

    std::unique_ptr<std::uint8_t[]> area(new std::uint8_t[uhf::kReplyCapacity]);
    std::memset(area.get(), kUntouched, uhf::kReplyCapacity);
    std::span<std::uint8_t, uhf::kReplyCapacity> data(area.get(), uhf::kReplyCapacity);

    uhf::ReplyFields f;
    const uhf::Outcome o = uhf::decode_usb_reply({transfer.get(), n}, expect, f, data);

    UHF_FUZZ_CHECK(uhffuzz::documented(o, uhf::Wire::usb));
    const std::size_t written = f.have_length && f.length <= uhf::kReplyCapacity ? f.length : 0;
    for (std::size_t i = written; i < uhf::kReplyCapacity; ++i) UHF_FUZZ_CHECK(area[i] == kUntouched);
    // The echo is tested as soon as the command is read, so a wrong one never reaches the status.
    if (f.have_command && f.command != expect.command) UHF_FUZZ_CHECK(!f.have_status);

    if (o.code != 0) return 0;
    UHF_FUZZ_CHECK(f.have_length && f.length <= uhf::kReplyCapacity && f.length <= n);
    UHF_FUZZ_CHECK(f.command == expect.command);
    UHF_FUZZ_CHECK(f.address == expect.address || expect.address == 0xFF || expect.command == 0x06);

    uhfsim::Reply r{f.address, f.command, f.status,
                    std::vector<std::uint8_t>(area.get(), area.get() + f.length)};
    const std::vector<std::uint8_t> frame = uhfsim::encode_reply(r);
    UHF_FUZZ_CHECK(frame.size() <= n);
    UHF_FUZZ_CHECK(as_doubled(transfer.get(), frame.size() - 2) == frame);
    return 0;
}
