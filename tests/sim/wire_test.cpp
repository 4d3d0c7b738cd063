#include "sim/wire.hpp"

#include <gtest/gtest.h>

#include "sim_test_util.hpp"

namespace {

using simtest::bytes;
using uhfsim::FrameFaults;
using uhfsim::Reply;
using uhfsim::RequestDecoder;

struct EncodeCase {
    const char* name;
    Reply reply;
    FrameFaults faults;
    const char* wire;
};

template <typename F>
FrameFaults with(F set) {
    FrameFaults f;
    set(f);
    return f;
}

class EncodeReply : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeReply, ProducesExactFrame) {
    const auto& c = GetParam();
    EXPECT_EQ(uhfsim::hex(uhfsim::encode_reply(c.reply, c.faults)), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, EncodeReply,
    testing::Values(
        EncodeCase{"Empty", {5, 2, 0, {}}, {}, "10 01 05 02 00 00 00 07 10 02"},
        EncodeCase{"StatusDleDoubledAndLeftOutOfChecksum", {5, 2, 0x10, {}}, {},
                   "10 01 05 02 10 10 00 00 07 10 02"},
        EncodeCase{"ChecksumDleDoubled", {3, 0x13, 0, {}}, {}, "10 01 03 13 00 00 00 10 10 10 02"},
        EncodeCase{"DataAndLengthBigEndian", {1, 0x28, 0, {0x10, 0x20}}, {},
                   "10 01 01 28 00 00 02 10 10 20 0B 10 02"},
        EncodeCase{"AnnouncedLengthCoveredByChecksum", {5, 2, 0, {0xAA}}, with([](auto& f) { f.length_field = 0x0900; }),
                   "10 01 05 02 00 09 00 AA A4 10 02"},
        EncodeCase{"BadChecksum", {5, 2, 0, {}}, with([](auto& f) { f.bad_checksum = true; }), "10 01 05 02 00 00 00 06 10 02"},
        EncodeCase{"WrongSecondByte", {5, 2, 0, {}}, with([](auto& f) { f.wrong_second_byte = true; }),
                   "10 03 05 02 00 00 00 07 10 02"},
        EncodeCase{"BadEndFirst", {5, 2, 0, {}}, with([](auto& f) { f.bad_end_first = true; }), "10 01 05 02 00 00 00 07 11 02"},
        EncodeCase{"BadEndLast", {5, 2, 0, {}}, with([](auto& f) { f.bad_end_last = true; }), "10 01 05 02 00 00 00 07 10 03"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    const char* input;
    std::vector<std::string> requests;  // "addr cmd | data" in hex
    std::vector<std::string> malformed;
};

std::string describe(const uhfsim::Request& r) {
    return uhfsim::hex(std::vector<std::uint8_t>{r.addr, r.cmd}) + " | " + uhfsim::hex(r.data);
}

class DecodeRequests : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRequests, YieldsRequestsAndReasons) {
    const auto& c = GetParam();
    RequestDecoder decoder;
    RequestDecoder::Output out;
    decoder.feed(bytes(c.input), out);
    std::vector<std::string> got;
    for (const auto& r : out.requests) got.push_back(describe(r));
    EXPECT_EQ(got, c.requests);
    EXPECT_EQ(out.malformed, c.malformed);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, DecodeRequests,
    testing::Values(
        DecodeCase{"NoData", "10 01 05 02 00 07 10 02", {"05 02 | "}, {}},
        DecodeCase{"CommandDleDoubled", "10 01 05 10 10 00 05 10 02", {"05 10 | "}, {}},
        DecodeCase{"DataDleLeftOutOfChecksum", "10 01 01 28 02 10 10 20 0B 10 02", {"01 28 | 10 20"}, {}},
        DecodeCase{"GarbageReportedOnceThenFrame", "AA BB 10 10 01 05 02 00 07 10 02", {"05 02 | "},
                   {"garbage before start pair"}},
        DecodeCase{"BadChecksumThenResync", "10 01 05 02 00 06 10 02 10 01 05 02 00 07 10 02", {"05 02 | "},
                   {"bad checksum"}},
        DecodeCase{"LoneDleInData", "10 01 05 02 01 10 33 10 02", {}, {"lone 0x10 in frame"}},
        DecodeCase{"AbandonedFrameThenNewStart", "10 01 05 02 03 AA 10 01 05 02 00 07 10 02", {"05 02 | "},
                   {"lone 0x10 in frame, new start pair"}},
        DecodeCase{"EndPairTooEarly", "10 01 05 02 03 AA 10 02", {}, {"frame ended early"}},
        DecodeCase{"BadEndFirst", "10 01 05 02 00 07 11 02", {}, {"bad end pair, first byte"}},
        DecodeCase{"BadEndSecond", "10 01 05 02 00 07 10 03 AA", {}, {"bad end pair, second byte"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every byte value in every doubled field, through our own host-side encoder and back.
TEST(RequestRoundTrip, EveryByteValueInEveryField) {
    RequestDecoder decoder;
    for (int v = 0; v < 256; ++v) {
        const auto b = static_cast<std::uint8_t>(v);
        const std::vector<std::uint8_t> data = {b, 0x10, b};
        const auto wire = uhfsim::encode_request(b, b, data);
        RequestDecoder::Output out;
        decoder.feed(wire, out);
        ASSERT_EQ(out.requests.size(), 1u) << "value " << v;
        EXPECT_TRUE(out.malformed.empty()) << "value " << v;
        EXPECT_EQ(out.requests[0].addr, b);
        EXPECT_EQ(out.requests[0].cmd, b);
        EXPECT_EQ(out.requests[0].data, data);
        EXPECT_EQ(out.requests[0].wire, wire);
    }
}

}  // namespace
