// The serial reply decoder fed one byte per read, as the line hands them over.
//
// Input: [command expected] [address the request went to] [reply bytes after the first 0x10].
// Checks: the outcome is a documented pair; the decoder stops reading once a read failed; data
// lands only below the announced length; and a success means the bytes taken are exactly the
// frame the reader-side encoder produces for the fields decoded, echoing the request.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "check.hpp"
#include "sim/wire.hpp"

namespace {

class OneByteReads final : public uhf::ByteSource {
public:
    OneByteReads(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool next(std::uint8_t &byte) override {
        UHF_FUZZ_CHECK(!failed_);  // a failed read ends the exchange
        if (pos_ >= size_) {
            failed_ = true;
            return false;
        }
        byte = data_[pos_++];
        return true;
    }
    std::size_t consumed() const { return pos_; }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

constexpr std::uint8_t kUntouched = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *in, std::size_t size) {
    if (size < 2) return 0;
    const uhf::Expectation expect{in[0], in[1]};
    // Copied into a buffer of its own size so a read past the reply is caught at the byte.
    const std::size_t n = size - 2;
    std::unique_ptr<std::uint8_t[]> rest(new std::uint8_t[n ? n : 1]);
    if (n) std::memcpy(rest.get(), in + 2, n);

    std::unique_ptr<std::uint8_t[]> area(new std::uint8_t[uhf::kReplyCapacity]);
    std::memset(area.get(), kUntouched, uhf::kReplyCapacity);
    std::span<std::uint8_t, uhf::kReplyCapacity> data(area.get(), uhf::kReplyCapacity);

    OneByteReads src(rest.get(), n);
    uhf::ReplyFields f;
    const uhf::Outcome o = uhf::decode_reply_rest(src, uhf::Wire::serial, expect, f, data);

    UHF_FUZZ_CHECK(uhffuzz::documented(o, uhf::Wire::serial));
    UHF_FUZZ_CHECK(!f.have_command || f.have_address);
    UHF_FUZZ_CHECK(!f.have_status || f.have_command);
    UHF_FUZZ_CHECK(!f.have_length || f.have_status);
    const std::size_t written = f.have_length && f.length <= uhf::kReplyCapacity ? f.length : 0;
    for (std::size_t i = written; i < uhf::kReplyCapacity; ++i) UHF_FUZZ_CHECK(area[i] == kUntouched);

    if (o.code != 0) return 0;
    UHF_FUZZ_CHECK(f.have_length && f.length <= uhf::kReplyCapacity);
    UHF_FUZZ_CHECK(f.command == expect.command);
    UHF_FUZZ_CHECK(f.address == expect.address || expect.address == 0xFF || f.address == 0xFF ||
                   expect.command == 0x06);
    uhfsim::Reply r{f.address, f.command, f.status,
                    std::vector<std::uint8_t>(area.get(), area.get() + f.length)};
    const std::vector<std::uint8_t> frame = uhfsim::encode_reply(r);
    UHF_FUZZ_CHECK(frame.size() == src.consumed() + 1);
    UHF_FUZZ_CHECK(std::memcmp(frame.data() + 1, rest.get(), src.consumed()) == 0);
    return 0;
}
