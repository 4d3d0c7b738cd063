// Helpers shared by the transports for leaving an exchange's outcome in the exported state.
#pragma once

#include <cstring>

#include "core/frame.hpp"
#include "uhfreader.h"

namespace uhf {

inline std::span<std::uint8_t, kReplyCapacity> reply_area() {
    return std::span<std::uint8_t, kReplyCapacity>(BlkBAdrBeg, kReplyCapacity);
}

inline Expectation current_expectation() { return Expectation{IcCmd, pc_id}; }

// Stores the detail code (where the outcome has one) and returns the exchange code.
inline int finish(Outcome o) {
    if (o.detail != kKeepDetail) IcRetCode = static_cast<unsigned char>(o.detail);
    return o.code;
}

// After a successful exchange the reply area past the data reads 0, so a copy whose count
// runs past what the reader sent never hands out an earlier reply's bytes.
inline void zero_reply_tail(std::uint32_t length) {
    if (length < kReplyCapacity) std::memset(BlkBAdrBeg + length, 0, kReplyCapacity - length);
}

}  // namespace uhf
