#include "link/device_string.hpp"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhf {
namespace {

// A decimal number in [lo, hi] spanning the whole of `s`.
bool number(std::string_view s, long lo, long hi, long &out) {
    if (s.empty() || s.size() > 9) return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

// The part of `s` from `n` on ("" past its end), without the bounds check that throws.
std::string_view from(std::string_view s, std::size_t n) {
    return n < s.size() ? std::string_view(s.data() + n, s.size() - n) : std::string_view();
}
// The first `n` characters of `s` (all of it when shorter).
std::string_view upto(std::string_view s, std::size_t n) {
    return std::string_view(s.data(), n < s.size() ? n : s.size());
}

bool copy_into(std::string_view s, char *out, std::size_t size) {
    if (s.empty() || s.size() >= size) return false;
    std::memcpy(out, s.data(), s.size());
    out[s.size()] = '\0';
    return true;
}

bool parse_serial(std::string_view s, DeviceTarget &d) {
    d.kind = DeviceTarget::Kind::serial;
    const std::size_t at = s.rfind('@');
    if (at != std::string_view::npos) {
        long baud = 0;
        if (!number(from(s, at + 1), 1, 4000000, baud) || !serial_rate_supported(static_cast<int>(baud)))
            return false;
        d.baud = static_cast<int>(baud);
        s = upto(s, at);
    }
    return copy_into(s, d.path, sizeof d.path);
}

bool parse_usb(std::string_view s, DeviceTarget &d) {
    d.kind = DeviceTarget::Kind::usb;
    UsbSelector &u = d.usb;
    if (s.empty()) return true;  // "usb": the first reader
    if (s.starts_with("serial=")) {
        u.by = UsbSelector::By::serial;
        return copy_into(from(s, 7), u.serial, sizeof u.serial);
    }
    long v = 0;
    const std::size_t dash = s.find('-');
    if (dash == std::string_view::npos) {
        const std::size_t dot = s.find('.');
        if (dot == std::string_view::npos || !number(upto(s, dot), 1, 255, v)) return false;
        u.bus = static_cast<int>(v);
        if (!number(from(s, dot + 1), 1, 127, v)) return false;
        u.address = static_cast<int>(v);
        u.by = UsbSelector::By::bus_address;
        return true;
    }
    if (!number(upto(s, dash), 1, 255, v)) return false;
    u.bus = static_cast<int>(v);
    u.by = UsbSelector::By::port_path;
    std::string_view ports = from(s, dash + 1);
    for (;;) {
        const std::size_t dot = ports.find('.');
        if (u.port_count == static_cast<int>(sizeof u.ports) || !number(upto(ports, dot), 1, 255, v)) return false;
        u.ports[u.port_count++] = static_cast<std::uint8_t>(v);
        if (dot == std::string_view::npos) return true;
        ports = from(ports, dot + 1);
    }
}

bool parse_tcp(std::string_view s, DeviceTarget &d) {
    d.kind = DeviceTarget::Kind::tcp;
    const std::size_t colon = s.rfind(':');
    if (colon == std::string_view::npos) return false;
    std::string_view host = upto(s, colon);
    long port = 0;
    if (!number(from(s, colon + 1), 1, 65535, port)) return false;
    if (!host.empty() && host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        host = std::string_view(host.data() + 1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return false;  // an IPv6 address needs its brackets, or the port would be a guess
    }
    for (char c : host)
        if (c == ' ' || c == '@' || c == '/' || c == '[' || c == ']') return false;
    return copy_into(host, d.host, sizeof d.host) &&
           copy_into(from(s, colon + 1), d.port, sizeof d.port);
}

}  // namespace

int parse_device(const char *text, DeviceTarget &out) {
    out = DeviceTarget{};
    if (text == nullptr) return UHF_ERR_BAD_DEVICE;
    const std::string_view s(text);
    bool ok = false;
    if (s.starts_with("serial:")) ok = parse_serial(from(s, 7), out);
    else if (s == "usb") ok = parse_usb({}, out);
    else if (s.starts_with("usb:")) ok = parse_usb(from(s, 4), out) && s.size() > 4;
    else if (s.starts_with("tcp:")) ok = parse_tcp(from(s, 4), out);
    else if (!s.empty() && (s.front() == '/' || s.starts_with("./") || s.starts_with("../")))
        ok = parse_serial(s, out);
    return ok ? 0 : UHF_ERR_BAD_DEVICE;
}

}  // namespace uhf
