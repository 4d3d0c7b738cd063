// USB exchanges through the real libusb: the reply checks and their codes, the request's
// pieces, send failures, the reply waits, stale replies and exchanges without a device.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "usb_support.hpp"

namespace {

using uhfsim::Action;
using uhfsim::UrbFault;
using namespace uhftest;

constexpr std::uint8_t kCmd = 0x21;
constexpr int kKept = -1;  // ErrorCode keeps the value it had before the exchange
constexpr std::uint8_t kEarlierStatus = 0x5A;

// ---- Replies the decoder refuses, with the codes each refusal leaves ----

struct Refusal {
    const char *name;
    std::uint8_t cmd;
    Action reply;
    int code;
    int detail;
    int error_code;  // kKept, or the status byte the reply carried
};

// Status 3, data 01 02 03: 10 01 07 21 03 00 03 01 02 03 26 10 02 on the wire.
Action reply3() { return Action::reply(kAddr, kCmd, 3, {1, 2, 3}); }

const Refusal kRefusals[] = {
    {"SilentHandshake", 0x00, Action::silent(), 235, 108, kKept},
    {"FirstByteNotDle", kCmd, Action::raw({0x11, 0x01, kAddr, kCmd, 3, 0, 0, 0x25, 0x10, 0x02}), 235, 110, kKept},
    {"SecondByteNotStart", kCmd, reply3().wrong_second_byte(), 237, 112, kKept},
    {"EchoedCommandDiffersBeforeStatus", kCmd, Action::reply(kAddr, kCmd + 1, 3), 237, 112, kKept},
    {"ChecksumDiffers", kCmd, reply3().bad_checksum(), 243, 116, 3},
    {"EndFirstWrong", kCmd, reply3().bad_end_first(), 245, 118, 3},
    {"EndLastWrong", kCmd, reply3().bad_end_last(), 247, 118, 3},
    {"BroadcastReplierRefused", kCmd, Action::reply(0xFF, kCmd, 3), 253, 0, 3},
    {"OtherReplierRefused", kCmd, Action::reply(0x03, kCmd, 3), 253, 0, 3},
    {"EndsInLengthField", kCmd, reply3().cut_after(6), 241, 113, 3},
    {"EndsInData", kCmd, reply3().cut_after(8), 241, 114, 3},
    {"EndsBeforeChecksum", kCmd, reply3().cut_after(10), 242, 115, 3},
    {"EndsBeforeEndPair", kCmd, reply3().cut_after(11), 244, 117, 3},
    {"EndsBeforeLastByte", kCmd, reply3().cut_after(12), 246, 117, 3},
    {"LengthOver2048", kCmd, Action::reply(kAddr, kCmd, 3).length_field(2049), 241, 113, 3},
    // The announced data lies past the transfer: never decoded from the zeros after it.
    {"LengthPastTransfer", kCmd, Action::reply(kAddr, kCmd, 3).length_field(40), 241, 114, 3},
};

class Refused : public UsbTest, public testing::WithParamInterface<Refusal> {};

TEST_P(Refused, LeavesItsCodes) {
    const Refusal &row = GetParam();
    uhfsim::UsbReader &reader = linked_reader();
    reader.script(row.reply);
    ErrorCode = kEarlierStatus;
    IcRetCode = 99;

    EXPECT_EQ(run_exchange(kAddr, row.cmd, {0x01}), row.code);
    EXPECT_EQ(IcRetCode, row.detail);
    EXPECT_EQ(ErrorCode, row.error_code == kKept ? kEarlierStatus : row.error_code);
}

INSTANTIATE_TEST_SUITE_P(Usb, Refused, testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Replies accepted: data handed over, the rest of the reply area zero ----

struct Acceptance {
    const char *name;
    std::uint8_t addr;
    std::uint8_t cmd;
    Action reply;
    std::uint8_t status;
    Bytes data;
};

Bytes with_trailer(Bytes frame) {
    frame.push_back(0xAA);
    return frame;
}

const Acceptance kAcceptances[] = {
    {"DoubledDataBytes", kAddr, kCmd, Action::reply(kAddr, kCmd, 0, {0x10, 0x20, 0x10}), 0, {0x10, 0x20, 0x10}},
    {"DoubledStatusByte", kAddr, kCmd, Action::reply(kAddr, kCmd, 0x10, {0x44}), 0x10, {0x44}},
    {"DeviceNumberWriteAnyReplier", kAddr, 0x06, Action::reply(0x03, 0x06, 0, {0x03}), 0, {0x03}},
    {"BroadcastRequestAnyReplier", 0xFF, kCmd, Action::reply(0x03, kCmd, 1, {}), 1, {}},
    {"BytesAfterEndPairIgnored", kAddr, kCmd,
     Action::raw(with_trailer(uhfsim::encode_reply({kAddr, kCmd, 0, {9, 8}}))), 0, {9, 8}},
};

class Accepted : public UsbTest, public testing::WithParamInterface<Acceptance> {};

TEST_P(Accepted, HandsOverTheDataAndZeroesTheRest) {
    const Acceptance &row = GetParam();
    uhfsim::UsbReader &reader = linked_reader();
    reader.script(row.reply);
    std::memset(BlkBAdrBeg, 0xEE, sizeof BlkBAdrBeg);
    IcRetCode = 99;

    ASSERT_EQ(run_exchange(row.addr, row.cmd, {}), 0);
    EXPECT_EQ(IcRetCode, 0);
    EXPECT_EQ(ErrorCode, row.status);
    ASSERT_EQ(BlkBLength, row.data.size());
    EXPECT_EQ(Bytes(BlkBAdrBeg, BlkBAdrBeg + BlkBLength), row.data);
    EXPECT_EQ(Bytes(BlkBAdrBeg + BlkBLength, BlkBAdrBeg + sizeof BlkBAdrBeg),
              Bytes(sizeof BlkBAdrBeg - BlkBLength, 0));
}

INSTANTIATE_TEST_SUITE_P(Usb, Accepted, testing::ValuesIn(kAcceptances),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The request's pieces on bulk OUT ----

struct Piecing {
    const char *name;
    Bytes data;
    std::vector<std::size_t> sizes;
};

// Data of n bytes of 0x01 after `dles` bytes of 0x10: the frame is 8 + n + dles bytes.
Bytes request_data(std::size_t n, std::size_t dles = 0) {
    Bytes d(n, 0x01);
    std::fill_n(d.begin(), dles, 0x10);
    return d;
}

const Piecing kPiecings[] = {
    {"ShortFrameOnePiece", request_data(2), {10}},
    {"Frame64GetsTwoFillerBytes", request_data(56), {64, 2}},
    {"Frame70", request_data(62), {64, 6}},
    {"Frame128GetsTwoFillerBytes", request_data(120), {64, 64, 2}},
    {"DoubledPast255", request_data(255, 255), {64, 64, 64, 64, 64, 64, 64, 64, 6}},
    {"DoubledTo512GetsFiller", request_data(255, 249), {64, 64, 64, 64, 64, 64, 64, 64, 2}},
};

class Pieces : public UsbTest, public testing::WithParamInterface<Piecing> {};

TEST_P(Pieces, CarryTheWholeFrame) {
    const Piecing &row = GetParam();
    uhfsim::UsbReader &reader = linked_reader();

    ASSERT_EQ(run_exchange(kAddr, kCmd, row.data), 0);
    EXPECT_EQ(reader.piece_sizes(), row.sizes);
    Bytes sent;
    for (const Bytes &p : reader.pieces()) sent.insert(sent.end(), p.begin(), p.end());
    Bytes frame = uhfsim::encode_request(kAddr, kCmd, row.data);
    if (frame.size() % 64 == 0) frame.insert(frame.end(), {0, 0});
    EXPECT_EQ(sent, frame);
    const auto heard = reader.requests();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].data, row.data);
    const Bytes last = reader.pieces().back();
    EXPECT_EQ(BlkALength, last.size());
    EXPECT_EQ(Bytes(BlkAAdrBeg, BlkAAdrBeg + last.size()), last);
}

INSTANTIATE_TEST_SUITE_P(Usb, Pieces, testing::ValuesIn(kPiecings),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- A piece that does not go out whole fails the exchange with 1 ----

struct SendFailure {
    const char *name;
    std::vector<UrbFault> faults;  // for the pieces in order
};

const SendFailure kSendFailures[] = {
    {"FirstPieceStalls", {UrbFault::stall}},
    {"SecondPieceProtocolError", {UrbFault::none, UrbFault::error}},
    {"SecondPieceShort", {UrbFault::none, UrbFault::short_out}},
    {"FirstPieceRejected", {UrbFault::rejected}},
};

class SendFails : public UsbTest, public testing::WithParamInterface<SendFailure> {};

TEST_P(SendFails, WithCode1AndNoReplyAwaited) {
    uhfsim::UsbReader &reader = linked_reader();
    for (UrbFault f : GetParam().faults) reader.fail_next_out(f);
    const int reads = reader.counters().in_transfers;
    IcRetCode = 99;

    EXPECT_EQ(run_exchange(kAddr, kCmd, request_data(100)), 1);
    EXPECT_EQ(IcRetCode, 0);
    EXPECT_EQ(reader.counters().in_transfers, reads);
}

INSTANTIATE_TEST_SUITE_P(Usb, SendFails, testing::ValuesIn(kSendFailures),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- The bounds of an exchange ----

struct Wait {
    const char *name;
    std::uint8_t cmd;
    Action reply;
    bool hold_send;
    int code;
    long long min_ms;
    long long max_ms;
};

const Wait kWaits[] = {
    {"HandshakeReplyAfter100msIsLost", 0x00, Action::reply(kAddr, 0, 0).delayed(400), false, 235, 90, 390},
    {"CommandReplyAwaitedPast1s", kCmd, Action::reply(kAddr, kCmd, 0).delayed(1000), false, 0, 990, 1900},
    {"SilentReaderGivenUpAfter2s", kCmd, Action::silent(), false, 235, 1950, 3500},
    {"HeldPieceGivenUpAfter2s", kCmd, Action::reply(kAddr, kCmd, 0), true, 1, 1950, 3500},
};

class Waits : public UsbTest, public testing::WithParamInterface<Wait> {};

TEST_P(Waits, AreBounded) {
    const Wait &row = GetParam();
    uhfsim::UsbReader &reader = linked_reader();
    reader.script(row.reply);
    if (row.hold_send) reader.fail_next_out(UrbFault::held);

    int rc = -1;
    const long long ms = elapsed_ms([&] { rc = run_exchange(kAddr, row.cmd, {}); });
    EXPECT_EQ(rc, row.code);
    EXPECT_GE(ms, row.min_ms);
    EXPECT_LE(ms, row.max_ms);
}

INSTANTIATE_TEST_SUITE_P(Usb, Waits, testing::ValuesIn(kWaits),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- A reply that outlived its exchange is not taken for the next one's ----

struct Stale {
    const char *name;
    std::uint8_t cmd;
    Bytes data;
    std::vector<UrbFault> out_faults;
    Action first;  // its answer, or part of it, is still on its way when the exchange ends
    int first_code;
    std::optional<Action> after{};  // offered only once the exchange has ended, however long it took
};

// The same reader and command answer both times, so only the data tells the replies apart.
const Stale kStales[] = {
    {"LateHandshakeReply", 0x00, {}, {}, Action::silent(), 235, Action::reply(kAddr, 0x00, 0, {0xB1})},
    {"FrameAfterBadChecksum", kCmd, {}, {},
     Action::reply(kAddr, kCmd, 0, {0xB1}).bad_checksum().then(Action::reply(kAddr, kCmd, 0, {0xB1})), 243},
    {"FrameAfterOtherReplier", kCmd, {}, {},
     Action::reply(0x03, kCmd, 0, {0xB1}).then(Action::reply(kAddr, kCmd, 0, {0xB1})), 253},
    // The whole frame went out; only its filler piece failed.
    {"ReplyAfterFailedFiller", kCmd, request_data(56), {UrbFault::none, UrbFault::stall},
     Action::reply(kAddr, kCmd, 0, {0xB1}).delayed(50), 1},
};

class StaleReply : public UsbTest, public testing::WithParamInterface<Stale> {};

TEST_P(StaleReply, IsDrainedBeforeTheNextRequest) {
    const Stale &row = GetParam();
    uhfsim::UsbReader &reader = linked_reader();
    reader.script(row.first);
    for (UrbFault f : row.out_faults) reader.fail_next_out(f);

    ASSERT_EQ(run_exchange(kAddr, row.cmd, row.data), row.first_code);
    if (row.after) reader.send_now(row.after->bytes());
    ASSERT_TRUE(reader.wait_replies_due(2s));
    reader.script(Action::reply(kAddr, row.cmd, 0, {0xB2}));

    ASSERT_EQ(run_exchange(kAddr, row.cmd, {}), 0);
    ASSERT_EQ(BlkBLength, 1u);
    EXPECT_EQ(BlkBAdrBeg[0], 0xB2);
    EXPECT_EQ(reader.replies_queued(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Usb, StaleReply, testing::ValuesIn(kStales),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(UsbTest, SuccessfulExchangesReadOnlyTheirReply) {
    uhfsim::UsbReader &reader = linked_reader();
    const uhfsim::UsbCounters before = reader.counters();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(run_exchange(kAddr, kCmd, {}), 0);
    EXPECT_EQ(reader.counters().in_transfers, before.in_transfers + 3);
    EXPECT_EQ(reader.counters().discards, before.discards);
}

// ---- Without an open device nothing reaches libusb ----

enum class NoDevice { never_linked, unlinked, open_failed };

std::string name_of(NoDevice d) {
    switch (d) {
    case NoDevice::never_linked: return "NeverLinked";
    case NoDevice::unlinked: return "Unlinked";
    case NoDevice::open_failed: return "OpenFailed";
    }
    return "";
}

class WithoutDevice : public UsbTest, public testing::WithParamInterface<NoDevice> {};

TEST_P(WithoutDevice, EveryTransferFailsAtOnce) {
    uhfsim::UsbReader &reader = add_reader();
    if (GetParam() == NoDevice::unlinked) {
        ASSERT_EQ(LinkCom(kAddr, kUsbPort, 9600), 0);
        UnLinkCom();
    } else if (GetParam() == NoDevice::open_failed) {
        reader.fail_claim(EBUSY);
        ASSERT_EQ(USB_Open(), 1);
    }
    const uhfsim::UsbCounters before = reader.counters();
    USB_Flag = 1;
    IcRetCode = 99;

    EXPECT_EQ(run_exchange(kAddr, kCmd, {1, 2}), 1);
    EXPECT_EQ(IcRetCode, 0);
    EXPECT_EQ(USB_SendStr(), 1);
    EXPECT_EQ(USB_SendStr_a(), 1);
    EXPECT_EQ(USB_ReceStr(10), 0);
    EXPECT_EQ(q_usb_handle, nullptr);
    EXPECT_EQ(usb_devs, nullptr);
    EXPECT_EQ(reader.counters().out_transfers, before.out_transfers);
    EXPECT_EQ(reader.counters().in_transfers, before.in_transfers);
}

INSTANTIATE_TEST_SUITE_P(Usb, WithoutDevice,
                         testing::Values(NoDevice::never_linked, NoDevice::unlinked, NoDevice::open_failed),
                         [](const auto &info) { return name_of(info.param); });

}  // namespace
