#include "epc/fields.hpp"

#include "epc/text.hpp"
#include "uhfreader.h"

namespace uhf::epc {
namespace {

int take(BitReader &in, unsigned bits, std::uint64_t &v) {
    if (in.remaining() < bits) return UHF_EPC_ERR_SHORT;
    v = in.take(bits);
    return 0;
}

void set_decimal(Part &p, std::uint64_t v, unsigned width) {
    p.len = static_cast<std::uint8_t>(format_decimal(v, width, p.text));
}

// Zero bits until `end` (the field's last bit), else a refusal.
int expect_zero_until(BitReader &in, std::size_t end) {
    while (in.position() < end) {
        const std::size_t left = end - in.position();
        const unsigned n = left > 64 ? 64 : static_cast<unsigned>(left);
        if (in.take(n) != 0) return UHF_EPC_ERR_PADDING;
    }
    return 0;
}

int decode_number(BitReader &in, unsigned bits, unsigned digits, bool padded, Part &out) {
    std::uint64_t v = 0;
    if (int rc = take(in, bits, v)) return rc;
    if (digits < 20 && v >= pow10(digits)) return UHF_EPC_ERR_RANGE;
    set_decimal(out, v, padded ? digits : 0);
    if (digits == 0) out.len = 0;
    return 0;
}

// 7-bit characters in a field of `bits`: zero ends the text, and everything after it is zero.
int decode_string7(BitReader &in, unsigned bits, unsigned min, unsigned max, Part &out) {
    if (in.remaining() < bits) return UHF_EPC_ERR_SHORT;
    const std::size_t end = in.position() + bits;
    unsigned n = 0;
    while (n < max && end - in.position() >= 7) {
        const char c = static_cast<char>(in.take(7));
        if (c == 0) break;
        if (!char_allowed(Charset::Gs1, c)) return UHF_EPC_ERR_CHARACTER;
        out.text[n++] = c;
    }
    out.len = static_cast<std::uint8_t>(n);
    if (int rc = expect_zero_until(in, end)) return rc;
    return n < min ? UHF_EPC_ERR_LENGTH : 0;
}

// 6-bit characters up to a 000000 terminator.
int decode_var6(BitReader &in, Charset set, unsigned min, unsigned max, Part &out) {
    unsigned n = 0;
    for (;;) {
        std::uint64_t v = 0;
        if (int rc = take(in, 6, v)) return rc;
        if (v == 0) break;
        if (n == max) return UHF_EPC_ERR_LENGTH;
        const char c = six_bit_char(static_cast<unsigned>(v));
        if (!char_allowed(set, c) || (c == '#' && n != 0 && set == Charset::Adi6Serial))
            return UHF_EPC_ERR_CHARACTER;
        out.text[n++] = c;
    }
    out.len = static_cast<std::uint8_t>(n);
    return n < min ? UHF_EPC_ERR_LENGTH : 0;
}

// Six characters of `width` bits; a leading space pads a five-character CAGE code.
int decode_cage(BitReader &in, unsigned width, Part &out) {
    if (in.remaining() < 6 * width) return UHF_EPC_ERR_SHORT;
    unsigned n = 0;
    for (unsigned i = 0; i < 6; ++i) {
        const unsigned v = static_cast<unsigned>(in.take(width));
        const char c = width == 6 ? six_bit_char(v) : static_cast<char>(v);
        if (i == 0 && c == ' ') continue;
        if (v > 0x7F || !char_allowed(Charset::Cage, c)) return UHF_EPC_ERR_CHARACTER;
        out.text[n++] = c;
    }
    out.len = static_cast<std::uint8_t>(n);
    return 0;
}

int decode_numeric_string(BitReader &in, unsigned bits, unsigned max, Part &out) {
    std::uint64_t v = 0;
    if (int rc = take(in, bits, v)) return rc;
    char digits[24] = {};
    const std::size_t n = format_decimal(v, 0, digits);
    if (digits[0] != '1' || n > max + 1) return UHF_EPC_ERR_RANGE;
    if (n == 1) return UHF_EPC_ERR_LENGTH;
    for (std::size_t i = 1; i < n; ++i) out.text[i - 1] = digits[i];
    out.len = static_cast<std::uint8_t>(n - 1);
    return 0;
}

bool all_digits(const Part &p) {
    for (unsigned i = 0; i < p.len; ++i)
        if (p.text[i] < '0' || p.text[i] > '9') return false;
    return true;
}

// An integer without leading zeros, below 2^bits and of at most max_digits digits (0: any).
int encode_integer(const Part &p, unsigned bits, unsigned max_digits, BitWriter &out) {
    if (p.len == 0) return UHF_EPC_ERR_LENGTH;
    if (!all_digits(p)) return UHF_EPC_ERR_CHARACTER;
    if (p.len > 1 && p.text[0] == '0') return UHF_EPC_ERR_LEADING_ZERO;
    if (p.len > 19 || (max_digits && p.len > max_digits)) return UHF_EPC_ERR_RANGE;
    std::uint64_t v = 0;
    part_value(p, v);
    if (bits < 64 && v >> bits) return UHF_EPC_ERR_RANGE;
    out.put(v, bits);
    return 0;
}

int encode_padded(const Part &p, unsigned bits, unsigned digits, BitWriter &out) {
    if (!all_digits(p)) return UHF_EPC_ERR_CHARACTER;
    if (p.len != digits) return UHF_EPC_ERR_LENGTH;
    std::uint64_t v = 0;
    part_value(p, v);
    out.put(v, bits);
    return 0;
}

int check_text(const Part &p, Charset set, unsigned min, unsigned max) {
    if (p.len < min || p.len > max) return UHF_EPC_ERR_LENGTH;
    for (unsigned i = 0; i < p.len; ++i)
        if (!char_allowed(set, p.text[i]) || (p.text[i] == '#' && set == Charset::Adi6Serial && i))
            return UHF_EPC_ERR_CHARACTER;
    return 0;
}

int encode_string7(const Part &p, unsigned bits, unsigned min, unsigned max, BitWriter &out) {
    if (int rc = check_text(p, Charset::Gs1, min, max)) return rc;
    for (unsigned i = 0; i < p.len; ++i) out.put(static_cast<unsigned char>(p.text[i]), 7);
    out.skip(bits - 7 * p.len);
    return 0;
}

int encode_var6(const Part &p, Charset set, unsigned min, unsigned max, BitWriter &out) {
    if (int rc = check_text(p, set, min, max)) return rc;
    for (unsigned i = 0; i < p.len; ++i) out.put(six_bit_code(p.text[i]), 6);
    out.put(0, 6);
    return 0;
}

int encode_cage(const Part &p, unsigned width, BitWriter &out) {
    if (int rc = check_text(p, Charset::Cage, 5, 6)) return rc;
    const unsigned space = width == 6 ? six_bit_code(' ') : ' ';
    if (p.len == 5) out.put(space, width);
    for (unsigned i = 0; i < p.len; ++i)
        out.put(width == 6 ? six_bit_code(p.text[i]) : static_cast<unsigned char>(p.text[i]), width);
    return 0;
}

} // namespace

int part_value(const Part &p, std::uint64_t &value) {
    if (p.len > 19) return UHF_EPC_ERR_RANGE;
    std::uint64_t v = 0;
    for (unsigned i = 0; i < p.len; ++i) {
        if (p.text[i] < '0' || p.text[i] > '9') return UHF_EPC_ERR_CHARACTER;
        v = v * 10 + static_cast<unsigned>(p.text[i] - '0');
    }
    value = v;
    return 0;
}

int decode_field(const Field &f, const PartitionRow &row, BitReader &in, Part &out) {
    switch (f.kind) {
    case Kind::Company: return decode_number(in, row.company_bits, row.company_digits, true, out);
    case Kind::RefPadded: return decode_number(in, row.ref_bits, row.ref_digits, true, out);
    case Kind::RefUnpadded: return decode_number(in, row.ref_bits, row.ref_digits, false, out);
    case Kind::RefString7: return decode_string7(in, row.ref_bits, 1, row.ref_digits, out);
    case Kind::RefVar6: return decode_var6(in, f.charset, 1, row.ref_digits, out);
    case Kind::Integer: return decode_number(in, f.bits, f.max_chars ? f.max_chars : 20, false, out);
    case Kind::String7: return decode_string7(in, f.bits, f.min_chars, f.max_chars, out);
    case Kind::NumericString: return decode_numeric_string(in, f.bits, f.max_chars, out);
    case Kind::FixedDigits: return decode_number(in, f.bits, f.max_chars, true, out);
    case Kind::Cage8: return decode_cage(in, 8, out);
    case Kind::Cage6: return decode_cage(in, 6, out);
    case Kind::Var6: return decode_var6(in, f.charset, f.min_chars, f.max_chars, out);
    }
    return UHF_EPC_ERR_HEADER;
}

int encode_field(const Field &f, const PartitionRow &row, const Part &in, BitWriter &out) {
    switch (f.kind) {
    case Kind::Company: return encode_padded(in, row.company_bits, row.company_digits, out);
    case Kind::RefPadded: return encode_padded(in, row.ref_bits, row.ref_digits, out);
    case Kind::RefUnpadded:
        if (in.len > row.ref_digits) return all_digits(in) ? UHF_EPC_ERR_RANGE : UHF_EPC_ERR_CHARACTER;
        return encode_integer(in, row.ref_bits, row.ref_digits, out);
    case Kind::RefString7: return encode_string7(in, row.ref_bits, 1, row.ref_digits, out);
    case Kind::RefVar6: return encode_var6(in, f.charset, 1, row.ref_digits, out);
    case Kind::Integer: return encode_integer(in, f.bits, f.max_chars, out);
    case Kind::String7: return encode_string7(in, f.bits, f.min_chars, f.max_chars, out);
    case Kind::NumericString: {
        if (!all_digits(in)) return UHF_EPC_ERR_CHARACTER;
        if (in.len < f.min_chars || in.len > f.max_chars) return UHF_EPC_ERR_LENGTH;
        std::uint64_t v = 0;
        part_value(in, v);
        out.put(pow10(in.len) + v, f.bits);
        return 0;
    }
    case Kind::FixedDigits: return encode_padded(in, f.bits, f.max_chars, out);
    case Kind::Cage8: return encode_cage(in, 8, out);
    case Kind::Cage6: return encode_cage(in, 6, out);
    case Kind::Var6: return encode_var6(in, f.charset, f.min_chars, f.max_chars, out);
    }
    return UHF_EPC_ERR_SCHEME;
}

} // namespace uhf::epc
