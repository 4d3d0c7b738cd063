// Request layouts: how a command's arguments become the request data in BlkAAdrBeg.
//
// A layout is a short list of pieces placed one after another from index 0:
//
//   literal bytes   the low byte of each int argument (or two bytes, high first)
//   fixed block     N bytes of a caller's buffer
//   counted block   a caller's buffer whose own header says how long it is
//
// The total length is worked out before a single byte is placed, from the count fields
// alone, so an over-long request is refused while BlkAAdrBeg and the caller's block beyond
// its header are still untouched. Nothing of a caller's block past its worked-out length
// is ever read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace uhf {

// Length of a counted block, read from its header.
using BlockMeasure = std::size_t (*)(const std::uint8_t *block);

class RequestLayout {
public:
    static constexpr std::size_t kMaxPieces = 4;

    // No request data.
    constexpr RequestLayout() = default;

    static RequestLayout literal(std::span<const std::uint8_t> bytes);
    static RequestLayout block(const std::uint8_t *src, std::size_t size);
    static RequestLayout block(const std::uint8_t *src, BlockMeasure measure);

    // This layout's pieces followed by the other's; four pieces at most in all (the rows
    // use three at most).
    RequestLayout operator+(const RequestLayout &next) const;

    // The length the caller's count fields work out to; may exceed what a request carries.
    std::size_t length() const;

    // Places the request into `out` from index 0 and returns its length, or nothing (and
    // `out` untouched) when it is longer than `limit`.
    std::optional<std::size_t> place(std::span<std::uint8_t> out, std::size_t limit) const;

private:
    struct Piece {
        const std::uint8_t *src = nullptr;  // nullptr: the literal bytes below
        BlockMeasure measure = nullptr;     // nullptr: `size` bytes
        std::size_t size = 0;
        std::array<std::uint8_t, 4> bytes{};

        std::size_t length() const { return measure != nullptr ? measure(src) : size; }
    };

    std::array<Piece, kMaxPieces> pieces_{};
    std::size_t count_ = 0;
};

// ---- Layouts the command families combine ----

inline RequestLayout no_data() { return {}; }

// N bytes from the start of a caller's block.
inline RequestLayout fixed_block(const std::uint8_t *block, std::size_t n) {
    return RequestLayout::block(block, n);
}

// The low byte of each argument, in order (one to four of them).
RequestLayout scalar_bytes(int a);
RequestLayout scalar_bytes(int a, int b);
RequestLayout scalar_bytes(int a, int b, int c, int d);

// The low 16 bits of the argument, high byte first.
RequestLayout big_endian16(int value);

// Byte 0 is the block's total length, itself included.
RequestLayout select_block(const std::uint8_t *block);

// Byte 3 counts bits: 4 + ceil(bits / 8) bytes.
RequestLayout bit_counted(const std::uint8_t *block);

// A header whose count field counts 16-bit words, then the words. Header 3: count in
// byte 2; header 4: count in byte 3; header 5: big-endian count in bytes 3-4.
template <std::size_t Header>
RequestLayout word_counted(const std::uint8_t *block);
template <>
RequestLayout word_counted<3>(const std::uint8_t *block);
template <>
RequestLayout word_counted<4>(const std::uint8_t *block);
template <>
RequestLayout word_counted<5>(const std::uint8_t *block);

// Bytes 0-1 are a big-endian bit count: 5 + ceil(bits / 8) bytes.
RequestLayout custom_block(const std::uint8_t *block);

// Byte 0 counts the bytes after it.
RequestLayout count_prefixed(const std::uint8_t *block);

// A 3-byte header whose byte 2 counts the body bytes after it.
RequestLayout hash_block(const std::uint8_t *block);

// A 5-byte header whose byte 4 counts the body bytes after it.
RequestLayout cipher_block(const std::uint8_t *block);

}  // namespace uhf
