// One exchange over USB: the request frame in pieces of at most 64 bytes on bulk OUT, the
// reply in one bulk IN transfer decoded from memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/exchange_state.hpp"
#include "core/stream_exchange.hpp"
#include "core/trace.hpp"
#include "transport/transport.hpp"

namespace uhf {

inline constexpr std::size_t kPieceSize = 64;

struct PacketTiming {
    int handshake_reply_ms = 100;  // the reply transfer of the link handshake
    int reply_ms = 2000;           // the reply transfer of every other command
    int piece_send_ms = 2000;      // each piece of a request
};

// A link's frame and reply transfer, kept apart from the exchange state because the pieces
// pass through the request area while they are sent.
struct PacketBuffers {
    // The request frame as encoded, with room for the two filler bytes a frame whose size is a
    // multiple of the piece size is followed by.
    std::uint8_t frame[kMaxRequestFrame + 2] = {};
    // The last reply transfer exactly as received: the decoder never sees bytes past it.
    std::uint8_t rx[kReplyCapacity] = {};
    std::size_t rx_len = 0;
};

ExchangeEnd packet_exchange(const ExchangeState &s, Transport &t, PacketBuffers &b, const PacketTiming &timing,
                            Trace &trace);

// One piece: the request area's `request_length` bytes as one transfer. True when the
// transfer succeeded and moved them all.
bool send_piece(const ExchangeState &s, Transport &t, int bound_ms, IoResult *io = nullptr);

// The `len` bytes of b.frame in pieces, each passing through the request area, which then
// holds the last piece. The count is wider than the request length: a request with many 0x10
// data bytes doubles past 255 bytes.
bool send_pieces(const ExchangeState &s, Transport &t, PacketBuffers &b, std::size_t len, int piece_ms,
                 Trace &trace, IoResult *io = nullptr);

// One reply transfer into b.rx, copied into the cleared reply area. True on success.
bool receive_transfer(const ExchangeState &s, Transport &t, PacketBuffers &b, int timeout_ms, Trace &trace,
                      IoResult *io = nullptr);

}  // namespace uhf
