// uhfctl against the emulated USB reader. The test process runs under umockdev-wrapper and
// hosts the emulated bus; uhfctl, started from it, inherits the preload and its environment, so
// its libusb sees the bus and its transfers are answered here.
#include <gtest/gtest.h>

#include "readers.hpp"
#include "sim/usb/usb_reader.hpp"
#include "sim/wire.hpp"

namespace {

using namespace tooltest;

TEST(UsbReader, TraceShowsTheTransfersAsSent) {
    uhfsim::UsbBus bus;
    uhfsim::UsbReader& reader = bus.add_reader(uhfsim::UsbDeviceOptions{.serial = "R2D2", .port_path = "1-3"});
    RecordingModel model;
    reader.set_handler([&](const uhfsim::Request& r) { return model(r); });
    const auto r = run(ctl({"--device", "usb:1-3", "--trace", "EPC_Read_TAG", "10101010"}));
    ASSERT_LE(r.exit, 1) << r.err;
    const Traced t = traced(r.err);
    EXPECT_EQ(t.sent, reader.pieces()) << r.err;
    EXPECT_EQ(t.received, model.wire()) << r.err;
    EXPECT_NE(r.err.find(" usb:1-3 > "), std::string::npos) << r.err;
}

TEST(UsbReader, OpensBySerialNumber) {
    uhfsim::UsbBus bus;
    bus.add_reader(uhfsim::UsbDeviceOptions{.serial = "OTHER1", .port_path = "1-2"});
    uhfsim::UsbReader& wanted = bus.add_reader(uhfsim::UsbDeviceOptions{.serial = "R2D2", .port_path = "1-4"});
    const auto r = run(ctl({"--device", "usb:serial=R2D2", "link"}));
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(wanted.requests().size(), 1u);
}

TEST(UsbReader, NoneAttachedSaysSo) {
    uhfsim::UsbBus bus;
    const auto r = run(ctl({"--usb", "link"}));
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("no USB reader (03EB:6125) matches"), std::string::npos) << r.err;
}

TEST(UsbReader, ScanListsItByPortPath) {
    uhfsim::UsbBus bus;
    bus.add_reader(uhfsim::UsbDeviceOptions{.serial = "R2D2", .port_path = "1-3.2"});
    char tmpl[] = "/tmp/uhfctl-usbscan-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    const auto r = run(ctl({"scan"}), std::chrono::seconds(30), {"UHFCTL_TEST_ROOT=" + root, "UHFCTL_TEST_USB=1"});
    std::system(("rm -rf '" + root + "'").c_str());
    EXPECT_EQ(r.exit, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(" on usb:1-3.2 (03eb:6125 serial R2D2)"), std::string::npos) << r.out;
}

}  // namespace
