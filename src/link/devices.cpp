// The candidate devices of this machine: serial nodes from sysfs and USB readers from libusb.
// Nothing is opened: a port another program uses is listed, not disturbed.
#include "link/devices.hpp"

#include <dirent.h>
#include <libusb.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "transport/usb.hpp"
#include "uhfreader.h"

namespace uhf::devices {

Roots &roots() {
    static Roots r;
    return r;
}

namespace {

constexpr const char *kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr int kHighestIndex = 255;

bool exists(const char *path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

void read_line(const char *path, char *out, std::size_t size) {
    out[0] = '\0';
    std::FILE *f = std::fopen(path, "re");
    if (f == nullptr) return;
    if (std::fgets(out, static_cast<int>(size), f) == nullptr) out[0] = '\0';
    std::fclose(f);
    out[std::strcspn(out, "\r\n")] = '\0';
}

// Copies as much as fits; a name that does not fit is cut, never overrun.
void copy(char *dst, std::size_t size, const char *src) {
    if (std::snprintf(dst, size, "%s", src) < 0) dst[0] = '\0';
}

// <dir>/<name>; false when it does not fit.
bool join(char *out, std::size_t size, const char *dir, const char *name) {
    const int n = std::snprintf(out, size, "%s/%s", dir, name);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

// Built-in ports that have no hardware behind them show port type 0 ("unknown").
bool real_builtin_port(const char *sys_entry) {
    char path[PATH_MAX];
    char type[16];
    if (!join(path, sizeof path, sys_entry, "type")) return false;
    read_line(path, type, sizeof type);
    return type[0] != '\0' && std::strcmp(type, "0") != 0;
}

// The /dev/serial/by-id name that resolves to the same node, if any.
void find_by_id(const char *node, char *out, std::size_t size) {
    out[0] = '\0';
    char target[PATH_MAX];
    if (::realpath(node, target) == nullptr) return;
    DIR *dir = ::opendir(roots().by_id);
    if (dir == nullptr) return;
    while (const dirent *e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        char link[PATH_MAX];
        char resolved[PATH_MAX];
        if (join(link, sizeof link, roots().by_id, e->d_name) && ::realpath(link, resolved) != nullptr &&
            std::strcmp(resolved, target) == 0) {
            copy(out, size, link);
            break;
        }
    }
    ::closedir(dir);
}

// The serial node's driver, and for a USB adapter the USB device's identity.
void describe_serial(const char *sys_entry, uhf_device_info &d) {
    char path[PATH_MAX];
    char link[PATH_MAX];
    if (!join(path, sizeof path, sys_entry, "device/driver")) return;
    const ssize_t n = ::readlink(path, link, sizeof link - 1);
    if (n > 0) {
        link[n] = '\0';
        const char *slash = std::strrchr(link, '/');
        copy(d.driver, sizeof d.driver, slash != nullptr ? slash + 1 : link);
    }
    if (!join(path, sizeof path, sys_entry, "device")) return;
    char dir[PATH_MAX];
    if (::realpath(path, dir) == nullptr) return;
    // The interface sits below the USB device: walk up to the directory that has its IDs.
    for (int up = 0; up < 4; ++up) {
        char attr[PATH_MAX];
        char value[64];
        if (!join(attr, sizeof attr, dir, "idVendor")) return;
        read_line(attr, value, sizeof value);
        if (value[0] != '\0') {
            d.vendor = static_cast<unsigned short>(std::strtoul(value, nullptr, 16));
            if (!join(attr, sizeof attr, dir, "idProduct")) return;
            read_line(attr, value, sizeof value);
            d.product = static_cast<unsigned short>(std::strtoul(value, nullptr, 16));
            if (!join(attr, sizeof attr, dir, "manufacturer")) return;
            read_line(attr, d.manufacturer, sizeof d.manufacturer);
            if (!join(attr, sizeof attr, dir, "product")) return;
            read_line(attr, d.product_name, sizeof d.product_name);
            if (!join(attr, sizeof attr, dir, "serial")) return;
            read_line(attr, d.serial, sizeof d.serial);
            if (!join(attr, sizeof attr, dir, "busnum")) return;
            read_line(attr, value, sizeof value);
            d.bus = std::atoi(value);
            if (!join(attr, sizeof attr, dir, "devnum")) return;
            read_line(attr, value, sizeof value);
            d.address = std::atoi(value);
            const char *base = std::strrchr(dir, '/');
            copy(d.port_path, sizeof d.port_path, base != nullptr ? base + 1 : dir);
            return;
        }
        char *slash = std::strrchr(dir, '/');
        if (slash == nullptr || slash == dir) return;
        *slash = '\0';
    }
}

void add(uhf_device_info *out, int cap, int &found, const uhf_device_info &d) {
    if (found < cap) out[found] = d;
    ++found;
}

void list_serial(uhf_device_info *out, int cap, int &found) {
    for (const char *family : kFamilies) {
        for (int i = 0; i <= kHighestIndex; ++i) {
            char sys_entry[PATH_MAX];
            char name[16];
            std::snprintf(name, sizeof name, "%s%d", family, i);
            if (!join(sys_entry, sizeof sys_entry, roots().sys_tty, name) || !exists(sys_entry)) continue;
            if (std::strcmp(family, "ttyS") == 0 && !real_builtin_port(sys_entry)) continue;
            uhf_device_info d{};
            d.kind = UHF_DEVICE_SERIAL;
            if (!join(d.node, sizeof d.node, roots().dev, name) || !exists(d.node)) continue;
            copy(d.device, sizeof d.device, d.node);
            find_by_id(d.node, d.by_id, sizeof d.by_id);
            describe_serial(sys_entry, d);
            add(out, cap, found, d);
        }
    }
}

// Readers by bus and port path, whatever order libusb lists them in (newest first).
bool usb_before(const uhf_device_info &a, const uhf_device_info &b) {
    if (a.bus != b.bus) return a.bus < b.bus;
    return std::strcmp(a.port_path, b.port_path) < 0;
}

void sort_usb(uhf_device_info *first, uhf_device_info *last) {
    for (uhf_device_info *i = first; i < last; ++i)
        for (uhf_device_info *j = i; j > first && usb_before(*j, *(j - 1)); --j) {
            const uhf_device_info t = *j;
            *j = *(j - 1);
            *(j - 1) = t;
        }
}

void list_usb(uhf_device_info *out, int cap, int &found) {
    const int first = found;
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) < 0) return;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) < 0) continue;
        if (desc.idVendor != usb::kVendor || desc.idProduct != usb::kProduct) continue;
        uhf_device_info d{};
        d.kind = UHF_DEVICE_USB;
        d.vendor = desc.idVendor;
        d.product = desc.idProduct;
        d.bus = libusb_get_bus_number(list[i]);
        d.address = libusb_get_device_address(list[i]);
        usb_port_name(list[i], d.port_path, sizeof d.port_path);
        std::snprintf(d.node, sizeof d.node, "/dev/bus/usb/%03d/%03d", d.bus, d.address);
        if (d.port_path[0] != '\0') {
            if (std::snprintf(d.device, sizeof d.device, "usb:%s", d.port_path) < 0) d.device[0] = '\0';
            usb_sysfs_attribute(d.port_path, "serial", d.serial, sizeof d.serial);
            usb_sysfs_attribute(d.port_path, "manufacturer", d.manufacturer, sizeof d.manufacturer);
            usb_sysfs_attribute(d.port_path, "product", d.product_name, sizeof d.product_name);
        } else {
            std::snprintf(d.device, sizeof d.device, "usb:%d.%d", d.bus, d.address);
        }
        add(out, cap, found, d);
    }
    if (n >= 0) libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    if (first < cap) sort_usb(out + first, out + (found < cap ? found : cap));
}

}  // namespace
}  // namespace uhf::devices

extern "C" UHF_API int uhf_list_devices(uhf_device_info *out, int cap) {
    if (cap < 0 || (out == nullptr && cap > 0)) return UHF_ERR_INVALID;
    int found = 0;
    uhf::devices::list_serial(out, cap, found);
    if (uhf::devices::roots().usb_readers) uhf::devices::list_usb(out, cap, found);
    return found;
}
