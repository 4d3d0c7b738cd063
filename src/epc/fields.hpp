// Each kind of field between its bits and its text. Decoding checks what the bits hold;
// encoding checks the text. Both return 0 or a UHF_EPC_ERR_* code.
#pragma once

#include "epc/bits.hpp"
#include "epc/parts.hpp"
#include "epc/schemes.hpp"

namespace uhf::epc {

// `row` is the partition row for the company prefix and reference kinds, else unused.
int decode_field(const Field &f, const PartitionRow &row, BitReader &in, Part &out);
int encode_field(const Field &f, const PartitionRow &row, const Part &in, BitWriter &out);

// The value of a part that holds only digits (at most 19 of them): 0, or a refusal.
int part_value(const Part &p, std::uint64_t &value);

} // namespace uhf::epc
