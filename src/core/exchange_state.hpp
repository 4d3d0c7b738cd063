// The state one exchange runs on: request and reply areas, the outcome's codes, and what the
// last reply carried.
//
// A link owns one. The default link's is bound to the exported variables (pc_id, BlkAAdrBeg,
// ErrorCode, ...), so a host that sets them and calls PcSendOrder drives it; a link handle's is
// bound to storage of its own. Nothing in the exchange reads a global: it reads this.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "core/frame.hpp"

namespace uhf {

struct ExchangeState {
    std::uint8_t &address;          // request: reader address        (pc_id)
    std::uint8_t &command;          // request: command code          (IcCmd)
    std::uint8_t *request;          // request data, 2048 bytes       (BlkAAdrBeg)
    std::uint8_t &request_length;   // 0..255                         (BlkALength)
    std::uint8_t *reply;            // reply data, 2048 bytes         (BlkBAdrBeg)
    std::uint32_t &reply_length;    //                                (BlkBLength)
    std::uint8_t &status;           // last status byte read          (ErrorCode)
    std::uint8_t &detail;           // detail code                    (IcRetCode)
    std::uint8_t &reply_address;    // serial: the last reply's address  (pc_id_buf)
    std::uint8_t &reply_command;    // serial: the last reply's command  (IcCmd_buf)
    std::uint8_t &last_byte;        // serial: last byte taken / sent    (qchar)
    int &handshake_poll_base;       // serial: set to 10 per exchange    (TRYNUM2S)
    int &command_poll_base;         // serial: set to 10 per exchange    (TRYNUM2L)

    std::span<std::uint8_t, kReplyCapacity> reply_area() const {
        return std::span<std::uint8_t, kReplyCapacity>(reply, kReplyCapacity);
    }
    Expectation expectation() const { return Expectation{command, address}; }

    // Stores the detail code (where the outcome has one) and returns the exchange code.
    int finish(Outcome o) const {
        if (o.detail != kKeepDetail) detail = static_cast<std::uint8_t>(o.detail);
        return o.code;
    }

    // After a successful exchange the reply area past the data reads 0, so a copy whose count
    // runs past what the reader sent never hands out an earlier reply's bytes.
    void zero_reply_tail(std::uint32_t length) const {
        if (length < kReplyCapacity) std::memset(reply + length, 0, kReplyCapacity - length);
    }

    // The fields a decode got as far as, left where callers read them.
    void keep_reply_fields(const ReplyFields &f, Wire wire) const {
        if (wire == Wire::serial) {
            if (f.have_address) reply_address = f.address;
            if (f.have_command) reply_command = f.command;
        }
        if (f.have_status) status = f.status;
        // An announced length past the reply area is never left where a caller could index with it.
        if (f.have_length) reply_length = f.length <= kReplyCapacity ? f.length : 0;
    }
};

// Storage for a link handle's exchange state.
struct OwnedExchange {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t request[kReplyCapacity] = {};
    std::uint8_t request_length = 0;
    std::uint8_t reply[kReplyCapacity] = {};
    std::uint32_t reply_length = 0;
    std::uint8_t status = 0;
    std::uint8_t detail = 0;
    std::uint8_t reply_address = 0;
    std::uint8_t reply_command = 0;
    std::uint8_t last_byte = 0;
    int handshake_poll_base = 0;
    int command_poll_base = 0;

    ExchangeState bind() {
        return {address,       command,       request,   request_length,      reply,
                reply_length,  status,        detail,    reply_address,       reply_command,
                last_byte,     handshake_poll_base,      command_poll_base};
    }
};

}  // namespace uhf
