// The designed interface's link management: choose a transport, prove a reader answers, close
// whatever is open.
#include <cstring>

#include "core/frame.hpp"
#include "link/default_link.hpp"
#include "uhfreader.h"

namespace {

constexpr int kUsbPort = 32;
constexpr int kAttempts = 3;

// A new link never strands the old one's descriptor or USB device.
void close_held_links() {
    uhf::serial::close_port();
    USB_UnLinkCom();
    USB_Flag = 0;
}

bool names_tcp(const char *path) { return path != nullptr && std::strncmp(path, "tcp:", 4) == 0; }

int serial_attempt(int addr, const char *path, int baud) {
    USB_Flag = 0;
    const int opened = names_tcp(path) ? uhf::open_tcp_line(path) : uhf::serial::open_node(path, baud);
    if (opened == 0) {
        IcBaudRate = baud;
        if (Link_Reader(addr) == 0) return 0;
    }
    return 1;
}

}  // namespace

extern "C" {

UHF_API int PcSendOrder(void) { return USB_Flag != 0 ? USB_PcSendOrder() : RS232_PcSendOrder(); }

UHF_API int Link_Reader(int addr) {
    int rc = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        pc_id = static_cast<unsigned char>(addr);
        IcCmd = uhf::kHandshake;
        BlkALength = 0;
        rc = PcSendOrder();
        IcRetCode = static_cast<unsigned char>(rc);
        if (rc == 0) return 0;
    }
    UnLinkCom();
    return rc;
}

UHF_API int LinkCom_A(int addr, int port, int baud) {
    if (port == kUsbPort) return USB_LinkCom(addr);
    USB_Flag = 0;
    if (RS232_InitPort(port, baud) == 0) {
        IcBaudRate = baud;
        if (Link_Reader(addr) == 0) return 0;
    }
    if (RS232_InitPort_USB(port, baud) == 0) {
        IcBaudRate = baud;
        if (Link_Reader(addr) == 0) return 0;
    }
    IcBaudRate = 0;
    return 1;
}

UHF_API int LinkCom(int addr, int port, int baud) {
    close_held_links();
    int rc = 1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        rc = LinkCom_A(addr, port, baud);
        if (rc == 0) return 0;
    }
    IcBaudRate = 0;
    return rc;
}

UHF_API int LinkCom_Path(int addr, const char *path, int baud) {
    close_held_links();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (serial_attempt(addr, path, baud) == 0) return 0;
        IcBaudRate = 0;
    }
    return 1;
}

UHF_API int UnLinkCom(void) {
    if (USB_Flag != 0)
        USB_UnLinkCom();
    else
        RS232_UnLinkCom();
    return 0;
}

}  // extern "C"
