// The short soak and the resource checks over the emulated USB reader.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <functional>
#include <memory>
#include <ostream>

#include "support/host.hpp"
#include "usb_soak.hpp"

namespace {

using namespace std::chrono_literals;
using uhfsim::Action;
using uhfsim::Request;
using uhfsim::UsbCounters;
using uhfsim::UsbReader;

// Each USB exchange costs several round trips through the emulator, so the suite's run is
// shorter than the serial one; scripts/soak runs the long one.
TEST(UsbSoak, TwoThousandExchangesUnderFaults) {
    const uhfsoak::Figures fig = uhfsoak::usb_soak(20261208, 2'000);
    std::printf("%s", fig.report().c_str());
    EXPECT_EQ(fig.exchanges, 2'000u);
    EXPECT_EQ(fig.problems(), 0u) << fig.report();
}

bool closed_by_emulator(const UsbReader &r) {
    return r.wait_until([](const UsbCounters &c) { return c.closes == c.opens; }, 5s);
}

class UsbResources : public testing::Test {
protected:
    void SetUp() override {
        bus_ = std::make_unique<uhfsim::UsbBus>();
        USB_Flag = 0;
    }
    void TearDown() override {
        UnLinkCom();
        USB_Flag = 0;
        bus_.reset();
    }
    // Everything the host opened it closed, and every claim it made it gave back.
    static void expect_all_returned(const UsbReader &r) {
        EXPECT_TRUE(r.wait_until([](const UsbCounters &c) { return c.closes == c.opens; }, 5s));
        const UsbCounters c = r.counters();
        EXPECT_EQ(c.closes, c.opens);
        EXPECT_FALSE(c.claimed);
        EXPECT_EQ(c.driver_attaches, c.driver_detaches);
    }
    std::unique_ptr<uhfsim::UsbBus> bus_;
};

// 10 000 cycles take a minute or more through the emulator; the suite runs 1 000, and
// UHF_USB_LINK_CYCLES asks for more.
int link_cycles() {
    const char *n = std::getenv("UHF_USB_LINK_CYCLES");
    return n ? std::atoi(n) : 1'000;
}

TEST_F(UsbResources, LinkCyclesGiveEverythingBack) {
    const int cycles = link_cycles();
    UsbReader &r = bus_->add_reader();
    // The first link lets libusb settle whatever it keeps for the process.
    ASSERT_EQ(LinkCom(0x05, 32, 9600), 0);
    UnLinkCom();
    ASSERT_TRUE(closed_by_emulator(r));
    const int fds = uhftest::descriptors_but_eventfds();
    const std::string before = uhftest::describe_descriptors();
    const int threads = uhftest::threads();
    for (int i = 0; i < cycles; ++i) {
        ASSERT_EQ(LinkCom(0x05, 32, 9600), 0) << "cycle " << i;
        ASSERT_EQ(USB_Flag, 1);
        ASSERT_EQ(UnLinkCom(), 0);
        if (i % 1000 == 999) {
            // The emulator's end of each device connection is in this process too, and its
            // thread closes it once it sees the library's close: wait for that first.
            ASSERT_TRUE(closed_by_emulator(r));
            ASSERT_EQ(uhftest::settled(uhftest::descriptors_but_eventfds, fds), fds)
                << "after " << i + 1 << " cycles\nbefore:\n" << before << "now:\n" << uhftest::describe_descriptors();
        }
    }
    ASSERT_TRUE(closed_by_emulator(r));
    EXPECT_EQ(uhftest::settled(uhftest::descriptors_but_eventfds, fds), fds);
    // Helper threads may end, none may pile up (GLib may keep one idle worker of umockdev's).
    EXPECT_LE(uhftest::threads(), threads + 1);
    EXPECT_FALSE(uhf::usb::device_open());
    expect_all_returned(r);
    EXPECT_EQ(r.counters().opens, cycles + 1);
    EXPECT_EQ(r.counters().claims, cycles + 1);
}

// A way for a USB link to fail, repeated so that a small leak per attempt adds up (each failed
// link is three attempts).
struct UsbFailure {
    const char *name;
    std::function<void(UsbReader &)> arrange;
    bool fds_comparable;  // umockdev's preload keeps sockets of a node that would not open
    int links = 100;      // ... in a table of its own that a hundred failed links overflow
};

void PrintTo(const UsbFailure &f, std::ostream *os) { *os << f.name; }

class UsbFailedOpen : public UsbResources, public testing::WithParamInterface<UsbFailure> {};

TEST_P(UsbFailedOpen, RepeatedFailuresGiveEverythingBack) {
    UsbReader &r = bus_->add_reader();
    ASSERT_EQ(LinkCom(0x05, 32, 9600), 0);  // libusb's own first-use allocations
    UnLinkCom();
    ASSERT_TRUE(closed_by_emulator(r));  // counted once the emulator's end has gone too
    GetParam().arrange(r);
    const int fds = uhftest::descriptors_but_eventfds();
    const int threads = uhftest::threads();
    for (int i = 0; i < GetParam().links; ++i) {
        ASSERT_NE(LinkCom(0x05, 32, 9600), 0);
        ASSERT_EQ(USB_Flag, 0);
        ASSERT_FALSE(uhf::usb::device_open());
    }
    ASSERT_TRUE(closed_by_emulator(r));
    if (GetParam().fds_comparable) {
        EXPECT_EQ(uhftest::settled(uhftest::descriptors_but_eventfds, fds), fds)
            << uhftest::describe_descriptors();
    }
    EXPECT_LE(uhftest::threads(), threads + 1);
    expect_all_returned(r);
    EXPECT_EQ(r.counters().claims, r.counters().releases);
    // And an exchange after all that fails without touching a released object.
    IcCmd = 0x22;
    BlkALength = 0;
    USB_Flag = 1;
    EXPECT_NE(PcSendOrder(), 0);
    USB_Flag = 0;
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, UsbFailedOpen,
    testing::Values(UsbFailure{"NodeWillNotOpen", [](UsbReader &r) { r.fail_open(true); }, false, 5},
                    UsbFailure{"InterfaceBusy", [](UsbReader &r) { r.fail_claim(EBUSY); }, true},
                    UsbFailure{"ConfigurationRefused", [](UsbReader &r) { r.fail_set_configuration(true); }, true},
                    UsbFailure{"SilentReader",
                               [](UsbReader &r) { r.set_handler([](const Request &) { return Action::silent(); }); },
                               true, 10},
                    UsbFailure{"OtherReaderAnswers",
                               [](UsbReader &r) {
                                   r.set_handler([](const Request &q) { return Action::reply(0x33, q.cmd, 0); });
                               },
                               true, 10}),
    [](const auto &info) { return info.param.name; });

// A failed exchange whose reply announced more than the reply area holds leaves no such length
// in BlkBLength for a caller to index with.
TEST_F(UsbResources, OverLongAnnouncedLengthIsNotLeftInBlkBLength) {
    UsbReader &r = bus_->add_reader();
    ASSERT_EQ(LinkCom(0x05, 32, 9600), 0);
    for (std::uint16_t announced : {0x0801, 0x0900, 0xFFFF}) {
        r.script(Action::reply(0x05, 0x22, 0x00, {1, 2, 3}).length_field(announced));
        pc_id = 0x05;
        IcCmd = 0x22;
        BlkALength = 0;
        BlkBLength = 7;
        EXPECT_EQ(PcSendOrder(), 241);
        EXPECT_EQ(IcRetCode, 113);
        EXPECT_LE(BlkBLength, 2048u) << announced;
    }
}

TEST_F(UsbResources, NoMatchingDeviceRepeatedly) {
    bus_->add_reader(0x03EB, 0x6126);
    const int fds = uhftest::descriptors_but_eventfds();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(LinkCom(0x05, 32, 9600), 1);
    EXPECT_EQ(uhftest::settled(uhftest::descriptors_but_eventfds, fds), fds);
    EXPECT_EQ(usb_devs, nullptr);
}

}  // namespace
