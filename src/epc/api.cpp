// The exported EPC functions: argument checks, and the parts turned into the caller's struct.
#include <cstring>

#include "epc/codec.hpp"
#include "epc/gs1.hpp"
#include "epc/pattern.hpp"
#include "epc/uri.hpp"
#include "uhfreader.h"

using namespace uhf::epc;

extern "C" {

UHF_API int uhf_epc_decode(const unsigned char *epc, int len, uhf_epc *out) {
    if (!epc || !out || len < 0) return UHF_EPC_ERR_ARGUMENT;
    Parts parts;
    if (int rc = decode_binary(epc, static_cast<std::size_t>(len), parts)) return rc;
    const Scheme &s = *parts.scheme;
    out->scheme = s.id;
    out->name = s.tag_name;
    out->bits = static_cast<int>(parts.bits);
    out->filter = parts.filter;
    out->field_count = s.field_count;
    for (unsigned i = 0; i < s.field_count; ++i) {
        out->field[i].name = s.fields[i].name;
        // The whole array, a fixed size the compiler copies in a few moves.
        static_assert(sizeof out->field[i].value == sizeof parts.part[i].text);
        std::memcpy(out->field[i].value, parts.part[i].text, sizeof out->field[i].value);
        out->field[i].value[parts.part[i].len] = '\0';
    }
    for (unsigned i = s.field_count; i < UHF_EPC_FIELDS; ++i) {
        out->field[i].name = nullptr;
        out->field[i].value[0] = '\0';
    }
    TextOut uri(out->uri, sizeof out->uri), tag(out->tag_uri, sizeof out->tag_uri),
        gs1(out->gs1, sizeof out->gs1);
    format_uris(parts, uri, tag);
    format_gs1(parts, gs1);
    // The buffers are sized for the longest id of every scheme; this only guards that sizing.
    if (!uri.finish() || !tag.finish() || !gs1.finish()) return UHF_EPC_ERR_SPACE;
    return 0;
}

UHF_API int uhf_epc_encode(const char *tag_uri, unsigned char *out, int cap) {
    if (!tag_uri || !out || cap < 0) return UHF_EPC_ERR_ARGUMENT;
    Parts parts;
    if (int rc = parse_tag_uri(tag_uri, parts)) return rc;
    return encode_binary(parts, out, static_cast<std::size_t>(cap));
}

UHF_API const char *uhf_epc_strerror(int code) {
    switch (code) {
    case 0: return "no error";
    case UHF_EPC_ERR_ARGUMENT: return "a NULL pointer or a negative length";
    case UHF_EPC_ERR_SPACE: return "the output buffer is too small";
    case UHF_EPC_ERR_HEADER: return "not a GS1 EPC: unknown header";
    case UHF_EPC_ERR_SHORT: return "the EPC ends before its last field";
    case UHF_EPC_ERR_PARTITION: return "bad partition value (7)";
    case UHF_EPC_ERR_RANGE: return "a numeric field is out of range";
    case UHF_EPC_ERR_CHARACTER: return "a character the field does not allow";
    case UHF_EPC_ERR_PADDING: return "bits that must be zero are not";
    case UHF_EPC_ERR_URI: return "malformed EPC URI";
    case UHF_EPC_ERR_SCHEME: return "unknown EPC scheme in the URI";
    case UHF_EPC_ERR_LENGTH: return "a field has the wrong length (digits or characters)";
    case UHF_EPC_ERR_LEADING_ZERO: return "an integer field has a leading zero";
    case UHF_EPC_ERR_FILTER: return "filter value out of range";
    case UHF_EPC_ERR_PATTERN: return "malformed pattern: '*' or a range where none is allowed";
    default: return "unknown EPC refusal";
    }
}

UHF_API const char *uhf_epc_scheme_name(int scheme) {
    const Scheme *s = scheme_by_id(scheme);
    return s ? s->tag_name : nullptr;
}

UHF_API int uhf_epc_pattern_parse(const char *pattern, uhf_epc_pattern *out) {
    if (!pattern || !out) return UHF_EPC_ERR_ARGUMENT;
    return parse_pattern(pattern, *out);
}

UHF_API int uhf_epc_pattern_match(const uhf_epc_pattern *pattern, const unsigned char *epc, int len) {
    if (!pattern || !epc || len < 0) return UHF_EPC_ERR_ARGUMENT;
    return match_pattern(*pattern, epc, static_cast<std::size_t>(len));
}

} // extern "C"
