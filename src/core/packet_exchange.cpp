#include "core/packet_exchange.hpp"

#include <algorithm>
#include <cstring>

namespace uhf {

bool send_piece(const ExchangeState &s, Transport &t, int bound_ms, IoResult *io) {
    const IoResult r = t.send({s.request, s.request_length}, bound_ms);
    if (io != nullptr) *io = r;
    // A piece reported as failed (timed out, stalled) is not known to have arrived whole,
    // whatever count comes with it.
    return r.status == Io::ok && r.bytes == s.request_length;
}

bool send_pieces(const ExchangeState &s, Transport &t, PacketBuffers &b, std::size_t len, int piece_ms,
                 Trace &trace, IoResult *io) {
    std::size_t total = len;
    if (total % kPieceSize == 0) {
        b.frame[len] = 0;
        b.frame[len + 1] = 0;
        total += 2;
    }
    trace.emit(UHF_TRACE_SENT, {b.frame, total});
    for (std::size_t at = 0; at < total;) {
        const std::size_t n = std::min(kPieceSize, total - at);
        std::memcpy(s.request, b.frame + at, n);
        s.request_length = static_cast<std::uint8_t>(n);
        if (!t.is_open() || !send_piece(s, t, piece_ms, io)) return false;
        at += n;
    }
    return true;
}

bool receive_transfer(const ExchangeState &s, Transport &t, PacketBuffers &b, int timeout_ms, Trace &trace,
                      IoResult *io) {
    std::memset(s.reply, 0, kReplyCapacity);
    b.rx_len = 0;
    if (!t.is_open()) return false;
    const IoResult r = t.receive(b.rx, timeout_ms);
    if (io != nullptr) *io = r;
    if (r.status != Io::ok) return false;
    b.rx_len = r.bytes;
    trace.emit(UHF_TRACE_RECEIVED, {b.rx, b.rx_len});
    std::memcpy(s.reply, b.rx, b.rx_len);
    return true;
}

ExchangeEnd packet_exchange(const ExchangeState &s, Transport &t, PacketBuffers &b, const PacketTiming &timing,
                            Trace &trace) {
    if (!t.is_open()) return {code::usb_send};

    const std::size_t len = encode_request(s.address, s.command, {s.request, s.request_length},
                                           std::span<std::uint8_t, kMaxRequestFrame>(b.frame, kMaxRequestFrame));
    if (t.reply_outstanding) t.discard_stale_input(trace);
    t.reply_outstanding = true;

    IoResult io;
    if (!send_pieces(s, t, b, len, timing.piece_send_ms, trace, &io))
        return {code::usb_send, io.status == Io::gone, io.error, io.status == Io::cancelled};
    const int wait = s.command == kHandshake ? timing.handshake_reply_ms : timing.reply_ms;
    if (!receive_transfer(s, t, b, wait, trace, &io))
        return {code::usb_no_reply, io.status == Io::gone, io.error, io.status == Io::cancelled};

    ReplyFields f;
    const Outcome o = decode_usb_reply({b.rx, b.rx_len}, s.expectation(), f, s.reply_area());
    s.keep_reply_fields(f, Wire::usb);
    if (o.code != 0) return {o};
    t.reply_outstanding = false;
    s.zero_reply_tail(f.length);
    return {o};
}

}  // namespace uhf
