// One exchange over a byte stream (a serial line, a TCP connection): the request frame in one
// write, the reply's first byte waited for by attempts, the rest read with a gap and a bound.
#pragma once

#include "core/exchange_state.hpp"
#include "core/frame.hpp"
#include "core/trace.hpp"
#include "transport/transport.hpp"

namespace uhf {

// How an exchange ended: the designed outcome, and whether the device vanished under it (the
// designed interface reports the outcome alone; a link handle reports the vanishing).
struct ExchangeEnd {
    Outcome outcome;
    bool gone = false;
    int error = 0;
    bool cancelled = false;  // the link's cancel signal ended a wait: the outcome is moot
};

struct StreamTiming {
    int poll_ms = 100;           // one first-byte attempt's wait
    int handshake_attempts = 0;  // the handshake's first-byte budget; 0: twice its poll base (20)
    int command_attempts = 0;    // every other command's; 0: four times its poll base (40)
    int gap_ms = 100;            // longest silence inside a reply
    int frame_bound_ms = 4000;   // longest time from a reply's first byte to its last
    int send_bound_ms = 2000;    // longest time a request may take to leave
};

ExchangeEnd stream_exchange(const ExchangeState &s, Transport &t, const StreamTiming &timing, Trace &trace);

}  // namespace uhf
