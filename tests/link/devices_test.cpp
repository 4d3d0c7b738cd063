// Listing candidate devices from a scratch /dev and sysfs tree: which nodes count, what is
// learnt about them, and that nothing is opened.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "link/devices.hpp"
#include "link_support.hpp"

namespace {

using namespace uhftest;

class DeviceTree : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/uhf-devices-XXXXXX";
        root_ = mkdtemp(tmpl);
        for (const char *d : {"/dev", "/dev/serial", "/dev/serial/by-id", "/sys", "/sys/class", "/sys/class/tty",
                              "/sys/devices", "/sys/drivers"})
            mkdir((root_ + d).c_str(), 0755);
        dev_ = root_ + "/dev";
        sys_ = root_ + "/sys/class/tty";
        by_id_ = root_ + "/dev/serial/by-id";
        uhf::devices::roots() = {dev_.c_str(), sys_.c_str(), by_id_.c_str(), false};
    }
    void TearDown() override {
        uhf::devices::roots() = {};
        const std::string cmd = "rm -rf '" + root_ + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
    }
    void write(const std::string &path, const std::string &text) { std::ofstream(path) << text << "\n"; }
    // A serial node as the kernel shows it: the /dev entry (a simulated reader's node) and its
    // sysfs directory, with the driver and, for a USB adapter, the USB device above it.
    void node(const std::string &name, const std::string &target, const std::string &driver,
              const std::string &usb_device = "") {
        ASSERT_EQ(symlink(target.c_str(), (dev_ + "/" + name).c_str()), 0);
        const std::string entry = sys_ + "/" + name;
        mkdir(entry.c_str(), 0755);
        std::string device = root_ + "/sys/devices/" + name;
        if (!usb_device.empty()) {
            const std::string usb = root_ + "/sys/devices/" + usb_device;
            mkdir(usb.c_str(), 0755);
            write(usb + "/idVendor", "0403");
            write(usb + "/idProduct", "6001");
            write(usb + "/manufacturer", "Acme");
            write(usb + "/product", "Reader Cable");
            write(usb + "/serial", "A50285BI");
            write(usb + "/busnum", "1");
            write(usb + "/devnum", "7");
            device = usb + "/" + usb_device + ":1.0";
        }
        mkdir(device.c_str(), 0755);
        mkdir((root_ + "/sys/drivers/" + driver).c_str(), 0755);
        ASSERT_EQ(symlink((root_ + "/sys/drivers/" + driver).c_str(), (device + "/driver").c_str()), 0);
        ASSERT_EQ(symlink(device.c_str(), (entry + "/device").c_str()), 0);
    }
    std::vector<uhf_device_info> list() {
        std::vector<uhf_device_info> out(16);
        const int n = uhf_list_devices(out.data(), static_cast<int>(out.size()));
        out.resize(n < 16 ? n : 16);
        return out;
    }

    std::string root_, dev_, sys_, by_id_;
};

TEST_F(DeviceTree, ListsRealPortsAdaptersAndAcmNodesWithWhatSysfsKnows) {
    uhfsim::PtyReader a, b, c;
    node("ttyS0", a.path(), "serial8250");
    write(sys_ + "/ttyS0/type", "4");
    node("ttyS1", "/nonexistent", "serial8250");
    write(sys_ + "/ttyS1/type", "0");  // no hardware behind it
    node("ttyUSB0", b.path(), "ftdi_sio", "1-2");
    node("ttyACM0", c.path(), "cdc_acm");
    ASSERT_EQ(symlink("../../ttyUSB0", (by_id_ + "/usb-Acme_Reader_Cable_A50285BI-if00-port0").c_str()), 0);

    const auto found = list();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(std::string(found[0].node), dev_ + "/ttyS0");
    EXPECT_STREQ(found[0].driver, "serial8250");
    EXPECT_EQ(found[0].vendor, 0);
    EXPECT_EQ(std::string(found[1].device), dev_ + "/ttyUSB0");
    EXPECT_EQ(found[1].kind, UHF_DEVICE_SERIAL);
    EXPECT_EQ(std::string(found[1].by_id), by_id_ + "/usb-Acme_Reader_Cable_A50285BI-if00-port0");
    EXPECT_STREQ(found[1].driver, "ftdi_sio");
    EXPECT_EQ(found[1].vendor, 0x0403);
    EXPECT_EQ(found[1].product, 0x6001);
    EXPECT_STREQ(found[1].manufacturer, "Acme");
    EXPECT_STREQ(found[1].product_name, "Reader Cable");
    EXPECT_STREQ(found[1].serial, "A50285BI");
    EXPECT_STREQ(found[1].port_path, "1-2");
    EXPECT_EQ(found[1].bus, 1);
    EXPECT_EQ(found[1].address, 7);
    EXPECT_EQ(std::string(found[2].node), dev_ + "/ttyACM0");
    EXPECT_STREQ(found[2].driver, "cdc_acm");
    EXPECT_STREQ(found[2].by_id, "");

    // Listed, not opened: every one of them can still be linked exclusively.
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    for (const uhf_device_info &d : found) EXPECT_TRUE(open_link(d.device)) << d.device;
    uhf::serial::timing() = {};
}

TEST_F(DeviceTree, CountsBeyondTheRoomGiven) {
    uhfsim::PtyReader a, b;
    node("ttyUSB0", a.path(), "ftdi_sio");
    node("ttyUSB1", b.path(), "ftdi_sio");
    EXPECT_EQ(uhf_list_devices(nullptr, 0), 2);
    uhf_device_info one[1];
    EXPECT_EQ(uhf_list_devices(one, 1), 2);
    EXPECT_EQ(std::string(one[0].node), dev_ + "/ttyUSB0");
    EXPECT_EQ(uhf_list_devices(nullptr, 1), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_list_devices(one, -1), UHF_ERR_INVALID);
}

TEST_F(DeviceTree, NothingThereIsZero) { EXPECT_EQ(uhf_list_devices(nullptr, 0), 0); }

}  // namespace
