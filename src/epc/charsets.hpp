// The character sets of EPC string fields and how each character travels in a URI.
//   Gs1   82 characters of GS1 AI encodable set 82, 7 bits each (ASCII), zero-terminated
//         or zero-padded; " % & / < > ? are written %XX in URIs.
//   Cpi6  # - / 0-9 A-Z in 6 bits (the low 6 bits of ASCII); # and / are written %23, %2F.
//   Adi6  - / 0-9 A-Z in 6 bits; / is written %2F. Adi6Serial adds # (first character
//         only), written %23.
//   Cage  0-9 and A-Z without I and O (CAGE codes and DoDAACs).
#pragma once

#include <cstdint>

namespace uhf::epc {

enum class Charset : std::uint8_t { Gs1, Cpi6, Adi6, Adi6Serial, Cage };

bool char_allowed(Charset set, char c);
// Whether the character must be %-escaped in a URI (so may not appear there as itself).
bool must_escape(Charset set, char c);

inline unsigned six_bit_code(char c) { return static_cast<unsigned char>(c) & 0x3Fu; }
inline char six_bit_char(unsigned v) {
    return static_cast<char>(v < 0x20 ? v | 0x40 : v);
}

} // namespace uhf::epc
