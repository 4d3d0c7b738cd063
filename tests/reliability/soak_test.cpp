// A short fault-injection soak in the suite; scripts/soak runs the long one.
#include <gtest/gtest.h>

#include <cstdio>

#include "serial_soak.hpp"

namespace {

TEST(Soak, SerialTenThousandExchangesUnderFaults) {
    const uhfsoak::Figures fig = uhfsoak::serial_soak(20261207, 10'000);
    std::printf("%s", fig.report().c_str());
    EXPECT_EQ(fig.exchanges, 10'000u);
    EXPECT_EQ(fig.problems(), 0u) << fig.report();
    for (std::size_t k = 0; k < uhfsoak::kFaultKinds; ++k)
        EXPECT_GT(fig.by_kind[k].injected, 0u) << uhfsoak::name(static_cast<uhfsoak::Fault>(k));
}

}  // namespace
