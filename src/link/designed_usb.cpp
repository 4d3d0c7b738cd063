// The designed interface's USB functions, on the default link's USB device.
#include <cstring>

#include "link/default_link.hpp"
#include "uhfreader.h"

namespace uhf::usb {

bool device_open() { return default_link().usb.is_open(); }

}  // namespace uhf::usb

using namespace uhf;

extern "C" {

UHF_API int USB_Open(void) { return default_link().usb.open(UsbSelector{}).ok() ? 0 : 1; }

UHF_API int USB_QSendChar(int c) {
    const auto b = static_cast<unsigned char>(c);
    BlkAAdrBeg[BlkALength++] = b;
    if (b == kDle) BlkAAdrBeg[BlkALength++] = b;
    return 0;
}

UHF_API int USB_SendStr(void) {
    DefaultLink &l = default_link();
    if (!l.usb.is_open()) return 1;
    std::memcpy(l.packets.frame, BlkAAdrBeg, BlkALength);
    return send_pieces(l.state, l.usb, l.packets, BlkALength, usb::timing().piece_send_ms, l.trace) ? 0 : 1;
}

UHF_API int USB_SendStr_a(void) {
    DefaultLink &l = default_link();
    if (!l.usb.is_open()) return 1;
    return send_piece(l.state, l.usb, usb::timing().piece_send_ms) ? 0 : 1;
}

UHF_API int USB_ReceStr(int timeout_ms) {
    DefaultLink &l = default_link();
    return receive_transfer(l.state, l.usb, l.packets, timeout_ms, l.trace) ? 1 : 0;
}

UHF_API int USB_PcSendOrder(void) { return default_usb_exchange(); }

UHF_API int USB_UnLinkCom(void) {
    default_link().usb.close();
    return 0;
}

UHF_API int USB_LinkCom(int addr) {
    if (USB_Open() != 0) {
        USB_Flag = 0;
        return 1;
    }
    USB_Flag = 1;
    default_link().usb.use_endpoints(usb::kEndpointOut, usb::kEndpointIn);
    const int rc = Link_Reader(addr);
    if (rc != 0) USB_Flag = 0;
    return rc;
}

}  // extern "C"
