#include "uhfreader.h"

extern "C" UHF_API int PcSendOrder(void) {
    return USB_Flag != 0 ? USB_PcSendOrder() : RS232_PcSendOrder();
}
