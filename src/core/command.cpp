#include "core/command.hpp"

#include <cstring>

#include "core/exchange.hpp"
#include "core/frame.hpp"
#include "uhfreader.h"

namespace uhf {

int prepare(int addr, std::uint8_t code, const RequestLayout &request) {
    pc_id = static_cast<std::uint8_t>(addr & 0xFF);
    IcCmd = code;
    const auto length = request.place(BlkAAdrBeg, kMaxRequestData);
    // A length byte that disagreed with the bytes sent would desynchronise the reader, and
    // the bytes cannot all be described by one length byte: send nothing instead.
    if (!length) return finish(code::refused_too_long);
    BlkALength = static_cast<std::uint8_t>(*length);
    return 0;
}

int run(CopyRule copy, ResultRule result) {
    const int rc = PcSendOrder();
    if (rc != 0) return rc;
    apply_copy(copy, reply_area());
    return apply_result(result, rc, ErrorCode);
}

int command(int addr, std::uint8_t code, const RequestLayout &request, CopyRule copy,
            ResultRule result) {
    if (const int rc = prepare(addr, code, request); rc != 0) return rc;
    return run(copy, result);
}

int command(int addr, std::uint8_t code, const RequestLayout &request, Cleared clear,
            CopyRule copy, ResultRule result) {
    if (const int rc = prepare(addr, code, request); rc != 0) return rc;
    if (clear.dst != nullptr && clear.n != 0) std::memset(clear.dst, 0, clear.n);
    return run(copy, result);
}

}  // namespace uhf
