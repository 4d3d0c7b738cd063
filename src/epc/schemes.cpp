#include "epc/schemes.hpp"

#include "uhfreader.h"

namespace uhf::epc {
namespace {

// Company prefix bits/digits, then reference bits/digits, for partition values 0..6.
constexpr PartitionTable sgtin_partition{{{40, 12, 4, 1}, {37, 11, 7, 2}, {34, 10, 10, 3},
    {30, 9, 14, 4}, {27, 8, 17, 5}, {24, 7, 20, 6}, {20, 6, 24, 7}}};
// SGLN, GDTI and SGCN share it.
constexpr PartitionTable sgln_partition{{{40, 12, 1, 0}, {37, 11, 4, 1}, {34, 10, 7, 2},
    {30, 9, 11, 3}, {27, 8, 14, 4}, {24, 7, 17, 5}, {20, 6, 21, 6}}};
constexpr PartitionTable grai_partition{{{40, 12, 4, 0}, {37, 11, 7, 1}, {34, 10, 10, 2},
    {30, 9, 14, 3}, {27, 8, 17, 4}, {24, 7, 20, 5}, {20, 6, 24, 6}}};
constexpr PartitionTable giai96_partition{{{40, 12, 42, 13}, {37, 11, 45, 14}, {34, 10, 48, 15},
    {30, 9, 52, 16}, {27, 8, 55, 17}, {24, 7, 58, 18}, {20, 6, 62, 19}}};
constexpr PartitionTable giai202_partition{{{40, 12, 148, 18}, {37, 11, 151, 19},
    {34, 10, 154, 20}, {30, 9, 158, 21}, {27, 8, 161, 22}, {24, 7, 164, 23}, {20, 6, 168, 24}}};
// SSCC, GSRN and GSRNP share it.
constexpr PartitionTable gsrn_partition{{{40, 12, 18, 5}, {37, 11, 21, 6}, {34, 10, 24, 7},
    {30, 9, 28, 8}, {27, 8, 31, 9}, {24, 7, 34, 10}, {20, 6, 38, 11}}};
constexpr PartitionTable cpi96_partition{{{40, 12, 11, 3}, {37, 11, 14, 4}, {34, 10, 17, 5},
    {30, 9, 21, 6}, {27, 8, 24, 7}, {24, 7, 27, 8}, {20, 6, 31, 9}}};
// The reference's bits are its most: (characters + terminator) x 6.
constexpr PartitionTable cpivar_partition{{{40, 12, 114, 18}, {37, 11, 120, 19},
    {34, 10, 126, 20}, {30, 9, 132, 21}, {27, 8, 138, 22}, {24, 7, 144, 23}, {20, 6, 150, 24}}};

constexpr Field company{Kind::Company, 0, 0, 0, Charset::Gs1, "company_prefix"};
constexpr Field padded(const char *name) { return {Kind::RefPadded, 0, 0, 0, Charset::Gs1, name}; }
constexpr Field integer(unsigned bits, const char *name, unsigned max_digits = 0) {
    return {Kind::Integer, static_cast<std::uint16_t>(bits), 0,
            static_cast<std::uint8_t>(max_digits), Charset::Gs1, name};
}
constexpr Field string7(unsigned bits, const char *name) {
    return {Kind::String7, static_cast<std::uint16_t>(bits), 1,
            static_cast<std::uint8_t>(bits / 7), Charset::Gs1, name};
}
constexpr Field fixed_digits(unsigned bits, unsigned digits, const char *name) {
    return {Kind::FixedDigits, static_cast<std::uint16_t>(bits), 0,
            static_cast<std::uint8_t>(digits), Charset::Gs1, name};
}

constexpr Scheme schemes[scheme_count] = {
    {UHF_EPC_SGTIN_96, 0x30, "sgtin-96", "sgtin", 96, 3, &sgtin_partition, 0, Gs1Form::Sgtin,
     3, {company, padded("item_reference"), integer(38, "serial")}},
    {UHF_EPC_SGTIN_198, 0x36, "sgtin-198", "sgtin", 198, 3, &sgtin_partition, 0, Gs1Form::Sgtin,
     3, {company, padded("item_reference"), string7(140, "serial")}},
    {UHF_EPC_SSCC_96, 0x31, "sscc-96", "sscc", 96, 3, &gsrn_partition, 24, Gs1Form::Sscc,
     2, {company, padded("serial_reference")}},
    {UHF_EPC_SGLN_96, 0x32, "sgln-96", "sgln", 96, 3, &sgln_partition, 0, Gs1Form::Sgln,
     3, {company, padded("location_reference"), integer(41, "extension")}},
    {UHF_EPC_SGLN_195, 0x39, "sgln-195", "sgln", 195, 3, &sgln_partition, 0, Gs1Form::Sgln,
     3, {company, padded("location_reference"), string7(140, "extension")}},
    {UHF_EPC_GRAI_96, 0x33, "grai-96", "grai", 96, 3, &grai_partition, 0, Gs1Form::Grai,
     3, {company, padded("asset_type"), integer(38, "serial")}},
    {UHF_EPC_GRAI_170, 0x37, "grai-170", "grai", 170, 3, &grai_partition, 0, Gs1Form::Grai,
     3, {company, padded("asset_type"), string7(112, "serial")}},
    {UHF_EPC_GIAI_96, 0x34, "giai-96", "giai", 96, 3, &giai96_partition, 0, Gs1Form::Giai,
     2, {company, {Kind::RefUnpadded, 0, 0, 0, Charset::Gs1, "asset_reference"}}},
    {UHF_EPC_GIAI_202, 0x38, "giai-202", "giai", 202, 3, &giai202_partition, 0, Gs1Form::Giai,
     2, {company, {Kind::RefString7, 0, 1, 0, Charset::Gs1, "asset_reference"}}},
    {UHF_EPC_GSRN_96, 0x2D, "gsrn-96", "gsrn", 96, 3, &gsrn_partition, 24, Gs1Form::Gsrn,
     2, {company, padded("service_reference")}},
    {UHF_EPC_GSRNP_96, 0x2E, "gsrnp-96", "gsrnp", 96, 3, &gsrn_partition, 24, Gs1Form::Gsrnp,
     2, {company, padded("service_reference")}},
    {UHF_EPC_GDTI_96, 0x2C, "gdti-96", "gdti", 96, 3, &sgln_partition, 0, Gs1Form::Gdti,
     3, {company, padded("document_type"), integer(41, "serial")}},
    {UHF_EPC_GDTI_174, 0x3E, "gdti-174", "gdti", 174, 3, &sgln_partition, 0, Gs1Form::Gdti,
     3, {company, padded("document_type"), string7(119, "serial")}},
    {UHF_EPC_CPI_96, 0x3C, "cpi-96", "cpi", 96, 3, &cpi96_partition, 0, Gs1Form::Cpi,
     3, {company, {Kind::RefUnpadded, 0, 0, 0, Charset::Gs1, "component_part_reference"},
         integer(31, "serial")}},
    {UHF_EPC_CPI_VAR, 0x3D, "cpi-var", "cpi", 0, 3, &cpivar_partition, 0, Gs1Form::Cpi,
     3, {company, {Kind::RefVar6, 0, 1, 0, Charset::Cpi6, "component_part_reference"},
         integer(40, "serial", 12)}},
    {UHF_EPC_SGCN_96, 0x3F, "sgcn-96", "sgcn", 96, 3, &sgln_partition, 0, Gs1Form::Sgcn,
     3, {company, padded("coupon_reference"),
         {Kind::NumericString, 41, 1, 12, Charset::Gs1, "serial"}}},
    {UHF_EPC_ITIP_110, 0x40, "itip-110", "itip", 110, 3, &sgtin_partition, 0, Gs1Form::Itip,
     5, {company, padded("item_reference"), fixed_digits(7, 2, "piece"),
         fixed_digits(7, 2, "total"), integer(38, "serial")}},
    {UHF_EPC_ITIP_212, 0x41, "itip-212", "itip", 212, 3, &sgtin_partition, 0, Gs1Form::Itip,
     5, {company, padded("item_reference"), fixed_digits(7, 2, "piece"),
         fixed_digits(7, 2, "total"), string7(140, "serial")}},
    {UHF_EPC_GID_96, 0x35, "gid-96", "gid", 96, 0, nullptr, 0, Gs1Form::None,
     3, {integer(28, "general_manager"), integer(24, "object_class"), integer(36, "serial")}},
    {UHF_EPC_USDOD_96, 0x2F, "usdod-96", "usdod", 96, 4, nullptr, 0, Gs1Form::None,
     2, {Field{Kind::Cage8, 48, 5, 6, Charset::Cage, "cage_or_dodaac"}, integer(36, "serial")}},
    {UHF_EPC_ADI_VAR, 0x3B, "adi-var", "adi", 0, 6, nullptr, 0, Gs1Form::None,
     3, {Field{Kind::Cage6, 36, 5, 6, Charset::Cage, "cage_or_dodaac"},
         Field{Kind::Var6, 0, 0, 32, Charset::Adi6, "part_number"},
         Field{Kind::Var6, 0, 1, 30, Charset::Adi6Serial, "serial"}}},
};

// Every row of a fixed-length scheme's partition table adds up to the scheme's length.
constexpr bool lengths_add_up(const Scheme &s) {
    if (s.bits == 0) return true;
    unsigned fixed = 8 + s.filter_bits + s.reserved_bits + (s.partition ? 3 : 0);
    for (unsigned i = 0; i < s.field_count; ++i) fixed += s.fields[i].bits;
    if (!s.partition) return fixed == s.bits;
    for (const PartitionRow &r : *s.partition)
        if (fixed + r.company_bits + r.ref_bits != s.bits) return false;
    return true;
}
constexpr bool all_lengths_add_up() {
    for (const Scheme &s : schemes)
        if (!lengths_add_up(s)) return false;
    return true;
}
static_assert(all_lengths_add_up(), "a partition row or field width does not fit its scheme");

constexpr std::array<std::int8_t, 256> header_index = [] {
    std::array<std::int8_t, 256> t{};
    for (auto &v : t) v = -1;
    for (int i = 0; i < scheme_count; ++i) t[schemes[i].header] = static_cast<std::int8_t>(i);
    return t;
}();

} // namespace

const Scheme *scheme_by_header(unsigned header) {
    const int i = header < 256 ? header_index[header] : -1;
    return i < 0 ? nullptr : &schemes[i];
}

const Scheme *scheme_by_tag_name(const char *name, unsigned len) {
    for (const Scheme &s : schemes) {
        unsigned i = 0;
        for (; i < len && s.tag_name[i]; ++i) {
            char c = name[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != s.tag_name[i]) break;
        }
        if (i == len && s.tag_name[i] == '\0') return &s;
    }
    return nullptr;
}

const Scheme *scheme_by_id(int id) {
    for (const Scheme &s : schemes)
        if (s.id == id) return &s;
    return nullptr;
}

} // namespace uhf::epc
