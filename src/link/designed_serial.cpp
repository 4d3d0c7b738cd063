// The designed interface's serial functions, on the default link's line: its serial port, or the
// TCP connection LinkCom_Path opened to a network serial server.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "link/default_link.hpp"
#include "uhfreader.h"

namespace uhf::serial {

int open_node(const char *path, int baud) {
    default_link().tcp.close();
    return default_link().serial.open(path, baud).ok() ? 0 : 1;
}

bool port_open() { return default_link().line().is_open(); }

void close_port() {
    default_link().tcp.close();
    default_link().serial.close();
}

}  // namespace uhf::serial

namespace {

int open_numbered(const char *prefix, int port, int baud) {
    unsigned n = static_cast<unsigned>(port);
    if (n < 1 || n > 9) n = 0;
    char path[256];
    std::snprintf(path, sizeof path, "%s%u", prefix, n);
    return uhf::serial::open_node(path, baud);
}

bool send_byte(int c) {
    const std::uint8_t b = static_cast<std::uint8_t>(c);
    return uhf::default_link().line().send({&b, 1}, uhf::serial::timing().send_bound_ms).bytes == 1;
}

bool receive_byte() {
    uhf::Transport &port = uhf::default_link().line();
    if (!port.is_open()) return false;
    std::uint8_t b = 0;
    const uhf::IoResult r = port.receive({&b, 1}, 0);
    if (r.status != uhf::Io::ok) return false;
    qchar = b;
    return true;
}

}  // namespace

using namespace uhf;

extern "C" {

UHF_API int RS232_InitPort(int port, int baud) {
    return open_numbered(serial::node_families().builtin, port, baud);
}

UHF_API int RS232_InitPort_USB(int port, int baud) {
    return open_numbered(serial::node_families().usb_adapter, port, baud);
}

UHF_API int RS232_InitPort_Path(const char *path, int baud) { return serial::open_node(path, baud); }

UHF_API int RS232_SendStr(const unsigned char *data, int len) {
    Transport &port = default_link().line();
    if (!port.is_open() || len < 0 || (data == nullptr && len > 0)) return 1;
    return port.send({data, static_cast<std::size_t>(len)}, serial::timing().send_bound_ms).bytes ==
                   static_cast<std::size_t>(len)
               ? 0
               : 1;
}

UHF_API int RS232_ReceStr(unsigned char *buf, int size) {
    DefaultLink &l = default_link();
    if (!l.line().is_open() || size < 0 || (buf == nullptr && size > 0)) return 1;
    for (;;) {
        const ssize_t n = ::read(l.line_fd(), buf, static_cast<std::size_t>(size));
        if (n >= 0) return 0;
        if (errno != EINTR) return 1;
    }
}

UHF_API int RS232_SendChar(int c) { return send_byte(c) ? 0 : 1; }

UHF_API int RS232_QSendChar(int c) {
    if (!send_byte(c)) return 1;
    if (static_cast<std::uint8_t>(c) == kDle && !send_byte(c)) return 1;
    return 0;
}

UHF_API int RS232_ReceChar(void) { return receive_byte() ? 0 : 1; }

UHF_API int RS232_QReceChar(void) {
    if (!receive_byte()) return 1;
    if (qchar != kDle) return 0;
    if (!receive_byte()) return 1;
    return qchar == kDle ? 0 : 1;
}

UHF_API int RS232_PcSendOrder(void) { return default_serial_exchange(); }

UHF_API int RS232_UnLinkCom(void) {
    serial::close_port();
    return 0;
}

}  // extern "C"
