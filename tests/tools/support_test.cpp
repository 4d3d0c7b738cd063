// The text helpers both tools parse their arguments with.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uhfctl/text.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct HexRow {
    const char* text;
    bool ok;
    Bytes bytes;
};

class ParseHex : public ::testing::TestWithParam<HexRow> {};

TEST_P(ParseHex, AcceptsOnlyWholeBytes) {
    const auto r = uhfctl::parse_hex(GetParam().text);
    ASSERT_EQ(r.has_value(), GetParam().ok);
    if (r) {
        EXPECT_EQ(*r, GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Support, ParseHex,
    ::testing::Values(HexRow{"0a1B", true, {0x0A, 0x1B}}, HexRow{"0a 1b", true, {0x0A, 0x1B}},
                      HexRow{"0a:1b-2c", true, {0x0A, 0x1B, 0x2C}}, HexRow{"0x0a1b", true, {0x0A, 0x1B}},
                      HexRow{"", true, {}}, HexRow{"0", false, {}}, HexRow{"0g", false, {}},
                      HexRow{"0 a", false, {}}, HexRow{"0x", false, {}}, HexRow{"1010", true, {0x10, 0x10}}));

struct IntRow {
    const char* text;
    long long lo, hi;
    std::optional<long long> value;
};

class ParseInt : public ::testing::TestWithParam<IntRow> {};

TEST_P(ParseInt, DecimalOrHexWithinBounds) {
    EXPECT_EQ(uhfctl::parse_int(GetParam().text, GetParam().lo, GetParam().hi), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Support, ParseInt,
    ::testing::Values(IntRow{"10", 0, 255, 10}, IntRow{"0x10", 0, 255, 16}, IntRow{"0XfF", 0, 255, 255},
                      IntRow{"-1", -5, 5, -1}, IntRow{"256", 0, 255, std::nullopt},
                      IntRow{"-1", 0, 5, std::nullopt}, IntRow{"1e3", 0, 9999, std::nullopt},
                      IntRow{"", 0, 9, std::nullopt}, IntRow{"0x", 0, 9, std::nullopt},
                      IntRow{"99999999999999", 0, 1LL << 62, std::nullopt}, IntRow{"12 ", 0, 99, std::nullopt}));

}  // namespace
