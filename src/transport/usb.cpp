// USB transport placeholder: no USB reader is reachable until the libusb transport lands.
#include "uhfreader.h"

extern "C" {
UHF_API struct libusb_device **usb_devs = nullptr;
UHF_API struct libusb_device *usb_dev = nullptr;
UHF_API struct libusb_device_handle *q_usb_handle = nullptr;
UHF_API int EP_OUT = 0;
UHF_API int EP_IN = 0;

UHF_API int USB_Open(void) { return 1; }
UHF_API int USB_QSendChar(int) { return 0; }
UHF_API int USB_SendStr(void) { return 1; }
UHF_API int USB_SendStr_a(void) { return 1; }
UHF_API int USB_ReceStr(int) { return 0; }
UHF_API int USB_PcSendOrder(void) {
    IcRetCode = 0;
    return 1;
}
UHF_API int USB_UnLinkCom(void) { return 0; }
UHF_API int USB_LinkCom(int) { return USB_Open(); }
}
