// GS1 element strings for the schemes that carry a GS1 key, with their check digits.
#pragma once

#include "epc/parts.hpp"
#include "epc/text.hpp"

namespace uhf::epc {

// The GS1 mod-10 check digit of `n` digits (weights 3, 1, 3, ... from the right).
char check_digit(const char *digits, unsigned n);

// Writes nothing for a scheme without a GS1 key (GID, USDOD, ADI).
void format_gs1(const Parts &in, TextOut &out);

} // namespace uhf::epc
