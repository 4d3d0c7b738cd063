// Pattern URIs parsed into the fixed-size matcher of the C interface.
#pragma once

#include <cstddef>

#include "uhfreader.h"

namespace uhf::epc {

int parse_pattern(const char *uri, uhf_epc_pattern &out);
// 1 when the binary id decodes and matches, else 0.
int match_pattern(const uhf_epc_pattern &pat, const unsigned char *epc, std::size_t len);

} // namespace uhf::epc
