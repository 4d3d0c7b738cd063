// Bounded text output for the URIs and element strings: appends past the end are dropped and
// remembered, so a caller checks once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace uhf::epc {

class TextOut {
public:
    TextOut(char *buf, std::size_t cap) : buf_(buf), cap_(cap) {}

    void put(char c) {
        if (n_ + 1 < cap_) buf_[n_++] = c;
        else full_ = true;
    }
    void put(const char *s, std::size_t len) {
        if (n_ + len < cap_) {
            std::memcpy(buf_ + n_, s, len);
            n_ += len;
        } else {
            full_ = true;
        }
    }
    void put(const char *s) { put(s, std::strlen(s)); }
    // put(s, len) where `readable` bytes of s may be read (readable >= len): whole 16-byte blocks
    // when both sides have room for them, which the compiler turns into a few vector moves instead
    // of a call. Bytes past the text's end may be written; finish() ends the text before them.
    void put_blocks(const char *s, std::size_t len, std::size_t readable) {
        const std::size_t whole = (len + 15) & ~std::size_t{15};
        if (whole > readable || n_ + whole >= cap_) {
            put(s, len);
            return;
        }
        for (std::size_t i = 0; i < whole; i += 16) std::memcpy(buf_ + n_ + i, s + i, 16);
        n_ += len;
    }
    // Ends the text; false when something did not fit.
    bool finish() {
        if (cap_ == 0) return false;
        buf_[n_ < cap_ ? n_ : cap_ - 1] = '\0';
        return !full_;
    }
    std::size_t size() const { return n_; }
    std::size_t capacity() const { return cap_; }
    const char *data() const { return buf_; }
    bool overflowed() const { return full_; }
    void overflow() { full_ = true; }

private:
    char *buf_;
    std::size_t cap_;
    std::size_t n_ = 0;
    bool full_ = false;
};

inline constexpr std::uint64_t pow10_table[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull,
    100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
    100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
    1000000000000000ull, 10000000000000000ull, 100000000000000000ull, 1000000000000000000ull,
    10000000000000000000ull};

// 10^d for d < 20.
inline constexpr std::uint64_t pow10(unsigned d) { return pow10_table[d]; }

// Writes v in decimal, at least `width` digits (leading zeros); returns the digits written.
inline std::size_t format_decimal(std::uint64_t v, unsigned width, char *out) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    // Digits from the bit length (log10(2) ~ 1233 / 4096, at most 19 for 64 bits), settled by
    // one comparison.
    const unsigned bits = 64u - static_cast<unsigned>(__builtin_clzll(v | 1));
    const unsigned t = bits * 1233u >> 12;
    unsigned digits = t + (v >= pow10_table[t] ? 1u : 0u);
    if (digits == 0) digits = 1;
    const std::size_t n = digits > width ? digits : width;
    char *p = out + n;
    while (v >= 100) {
        const unsigned r = static_cast<unsigned>(v % 100);
        v /= 100;
        *--p = pairs[2 * r + 1];
        *--p = pairs[2 * r];
    }
    if (v >= 10) {
        *--p = pairs[2 * v + 1];
        *--p = pairs[2 * v];
    } else {
        *--p = static_cast<char>('0' + v);
    }
    while (p > out) *--p = '0';
    return n;
}

} // namespace uhf::epc
