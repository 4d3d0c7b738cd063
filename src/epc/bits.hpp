// Bit fields of a binary EPC: most significant bit first, fields up to 64 bits wide at any
// offset. The reader never looks past the bits it was given; the writer ORs into a buffer the
// caller zeroed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace uhf::epc {

class BitReader {
public:
    BitReader(const unsigned char *bytes, std::size_t len) : bytes_(bytes), bits_(len * 8) {}

    std::size_t remaining() const { return bits_ - pos_; }
    std::size_t position() const { return pos_; }

    // Caller checks remaining() >= n first; n <= 64.
    std::uint64_t take(unsigned n) {
        const std::size_t first = pos_ >> 3;
        const unsigned off = pos_ & 7;
        // One 64-bit window per field (zero-filled past the end of the id) when the field fits
        // in it: every field but the long strings' and the 64-bit ones.
        if (n + off <= 64 && n > 0) {
            const std::size_t have = (bits_ >> 3) - first;
            std::uint64_t w;
            if (have >= 8) {
                std::memcpy(&w, bytes_ + first, 8);
                w = __builtin_bswap64(w);
            } else if ((bits_ >> 3) >= 8) {
                // Near the end of an id of 8 bytes or more: its last 8 bytes, moved up.
                std::memcpy(&w, bytes_ + (bits_ >> 3) - 8, 8);
                w = __builtin_bswap64(w) << (8 * (8 - have));
            } else {
                w = 0;
                for (std::size_t i = 0; i < 8; ++i) w = (w << 8) | (i < have ? bytes_[first + i] : 0u);
            }
            pos_ += n;
            return (w << off) >> (64 - n);
        }
        return take_slowly(n);
    }

    std::uint64_t take_slowly(unsigned n) {
        std::uint64_t v = 0;
        while (n) {
            const unsigned off = pos_ & 7;
            const unsigned avail = 8 - off;
            const unsigned now = n < avail ? n : avail;
            const unsigned byte = bytes_[pos_ >> 3];
            v = (v << now) | ((byte >> (avail - now)) & ((1u << now) - 1));
            pos_ += now;
            n -= now;
        }
        return v;
    }

    // Whether every bit from here to the end is zero.
    bool rest_is_zero() const {
        std::size_t p = pos_;
        if (p & 7) {
            if (bytes_[p >> 3] & ((1u << (8 - (p & 7))) - 1)) return false;
            p = (p | 7) + 1;
        }
        for (; p < bits_; p += 8)
            if (bytes_[p >> 3]) return false;
        return true;
    }

private:
    const unsigned char *bytes_;
    std::size_t bits_;
    std::size_t pos_ = 0;
};

class BitWriter {
public:
    BitWriter(unsigned char *bytes, std::size_t cap) : bytes_(bytes), bits_(cap * 8) {}

    std::size_t position() const { return pos_; }
    bool overflowed() const { return overflow_; }

    void put(std::uint64_t v, unsigned n) {
        if (pos_ + n > bits_) {
            overflow_ = true;
            return;
        }
        while (n) {
            const unsigned off = pos_ & 7;
            const unsigned avail = 8 - off;
            const unsigned now = n < avail ? n : avail;
            const unsigned piece = static_cast<unsigned>(v >> (n - now)) & ((1u << now) - 1);
            bytes_[pos_ >> 3] = static_cast<unsigned char>(bytes_[pos_ >> 3] | (piece << (avail - now)));
            pos_ += now;
            n -= now;
        }
    }

    void skip(unsigned n) {
        if (pos_ + n > bits_) overflow_ = true;
        else pos_ += n;
    }

private:
    unsigned char *bytes_;
    std::size_t bits_;
    std::size_t pos_ = 0;
    bool overflow_ = false;
};

} // namespace uhf::epc
