// EPC URIs: urn:epc:id:SCHEME:FIELDS (pure identity), urn:epc:tag:SCHEME-BITS:FILTER.FIELDS
// (tag), and the pieces the pattern parser shares. Fields are separated by dots; a trailing
// alphanumeric field of the 82-character set may itself hold dots, so it takes the rest.
#pragma once

#include "epc/parts.hpp"
#include "epc/text.hpp"

namespace uhf::epc {

struct Slice {
    const char *p;
    unsigned n;
};

// Both URIs, the fields formatted once.
void format_uris(const Parts &in, TextOut &pure, TextOut &tag);

// The scheme after `prefix` ("urn:epc:tag:"), its name ending at ':'; `body` is what follows.
int parse_scheme(const char *uri, const char *prefix, const Scheme *&scheme, const char *&body);
// Splits `body` into `count` slices at dots.
int split_parts(const char *body, unsigned count, bool last_takes_dots, Slice *out);
// Whether the scheme's last field may hold dots.
bool last_takes_dots(const Scheme &s);
// A filter value: digits without leading zeros, below 2^bits.
int parse_filter(Slice s, unsigned bits, int &filter);
// A field's text with its %-escapes undone, each character checked against the field.
int unescape_part(const Field &f, Slice s, Part &out);

int parse_tag_uri(const char *uri, Parts &out);

} // namespace uhf::epc
