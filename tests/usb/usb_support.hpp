// Shared pieces of the USB tests: the real libusb against an emulated reader.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "sim/usb/usb_reader.hpp"
#include "support/host.hpp"
#include "uhfreader.h"

namespace uhftest {

using namespace std::chrono_literals;

inline constexpr int kUsbPort = 32;
inline constexpr std::uint8_t kAddr = 0x07;

template <class F>
long long elapsed_ms(F &&f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
        .count();
}

// Every device the host opened has been closed again (closes arrive on umockdev's thread).
inline bool all_closed(const uhfsim::UsbReader &r) {
    return r.wait_until([](const uhfsim::UsbCounters &c) { return c.closes == c.opens; }, 2s);
}

// A fresh emulated bus per test; whatever the library still holds is released before the
// bus goes, as libusb must be done with it first.
class UsbTest : public testing::Test {
protected:
    void SetUp() override {
        bus_ = std::make_unique<uhfsim::UsbBus>();
        USB_Flag = 0;
        IcRetCode = 0;
    }
    void TearDown() override {
        USB_UnLinkCom();
        USB_Flag = 0;
        bus_.reset();
    }

    uhfsim::UsbReader &add_reader(std::uint16_t product = 0x6125) {
        return bus_->add_reader(0x03EB, product);
    }

    // One reader at kAddr, linked, with the handshake already forgotten.
    uhfsim::UsbReader &linked_reader() {
        uhfsim::UsbReader &r = add_reader();
        EXPECT_EQ(LinkCom(kAddr, kUsbPort, 9600), 0);
        r.clear_log();
        return r;
    }

    std::unique_ptr<uhfsim::UsbBus> bus_;
};

}  // namespace uhftest
