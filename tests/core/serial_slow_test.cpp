// The real first-byte budgets (about 2 s for the handshake, 4 s otherwise). Slow by nature:
// kept to the three cases that tell the budgets apart.
#include <gtest/gtest.h>

#include "serial_support.hpp"

namespace {

using uhfsim::Action;
using uhftest::run_exchange;

struct BudgetRow {
    const char *name;
    std::uint8_t cmd;
    int delay_ms;
    int code, detail;
};

class RealBudget : public testing::TestWithParam<BudgetRow> {};

TEST_P(RealBudget, ReplyAfterDelay) {
    const BudgetRow &r = GetParam();
    uhfsim::PtyReader sim;
    ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), 115200), 0);
    sim.script(Action::reply(0x07, r.cmd, 0, {0x01}).delayed(r.delay_ms));
    EXPECT_EQ(run_exchange(0x07, r.cmd, {}), r.code);
    EXPECT_EQ(IcRetCode, r.detail);
    UnLinkCom();
}

INSTANTIATE_TEST_SUITE_P(Rows, RealBudget,
                         testing::Values(BudgetRow{"HandshakeAt1500ms", 0x00, 1500, 0, 0},
                                         BudgetRow{"HandshakeAt2500ms", 0x00, 2500, 234, 109},
                                         BudgetRow{"CommandAt2500ms", 0x28, 2500, 0, 0}),
                         [](const auto &info) { return info.param.name; });

}  // namespace
