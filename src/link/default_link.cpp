#include "link/default_link.hpp"

#include "link/device_string.hpp"
#include "uhfreader.h"

// The exchange state: process-wide, zero at load, part of the exported interface.
extern "C" {
UHF_API unsigned char pc_id = 0;
UHF_API unsigned char IcCmd = 0;
UHF_API unsigned char BlkAAdrBeg[2048] = {};
UHF_API unsigned char BlkALength = 0;
UHF_API unsigned char BlkBAdrBeg[2048] = {};
UHF_API uint32_t BlkBLength = 0;
UHF_API unsigned char ErrorCode = 0;
UHF_API unsigned char IcRetCode = 0;
UHF_API unsigned char USB_Flag = 0;
UHF_API int IcBaudRate = 0;

UHF_API int idComDev = 0;
UHF_API unsigned char qchar = 0;
UHF_API unsigned char pc_id_buf = 0;
UHF_API unsigned char IcCmd_buf = 0;
UHF_API int TRYNUM2S = 0;
UHF_API int TRYNUM2L = 0;

UHF_API struct libusb_device **usb_devs = nullptr;
UHF_API struct libusb_device *usb_dev = nullptr;
UHF_API struct libusb_device_handle *q_usb_handle = nullptr;
UHF_API int EP_OUT = 0;
UHF_API int EP_IN = 0;
}

namespace uhf {

namespace {

constexpr int kDesignedConnectMs = 3000;

// Built at compile time, never destroyed: a host may use the link while the process exits, and
// nothing here is allocated.
constinit DefaultLink g_default_link{
    ExchangeState{pc_id, IcCmd, BlkAAdrBeg, BlkALength, BlkBAdrBeg, BlkBLength, ErrorCode, IcRetCode, pc_id_buf,
                  IcCmd_buf, qchar, TRYNUM2S, TRYNUM2L},
    SerialTransport(&idComDev),
    TcpTransport(),
    UsbTransport(true, UsbBinding{&usb_devs, &usb_dev, &q_usb_handle, &EP_OUT, &EP_IN}),
    PacketBuffers{},
    Trace{},
};

}  // namespace

DefaultLink &default_link() { return g_default_link; }

StreamTiming serial_stream_timing(int line_rate) {
    const serial::Timing &t = serial::timing();
    StreamTiming s;
    s.poll_ms = t.first_byte_poll_ms;
    s.gap_ms = t.inter_byte_gap_ms;
    s.frame_bound_ms = serial::frame_bound_ms(line_rate);
    s.send_bound_ms = t.send_bound_ms;
    return s;
}

PacketTiming usb_packet_timing() {
    const usb::Timing &t = usb::timing();
    return {t.handshake_reply_ms, t.reply_ms, t.piece_send_ms};
}

int default_serial_exchange() {
    DefaultLink &l = default_link();
    l.state.detail = 0;
    // Behind a network serial server the line rate is not known: frames get the slowest rate's time.
    const int rate = l.tcp.is_open() ? 9600 : l.serial.line_rate();
    return l.state.finish(stream_exchange(l.state, l.line(), serial_stream_timing(rate), l.trace).outcome);
}

int open_tcp_line(const char *device) {
    DefaultLink &l = default_link();
    l.serial.close();
    l.tcp.close();
    DeviceTarget target;
    if (parse_device(device, target) != 0 || target.kind != DeviceTarget::Kind::tcp) return 1;
    return l.tcp.open(target.host, target.port, kDesignedConnectMs).ok() ? 0 : 1;
}

int default_usb_exchange() {
    DefaultLink &l = default_link();
    l.state.detail = 0;
    return l.state.finish(packet_exchange(l.state, l.usb, l.packets, usb_packet_timing(), l.trace).outcome);
}

}  // namespace uhf
