// Binary EPC to parts and back, walking the scheme's fields.
#pragma once

#include <cstddef>

#include "epc/parts.hpp"

namespace uhf::epc {

// 0 with `out` filled, or a UHF_EPC_ERR_* code.
int decode_binary(const unsigned char *bytes, std::size_t len, Parts &out);
// The bytes written (whole 16-bit words), or a UHF_EPC_ERR_* code.
int encode_binary(const Parts &in, unsigned char *out, std::size_t cap);

} // namespace uhf::epc
