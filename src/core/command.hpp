// The command pattern every command function follows:
//
//   1. reader address -> pc_id, command code -> IcCmd
//   2. request layout -> BlkAAdrBeg / BlkALength (refused with 248 / 104 when over-long)
//   3. clear the caller's output bytes, where the command says so
//   4. PcSendOrder(); a non-zero exchange code is returned at once, nothing copied
//   5. copy the reply out of BlkBAdrBeg by the copy rule
//   6. return by the result rule
//
// All request bytes are in BlkAAdrBeg before the exchange and the copy happens after it,
// so one caller buffer may serve as both request block and reply buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/reply_copy.hpp"
#include "core/request_layout.hpp"

namespace uhf {

// The copy rules under the names the command rows use.
inline CopyRule no_copy() { return CopyRule::nothing(); }
inline CopyRule counted_copy(std::uint8_t *dst) { return CopyRule::counted(dst); }
inline CopyRule self_counted_copy(std::uint8_t *dst) { return CopyRule::self_counted(dst); }
inline CopyRule total_length_copy(std::uint8_t *dst) { return CopyRule::total_length(dst); }
inline CopyRule status_echo(std::uint8_t *block) { return CopyRule::status_echo(block); }
inline CopyRule fixed_copy(std::uint8_t *dst, std::size_t n) { return CopyRule::fixed(dst, n); }
inline CopyRule two_byte_counted_copy(std::uint8_t *dst) { return CopyRule::two_byte_counted(dst); }

inline constexpr ResultRule status_result = ResultRule::status;
inline constexpr ResultRule exchange_result = ResultRule::exchange;

// Output bytes a reading command zeroes before its exchange, so a failed exchange leaves
// zeros rather than stale values.
struct Cleared {
    std::uint8_t *dst = nullptr;
    std::size_t n = 0;
};
inline Cleared cleared(std::uint8_t *dst, std::size_t n) { return {dst, n}; }

// Steps 1-2. Returns 0, or the refusal's exchange code with IcRetCode set.
int prepare(int addr, std::uint8_t code, const RequestLayout &request);

// Steps 4-6 on the request already prepared.
int run(CopyRule copy, ResultRule result);

int command(int addr, std::uint8_t code, const RequestLayout &request,
            CopyRule copy = no_copy(), ResultRule result = status_result);

int command(int addr, std::uint8_t code, const RequestLayout &request, Cleared clear,
            CopyRule copy, ResultRule result);

}  // namespace uhf
