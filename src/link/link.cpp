// Running exchanges and commands on a link handle, and bringing its device up.
#include "link/link.hpp"

#include <cstdio>


#include "link/default_link.hpp"
#include "transport/cancel.hpp"

uhf_link::uhf_link(const uhf::DeviceTarget &s, const char *text, const uhf_options &o)
    : state(storage.bind()), target(s), options(o) {
    std::snprintf(device, sizeof device, "%s", text);
}

namespace uhf {
namespace {

constexpr int kDefaultHandshakes = 3;
constexpr int kDefaultConnectMs = 3000;
// A TCP link cannot know the line rate behind the server: frames are allowed the time the
// slowest rate needs.
constexpr int kSlowestRate = 9600;

class LinkExchanger final : public Exchanger {
public:
    explicit LinkExchanger(uhf_link &l) : l_(l) {}
    const ExchangeState &state() override { return l_.state; }
    int exchange() override { return link_exchange(l_); }

private:
    uhf_link &l_;
};

StreamTiming stream_timing(const uhf_link &l, int line_rate) {
    StreamTiming t = serial_stream_timing(line_rate);
    if (l.options.reply_timeout_ms > 0) {
        // The slots between attempts make the wait: one attempt more than the slots that fit.
        const int poll = t.poll_ms > 0 ? t.poll_ms : 1;
        t.handshake_attempts = t.command_attempts = (l.options.reply_timeout_ms + poll / 2) / poll + 1;
    }
    return t;
}

PacketTiming packet_timing(const uhf_link &l) {
    PacketTiming t = usb_packet_timing();
    if (l.options.reply_timeout_ms > 0) t.handshake_reply_ms = t.reply_ms = l.options.reply_timeout_ms;
    return t;
}

}  // namespace

Transport *active_transport(uhf_link &l) {
    return std::visit(
        [](auto &t) -> Transport * {
            if constexpr (std::is_same_v<std::decay_t<decltype(t)>, std::monostate>)
                return nullptr;
            else
                return t.is_open() ? &t : nullptr;
        },
        l.transport);
}

void close_transport(uhf_link &l) {
    std::visit(
        [](auto &t) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(t)>, std::monostate>) t.close();
        },
        l.transport);
    l.transport.emplace<std::monostate>();
}

int link_exchange(uhf_link &l) {
    const ExchangeState &s = l.state;
    if (cancel_raised(l.cancel_fd)) {
        lower_cancel(l.cancel_fd);
        s.detail = 0;
        return UHF_ERR_CANCELLED;
    }
    Transport *t = l.gone ? nullptr : active_transport(l);
    if (t == nullptr) return UHF_ERR_GONE;
    s.detail = 0;
    ExchangeEnd end;
    if (t->wire() == Wire::usb) {
        end = packet_exchange(s, *t, l.packets, packet_timing(l), l.trace);
    } else {
        const auto *serial = std::get_if<SerialTransport>(&l.transport);
        end = stream_exchange(s, *t, stream_timing(l, serial != nullptr ? serial->line_rate() : kSlowestRate),
                              l.trace);
    }
    if (end.cancelled) {
        // The reply, or what is left of it, may still come: the next exchange discards it as
        // a late reply (TCP and the line before every request, USB once a reply is owed).
        lower_cancel(l.cancel_fd);
        s.detail = 0;
        return UHF_ERR_CANCELLED;
    }
    const int rc = s.finish(end.outcome);
    if (rc != 0 && end.gone) {
        // The descriptor goes at once, so a device that comes back (an adapter replugged under
        // the same node) can be opened again by uhf_reconnect.
        l.gone = true;
        close_transport(l);
        return UHF_ERR_GONE;
    }
    return rc;
}

int link_command(uhf_link *l, const uhf_command_info &row, int addr, const int *scalars,
                 unsigned char *const *buffers) {
    if (l == nullptr) return UHF_ERR_CLOSED;
    uhf::Lock lock(l->mu);
    LinkExchanger x(*l);
    return run_command(x, row, addr, scalars, buffers);
}

// Opens the link's device and proves the reader at `addr`. Called with the lock held (or
// before the link is shared).
int connect_link(uhf_link &l, int addr) {
    if (cancel_raised(l.cancel_fd)) {
        lower_cancel(l.cancel_fd);
        return UHF_ERR_CANCELLED;
    }
    close_transport(l);
    const DeviceTarget &d = l.target;
    OpenResult r;
    switch (d.kind) {
    case DeviceTarget::Kind::serial: {
        SerialTransport &serial = l.transport.emplace<SerialTransport>();
        serial.cancel_fd = l.cancel_fd;
        r = serial.open(d.path, d.baud);
        break;
    }
    case DeviceTarget::Kind::usb: {
        UsbTransport &usb = l.transport.emplace<UsbTransport>(false, UsbBinding{});
        usb.cancel_fd = l.cancel_fd;
        r = usb.open(d.usb);
        if (r.ok()) usb.use_endpoints(usb::kEndpointOut, usb::kEndpointIn);
        break;
    }
    case DeviceTarget::Kind::tcp: {
        TcpTransport &tcp = l.transport.emplace<TcpTransport>();
        tcp.cancel_fd = l.cancel_fd;
        r = tcp.open(d.host, d.port,
                     l.options.connect_timeout_ms > 0 ? l.options.connect_timeout_ms : kDefaultConnectMs);
        break;
    }
    }
    if (!r.ok()) {
        close_transport(l);
        l.gone = true;
        if (r.code == UHF_ERR_CANCELLED) lower_cancel(l.cancel_fd);
        return r.code;
    }
    l.gone = false;
    const int attempts = l.options.handshake_attempts > 0 ? l.options.handshake_attempts : kDefaultHandshakes;
    int rc = 0;
    for (int i = 0; i < attempts; ++i) {
        l.state.address = static_cast<std::uint8_t>(addr);
        l.state.command = kHandshake;
        l.state.request_length = 0;
        rc = link_exchange(l);
        if (rc == 0) {
            l.addr = addr;
            return 0;
        }
        if (rc == UHF_ERR_GONE || rc == UHF_ERR_CANCELLED) break;
    }
    close_transport(l);
    l.gone = true;
    return rc;
}

}  // namespace uhf
