// The emulated reader as a host's plain libusb calls see it: serial numbers and strings, port
// paths, unplugging under an open handle, replugging, and an interface claimed twice.
#include <gtest/gtest.h>

#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/usb/usb_reader.hpp"
#include "sim/wire.hpp"

namespace {

using namespace std::chrono_literals;
using uhfsim::UsbDeviceOptions;
using uhfsim::UsbReader;
using Clock = std::chrono::steady_clock;

constexpr unsigned kTimeoutMs = 2000;

struct Context {
    Context() {
        if (libusb_init(&ctx) != 0) throw std::runtime_error("libusb_init");
    }
    ~Context() { libusb_exit(ctx); }
    libusb_context* ctx = nullptr;
};

// One device as libusb lists it, held (referenced) while this lives.
struct Listed {
    libusb_device* dev = nullptr;
    ~Listed() {
        if (dev != nullptr) libusb_unref_device(dev);
    }
    explicit operator bool() const { return dev != nullptr; }
};

struct Handle {
    libusb_device_handle* h = nullptr;
    ~Handle() {
        if (h != nullptr) libusb_close(h);
    }
};

std::string path_of(libusb_device* dev) {
    std::uint8_t ports[8];
    const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::string s = std::to_string(libusb_get_bus_number(dev)) + "-";
    for (int i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(ports[i]);
    return s;
}

// The reader (03EB:6125) libusb lists at this port path, if any.
void find_at(libusb_context* ctx, const std::string& port_path, Listed& out) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != 0x03EB || d.idProduct != 0x6125)
            continue;
        if (path_of(list[i]) == port_path) out.dev = libusb_ref_device(list[i]);
    }
    if (n >= 0) libusb_free_device_list(list, 1);
}

bool listed(libusb_context* ctx, const std::string& port_path) {
    Listed l;
    find_at(ctx, port_path, l);
    return static_cast<bool>(l);
}

// A listener learns of plugging through uevents, a moment later.
bool eventually_listed(libusb_context* ctx, const std::string& port_path, bool want) {
    const auto deadline = Clock::now() + 3s;
    while (listed(ctx, port_path) != want) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Opens the reader at the port path and claims interface 0.
int open_claimed(libusb_context* ctx, const std::string& port_path, Handle& out) {
    Listed l;
    find_at(ctx, port_path, l);
    if (!l) return LIBUSB_ERROR_NOT_FOUND;
    if (const int rc = libusb_open(l.dev, &out.h); rc != 0) return rc;
    return libusb_claim_interface(out.h, 0);
}

// Sends a handshake to address 1 and reads the reply; 0 when the default answer came.
int handshake(libusb_device_handle* h) {
    const auto req = uhfsim::encode_request(1, 0);
    std::vector<std::uint8_t> out(req.begin(), req.end());
    int moved = 0;
    if (const int rc = libusb_bulk_transfer(h, 0x01, out.data(), static_cast<int>(out.size()), &moved, kTimeoutMs))
        return rc;
    std::uint8_t in[64];
    if (const int rc = libusb_bulk_transfer(h, 0x82, in, sizeof in, &moved, kTimeoutMs)) return rc;
    const auto expected = uhfsim::encode_reply({1, 0, 0, {}});
    return std::vector<std::uint8_t>(in, in + moved) == expected ? 0 : -100;
}

std::optional<std::string> read_text(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class UsbDevice : public testing::Test {
protected:
    void SetUp() override { bus_ = std::make_unique<uhfsim::UsbBus>(); }
    void TearDown() override { bus_.reset(); }

    UsbReader& add(UsbDeviceOptions o = {}) { return bus_->add_reader(o); }

    std::unique_ptr<uhfsim::UsbBus> bus_;
};

// ---- (a) serial number and strings ----

TEST_F(UsbDevice, SerialNumberInDescriptorStringAndSysfs) {
    UsbReader& r = add({.serial = "RDR-0042", .manufacturer = "uhfsim", .product_name = "UHF reader",
                        .port_path = "1-2"});
    Context c;
    Listed l;
    find_at(c.ctx, "1-2", l);
    ASSERT_TRUE(l);
    libusb_device_descriptor d{};
    ASSERT_EQ(libusb_get_device_descriptor(l.dev, &d), 0);
    EXPECT_EQ(d.iManufacturer, 1);
    EXPECT_EQ(d.iProduct, 2);
    EXPECT_EQ(d.iSerialNumber, 3);

    Handle h;
    ASSERT_EQ(libusb_open(l.dev, &h.h), 0);
    unsigned char text[128] = {};
    ASSERT_GT(libusb_get_string_descriptor_ascii(h.h, d.iSerialNumber, text, sizeof text), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "RDR-0042");
    ASSERT_GT(libusb_get_string_descriptor_ascii(h.h, d.iManufacturer, text, sizeof text), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "uhfsim");
    ASSERT_GT(libusb_get_string_descriptor_ascii(h.h, d.iProduct, text, sizeof text), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(text), "UHF reader");
    EXPECT_EQ(libusb_get_string_descriptor_ascii(h.h, 9, text, sizeof text), LIBUSB_ERROR_PIPE);

    EXPECT_EQ(read_text("/sys/bus/usb/devices/1-2/serial"), "RDR-0042\n");
    EXPECT_EQ(read_text(r.sysfs_path() + "/serial"), "RDR-0042\n");
    EXPECT_EQ(read_text(r.sysfs_path() + "/manufacturer"), "uhfsim\n");
    EXPECT_EQ(r.serial(), "RDR-0042");
    EXPECT_GE(r.counters().control_transfers, 4);
}

TEST_F(UsbDevice, WithoutSerialNoStringIndexAndNoAttribute) {
    UsbReader& r = add();
    Context c;
    Listed l;
    find_at(c.ctx, r.port_path(), l);
    ASSERT_TRUE(l);
    libusb_device_descriptor d{};
    ASSERT_EQ(libusb_get_device_descriptor(l.dev, &d), 0);
    EXPECT_EQ(d.iSerialNumber, 0);
    EXPECT_EQ(d.iManufacturer, 0);
    EXPECT_FALSE(read_text(r.sysfs_path() + "/serial"));
}

// ---- (b) port paths ----

struct Placement {
    const char* name;
    const char* path;
    int bus;
    std::vector<std::uint8_t> ports;
};

const Placement kPlacements[] = {
    {"RootHubPort", "1-2", 1, {2}},
    {"BehindAHub", "1-3.1", 1, {3, 1}},
    {"TwoHubsDeepOnBusTwo", "2-1.4.2", 2, {1, 4, 2}},
};

class Placed : public UsbDevice, public testing::WithParamInterface<Placement> {};

TEST_P(Placed, LibusbAndSysfsReportThePortPath) {
    const Placement& p = GetParam();
    UsbReader& r = add({.port_path = p.path});
    EXPECT_EQ(r.port_path(), p.path);
    EXPECT_EQ(r.bus_number(), p.bus);
    EXPECT_EQ(r.port_numbers(), p.ports);

    Context c;
    Listed l;
    find_at(c.ctx, p.path, l);
    ASSERT_TRUE(l) << "not listed at " << p.path;
    EXPECT_EQ(libusb_get_bus_number(l.dev), p.bus);
    EXPECT_EQ(libusb_get_device_address(l.dev), r.address());
    std::uint8_t ports[8];
    const int n = libusb_get_port_numbers(l.dev, ports, sizeof ports);
    EXPECT_EQ(std::vector<std::uint8_t>(ports, ports + std::max(n, 0)), p.ports);
    EXPECT_TRUE(read_text(std::string("/sys/bus/usb/devices/") + p.path + "/devnum")) << "sysfs name";
    EXPECT_EQ(r.sysfs_path().substr(r.sysfs_path().rfind('/') + 1), p.path);

    Handle h;
    ASSERT_EQ(libusb_open(l.dev, &h.h), 0);
    ASSERT_EQ(libusb_claim_interface(h.h, 0), 0);
    EXPECT_EQ(handshake(h.h), 0);
}

INSTANTIATE_TEST_SUITE_P(Usb, Placed, testing::ValuesIn(kPlacements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbDevice, DefaultPortsAreTheLowestFreeOnBusOne) {
    add({.port_path = "1-1"});
    EXPECT_EQ(add().port_path(), "1-2");
    add({.port_path = "1-4"});
    EXPECT_EQ(add().port_path(), "1-3");
    EXPECT_EQ(add().port_path(), "1-5");
}

TEST_F(UsbDevice, MalformedOrTakenPortPathsAreRefused) {
    add({.port_path = "1-2"});
    for (const char* bad : {"1", "0-1", "1-0", "1-2.", "1-256", "1-1.1.1.1.1.1.1.1", "1-x", "128-1",
                            "1-2" /* taken */, "1-2.1" /* behind a reader */})
        EXPECT_THROW(add({.port_path = bad}), std::invalid_argument) << bad;
}

// ---- (c) unplug, (d) replug ----

TEST_F(UsbDevice, UnplugFailsAPendingTransferWithNoDevice) {
    UsbReader& r = add({.port_path = "1-2"});
    Context c;
    Handle h;
    ASSERT_EQ(open_claimed(c.ctx, "1-2", h), 0);

    // An IN transfer waiting for a reply that never comes, as a host waits for a reader.
    auto pending = std::async(std::launch::async, [&] {
        std::uint8_t in[64];
        int moved = 0;
        return libusb_bulk_transfer(h.h, 0x82, in, sizeof in, &moved, 10'000);
    });
    ASSERT_TRUE(r.wait_until([](const uhfsim::UsbCounters& k) { return k.in_transfers == 1; }, 2s));
    const auto t0 = Clock::now();
    r.unplug();
    ASSERT_EQ(pending.wait_for(3s), std::future_status::ready) << "the transfer outlived the device";
    EXPECT_EQ(pending.get(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_LT(Clock::now() - t0, 3s);
    EXPECT_FALSE(r.plugged());
    EXPECT_EQ(r.counters().unplugs, 1);
}

TEST_F(UsbDevice, AfterUnplugEveryCallFailsAndEnumerationLosesIt) {
    UsbReader& r = add({.port_path = "1-3"});
    Context c;
    Handle h;
    ASSERT_EQ(open_claimed(c.ctx, "1-3", h), 0);
    ASSERT_EQ(handshake(h.h), 0);
    Listed stale;
    find_at(c.ctx, "1-3", stale);
    const std::string node = r.node();

    r.unplug();

    std::uint8_t buf[64] = {};
    int moved = 0;
    EXPECT_EQ(libusb_bulk_transfer(h.h, 0x01, buf, 8, &moved, kTimeoutMs), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_bulk_transfer(h.h, 0x82, buf, sizeof buf, &moved, kTimeoutMs), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_release_interface(h.h, 0), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_claim_interface(h.h, 0), LIBUSB_ERROR_NO_DEVICE);
    Handle again;
    EXPECT_EQ(libusb_open(stale.dev, &again.h), LIBUSB_ERROR_NO_DEVICE);

    // Gone for a listener (through the "remove" uevent) and for a fresh look alike.
    EXPECT_TRUE(eventually_listed(c.ctx, "1-3", false));
    Context fresh;
    EXPECT_FALSE(listed(fresh.ctx, "1-3"));
    EXPECT_FALSE(read_text("/sys/bus/usb/devices/1-3/devnum"));
    EXPECT_FALSE(read_text(node)) << "the node is gone";
}

TEST_F(UsbDevice, ReplugComesBackAtThePortPathWithANewAddress) {
    UsbReader& r = add({.serial = "S1", .port_path = "1-3.2"});
    Context c;
    Handle old;
    ASSERT_EQ(open_claimed(c.ctx, "1-3.2", old), 0);
    const int first_address = r.address();
    const std::string first_node = r.node();

    r.unplug();
    ASSERT_TRUE(eventually_listed(c.ctx, "1-3.2", false));
    r.replug();
    EXPECT_TRUE(r.plugged());
    EXPECT_NE(r.address(), first_address);
    EXPECT_NE(r.node(), first_node);
    EXPECT_EQ(r.counters().replugs, 1);

    // A listener sees it arrive again ("add" uevent); the address is the new one.
    ASSERT_TRUE(eventually_listed(c.ctx, "1-3.2", true));
    Listed l;
    find_at(c.ctx, "1-3.2", l);
    EXPECT_EQ(libusb_get_device_address(l.dev), r.address());
    EXPECT_EQ(read_text(r.sysfs_path() + "/serial"), "S1\n");

    Handle fresh;
    ASSERT_EQ(open_claimed(c.ctx, "1-3.2", fresh), 0) << "nothing left claimed from before";
    EXPECT_EQ(handshake(fresh.h), 0);
    std::uint8_t buf[8] = {};
    int moved = 0;
    EXPECT_EQ(libusb_bulk_transfer(old.h, 0x01, buf, sizeof buf, &moved, kTimeoutMs), LIBUSB_ERROR_NO_DEVICE)
        << "a handle from before the unplug stays dead";
}

TEST_F(UsbDevice, UnplugAndReplugAreIdempotent) {
    UsbReader& r = add();
    r.replug();
    EXPECT_EQ(r.counters().replugs, 0);
    r.unplug();
    r.unplug();
    EXPECT_EQ(r.counters().unplugs, 1);
    r.replug();
    Context c;
    Handle h;
    ASSERT_EQ(open_claimed(c.ctx, r.port_path(), h), 0);
    EXPECT_EQ(handshake(h.h), 0);
}

// ---- (e) one claim at a time ----

TEST_F(UsbDevice, SecondHandleClaimingTheInterfaceIsBusy) {
    UsbReader& r = add({.port_path = "1-2"});
    Context one, two;  // two host links, each with its own context
    Handle first, second;
    ASSERT_EQ(open_claimed(one.ctx, "1-2", first), 0);
    EXPECT_EQ(open_claimed(two.ctx, "1-2", second), LIBUSB_ERROR_BUSY);
    ASSERT_NE(second.h, nullptr) << "opening is allowed, claiming is not";

    Handle third;  // and a second handle in the same context
    EXPECT_EQ(open_claimed(one.ctx, "1-2", third), LIBUSB_ERROR_BUSY);

    ASSERT_EQ(libusb_release_interface(first.h, 0), 0);
    EXPECT_EQ(libusb_claim_interface(second.h, 0), 0);
    EXPECT_EQ(handshake(second.h), 0);
    EXPECT_EQ(r.counters().claims, 2);
}

}  // namespace
