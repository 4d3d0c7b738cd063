// Pattern URIs: urn:epc:pat:SCHEME-BITS:FILTER.FIELDS, where each part is a value, "*", or
// (for the filter and integer fields) an inclusive range "[lo-hi]". Once a field is "*" every
// later field is too, so a pattern always names a prefix of the id's fields.
#include "epc/pattern.hpp"

#include <cstring>

#include "epc/codec.hpp"
#include "epc/fields.hpp"
#include "epc/uri.hpp"
#include "uhfreader.h"

namespace uhf::epc {
namespace {

bool numeric_kind(Kind k) {
    return k == Kind::Company || k == Kind::RefPadded || k == Kind::RefUnpadded ||
           k == Kind::Integer || k == Kind::NumericString || k == Kind::FixedDigits;
}

int parse_number(const char *p, unsigned n, unsigned long long &v) {
    if (n == 0 || n > 19) return UHF_EPC_ERR_PATTERN;
    if (n > 1 && p[0] == '0') return UHF_EPC_ERR_LEADING_ZERO;
    v = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return UHF_EPC_ERR_PATTERN;
        v = v * 10 + static_cast<unsigned>(p[i] - '0');
    }
    return 0;
}

int parse_range(Slice s, uhf_epc_pattern_part &out) {
    const char *dash = static_cast<const char *>(std::memchr(s.p, '-', s.n));
    if (s.n < 5 || s.p[s.n - 1] != ']' || !dash) return UHF_EPC_ERR_PATTERN;
    if (int rc = parse_number(s.p + 1, static_cast<unsigned>(dash - s.p - 1), out.lo)) return rc;
    if (int rc = parse_number(dash + 1, static_cast<unsigned>(s.p + s.n - 1 - dash - 1), out.hi)) return rc;
    if (out.lo > out.hi) return UHF_EPC_ERR_PATTERN;
    out.kind = UHF_EPC_MATCH_RANGE;
    return 0;
}

int parse_field(const Field &f, Slice s, uhf_epc_pattern_part &out) {
    if (s.n && s.p[0] == '[') {
        if (f.kind != Kind::Integer && f.kind != Kind::RefUnpadded) return UHF_EPC_ERR_PATTERN;
        return parse_range(s, out);
    }
    Part p;
    if (int rc = unescape_part(f, s, p)) return rc;
    if (numeric_kind(f.kind)) {
        std::uint64_t v = 0;
        if (p.len == 0 && f.kind != Kind::RefPadded) return UHF_EPC_ERR_LENGTH;
        if (int rc = part_value(p, v)) return rc;
        const bool integer = f.kind == Kind::Integer || f.kind == Kind::RefUnpadded;
        if (integer && p.len > 1 && p.text[0] == '0') return UHF_EPC_ERR_LEADING_ZERO;
        if (f.kind == Kind::Company && (p.len < 6 || p.len > 12)) return UHF_EPC_ERR_LENGTH;
    } else if (p.len == 0 && f.min_chars > 0) {
        return UHF_EPC_ERR_LENGTH;
    }
    std::memcpy(out.value, p.text, p.len);
    out.value[p.len] = '\0';
    out.kind = UHF_EPC_MATCH_VALUE;
    return 0;
}

bool part_matches(const uhf_epc_pattern_part &want, const Part &got) {
    if (want.kind == UHF_EPC_MATCH_ANY) return true;
    if (want.kind == UHF_EPC_MATCH_VALUE)
        return std::strlen(want.value) == got.len && std::memcmp(want.value, got.text, got.len) == 0;
    std::uint64_t v = 0;
    return part_value(got, v) == 0 && v >= want.lo && v <= want.hi;
}

} // namespace

int parse_pattern(const char *uri, uhf_epc_pattern &out) {
    std::memset(&out, 0, sizeof out);
    const char *body;
    const Scheme *s;
    if (int rc = parse_scheme(uri, "urn:epc:pat:", s, body)) return rc;
    out.scheme = s->id;
    out.part_count = 1 + s->field_count;
    const unsigned has_filter = s->filter_bits ? 1 : 0;
    Slice slices[6];
    if (int rc = split_parts(body, has_filter + s->field_count, last_takes_dots(*s), slices)) return rc;
    if (has_filter) {
        const Slice f = slices[0];
        uhf_epc_pattern_part &p = out.part[0];
        if (f.n == 1 && f.p[0] == '*') {
            p.kind = UHF_EPC_MATCH_ANY;
        } else if (f.n && f.p[0] == '[') {
            if (int rc = parse_range(f, p)) return rc;
            if (p.hi >= (1ull << s->filter_bits)) return UHF_EPC_ERR_FILTER;
        } else {
            int v;
            if (int rc = parse_filter(f, s->filter_bits, v)) return rc;
            p.kind = UHF_EPC_MATCH_RANGE;
            p.lo = p.hi = static_cast<unsigned>(v);
        }
    }
    bool star = false;
    for (unsigned i = 0; i < s->field_count; ++i) {
        const Slice sl = slices[has_filter + i];
        uhf_epc_pattern_part &p = out.part[1 + i];
        if (sl.n == 1 && sl.p[0] == '*') {
            p.kind = UHF_EPC_MATCH_ANY;
            star = true;
            continue;
        }
        if (star) return UHF_EPC_ERR_PATTERN;
        if (int rc = parse_field(s->fields[i], sl, p)) return rc;
    }
    return 0;
}

int match_pattern(const uhf_epc_pattern &pat, const unsigned char *epc, std::size_t len) {
    Parts parts;
    if (decode_binary(epc, len, parts) != 0 || parts.scheme->id != pat.scheme) return 0;
    const uhf_epc_pattern_part &f = pat.part[0];
    if (f.kind != UHF_EPC_MATCH_ANY &&
        (parts.filter < 0 || static_cast<unsigned>(parts.filter) < f.lo || static_cast<unsigned>(parts.filter) > f.hi))
        return 0;
    for (unsigned i = 0; i < parts.scheme->field_count; ++i)
        if (!part_matches(pat.part[1 + i], parts.part[i])) return 0;
    return 1;
}

} // namespace uhf::epc
