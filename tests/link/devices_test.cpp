// Listing candidate devices from a scratch /dev and sysfs tree: which nodes count, what is
// learnt about them, and that nothing is opened.

#include <string>
#include <vector>

#include "link/devices.hpp"
#include "link_support.hpp"
#include "support/device_tree.hpp"

namespace {

using namespace uhftest;

class DeviceList : public testing::Test {
protected:
    void SetUp() override { uhf::devices::roots() = {tree_.dev.c_str(), sys_.c_str(), by_id_.c_str(), false}; }
    void TearDown() override { uhf::devices::roots() = {}; }
    static void write(const std::string &path, const std::string &text) { DeviceTree::write(path, text); }
    void node(const std::string &name, const std::string &target, const std::string &driver,
              const std::string &usb_device = "") {
        ASSERT_TRUE(tree_.node(name, target, driver, usb_device));
    }
    std::vector<uhf_device_info> list() {
        std::vector<uhf_device_info> out(16);
        const int n = uhf_list_devices(out.data(), static_cast<int>(out.size()));
        out.resize(n < 16 ? n : 16);
        return out;
    }

    DeviceTree tree_;
    const std::string &dev_ = tree_.dev, &sys_ = tree_.tty, &by_id_ = tree_.by_id_dir;
};

TEST_F(DeviceList, ListsRealPortsAdaptersAndAcmNodesWithWhatSysfsKnows) {
    uhfsim::PtyReader a, b, c;
    node("ttyS0", a.path(), "serial8250");
    write(sys_ + "/ttyS0/type", "4");
    node("ttyS1", "/nonexistent", "serial8250");
    write(sys_ + "/ttyS1/type", "0");  // no hardware behind it
    node("ttyUSB0", b.path(), "ftdi_sio", "1-2");
    node("ttyACM0", c.path(), "cdc_acm");
    ASSERT_TRUE(tree_.by_id("usb-Acme_Reader_Cable_A50285BI-if00-port0", "ttyUSB0"));

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

TEST_F(DeviceList, CountsBeyondTheRoomGiven) {
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

TEST_F(DeviceList, NothingThereIsZero) { EXPECT_EQ(uhf_list_devices(nullptr, 0), 0); }

}  // namespace
