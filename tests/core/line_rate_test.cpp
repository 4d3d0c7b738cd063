// The bound on reading a frame follows the line rate: the longest reply there is (2048 data
// bytes, each 0x10 and so doubled: 4 112 bytes on the wire) takes 4.3 s at 9600 baud.
#include <gtest/gtest.h>

#include "serial_support.hpp"

namespace {

using uhfsim::Action;
using uhftest::Bytes;
using uhftest::run_exchange;

TEST(LineRate, LongestReplyArrivesWholeAt9600) {
    uhfsim::PtyReader sim;
    ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), 9600), 0);
    sim.set_baud(9600);
    sim.script(Action::reply(0x07, 0x28, 0, Bytes(2048, 0x10)));
    EXPECT_EQ(run_exchange(0x07, 0x28, {3, 0, 0, 0}), 0);
    EXPECT_EQ(IcRetCode, 0);
    EXPECT_EQ(BlkBLength, 2048u);
    EXPECT_EQ(Bytes(BlkBAdrBeg, BlkBAdrBeg + 2048), Bytes(2048, 0x10));
    UnLinkCom();
}

TEST(LineRate, BoundIsTheLongestFrameWithMarginAndNeverLessThanConfigured) {
    EXPECT_EQ(uhf::serial::frame_bound_ms(115200), 4000);
    EXPECT_EQ(uhf::serial::frame_bound_ms(38400), 4000);
    EXPECT_GE(uhf::serial::frame_bound_ms(19200), 4000);
    EXPECT_GT(uhf::serial::frame_bound_ms(9600), 4283 + 500);
    EXPECT_LT(uhf::serial::frame_bound_ms(9600), 8000);
}

}  // namespace
