#include "usb_access.hpp"

#include <libusb.h>

#include <cstdio>

namespace uhfctl {

std::string usb_access_problem() {
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) < 0) return {};
    std::string problem;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n && problem.empty(); ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) < 0) continue;
        if (d.idVendor != 0x03EB || d.idProduct != 0x6125) continue;
        libusb_device_handle *h = nullptr;
        const int rc = libusb_open(list[i], &h);
        if (rc == 0) {
            libusb_close(h);
            break;
        }
        if (rc == LIBUSB_ERROR_ACCESS) {
            char node[64];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(list[i]),
                          libusb_get_device_address(list[i]));
            problem = std::string("cannot open the USB reader 03eb:6125 at ") + node +
                      ": permission denied. Install udev/60-uhfreader.rules (cmake --install does), run "
                      "'sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=usb' "
                      "and replug the reader, or join the plugdev group.";
        }
    }
    if (n >= 0) libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return problem;
}

}  // namespace uhfctl
