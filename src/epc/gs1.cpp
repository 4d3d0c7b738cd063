#include "epc/gs1.hpp"

#include <cstring>

namespace uhf::epc {
namespace {

// The key's digits and its check digit: `lead` (if any) first, then the company prefix, then
// the reference whose first digit moves to the front when `lead_from_ref` (the GTIN's
// indicator, the SSCC's extension digit).
void put_key(const Parts &in, const char *lead, bool lead_from_ref, TextOut &out) {
    char d[32] = {};  // a key and its check digit; the room past them lets the copies move whole blocks
    unsigned n = 0;
    for (; lead && *lead; ++lead) d[n++] = *lead;
    const Part &company = in.part[0], &ref = in.part[1];
    unsigned r = 0;
    if (lead_from_ref) d[n++] = ref.text[r++];
    // A key has at most 18 digits (a company prefix of at most 12, then the reference): two
    // fixed 16-byte copies, each inside its part's text and, n being at most 13 before each,
    // inside d.
    static_assert(sizeof company.text >= 1 + 16 && sizeof d >= 13 + 16);
    if (company.len > 12 || ref.len > 13) {
        out.overflow();  // no scheme's key is this long; the caller then refuses the id
        return;
    }
    std::memcpy(d + n, company.text, 16);
    n += company.len;
    std::memcpy(d + n, ref.text + r, 16);
    n += ref.len - r;
    d[n] = check_digit(lead ? d + 1 : d, lead ? n - 1 : n);
    out.put_blocks(d, n + 1, sizeof d);
}

void put_part(const Part &p, TextOut &out) { out.put_blocks(p.text, p.len, sizeof p.text); }

} // namespace

char check_digit(const char *digits, unsigned n) {
    // Weight 3 on the rightmost digit, then 1, 3, ... leftwards.
    unsigned three = 0, one = 0;
    for (unsigned i = n; i >= 2; i -= 2) {
        three += static_cast<unsigned>(digits[i - 1] - '0');
        one += static_cast<unsigned>(digits[i - 2] - '0');
    }
    if (n % 2) three += static_cast<unsigned>(digits[0] - '0');
    return static_cast<char>('0' + (10 - (3 * three + one) % 10) % 10);
}

void format_gs1(const Parts &in, TextOut &out) {
    const Part *serial = &in.part[in.scheme->field_count - 1];
    switch (in.scheme->gs1) {
    case Gs1Form::None:
        return;
    case Gs1Form::Sgtin:
        out.put("(01)");
        put_key(in, nullptr, true, out);
        out.put("(21)");
        put_part(*serial, out);
        return;
    case Gs1Form::Itip:
        out.put("(8006)");
        put_key(in, nullptr, true, out);
        put_part(in.part[2], out);
        put_part(in.part[3], out);
        out.put("(21)");
        put_part(*serial, out);
        return;
    case Gs1Form::Sscc:
        out.put("(00)");
        put_key(in, nullptr, true, out);
        return;
    case Gs1Form::Sgln:
        out.put("(414)");
        put_key(in, nullptr, false, out);
        // Extension 0 is a GLN without an extension.
        if (!(serial->len == 1 && serial->text[0] == '0')) {
            out.put("(254)");
            put_part(*serial, out);
        }
        return;
    case Gs1Form::Grai:
        out.put("(8003)");
        put_key(in, "0", false, out);
        put_part(*serial, out);
        return;
    case Gs1Form::Giai:
        out.put("(8004)");
        put_part(in.part[0], out);
        put_part(in.part[1], out);
        return;
    case Gs1Form::Gsrn:
    case Gs1Form::Gsrnp:
        out.put(in.scheme->gs1 == Gs1Form::Gsrn ? "(8018)" : "(8017)");
        put_key(in, nullptr, false, out);
        return;
    case Gs1Form::Gdti:
    case Gs1Form::Sgcn:
        out.put(in.scheme->gs1 == Gs1Form::Gdti ? "(253)" : "(255)");
        put_key(in, nullptr, false, out);
        put_part(*serial, out);
        return;
    case Gs1Form::Cpi:
        out.put("(8010)");
        put_part(in.part[0], out);
        put_part(in.part[1], out);
        out.put("(8011)");
        put_part(*serial, out);
        return;
    }
}

} // namespace uhf::epc
