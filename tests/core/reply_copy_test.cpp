// Reply-copy rules against reply data shaped by hand, with guard bytes after the copy.
#include <gtest/gtest.h>

#include <vector>

#include "core/reply_copy.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using uhf::CopyRule;

struct CopyRow {
    const char *name;
    CopyRule::Kind kind;
    std::size_t fixed;
    Bytes head;          // first reply bytes; the rest of the 2048 count up from 0x80
    std::size_t copied;  // bytes the rule writes
};

class Copy : public testing::TestWithParam<CopyRow> {};

TEST_P(Copy, WritesExactlyItsCount) {
    const CopyRow &r = GetParam();
    Bytes reply(uhf::kReplyCapacity);
    for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(0x80 + i);
    std::copy(r.head.begin(), r.head.end(), reply.begin());
    Bytes out(uhf::kReplyCapacity + 16, 0xCC);
    CopyRule rule{r.kind, out.data(), r.fixed};
    std::span<const std::uint8_t, uhf::kReplyCapacity> area(reply.data(), uhf::kReplyCapacity);
    EXPECT_EQ(uhf::apply_copy(rule, area), r.copied);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + r.copied), Bytes(reply.begin(), reply.begin() + r.copied));
    EXPECT_EQ(Bytes(out.begin() + r.copied, out.end()), Bytes(out.size() - r.copied, 0xCC));
}

using K = CopyRule::Kind;
INSTANTIATE_TEST_SUITE_P(
    Rules, Copy,
    testing::Values(CopyRow{"CountedZero", K::counted, 0, {0x00}, 1},
                    CopyRow{"CountedFour", K::counted, 0, {0x04}, 5},
                    CopyRow{"CountedMax", K::counted, 0, {0xFF}, 256},
                    CopyRow{"SelfCountedZero", K::self_counted, 0, {0x00}, 1},
                    CopyRow{"SelfCountedOne", K::self_counted, 0, {0x01}, 1},
                    CopyRow{"SelfCountedThree", K::self_counted, 0, {0x03}, 3},
                    CopyRow{"TotalBelowTwo", K::total_length, 0, {0x00, 0x01}, 2},
                    CopyRow{"TotalFive", K::total_length, 0, {0x00, 0x05}, 5},
                    CopyRow{"TotalCappedAtReplyArea", K::total_length, 0, {0xFF, 0xFF}, 2048},
                    CopyRow{"Echo", K::status_echo, 0, {0x07}, 1},
                    CopyRow{"Fixed22", K::fixed, 22, {}, 22},
                    CopyRow{"TwoByteZero", K::two_byte_counted, 0, {0x00, 0x00}, 2},
                    CopyRow{"TwoByteFour", K::two_byte_counted, 0, {0x00, 0x04}, 6},
                    CopyRow{"TwoByteCapped", K::two_byte_counted, 0, {0x08, 0x00}, 2048},
                    CopyRow{"Nothing", K::none, 0, {}, 0}),
    [](const auto &info) { return info.param.name; });

TEST(ResultRule, StatusOnlyAfterSuccess) {
    EXPECT_EQ(uhf::apply_result(uhf::ResultRule::status, 0, 5), 5);
    EXPECT_EQ(uhf::apply_result(uhf::ResultRule::status, 243, 5), 243);
    EXPECT_EQ(uhf::apply_result(uhf::ResultRule::exchange, 0, 5), 0);
    EXPECT_EQ(uhf::apply_result(uhf::ResultRule::exchange, 234, 5), 234);
}

}  // namespace
