// Shared fixture pieces for tests that drive the real serial code over a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include "sim/pty_reader.hpp"
#include "support/host.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhftest {

// One attempt's wait in tests: short enough that cases without a reply end within a
// second, long enough that a loaded machine's reader still answers within the budget.
inline constexpr int kTestPollMs = 20;

// A serial port opened on a simulated reader, with the shortened first-byte wait (budgets
// and codes are unchanged).
class SerialLink : public testing::Test {
protected:
    void SetUp() override {
        uhf::serial::timing().first_byte_poll_ms = kTestPollMs;
        USB_Flag = 0;
        ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), 115200), 0);
    }
    void TearDown() override {
        UnLinkCom();
        uhf::serial::timing() = {};
    }
    uhfsim::PtyReader sim;
};

}  // namespace uhftest
