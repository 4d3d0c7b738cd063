// Shared fixture pieces for tests that drive the real serial code over a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstring>
#include <vector>

#include "sim/pty_reader.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhftest {

using Bytes = std::vector<std::uint8_t>;

inline int run_exchange(std::uint8_t addr, std::uint8_t cmd, const Bytes &data) {
    pc_id = addr;
    IcCmd = cmd;
    if (!data.empty()) std::memcpy(BlkAAdrBeg, data.data(), data.size());
    BlkALength = static_cast<unsigned char>(data.size());
    return PcSendOrder();
}

inline int open_descriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}

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
