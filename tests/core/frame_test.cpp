// The frame codec on its own: bytes in, bytes out.
#include <gtest/gtest.h>

#include <vector>

#include "core/frame.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using uhf::Outcome;

Bytes encode(std::uint8_t addr, std::uint8_t cmd, const Bytes &data) {
    std::uint8_t out[uhf::kMaxRequestFrame];
    std::size_t n = uhf::encode_request(addr, cmd, data, out);
    return Bytes(out, out + n);
}

struct EncodeRow {
    const char *name;
    std::uint8_t addr, cmd;
    Bytes data;
    Bytes wire;
};

class Encode : public testing::TestWithParam<EncodeRow> {};

TEST_P(Encode, WireBytes) {
    const EncodeRow &r = GetParam();
    EXPECT_EQ(encode(r.addr, r.cmd, r.data), r.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Encode,
    testing::Values(
        EncodeRow{"NoData", 0x05, 0x02, {}, {0x10, 0x01, 0x05, 0x02, 0x00, 0x07, 0x10, 0x02}},
        EncodeRow{"CommandIsDle", 0x05, 0x10, {}, {0x10, 0x01, 0x05, 0x10, 0x10, 0x00, 0x05, 0x10, 0x02}},
        EncodeRow{"CountedBlock",
                  0x01,
                  0xF2,
                  {0x03, 0xA1, 0xB2, 0xC3},
                  {0x10, 0x01, 0x01, 0xF2, 0x04, 0x03, 0xA1, 0xB2, 0xC3, 0x24, 0x10, 0x02}},
        EncodeRow{"AddressIsDle", 0x10, 0x02, {}, {0x10, 0x01, 0x10, 0x10, 0x02, 0x00, 0x02, 0x10, 0x02}},
        // A 0x10 data byte travels doubled and leaves the checksum alone.
        EncodeRow{"DataDle", 0x01, 0x02, {0x10, 0x05}, {0x10, 0x01, 0x01, 0x02, 0x02, 0x10, 0x10, 0x05, 0x04, 0x10, 0x02}},
        // Checksum 0x10 is doubled too: 0x11 ^ 0x01 = 0x10.
        EncodeRow{"ChecksumDle", 0x11, 0x01, {}, {0x10, 0x01, 0x11, 0x01, 0x00, 0x10, 0x10, 0x10, 0x02}}),
    [](const auto &info) { return info.param.name; });

TEST(Encode, SixteenDataBytesDoubleTheLengthByte) {
    Bytes data(16, 0x01);
    Bytes wire = encode(0x01, 0x29, data);
    ASSERT_EQ(wire.size(), 2u + 2 + 2 + 16 + 1 + 2);
    EXPECT_EQ(wire[4], 0x10);
    EXPECT_EQ(wire[5], 0x10);
    EXPECT_EQ(wire[22], 0x01 ^ 0x29);  // sixteen 0x01s cancel; the length is left out
}

TEST(Encode, LongestFrameFitsTheBuffer) {
    Bytes data(255, 0x10);
    Bytes wire = encode(0x10, 0x10, data);
    EXPECT_LE(wire.size(), uhf::kMaxRequestFrame);
    EXPECT_EQ(wire.size(), 2u + 2 + 2 + 1 + 510 + 1 + 2);
}

// A short write is reported as the first field that did not go out.
struct SendFailureRow {
    std::size_t offset;
    int code, detail;
};

class SendFailure : public testing::TestWithParam<SendFailureRow> {};

TEST_P(SendFailure, MapsOffsetToStep) {
    // 10 01 | 10 10 (addr) | 05 (cmd) | 02 (len) | 10 10 07 (data) | 00 (sum) | 10 02
    Bytes frame = encode(0x10, 0x05, {0x10, 0x07});
    ASSERT_EQ(frame.size(), 12u);
    Outcome o = uhf::request_send_failure(frame, GetParam().offset);
    EXPECT_EQ(o.code, GetParam().code);
    EXPECT_EQ(o.detail, GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(Steps, SendFailure,
                         testing::Values(SendFailureRow{0, 225, 101}, SendFailureRow{1, 226, 101},
                                         SendFailureRow{2, 227, 102}, SendFailureRow{3, 227, 102},
                                         SendFailureRow{4, 228, 103}, SendFailureRow{5, 229, 103},
                                         SendFailureRow{6, 230, 105}, SendFailureRow{8, 230, 105},
                                         SendFailureRow{9, 231, 107}, SendFailureRow{10, 232, 101},
                                         SendFailureRow{11, 233, 101}));

// ---- Reply decoding: the same bytes through both wires ----

struct DecodeRow {
    const char *name;
    Bytes wire;  // whole reply, first 0x10 included
    Outcome serial, usb;
    bool status_read_serial;
};

// A well-formed reply from address 7 to command 0x28, status 0, data 01 02.
Bytes good_reply() { return {0x10, 0x01, 0x07, 0x28, 0x00, 0x00, 0x02, 0x01, 0x02, 0x2E, 0x10, 0x02}; }

Bytes with(Bytes b, std::size_t at, std::uint8_t v) {
    b[at] = v;
    return b;
}
Bytes cut(Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

Outcome decode(Bytes wire, uhf::Wire w, uhf::ReplyFields &f, std::vector<std::uint8_t> &data,
               uhf::Expectation expect = {0x28, 0x07}) {
    data.assign(uhf::kReplyCapacity, 0);
    std::span<std::uint8_t, uhf::kReplyCapacity> area(data.data(), uhf::kReplyCapacity);
    if (w == uhf::Wire::usb) return uhf::decode_usb_reply(wire, expect, f, area);
    uhf::BufferSource src(std::span<const std::uint8_t>(wire).subspan(1));
    return uhf::decode_reply_rest(src, w, expect, f, area);
}

class Decode : public testing::TestWithParam<DecodeRow> {};

TEST_P(Decode, SerialCodes) {
    uhf::ReplyFields f;
    std::vector<std::uint8_t> data;
    Outcome o = decode(GetParam().wire, uhf::Wire::serial, f, data);
    EXPECT_EQ(o.code, GetParam().serial.code);
    EXPECT_EQ(o.detail, GetParam().serial.detail);
    EXPECT_EQ(f.have_status, GetParam().status_read_serial);
}

TEST_P(Decode, UsbCodes) {
    uhf::ReplyFields f;
    std::vector<std::uint8_t> data;
    Outcome o = decode(GetParam().wire, uhf::Wire::usb, f, data);
    EXPECT_EQ(o.code, GetParam().usb.code);
    EXPECT_EQ(o.detail, GetParam().usb.detail);
}

constexpr int kKeep = uhf::kKeepDetail;

INSTANTIATE_TEST_SUITE_P(
    Checks, Decode,
    testing::Values(
        DecodeRow{"Good", good_reply(), {0, 0}, {0, 0}, true},
        DecodeRow{"SecondMissing", {0x10}, {236, 111}, {236, 111}, false},
        DecodeRow{"SecondNotStart", with(good_reply(), 1, 0x03), {237, 112}, {237, 112}, false},
        DecodeRow{"AddressMissing", cut(good_reply(), 2), {238, 111}, {238, 111}, false},
        DecodeRow{"CommandMissing", cut(good_reply(), 3), {239, 112}, {239, 112}, false},
        // USB checks the echo at once, before the status byte; serial only after the end pair.
        DecodeRow{"OtherCommand", {0x10, 0x01, 0x07, 0x29, 0x00, 0x00, 0x00, 0x2E, 0x10, 0x02}, {254, kKeep}, {237, 112}, true},
        DecodeRow{"StatusMissing", cut(good_reply(), 4), {240, 112}, {240, 112}, false},
        DecodeRow{"LengthMissing", cut(good_reply(), 6), {241, 113}, {241, 113}, true},
        DecodeRow{"LengthOver2048", {0x10, 0x01, 0x07, 0x28, 0x00, 0x08, 0x01}, {241, 113}, {241, 113}, true},
        DecodeRow{"DataMissing", cut(good_reply(), 8), {241, 114}, {241, 114}, true},
        DecodeRow{"ChecksumMissing", cut(good_reply(), 9), {242, 115}, {242, 115}, true},
        DecodeRow{"ChecksumDiffers", with(good_reply(), 9, 0x2D), {243, 116}, {243, 116}, true},
        DecodeRow{"EndFirstMissing", cut(good_reply(), 10), {244, 117}, {244, 117}, true},
        DecodeRow{"EndFirstWrong", with(good_reply(), 10, 0x11), {245, 118}, {245, 118}, true},
        DecodeRow{"EndLastMissing", cut(good_reply(), 11), {246, 117}, {246, 117}, true},
        DecodeRow{"EndLastWrong", with(good_reply(), 11, 0x03), {247, 118}, {247, 118}, true},
        DecodeRow{"OtherAddress", {0x10, 0x01, 0x03, 0x28, 0x00, 0x00, 0x00, 0x2B, 0x10, 0x02}, {253, kKeep}, {253, kKeep}, true},
        // Broadcast repliers pass on the serial line only.
        DecodeRow{"BroadcastReplier", {0x10, 0x01, 0xFF, 0x28, 0x00, 0x00, 0x00, 0xD7, 0x10, 0x02}, {0, 0}, {253, kKeep}, true},
        // Serial: a 0x10 in the doubled region whose partner is not 0x10 fails that field.
        DecodeRow{"LoneDleInData", {0x10, 0x01, 0x07, 0x28, 0x00, 0x00, 0x01, 0x10, 0x05, 0x2E, 0x10, 0x02}, {241, 114}, {0, 0}, true},
        DecodeRow{"StatusIsDle", {0x10, 0x01, 0x07, 0x28, 0x10, 0x10, 0x00, 0x00, 0x2F, 0x10, 0x02}, {0, 0}, {0, 0}, true}),
    [](const auto &info) { return info.param.name; });

TEST(Decode, DataLandsInTheReplyArea) {
    uhf::ReplyFields f;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(decode(good_reply(), uhf::Wire::serial, f, data).code, 0);
    EXPECT_EQ(f.length, 2u);
    EXPECT_EQ(data[0], 0x01);
    EXPECT_EQ(data[1], 0x02);
    EXPECT_EQ(data[2], 0x00);
}

TEST(Decode, LongReplyOfDoubledBytes) {
    Bytes wire{0x10, 0x01, 0x07, 0x28, 0x00, 0x08, 0x00};
    for (int i = 0; i < 2048; ++i) wire.insert(wire.end(), {0x10, 0x10});
    wire.insert(wire.end(), {0x07 ^ 0x28 ^ 0x08, 0x10, 0x02});
    uhf::ReplyFields f;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(decode(wire, uhf::Wire::serial, f, data).code, 0);
    EXPECT_EQ(decode(wire, uhf::Wire::usb, f, data).code, 0);
    EXPECT_EQ(f.length, 2048u);
    EXPECT_EQ(data[2047], 0x10);
}

struct AddressRow {
    uhf::Wire wire;
    std::uint8_t replier, request_addr, cmd;
    bool accepted;
};

class AddressRule : public testing::TestWithParam<AddressRow> {};

TEST_P(AddressRule, Accepts) {
    const AddressRow &r = GetParam();
    EXPECT_EQ(uhf::address_accepted(r.wire, r.replier, {r.cmd, r.request_addr}), r.accepted);
}

using uhf::Wire;
INSTANTIATE_TEST_SUITE_P(
    Rows, AddressRule,
    testing::Values(AddressRow{Wire::serial, 7, 7, 0x28, true}, AddressRow{Wire::serial, 3, 7, 0x28, false},
                    AddressRow{Wire::serial, 3, 7, 0x06, true}, AddressRow{Wire::serial, 3, 0xFF, 0x28, true},
                    AddressRow{Wire::serial, 0xFF, 7, 0x28, true}, AddressRow{Wire::usb, 3, 7, 0x28, false},
                    AddressRow{Wire::usb, 9, 1, 0x06, true}, AddressRow{Wire::usb, 3, 0xFF, 0x28, true},
                    AddressRow{Wire::usb, 0xFF, 7, 0x28, false}));

}  // namespace
