// Where uhf_list_devices looks. Tests point it at a scratch tree of their own.
#pragma once

namespace uhf::devices {

struct Roots {
    const char *dev = "/dev";                    // the nodes: <dev>/ttyUSB0
    const char *sys_tty = "/sys/class/tty";      // <sys_tty>/ttyUSB0/device/...
    const char *by_id = "/dev/serial/by-id";     // stable names linking to the nodes
    bool usb_readers = true;                     // list USB readers through libusb as well
};
Roots &roots();

}  // namespace uhf::devices
