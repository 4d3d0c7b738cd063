// The default link: the designed interface's one link, whose exchange state is the exported
// variables (pc_id, BlkAAdrBeg, ErrorCode, ...) and whose transports show their objects in the
// exported transport variables (idComDev, q_usb_handle, ...). USB_Flag chooses the transport.
// No locks: calls on it must not overlap.
#pragma once

#include "core/exchange_state.hpp"
#include "core/packet_exchange.hpp"
#include "core/stream_exchange.hpp"
#include "core/trace.hpp"
#include "transport/serial.hpp"
#include "transport/tcp.hpp"
#include "transport/usb.hpp"

namespace uhf {

struct DefaultLink {
    ExchangeState state;
    SerialTransport serial;
    TcpTransport tcp;  // LinkCom_Path("tcp:HOST:PORT"): the line, carried over TCP
    UsbTransport usb;
    PacketBuffers packets;
    Trace trace;  // the designed interface traces nothing

    // The line the serial functions use: a TCP connection when one is open, else the port.
    Transport &line() { return tcp.is_open() ? static_cast<Transport &>(tcp) : serial; }
    int line_fd() const { return tcp.is_open() ? tcp.fd() : serial.fd(); }
};

DefaultLink &default_link();

// Opens the line on a TCP connection ("tcp:HOST:PORT"), closing whatever line was open: 0 or 1.
int open_tcp_line(const char *device);

// One exchange on the default link's line / USB device, with the designed codes.
int default_serial_exchange();
int default_usb_exchange();

// The waits of a serial exchange at a line rate, and of a USB exchange, from the configured
// bounds (uhf::serial::timing(), uhf::usb::timing()).
StreamTiming serial_stream_timing(int line_rate);
PacketTiming usb_packet_timing();

}  // namespace uhf
