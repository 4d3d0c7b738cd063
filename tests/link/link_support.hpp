// A link handle on a simulated reader behind a pseudo-terminal, with the shortened first-byte
// wait the serial tests use (budgets and codes unchanged).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/pty_reader.hpp"
#include "support/host.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhftest {

inline constexpr int kLinkPollMs = 20;
inline constexpr int kAddr = 0x05;

struct LinkCloser {
    void operator()(uhf_link *l) const { uhf_close(l); }
};
using LinkPtr = std::unique_ptr<uhf_link, LinkCloser>;

// Opens a link or fails the test; the result is empty on failure.
inline LinkPtr open_link(const std::string &device, int addr = kAddr, const uhf_options *options = nullptr) {
    uhf_link *l = nullptr;
    const int rc = uhf_open_with(&l, device.c_str(), addr, options);
    EXPECT_EQ(rc, 0) << device << ": " << uhf_strerror(rc, 0);
    return LinkPtr(l);
}

class LinkOnPty : public testing::Test {
protected:
    void SetUp() override {
        uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
        link = open_link(sim.path());
        ASSERT_TRUE(link);
        sim.clear_log();
    }
    void TearDown() override {
        link.reset();
        uhf::serial::timing() = {};
    }
    uhfsim::PtyReader sim;
    LinkPtr link;
};

}  // namespace uhftest
