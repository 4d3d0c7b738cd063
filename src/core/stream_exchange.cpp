#include "core/stream_exchange.hpp"

#include "transport/stream_reader.hpp"

namespace uhf {
namespace {

constexpr int kPollBase = 10;

// Waits for the reply's first 0x10 within the budget of attempts. An attempt is a byte taken
// (any other byte is dropped and the next attempt follows at once) or a poll slot that passed
// empty; a slot cut short by arriving bytes costs nothing, so noise costs one attempt a byte
// however it is paced, and the longest wait stays the budget's slots.
Outcome await_first_byte(StreamReader &line, int budget, int poll_ms) {
    bool last_was_byte = false;
    for (int used = 0; used < budget;) {
        std::uint8_t b = 0;
        if (line.take_now(b)) {
            ++used;
            if (b == kDle) return code::ok;
            last_was_byte = true;
            continue;
        }
        last_was_byte = false;
        if (line.gone() || line.cancelled()) break;
        // No wait after the last attempt.
        if (used + 1 == budget || !line.wait(poll_ms)) ++used;
    }
    return last_was_byte ? code::first_not_dle : code::serial_no_reply;
}

}  // namespace

ExchangeEnd stream_exchange(const ExchangeState &s, Transport &t, const StreamTiming &timing, Trace &trace) {
    if (!t.is_open()) return {code::no_serial_port};

    std::uint8_t frame[kMaxRequestFrame];
    const std::size_t len = encode_request(s.address, s.command, {s.request, s.request_length}, frame);
    // Whatever an earlier exchange left unread (a late or abandoned reply) must not be taken as
    // this request's answer.
    t.discard_stale_input(trace);
    trace.emit(UHF_TRACE_SENT, {frame, len});
    const IoResult sent = t.send({frame, len}, timing.send_bound_ms);
    if (s.request_length > 0) s.last_byte = s.request[s.request_length - 1];
    if (sent.bytes < len)
        return {request_send_failure({frame, len}, sent.bytes), sent.status == Io::gone, sent.error,
                sent.status == Io::cancelled};

    s.handshake_poll_base = kPollBase;
    s.command_poll_base = kPollBase;
    int budget = s.command == kHandshake ? 2 * s.handshake_poll_base : 4 * s.command_poll_base;
    if (s.command == kHandshake && timing.handshake_attempts > 0) budget = timing.handshake_attempts;
    if (s.command != kHandshake && timing.command_attempts > 0) budget = timing.command_attempts;

    StreamReader line(t, trace, s.last_byte);
    ExchangeEnd end;
    end.outcome = await_first_byte(line, budget, timing.poll_ms);
    if (end.outcome.code == 0) {
        line.start_frame(timing.gap_ms, timing.frame_bound_ms);
        ReplyFields f;
        end.outcome = decode_reply_rest(line, Wire::serial, s.expectation(), f, s.reply_area());
        s.keep_reply_fields(f, Wire::serial);
        if (end.outcome.code == 0) s.zero_reply_tail(f.length);
    }
    trace.flush();
    end.gone = line.gone();
    end.error = line.error();
    end.cancelled = line.cancelled();
    return end;
}

}  // namespace uhf
