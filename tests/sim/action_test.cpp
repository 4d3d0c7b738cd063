#include "sim/action.hpp"

#include <gtest/gtest.h>

namespace {

using uhfsim::Action;

// The base frame: 10 01 05 02 00 00 00 07 10 02
Action base() { return Action::reply(5, 2, 0); }

struct ActionCase {
    const char* name;
    Action action;
    std::vector<std::string> chunks;  // "delay: bytes"
};

class ActionChunks : public testing::TestWithParam<ActionCase> {};

TEST_P(ActionChunks, RenderAsExpected) {
    std::vector<std::string> got;
    for (const auto& c : GetParam().action.chunks())
        got.push_back(std::to_string(c.delay_ms) + ": " + uhfsim::hex(c.bytes));
    EXPECT_EQ(got, GetParam().chunks);
}

INSTANTIATE_TEST_SUITE_P(
    Builders, ActionChunks,
    testing::Values(
        ActionCase{"Silent", Action::silent(), {}},
        ActionCase{"StrayDle", Action::stray_dle(), {"0: 10"}},
        ActionCase{"Delayed", base().delayed(300), {"300: 10 01 05 02 00 00 00 07 10 02"}},
        ActionCase{"NoiseBeforeFrameNotCut", base().with_noise({0xAA, 0xBB}).cut_after(3),
                   {"0: AA BB 10 01 05"}},
        ActionCase{"Chunked", base().chunked(4, 20),
                   {"0: 10 01 05 02", "20: 00 00 00 07", "20: 10 02"}},
        ActionCase{"FaultsCompose", base().bad_checksum().bad_end_last().delayed(5),
                   {"5: 10 01 05 02 00 00 00 06 10 03"}},
        ActionCase{"ModifiersActOnLastSegment",
                   base().then(Action::reply(5, 2, 1).delayed(3000).wrong_second_byte()),
                   {"0: 10 01 05 02 00 00 00 07 10 02", "3000: 10 03 05 02 01 00 00 06 10 02"}},
        ActionCase{"FrameFaultOnRawIgnored", Action::raw({1, 2}).bad_checksum(), {"0: 01 02"}},
        ActionCase{"CutToNothingKeepsPause", base().cut_after(0).delayed(50).then(base()),
                   {"50: ", "0: 10 01 05 02 00 00 00 07 10 02"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
