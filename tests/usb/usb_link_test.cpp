// Linking over USB through the real libusb: retries, USB_Flag, which device is taken, and
// that whatever a link acquires is given back.
#include <gtest/gtest.h>

#include <libusb.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include "usb_support.hpp"

namespace {

using uhfsim::Action;
using uhfsim::Request;
using uhfsim::UsbCounters;
using uhfsim::UsbReader;
using namespace uhftest;

constexpr int kUntouchedBaud = 4321;

// ---- LinkCom(addr, 32, baud) against one device ----

struct Linking {
    const char *name;
    std::function<void(UsbReader &)> prepare;
    std::uint8_t addr;
    int rc;
    std::size_t handshakes;
    int opens;
    bool fds_comparable = true;  // umockdev's preload keeps two sockets per failed open
};

Action silent(const Request &) { return Action::silent(); }

const Linking kLinkings[] = {
    {"AnswersFirstHandshake", [](UsbReader &) {}, kAddr, 0, 1, 1},
    {"AnswersSecondHandshakeOnTheSameHandle", [](UsbReader &r) { r.script(Action::silent()); }, kAddr, 0, 2, 1},
    {"BroadcastLinksAnyReader",
     [](UsbReader &r) { r.set_handler([](const Request &q) { return Action::reply(0x09, q.cmd, 0); }); }, 0xFF, 0,
     1, 1},
    {"SilentReaderThreeAttempts", [](UsbReader &r) { r.set_handler(silent); }, kAddr, 235, 6, 3},
    {"OtherReaderAddress",
     [](UsbReader &r) { r.set_handler([](const Request &q) { return Action::reply(0x09, q.cmd, 0); }); }, kAddr,
     253, 6, 3},
    {"NoMatchingProduct", nullptr, kAddr, 1, 0, 0},
    {"NodeWillNotOpen", [](UsbReader &r) { r.fail_open(true); }, kAddr, 1, 0, 0, false},
    {"InterfaceBusy", [](UsbReader &r) { r.fail_claim(EBUSY); }, kAddr, 1, 0, 3},
    {"ConfigurationRefused", [](UsbReader &r) { r.fail_set_configuration(true); }, kAddr, 1, 0, 3},
    {"KernelDriverDetached", [](UsbReader &r) { r.bind_kernel_driver(true); }, kAddr, 0, 1, 1},
};

class Link : public UsbTest, public testing::WithParamInterface<Linking> {};

TEST_P(Link, ResultFlagAndReleases) {
    const Linking &row = GetParam();
    UsbReader &reader = row.prepare ? add_reader() : add_reader(0x6126);
    if (row.prepare) row.prepare(reader);
    const int fds = descriptors_but_eventfds();
    IcBaudRate = kUntouchedBaud;

    EXPECT_EQ(LinkCom(row.addr, kUsbPort, 9600), row.rc);
    EXPECT_EQ(USB_Flag, row.rc == 0 ? 1 : 0);
    EXPECT_EQ(IcBaudRate, row.rc == 0 ? kUntouchedBaud : 0);
    EXPECT_EQ(IcRetCode, row.rc == 1 ? 0 : row.rc);
    EXPECT_EQ(reader.requests().size(), row.handshakes);
    EXPECT_EQ(reader.counters().claimed, row.rc == 0);

    UnLinkCom();
    ASSERT_TRUE(all_closed(reader));
    const UsbCounters c = reader.counters();
    EXPECT_EQ(c.opens, row.opens);
    EXPECT_EQ(c.releases, c.claims);
    EXPECT_FALSE(c.claimed);
    EXPECT_EQ(c.driver_attaches, c.driver_detaches);
    if (row.fds_comparable) {
        EXPECT_EQ(settled(descriptors_but_eventfds, fds), fds) << describe_descriptors();
    }
}

INSTANTIATE_TEST_SUITE_P(Usb, Link, testing::ValuesIn(kLinkings),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Several devices: the first match in libusb's own order ----

struct Crowd {
    const char *name;
    std::vector<std::uint16_t> products;  // in the order they are plugged in
};

const Crowd kCrowds[] = {
    {"TwoReaders", {0x6125, 0x6125}},
    {"OtherDevicePluggedFirst", {0x6126, 0x6125}},
    {"OtherDevicePluggedLast", {0x6125, 0x6126}},
};

// The address of the first reader libusb lists, asked of libusb directly.
int first_listed_reader() {
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0) return -1;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    int address = -1;
    for (ssize_t i = 0; i < n && address < 0; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == 0x03EB && d.idProduct == 0x6125)
            address = libusb_get_device_address(list[i]);
    }
    if (n >= 0) libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return address;
}

class FirstOfSeveral : public UsbTest, public testing::WithParamInterface<Crowd> {};

TEST_P(FirstOfSeveral, IsTheOneLinked) {
    std::vector<UsbReader *> readers;
    for (std::uint16_t p : GetParam().products) readers.push_back(&add_reader(p));
    const int first = first_listed_reader();
    ASSERT_GT(first, 0);

    ASSERT_EQ(LinkCom(kAddr, kUsbPort, 9600), 0);
    for (UsbReader *r : readers) {
        const bool chosen = r->address() == first;
        EXPECT_EQ(r->counters().opens, chosen ? 1 : 0) << r->node();
        EXPECT_EQ(r->requests().size(), chosen ? 1u : 0u) << r->node();
    }
}

INSTANTIATE_TEST_SUITE_P(Usb, FirstOfSeveral, testing::ValuesIn(kCrowds),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Opening again while a device is held gives the held one back first ----

struct Reopening {
    const char *name;
    std::function<int()> open;
};

const Reopening kReopenings[] = {
    {"LinkCom", [] { return LinkCom(kAddr, kUsbPort, 9600); }},
    {"USB_Open", [] { return USB_Open(); }},
};

class Reopen : public UsbTest, public testing::WithParamInterface<Reopening> {};

TEST_P(Reopen, ReleasesTheHeldDevice) {
    UsbReader &reader = add_reader();
    const int fds = descriptors_but_eventfds();
    const int tasks = threads();

    ASSERT_EQ(GetParam().open(), 0);
    ASSERT_EQ(GetParam().open(), 0);
    ASSERT_TRUE(reader.wait_until([](const UsbCounters &c) { return c.closes == 1; }, 2s));
    UsbCounters c = reader.counters();
    EXPECT_EQ(c.opens, 2);
    EXPECT_EQ(c.claims, 2);
    EXPECT_EQ(c.releases, 1);

    USB_UnLinkCom();
    ASSERT_TRUE(all_closed(reader));
    c = reader.counters();
    EXPECT_EQ(c.releases, 2);
    EXPECT_EQ(settled(descriptors_but_eventfds, fds), fds) << describe_descriptors();
    EXPECT_LE(settled(threads, tasks), tasks + 1);  // GLib's idle worker, see above
}

INSTANTIATE_TEST_SUITE_P(Usb, Reopen, testing::ValuesIn(kReopenings),
                         [](const auto &info) { return std::string(info.param.name); });

// Every cycle initialises libusb, opens, claims, shakes hands and gives it all back. A cycle
// costs 6 to 15 ms of libusb and umockdev work, so the default count keeps the run to a
// few seconds; UHF_USB_LINK_CYCLES asks for more (10000 is the full soak).
TEST_F(UsbTest, LinkUnlinkCyclesLeaveNothingBehind) {
    const char *env = std::getenv("UHF_USB_LINK_CYCLES");
    const int cycles = env != nullptr ? std::atoi(env) : 200;
    UsbReader &reader = add_reader();
    const int fds = descriptors_but_eventfds();
    const int tasks = threads();

    for (int i = 0; i < cycles; ++i) {
        ASSERT_EQ(LinkCom(kAddr, kUsbPort, 9600), 0) << "cycle " << i;
        UnLinkCom();
    }
    ASSERT_TRUE(all_closed(reader));
    const UsbCounters c = reader.counters();
    EXPECT_EQ(c.opens, cycles);
    EXPECT_EQ(c.claims, cycles);
    EXPECT_EQ(c.releases, cycles);
    EXPECT_EQ(settled(descriptors_but_eventfds, fds), fds) << describe_descriptors();
    EXPECT_LE(settled(threads, tasks), tasks + 1);  // GLib's idle worker, see above
    EXPECT_EQ(q_usb_handle, nullptr);
    EXPECT_EQ(usb_devs, nullptr);
    EXPECT_EQ(usb_dev, nullptr);
}

}  // namespace
