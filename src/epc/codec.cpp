#include "epc/codec.hpp"

#include <cstring>

#include "epc/bits.hpp"
#include "epc/fields.hpp"
#include "uhfreader.h"

namespace uhf::epc {

int decode_binary(const unsigned char *bytes, std::size_t len, Parts &out) {
    if (len == 0) return UHF_EPC_ERR_SHORT;
    const Scheme *s = scheme_by_header(bytes[0]);
    if (!s) return UHF_EPC_ERR_HEADER;
    if (s->bits && len * 8 < s->bits) return UHF_EPC_ERR_SHORT;
    out.scheme = s;
    BitReader in(bytes, len);
    in.take(8);
    out.filter = -1;
    if (s->filter_bits) {
        if (in.remaining() < s->filter_bits) return UHF_EPC_ERR_SHORT;
        out.filter = static_cast<int>(in.take(s->filter_bits));
    }
    PartitionRow row{};
    if (s->partition) {
        if (in.remaining() < 3) return UHF_EPC_ERR_SHORT;
        const unsigned p = static_cast<unsigned>(in.take(3));
        if (p > 6) return UHF_EPC_ERR_PARTITION;
        row = (*s->partition)[p];
    }
    for (unsigned i = 0; i < s->field_count; ++i)
        if (int rc = decode_field(s->fields[i], row, in, out.part[i])) return rc;
    if (s->reserved_bits) {
        if (in.remaining() < s->reserved_bits) return UHF_EPC_ERR_SHORT;
        if (in.take(s->reserved_bits) != 0) return UHF_EPC_ERR_PADDING;
    }
    out.bits = static_cast<unsigned>(in.position());
    return in.rest_is_zero() ? 0 : UHF_EPC_ERR_PADDING;
}

int encode_binary(const Parts &in, unsigned char *out, std::size_t cap) {
    const Scheme *s = in.scheme;
    unsigned char buf[UHF_EPC_BYTES_MAX] = {};
    BitWriter w(buf, sizeof buf);
    w.put(s->header, 8);
    if (s->filter_bits) {
        if (in.filter < 0 || in.filter >= (1 << s->filter_bits)) return UHF_EPC_ERR_FILTER;
        w.put(static_cast<unsigned>(in.filter), s->filter_bits);
    }
    PartitionRow row{};
    if (s->partition) {
        unsigned p = 0;
        while (p < 7 && (*s->partition)[p].company_digits != in.part[0].len) ++p;
        if (p == 7) {
            for (unsigned i = 0; i < in.part[0].len; ++i)
                if (in.part[0].text[i] < '0' || in.part[0].text[i] > '9') return UHF_EPC_ERR_CHARACTER;
            return UHF_EPC_ERR_LENGTH;
        }
        row = (*s->partition)[p];
        w.put(p, 3);
    }
    for (unsigned i = 0; i < s->field_count; ++i)
        if (int rc = encode_field(s->fields[i], row, in.part[i], w)) return rc;
    w.skip(s->reserved_bits);
    if (w.overflowed()) return UHF_EPC_ERR_LENGTH;
    const std::size_t bytes = (w.position() + 15) / 16 * 2;
    if (bytes > cap) return UHF_EPC_ERR_SPACE;
    std::memcpy(out, buf, bytes);
    return static_cast<int>(bytes);
}

} // namespace uhf::epc
