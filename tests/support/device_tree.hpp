// A scratch /dev and /sys in a temporary directory, laid out as the kernel shows serial nodes:
// /dev/NAME (a link to a simulated reader's node), /sys/class/tty/NAME/device with its driver,
// a USB adapter's attributes above it, and /dev/serial/by-id names. Removed with the object.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace uhftest {

class DeviceTree {
public:
    DeviceTree() {
        char tmpl[] = "/tmp/uhf-devices-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        root = tmpl;
        for (const char *d : {"/dev", "/dev/serial", "/dev/serial/by-id", "/sys", "/sys/class", "/sys/class/tty",
                              "/sys/devices", "/sys/drivers"})
            mkdir((root + d).c_str(), 0755);
        dev = root + "/dev";
        tty = root + "/sys/class/tty";
        by_id_dir = root + "/dev/serial/by-id";
    }
    ~DeviceTree() { (void)std::system(("rm -rf '" + root + "'").c_str()); }
    DeviceTree(const DeviceTree &) = delete;
    DeviceTree &operator=(const DeviceTree &) = delete;

    static void write(const std::string &path, const std::string &text) { std::ofstream(path) << text << "\n"; }

    // /dev/NAME linking to `target`, its sysfs entry and driver; with `usb_device` (e.g. "1-2")
    // the node sits on an interface of that USB adapter (vendor 0403, product 6001, "Acme",
    // "Reader Cable", serial A50285BI, bus 1, device 7). False when a link could not be made.
    bool node(const std::string &name, const std::string &target, const std::string &driver,
              const std::string &usb_device = "") const {
        if (symlink(target.c_str(), (dev + "/" + name).c_str()) != 0) return false;
        const std::string entry = tty + "/" + name;
        mkdir(entry.c_str(), 0755);
        std::string device = root + "/sys/devices/" + name;
        if (!usb_device.empty()) {
            const std::string usb = root + "/sys/devices/" + usb_device;
            mkdir(usb.c_str(), 0755);
            for (auto [file, text] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"manufacturer", "Acme"},
                                      {"product", "Reader Cable"}, {"serial", "A50285BI"}, {"busnum", "1"},
                                      {"devnum", "7"}})
                write(usb + "/" + file, text);
            device = usb + "/" + usb_device + ":1.0";
        }
        mkdir(device.c_str(), 0755);
        mkdir((root + "/sys/drivers/" + driver).c_str(), 0755);
        return symlink((root + "/sys/drivers/" + driver).c_str(), (device + "/driver").c_str()) == 0 &&
               symlink(device.c_str(), (entry + "/device").c_str()) == 0;
    }
    // /dev/serial/by-id/NAME for /dev/NODE, relative as udev makes it.
    bool by_id(const std::string &name, const std::string &node) const {
        return symlink(("../../" + node).c_str(), (by_id_dir + "/" + name).c_str()) == 0;
    }

    std::string root, dev, tty, by_id_dir;
};

}  // namespace uhftest
