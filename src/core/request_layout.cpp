#include "core/request_layout.hpp"

#include <algorithm>
#include <cstring>

namespace uhf {

namespace {

std::size_t bytes_for_bits(std::size_t bits) { return (bits + 7) / 8; }

std::size_t big_endian(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::size_t>(high) << 8 | low;
}

std::uint8_t low_byte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

// Request lengths worked out from each counted block's own header.
namespace measure {
std::size_t select(const std::uint8_t *b) { return b[0]; }
std::size_t bits(const std::uint8_t *b) { return 4 + bytes_for_bits(b[3]); }
std::size_t words3(const std::uint8_t *b) { return 3 + 2 * std::size_t{b[2]}; }
std::size_t words4(const std::uint8_t *b) { return 4 + 2 * std::size_t{b[3]}; }
// Any non-zero high count byte puts the request past 255 bytes: refused, never truncated.
std::size_t words5(const std::uint8_t *b) { return 5 + 2 * big_endian(b[3], b[4]); }
std::size_t custom(const std::uint8_t *b) { return 5 + bytes_for_bits(big_endian(b[0], b[1])); }
std::size_t count_prefixed(const std::uint8_t *b) { return 1 + std::size_t{b[0]}; }
std::size_t hash(const std::uint8_t *b) { return 3 + std::size_t{b[2]}; }
std::size_t cipher(const std::uint8_t *b) { return 5 + std::size_t{b[4]}; }
}  // namespace measure

}  // namespace

RequestLayout RequestLayout::literal(std::span<const std::uint8_t> bytes) {
    RequestLayout l;
    Piece &p = l.pieces_[l.count_++];
    p.size = std::min(bytes.size(), p.bytes.size());
    std::memcpy(p.bytes.data(), bytes.data(), p.size);
    return l;
}

RequestLayout RequestLayout::block(const std::uint8_t *src, std::size_t size) {
    RequestLayout l;
    Piece &p = l.pieces_[l.count_++];
    p.src = src;
    p.size = size;
    return l;
}

RequestLayout RequestLayout::block(const std::uint8_t *src, BlockMeasure measure) {
    RequestLayout l;
    Piece &p = l.pieces_[l.count_++];
    p.src = src;
    p.measure = measure;
    return l;
}

RequestLayout RequestLayout::operator+(const RequestLayout &next) const {
    RequestLayout l = *this;
    for (std::size_t i = 0; i < next.count_ && l.count_ < kMaxPieces; ++i)
        l.pieces_[l.count_++] = next.pieces_[i];
    return l;
}

std::size_t RequestLayout::length() const {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count_; ++i) total += pieces_[i].length();
    return total;
}

std::optional<std::size_t> RequestLayout::place(std::span<std::uint8_t> out,
                                                std::size_t limit) const {
    // Every count field is read once, before anything is placed, so placing one piece
    // cannot change the length of another.
    std::array<std::size_t, kMaxPieces> sizes{};
    std::size_t total = 0;
    for (std::size_t i = 0; i < count_; ++i) total += sizes[i] = pieces_[i].length();
    if (total > limit || total > out.size()) return std::nullopt;
    std::size_t at = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const Piece &p = pieces_[i];
        // memmove: a host may hand in BlkAAdrBeg itself as its request block.
        if (sizes[i] != 0)
            std::memmove(out.data() + at, p.src != nullptr ? p.src : p.bytes.data(), sizes[i]);
        at += sizes[i];
    }
    return total;
}

RequestLayout scalar_bytes(int a) {
    const std::uint8_t b[] = {low_byte(a)};
    return RequestLayout::literal(b);
}

RequestLayout scalar_bytes(int a, int b) {
    const std::uint8_t v[] = {low_byte(a), low_byte(b)};
    return RequestLayout::literal(v);
}

RequestLayout scalar_bytes(int a, int b, int c, int d) {
    const std::uint8_t v[] = {low_byte(a), low_byte(b), low_byte(c), low_byte(d)};
    return RequestLayout::literal(v);
}

RequestLayout big_endian16(int value) {
    const std::uint8_t v[] = {low_byte(value >> 8), low_byte(value)};
    return RequestLayout::literal(v);
}

RequestLayout select_block(const std::uint8_t *b) { return RequestLayout::block(b, measure::select); }
RequestLayout bit_counted(const std::uint8_t *b) { return RequestLayout::block(b, measure::bits); }
RequestLayout custom_block(const std::uint8_t *b) { return RequestLayout::block(b, measure::custom); }
RequestLayout count_prefixed(const std::uint8_t *b) {
    return RequestLayout::block(b, measure::count_prefixed);
}
RequestLayout hash_block(const std::uint8_t *b) { return RequestLayout::block(b, measure::hash); }
RequestLayout cipher_block(const std::uint8_t *b) { return RequestLayout::block(b, measure::cipher); }

template <>
RequestLayout word_counted<3>(const std::uint8_t *b) {
    return RequestLayout::block(b, measure::words3);
}
template <>
RequestLayout word_counted<4>(const std::uint8_t *b) {
    return RequestLayout::block(b, measure::words4);
}
template <>
RequestLayout word_counted<5>(const std::uint8_t *b) {
    return RequestLayout::block(b, measure::words5);
}

}  // namespace uhf
