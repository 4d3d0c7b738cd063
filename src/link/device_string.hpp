// Device strings: which device a link opens.
//
//   /dev/ttyUSB0  serial:/dev/ttyUSB0  (either with @BAUD: 9600 19200 38400 57600 115200)
//   usb  usb:BUS.ADDRESS  usb:BUS-PORT[.PORT...]  usb:serial=SERIAL
//   tcp:HOST:PORT  tcp:[IPV6]:PORT
//
// Anything else is malformed: never a guess.
#pragma once

#include "transport/usb.hpp"

namespace uhf {

struct DeviceTarget {
    enum class Kind { serial, usb, tcp };
    Kind kind = Kind::serial;
    char path[1024] = {};  // serial
    int baud = 115200;     // serial
    UsbSelector usb;       // usb
    char host[256] = {};   // tcp
    char port[8] = {};     // tcp
};

// 0, or UHF_ERR_BAD_DEVICE.
int parse_device(const char *text, DeviceTarget &out);

}  // namespace uhf
