// A byte stream (a serial line, a TCP connection) read in bulk and handed out byte by byte,
// with deadlines: what the serial and TCP transports share.
//
// Input is taken in as large reads as the transport gives, so a reply costs a few system
// calls however long it is. Stale input was discarded before the request went out, so
// whatever is buffered belongs to this exchange.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/frame.hpp"
#include "core/trace.hpp"
#include "transport/transport.hpp"

namespace uhf {

class StreamReader final : public ByteSource {
public:
    // `last_byte` receives each byte taken (the designed interface's qchar).
    StreamReader(Transport &t, Trace &trace, std::uint8_t &last_byte)
        : t_(t), trace_(trace), last_byte_(last_byte) {}

    // One attempt of the first-byte wait: a byte if one is there now.
    bool take_now(std::uint8_t &b);
    // Waits up to `ms` for input; true only when bytes arrived.
    bool wait(int ms);

    // From the reply's first 0x10 on, each byte may take up to `gap_ms`, and the rest of the
    // frame `bound_ms` in all.
    void start_frame(int gap_ms, int bound_ms);
    bool next(std::uint8_t &b) override;

    // The device vanished while reading (hang-up, reset, end of the connection).
    bool gone() const { return gone_; }
    int error() const { return error_; }
    // The link's cancel signal ended a wait; nothing more is read.
    bool cancelled() const { return cancelled_; }

private:
    bool fill(int timeout_ms);
    bool hand_out(std::uint8_t &b) {
        b = buf_[head_++];
        last_byte_ = b;
        return true;
    }

    Transport &t_;
    Trace &trace_;
    std::uint8_t &last_byte_;
    std::uint8_t buf_[4096];
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    std::int64_t frame_deadline_ms_ = 0;
    int gap_ms_ = 0;
    bool gone_ = false;
    bool cancelled_ = false;
    int error_ = 0;
};

std::int64_t monotonic_ms();

}  // namespace uhf
