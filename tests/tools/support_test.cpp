// The pieces uhfctl is built from: argument parsing, the frame splitter
// behind --trace, and the command table against the public header.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "uhfctl/catalog.hpp"
#include "uhfctl/proxy.hpp"
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

using Piece = std::pair<uhfctl::FrameSplitter::Kind, Bytes>;
using K = uhfctl::FrameSplitter::Kind;

struct SplitRow {
    const char* name;
    Bytes stream;
    std::vector<Piece> pieces;  // after a final flush
};

class Splitter : public ::testing::TestWithParam<SplitRow> {};

TEST_P(Splitter, CutsTheStreamAtFrameBoundaries) {
    std::vector<Piece> got;
    uhfctl::FrameSplitter s([&](K k, const Bytes& b) { got.emplace_back(k, b); });
    for (auto b : GetParam().stream) s.feed(b);
    s.flush();
    EXPECT_EQ(got, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Support, Splitter,
    ::testing::Values(
        SplitRow{"OneFrame", {0x10, 1, 5, 2, 0, 7, 0x10, 2}, {{K::frame, {0x10, 1, 5, 2, 0, 7, 0x10, 2}}}},
        SplitRow{"DoubledDleStaysInside",
                 {0x10, 1, 5, 0x10, 0x10, 0, 5, 0x10, 2},
                 {{K::frame, {0x10, 1, 5, 0x10, 0x10, 0, 5, 0x10, 2}}}},
        SplitRow{"NoiseBeforeTheFrame",
                 {0x55, 0x10, 0x33, 0x10, 1, 1, 0, 0, 1, 0x10, 2},
                 {{K::noise, {0x55, 0x10, 0x33}}, {K::frame, {0x10, 1, 1, 0, 0, 1, 0x10, 2}}}},
        SplitRow{"LoneDleBreaksTheFrame", {0x10, 1, 5, 0x10, 7, 1}, {{K::partial, {0x10, 1, 5, 0x10, 7}}, {K::noise, {1}}}},
        SplitRow{"CutShort", {0x10, 1, 5, 2}, {{K::partial, {0x10, 1, 5, 2}}}},
        SplitRow{"BackToBack",
                 {0x10, 1, 1, 0, 0, 1, 0x10, 2, 0x10, 1, 2, 0, 0, 2, 0x10, 2},
                 {{K::frame, {0x10, 1, 1, 0, 0, 1, 0x10, 2}}, {K::frame, {0x10, 1, 2, 0, 0, 2, 0x10, 2}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// The command code a documentation line names ("Command 0x28." or "/* 0x28: ..."), if any.
std::optional<int> documented_code(const std::string& line) {
    for (const char* mark : {"Command 0x", "/* 0x"}) {
        const auto at = line.find(mark);
        if (at == std::string::npos || at + std::strlen(mark) + 2 > line.size()) continue;
        const std::string digits = line.substr(at + std::strlen(mark), 2);
        if (std::isxdigit(static_cast<unsigned char>(digits[0])) && std::isxdigit(static_cast<unsigned char>(digits[1])))
            return std::stoi(digits, nullptr, 16);
    }
    return std::nullopt;
}

// "EPC_Read_TAG" from "UHF_API int EPC_Read_TAG(int addr, ...": a command takes the reader
// address first.
std::optional<std::string> command_declared(const std::string& line) {
    const std::string head = "UHF_API int ";
    if (line.rfind(head, 0) != 0) return std::nullopt;
    const auto paren = line.find('(');
    if (paren == std::string::npos) return std::nullopt;
    const std::string rest = line.substr(paren);
    if (rest.rfind("(int addr,", 0) != 0 && rest.rfind("(int addr)", 0) != 0) return std::nullopt;
    return line.substr(head.size(), paren - head.size());
}

// Every command function of the header (reader address first, a command code in its
// documentation) is in the table under that code.
TEST(Catalog, HoldsEveryExportedCommand) {
    std::ifstream header(UHF_HEADER_PATH);
    ASSERT_TRUE(header);
    std::set<std::string> names;
    std::optional<int> pending;
    std::string line;
    while (std::getline(header, line)) {
        if (line.find("/**") != std::string::npos) pending.reset();
        if (auto code = documented_code(line)) pending = code;
        const auto name = command_declared(line);
        if (!name || !pending) continue;
        names.insert(*name);
        const uhfctl::CommandRow* row = uhfctl::find_command(*name);
        ASSERT_NE(row, nullptr) << *name;
        EXPECT_EQ(row->code, *pending) << *name;
        pending.reset();
    }
    EXPECT_EQ(names.size(), uhfctl::commands().size());
    EXPECT_GT(names.size(), 90u) << "the header's declarations no longer match the pattern";
}

}  // namespace
