// The command pattern every command follows, on whichever link it runs:
//
//   1. a NULL request block is refused before anything else (UHF_REFUSED_NULL_BLOCK / 106)
//   2. reader address and command code into the exchange state
//   3. the arguments' bytes into the request area (refused with 248 / 104 when over-long)
//   4. clear the caller's output bytes, where the command says so
//   5. one exchange; a non-zero exchange code is returned at once, nothing copied
//   6. copy the reply out of the reply area by the copy rule
//   7. return by the result rule
//
// All request bytes are in the request area before the exchange and the copy happens after it,
// so one caller buffer may serve as both request block and reply buffer.
#pragma once

#include <cstdint>

#include "core/exchange_state.hpp"
#include "core/reply_copy.hpp"
#include "core/request_layout.hpp"
#include "uhfreader.h"

namespace uhf {

// Where a command runs: a link's exchange state and the way to run one exchange on it.
class Exchanger {
public:
    virtual const ExchangeState &state() = 0;
    // The exchange code, or a negative UHF_ERR_* when the link itself failed.
    virtual int exchange() = 0;

protected:
    ~Exchanger() = default;
};

// Runs catalogue row `row` with its arguments: scalars[i] / buffers[i] for argument i.
int run_command(Exchanger &x, const uhf_command_info &row, int addr, const int *scalars,
                unsigned char *const *buffers);

// Steps 2-3 on the default link: 0, or the refusal's exchange code with IcRetCode set.
int prepare(int addr, std::uint8_t code, const RequestLayout &request);

// The request layout of one block argument (its counted form or its fixed size).
RequestLayout block_layout(const uhf_arg_info &arg, const std::uint8_t *block);

inline constexpr Outcome null_block_refusal{UHF_REFUSED_NULL_BLOCK, 106};

}  // namespace uhf
