// The first-byte wait with the real 100 ms slots: each noise byte costs one attempt however it
// is paced, and only a slot that passes empty costs one more.
#include <gtest/gtest.h>

#include "serial_support.hpp"

namespace {

using uhfsim::Action;
using uhftest::Bytes;
using uhftest::run_exchange;

struct NoiseRow {
    const char *name;
    std::uint8_t cmd;  // 0: the handshake, 20 attempts; else 40
    int bytes;
    int gap_ms;  // between noise bytes; 0: all at once
    int code, detail;
};

class PacedNoise : public testing::TestWithParam<NoiseRow> {};

TEST_P(PacedNoise, CostsOneAttemptPerByte) {
    const NoiseRow &r = GetParam();
    uhfsim::PtyReader sim;
    ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), 115200), 0);
    Action noise = Action::raw(Bytes(static_cast<std::size_t>(r.bytes), 0x55));
    if (r.gap_ms > 0) noise.chunked(1, r.gap_ms);
    sim.script(noise.then(Action::reply(0x07, r.cmd, 0, {0x01}).delayed(r.gap_ms)));
    EXPECT_EQ(run_exchange(0x07, r.cmd, {}), r.code);
    EXPECT_EQ(IcRetCode, r.detail);
    UnLinkCom();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PacedNoise,
    // The last attempt is a read with no wait after it, as it always was: a byte trickling in
    // after the budget's last read is not waited for.
    testing::Values(NoiseRow{"TwentyBytesTrickling", 0x28, 20, 5, 0, 0},
                    NoiseRow{"ThirtyEightBytesTrickling", 0x28, 38, 3, 0, 0},
                    NoiseRow{"FortyBytesAtOnceSpendTheBudget", 0x28, 40, 0, 235, 110},
                    NoiseRow{"HandshakeEighteenBytesTrickling", 0x00, 18, 5, 0, 0},
                    NoiseRow{"HandshakeTwentyBytesAtOnceSpendTheBudget", 0x00, 20, 0, 235, 110},
                    NoiseRow{"SlowNoiseStillEndsInTime", 0x28, 12, 150, 0, 0}),
    [](const auto &info) { return info.param.name; });

}  // namespace
