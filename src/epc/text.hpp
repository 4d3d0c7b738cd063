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
    // Ends the text; false when something did not fit.
    bool finish() {
        if (cap_ == 0) return false;
        buf_[n_ < cap_ ? n_ : cap_ - 1] = '\0';
        return !full_;
    }
    std::size_t size() const { return n_; }

private:
    char *buf_;
    std::size_t cap_;
    std::size_t n_ = 0;
    bool full_ = false;
};

// Writes v in decimal, at least `width` digits (leading zeros); returns the digits written.
inline std::size_t format_decimal(std::uint64_t v, unsigned width, char *out) {
    char tmp[24];
    std::size_t n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n < width) tmp[n++] = '0';
    for (std::size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
    return n;
}

inline constexpr std::uint64_t pow10(unsigned d) {
    std::uint64_t v = 1;
    while (d--) v *= 10;
    return v;
}

} // namespace uhf::epc
