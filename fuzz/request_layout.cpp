// The request layouts with arbitrary caller blocks, through the command pattern's first steps.
//
// Input: a list of pieces, each [kind] [header or fixed bytes...], up to four of them as the
// commands combine them, then scalar arguments. Each caller block is allocated at exactly the
// length its own header works out to, or at its header alone when the whole request would be
// over-long, so reading one byte past what a block describes is caught at the byte.
// Checks: a request of at most 255 bytes is placed whole and unchanged, with nothing past it
// written; a longer one is refused with 248 / 104 and nothing placed; the address and command
// are stored as their low bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "check.hpp"
#include "core/command.hpp"
#include "uhfreader.h"

namespace {

constexpr std::uint8_t kUntouched = 0x3C;

std::size_t be16(const std::uint8_t *b) { return static_cast<std::size_t>(b[0]) << 8 | b[1]; }

// A caller block whose header says how long it is: the header size and the designed rule.
struct Counted {
    std::size_t header;
    std::size_t (*length)(const std::uint8_t *h);
    uhf::RequestLayout (*layout)(const std::uint8_t *block);
};

const Counted kCounted[] = {
    {1, [](const std::uint8_t *h) -> std::size_t { return h[0]; }, uhf::select_block},
    {4, [](const std::uint8_t *h) -> std::size_t { return 4 + (h[3] + 7u) / 8; }, uhf::bit_counted},
    {3, [](const std::uint8_t *h) -> std::size_t { return 3 + 2u * h[2]; }, uhf::word_counted<3>},
    {4, [](const std::uint8_t *h) -> std::size_t { return 4 + 2u * h[3]; }, uhf::word_counted<4>},
    {5, [](const std::uint8_t *h) { return 5 + 2 * be16(h + 3); }, uhf::word_counted<5>},
    {2, [](const std::uint8_t *h) { return 5 + (be16(h) + 7) / 8; }, uhf::custom_block},
    {1, [](const std::uint8_t *h) -> std::size_t { return 1u + h[0]; }, uhf::count_prefixed},
    {3, [](const std::uint8_t *h) -> std::size_t { return 3u + h[2]; }, uhf::hash_block},
    {5, [](const std::uint8_t *h) -> std::size_t { return 5u + h[4]; }, uhf::cipher_block},
};

class Input {
public:
    Input(const std::uint8_t *d, std::size_t n) : d_(d), n_(n) {}
    std::uint8_t byte() { return pos_ < n_ ? d_[pos_++] : 0; }
    int integer() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return static_cast<int>(v);
    }

private:
    const std::uint8_t *d_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

struct Piece {
    std::vector<std::uint8_t> content;  // what the caller's block holds, as far as it is meant
    std::size_t length = 0;             // request bytes it stands for
    const Counted *counted = nullptr;   // nullptr: literal bytes or a fixed block
    bool literal = false;
    std::unique_ptr<std::uint8_t[]> block;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Input in(data, size);
    const std::size_t count = 1 + in.byte() % uhf::RequestLayout::kMaxPieces;
    std::vector<Piece> pieces(count);
    std::size_t total = 0;
    for (Piece &p : pieces) {
        const std::uint8_t kind = in.byte();
        if (kind < 0x40) {  // scalar arguments: their low bytes, or the low 16 bits high first
            p.literal = true;
            const int a = in.integer(), b = in.integer(), c = in.integer(), d = in.integer();
            auto low = [](int v) { return static_cast<std::uint8_t>(v & 0xFF); };
            switch (kind % 4) {
            case 0: p.content = {low(a)}; break;
            case 1: p.content = {low(a), low(b)}; break;
            case 2: p.content = {low(a), low(b), low(c), low(d)}; break;
            default: p.content = {low(a >> 8), low(a)}; break;
            }
            p.length = p.content.size();
        } else if (kind < 0x80) {  // a fixed block of up to 32 bytes
            p.length = kind % 33;
            for (std::size_t i = 0; i < p.length; ++i) p.content.push_back(in.byte());
        } else {
            p.counted = &kCounted[kind % std::size(kCounted)];
            for (std::size_t i = 0; i < p.counted->header; ++i) p.content.push_back(in.byte());
            p.length = p.counted->length(p.content.data());
            // A length below the header (a select block counting less than itself) still
            // has its header read.
            while (p.content.size() < p.length) p.content.push_back(in.byte());
        }
        total += p.length;
    }
    const bool fits = total <= uhf::kMaxRequestData;

    for (Piece &p : pieces) {
        if (p.literal) continue;
        // Over-long: only the header is there to read.
        std::size_t n = fits || !p.counted ? p.content.size() : p.counted->header;
        p.block.reset(new std::uint8_t[n ? n : 1]);
        if (n) std::memcpy(p.block.get(), p.content.data(), n);
    }

    uhf::RequestLayout layout;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Piece &p = pieces[i];
        uhf::RequestLayout next =
            p.literal ? uhf::RequestLayout::literal(p.content)
            : p.counted ? p.counted->layout(p.block.get())
                        : uhf::fixed_block(p.block.get(), p.length);
        layout = i == 0 ? next : layout + next;
    }

    const int addr = in.integer();
    const std::uint8_t code = in.byte();
    std::memset(BlkAAdrBeg, kUntouched, sizeof BlkAAdrBeg);
    IcRetCode = 0;
    BlkALength = 0xEE;
    const int rc = uhf::prepare(addr, code, layout);

    UHF_FUZZ_CHECK(pc_id == static_cast<std::uint8_t>(addr & 0xFF));
    UHF_FUZZ_CHECK(IcCmd == code);
    if (!fits) {
        UHF_FUZZ_CHECK(rc == 248 && IcRetCode == 104 && BlkALength == 0xEE);
        for (std::uint8_t b : BlkAAdrBeg) UHF_FUZZ_CHECK(b == kUntouched);
        return 0;
    }
    UHF_FUZZ_CHECK(rc == 0 && IcRetCode == 0 && BlkALength == total);
    std::size_t at = 0;
    for (const Piece &p : pieces) {
        UHF_FUZZ_CHECK(p.length == 0 || std::memcmp(BlkAAdrBeg + at, p.content.data(), p.length) == 0);
        at += p.length;
    }
    for (std::size_t i = total; i < sizeof BlkAAdrBeg; ++i) UHF_FUZZ_CHECK(BlkAAdrBeg[i] == kUntouched);
    return 0;
}
