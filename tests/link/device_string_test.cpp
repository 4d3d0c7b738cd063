// Device strings: every accepted form, and the malformed ones refused rather than guessed at.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/device_string.hpp"
#include "uhfreader.h"

namespace {

using uhf::DeviceTarget;
using Kind = DeviceTarget::Kind;
using By = uhf::UsbSelector::By;

struct Accepted {
    const char *text;
    Kind kind;
    const char *path_or_host;  // serial path, or TCP host
    int baud_or_port;          // serial rate, or TCP port
    By by;
    int bus, address;
    const char *ports;  // the port path, "2.3"
    const char *serial;
};

std::string ports_of(const uhf::UsbSelector &u) {
    std::string s;
    for (int i = 0; i < u.port_count; ++i) {
        if (i) s += '.';
        s += std::to_string(u.ports[i]);
    }
    return s;
}

class AcceptedForm : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedForm, ParsesToTheDeviceItNames) {
    const Accepted &a = GetParam();
    DeviceTarget d;
    ASSERT_EQ(uhf::parse_device(a.text, d), 0) << a.text;
    EXPECT_EQ(d.kind, a.kind);
    switch (a.kind) {
    case Kind::serial:
        EXPECT_STREQ(d.path, a.path_or_host);
        EXPECT_EQ(d.baud, a.baud_or_port);
        break;
    case Kind::tcp:
        EXPECT_STREQ(d.host, a.path_or_host);
        EXPECT_EQ(std::stoi(d.port), a.baud_or_port);
        break;
    case Kind::usb:
        EXPECT_EQ(d.usb.by, a.by);
        EXPECT_EQ(d.usb.bus, a.bus);
        EXPECT_EQ(d.usb.address, a.address);
        EXPECT_EQ(ports_of(d.usb), a.ports);
        EXPECT_STREQ(d.usb.serial, a.serial);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, AcceptedForm,
    testing::Values(
        Accepted{"/dev/ttyUSB0", Kind::serial, "/dev/ttyUSB0", 115200, By::first, 0, 0, "", ""},
        Accepted{"/dev/ttyUSB0@9600", Kind::serial, "/dev/ttyUSB0", 9600, By::first, 0, 0, "", ""},
        Accepted{"serial:/dev/ttyS1@57600", Kind::serial, "/dev/ttyS1", 57600, By::first, 0, 0, "", ""},
        Accepted{"serial:relative/node", Kind::serial, "relative/node", 115200, By::first, 0, 0, "", ""},
        Accepted{"./reader@19200", Kind::serial, "./reader", 19200, By::first, 0, 0, "", ""},
        Accepted{"/dev/serial/by-id/usb-Acme_Reader_A1-if00-port0", Kind::serial,
                 "/dev/serial/by-id/usb-Acme_Reader_A1-if00-port0", 115200, By::first, 0, 0, "", ""},
        Accepted{"usb", Kind::usb, "", 0, By::first, 0, 0, "", ""},
        Accepted{"usb:1.4", Kind::usb, "", 0, By::bus_address, 1, 4, "", ""},
        Accepted{"usb:2-1", Kind::usb, "", 0, By::port_path, 2, 0, "1", ""},
        Accepted{"usb:1-2.3.4", Kind::usb, "", 0, By::port_path, 1, 0, "2.3.4", ""},
        Accepted{"usb:serial=A1B2-C3", Kind::usb, "", 0, By::serial, 0, 0, "", "A1B2-C3"},
        Accepted{"tcp:10.0.0.7:4001", Kind::tcp, "10.0.0.7", 4001, By::first, 0, 0, "", ""},
        Accepted{"tcp:reader-3.example:7000", Kind::tcp, "reader-3.example", 7000, By::first, 0, 0, "", ""},
        Accepted{"tcp:[::1]:4001", Kind::tcp, "::1", 4001, By::first, 0, 0, "", ""}));

class MalformedForm : public testing::TestWithParam<const char *> {};

TEST_P(MalformedForm, IsRefusedAsBadDevice) {
    DeviceTarget d;
    EXPECT_EQ(uhf::parse_device(GetParam(), d), UHF_ERR_BAD_DEVICE) << GetParam();
    uhf_link *l = reinterpret_cast<uhf_link *>(1);
    EXPECT_EQ(uhf_open(&l, GetParam(), 1), UHF_ERR_BAD_DEVICE) << GetParam();
    EXPECT_EQ(l, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Devices, MalformedForm,
                         testing::Values("", "ttyUSB0", "COM1", "/dev/ttyUSB0@", "/dev/ttyUSB0@4800",
                                         "/dev/ttyUSB0@115200x", "/dev/ttyUSB0@fast", "serial:", "serial:@9600",
                                         "usb:", "usbx", "usb:1", "usb:1.", "usb:.4", "usb:0.4", "usb:1.200",
                                         "usb:1-", "usb:1-2.", "usb:1-0", "usb:1-2.3.4.5.6.7.8.9", "usb:serial=",
                                         "usb:x-2", "tcp:", "tcp:host", "tcp:host:", "tcp::4001", "tcp:host:0",
                                         "tcp:host:65536", "tcp:host:40a1", "tcp:::1:4001", "tcp:[::1:4001",
                                         "tcp:host:4001@9600", "tcp:a b:4001"));

TEST(DeviceString, NullIsBadDevice) {
    DeviceTarget d;
    EXPECT_EQ(uhf::parse_device(nullptr, d), UHF_ERR_BAD_DEVICE);
    uhf_link *l = nullptr;
    EXPECT_EQ(uhf_open(&l, nullptr, 1), UHF_ERR_BAD_DEVICE);
}

}  // namespace
