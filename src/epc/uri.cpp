#include "epc/uri.hpp"

#include <cstring>

#include "uhfreader.h"

namespace uhf::epc {
namespace {

bool is_text_kind(Kind k) {
    return k == Kind::RefString7 || k == Kind::RefVar6 || k == Kind::String7 || k == Kind::Var6 ||
           k == Kind::Cage8 || k == Kind::Cage6;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void put_fields(const Parts &in, TextOut &out) {
    static const char hex[] = "0123456789ABCDEF";
    const Scheme &s = *in.scheme;
    for (unsigned i = 0; i < s.field_count; ++i) {
        if (i) out.put('.');
        const Part &p = in.part[i];
        if (!is_text_kind(s.fields[i].kind)) {
            out.put_blocks(p.text, p.len, sizeof p.text);
            continue;
        }
        for (unsigned j = 0; j < p.len; ++j) {
            const char c = p.text[j];
            if (must_escape(s.fields[i].charset, c)) {
                out.put('%');
                out.put(hex[(c >> 4) & 0xF]);
                out.put(hex[c & 0xF]);
            } else {
                out.put(c);
            }
        }
    }
}

} // namespace

void format_uris(const Parts &in, TextOut &pure, TextOut &tag) {
    const UriPrefix &tag_prefix = in.scheme->tag_prefix, &id_prefix = in.scheme->id_prefix;
    tag.put_blocks(tag_prefix.text, tag_prefix.len, sizeof tag_prefix.text);
    if (in.filter >= 0) {
        char digits[4];
        tag.put(digits, format_decimal(static_cast<unsigned>(in.filter), 0, digits));
        tag.put('.');
    }
    const std::size_t fields = tag.size();
    put_fields(in, tag);
    // The pure identity URI ends as the tag URI does and is shorter: it cannot fit where the tag
    // URI did not.
    pure.put_blocks(id_prefix.text, id_prefix.len, sizeof id_prefix.text);
    pure.put_blocks(tag.data() + fields, tag.size() - fields, tag.capacity() - fields);
    if (tag.overflowed()) pure.overflow();
}

int parse_scheme(const char *uri, const char *prefix, const Scheme *&scheme, const char *&body) {
    const std::size_t plen = std::strlen(prefix);
    if (std::strncmp(uri, prefix, plen) != 0) return UHF_EPC_ERR_URI;
    const char *name = uri + plen;
    const char *colon = std::strchr(name, ':');
    if (!colon || colon == name) return UHF_EPC_ERR_URI;
    scheme = scheme_by_tag_name(name, static_cast<unsigned>(colon - name));
    if (!scheme) return UHF_EPC_ERR_SCHEME;
    body = colon + 1;
    return 0;
}

bool last_takes_dots(const Scheme &s) {
    const Kind k = s.fields[s.field_count - 1].kind;
    return k == Kind::String7 || k == Kind::RefString7;
}

int split_parts(const char *body, unsigned count, bool last_takes_dots, Slice *out) {
    const char *p = body;
    for (unsigned i = 0; i + 1 < count; ++i) {
        const char *dot = std::strchr(p, '.');
        if (!dot) return UHF_EPC_ERR_URI;
        out[i] = {p, static_cast<unsigned>(dot - p)};
        p = dot + 1;
    }
    const std::size_t n = std::strlen(p);
    if (!last_takes_dots && std::memchr(p, '.', n)) return UHF_EPC_ERR_URI;
    if (n > 255) return UHF_EPC_ERR_LENGTH;
    out[count - 1] = {p, static_cast<unsigned>(n)};
    return 0;
}

int parse_filter(Slice s, unsigned bits, int &filter) {
    if (s.n == 0) return UHF_EPC_ERR_URI;
    if (s.n > 2) return UHF_EPC_ERR_FILTER;
    int v = 0;
    for (unsigned i = 0; i < s.n; ++i) {
        if (s.p[i] < '0' || s.p[i] > '9') return UHF_EPC_ERR_FILTER;
        v = v * 10 + (s.p[i] - '0');
    }
    if (s.n > 1 && s.p[0] == '0') return UHF_EPC_ERR_LEADING_ZERO;
    if (v >= (1 << bits)) return UHF_EPC_ERR_FILTER;
    filter = v;
    return 0;
}

int unescape_part(const Field &f, Slice s, Part &out) {
    const bool text = is_text_kind(f.kind);
    unsigned n = 0;
    for (unsigned i = 0; i < s.n; ++i) {
        char c = s.p[i];
        if (text && c == '%') {
            const int hi = i + 2 < s.n ? hex_value(s.p[i + 1]) : -1;
            const int lo = hi >= 0 ? hex_value(s.p[i + 2]) : -1;
            if (lo < 0) return UHF_EPC_ERR_CHARACTER;
            c = static_cast<char>(hi * 16 + lo);
            if (!char_allowed(f.charset, c)) return UHF_EPC_ERR_CHARACTER;
            i += 2;
        } else if (text && (!char_allowed(f.charset, c) || must_escape(f.charset, c))) {
            return UHF_EPC_ERR_CHARACTER;
        }
        if (n == sizeof out.text - 1) return UHF_EPC_ERR_LENGTH;
        out.text[n++] = c;
    }
    out.len = static_cast<std::uint8_t>(n);
    return 0;
}

int parse_tag_uri(const char *uri, Parts &out) {
    const char *body;
    const Scheme *s;
    if (int rc = parse_scheme(uri, "urn:epc:tag:", s, body)) return rc;
    out.scheme = s;
    const unsigned has_filter = s->filter_bits ? 1 : 0;
    Slice slices[6];
    if (int rc = split_parts(body, has_filter + s->field_count, last_takes_dots(*s), slices)) return rc;
    out.filter = -1;
    if (has_filter)
        if (int rc = parse_filter(slices[0], s->filter_bits, out.filter)) return rc;
    for (unsigned i = 0; i < s->field_count; ++i)
        if (int rc = unescape_part(s->fields[i], slices[has_filter + i], out.part[i])) return rc;
    return 0;
}

} // namespace uhf::epc
