// The binary EPC schemes as data: header byte, names, filter width, partition table and the
// fields in the order they travel (which is also their order in the URIs).
#pragma once

#include <array>
#include <cstdint>

#include "epc/charsets.hpp"

namespace uhf::epc {

// One row of a partition table: how the bits and digits after the filter split between the
// GS1 company prefix and the reference that follows it. For the alphanumeric references
// (GIAI-202, CPI-var) ref_digits is the most characters the reference may hold.
struct PartitionRow {
    std::uint8_t company_bits, company_digits, ref_bits, ref_digits;
};
using PartitionTable = std::array<PartitionRow, 7>;

enum class Kind : std::uint8_t {
    Company,       // the company prefix, through the partition table: exactly its digits
    RefPadded,     // reference through the partition table: exactly its digits, zeros kept
    RefUnpadded,   // reference through the partition table: an integer of at most its digits
    RefString7,    // reference through the partition table: Gs1 characters, zero-padded
    RefVar6,       // reference through the partition table: 6-bit characters, 000000 ends it
    Integer,       // decimal without leading zeros, `bits` wide (max_chars: most digits, 0 = any)
    String7,       // Gs1 characters, 7 bits each, zero-padded to `bits`
    NumericString, // digits whose leading zeros count, encoded as the integer "1" + digits
    FixedDigits,   // exactly max_chars digits (leading zeros kept), `bits` wide
    Cage8,         // CAGE code or DoDAAC, 6 x 8 bits, a CAGE code space-padded on the left
    Cage6,         // CAGE code or DoDAAC, 6 x 6 bits, a CAGE code space-padded on the left
    Var6,          // 6-bit characters, 000000 ends it
};

struct Field {
    Kind kind;
    std::uint16_t bits;
    std::uint8_t min_chars, max_chars;
    Charset charset;
    const char *name;
};

// "urn:epc:tag:sgtin-96:", whole, in a fixed array the URI writer copies in whole blocks.
struct UriPrefix {
    char text[32] = {};
    std::uint8_t len = 0;
    constexpr UriPrefix(const char *head, const char *name) {
        for (; *head; ++head) text[len++] = *head;
        for (; *name; ++name) text[len++] = *name;
        text[len++] = ':';
    }
};

enum class Gs1Form : std::uint8_t { None, Sgtin, Sscc, Sgln, Grai, Giai, Gsrn, Gsrnp, Gdti, Cpi, Sgcn, Itip };

struct Scheme {
    int id;                    // UHF_EPC_*
    std::uint8_t header;
    const char *tag_name;      // "sgtin-96"
    const char *id_name;       // "sgtin"
    std::uint16_t bits;        // 0: variable length
    std::uint8_t filter_bits;  // 0: no filter
    const PartitionTable *partition;
    std::uint8_t reserved_bits; // zero bits after the last field
    Gs1Form gs1;
    std::uint8_t field_count;
    std::array<Field, 5> fields;
    UriPrefix tag_prefix{"urn:epc:tag:", tag_name};
    UriPrefix id_prefix{"urn:epc:id:", id_name};
};

constexpr int scheme_count = 21;

// The scheme a header byte starts, or nullptr.
const Scheme *scheme_by_header(unsigned header);
// The scheme whose tag URI name is the `len` characters at `name` (ASCII case ignored), or nullptr.
const Scheme *scheme_by_tag_name(const char *name, unsigned len);
// The scheme with that UHF_EPC_* number, or nullptr.
const Scheme *scheme_by_id(int id);

} // namespace uhf::epc
