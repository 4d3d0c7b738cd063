// The serial exchange end to end over a pseudo-terminal, against the simulated reader.
#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "serial_support.hpp"

namespace {

using namespace std::chrono_literals;
using uhfsim::Action;
using uhftest::Bytes;
using uhftest::run_exchange;
using uhftest::SerialLink;

// ---- What goes on the wire ----

struct WireRow {
    const char *name;
    std::uint8_t addr, cmd;
    Bytes data;
    Bytes wire;
};

class RequestWire : public SerialLink, public testing::WithParamInterface<WireRow> {};

TEST_P(RequestWire, ReaderSeesExactFrame) {
    const WireRow &r = GetParam();
    ASSERT_EQ(run_exchange(r.addr, r.cmd, r.data), 0);
    auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].wire, r.wire);
    EXPECT_TRUE(sim.malformed().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RequestWire,
    testing::Values(WireRow{"Reset", 0x05, 0x02, {}, {0x10, 0x01, 0x05, 0x02, 0x00, 0x07, 0x10, 0x02}},
                    WireRow{"Temperature", 0x05, 0x10, {}, {0x10, 0x01, 0x05, 0x10, 0x10, 0x00, 0x05, 0x10, 0x02}},
                    WireRow{"CountedBlock",
                            0x01,
                            0xF2,
                            {0x03, 0xA1, 0xB2, 0xC3},
                            {0x10, 0x01, 0x01, 0xF2, 0x04, 0x03, 0xA1, 0xB2, 0xC3, 0x24, 0x10, 0x02}}),
    [](const auto &info) { return info.param.name; });

TEST_F(SerialLink, LongestRequestOfDleBytesArrivesWhole) {
    Bytes data(255, 0x10);
    ASSERT_EQ(run_exchange(0x10, 0x10, data), 0);
    auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].data, data);
    EXPECT_EQ(qchar, 0x02);  // the last byte taken: the reply's closing byte
}

// ---- Every decode check, as the reader's faults produce it ----

struct FaultRow {
    const char *name;
    Action reply;
    int code, detail;
};

Action good() { return Action::reply(0x07, 0x28, 0x00, {0x01, 0x02}); }

class ReplyFault : public SerialLink, public testing::WithParamInterface<FaultRow> {};

TEST_P(ReplyFault, Codes) {
    IcRetCode = 77;
    sim.script(GetParam().reply);
    EXPECT_EQ(run_exchange(0x07, 0x28, {}), GetParam().code);
    EXPECT_EQ(IcRetCode, GetParam().detail);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ReplyFault,
    testing::Values(
        FaultRow{"Good", good(), 0, 0},
        FaultRow{"NoReply", Action::silent(), 234, 109},
        FaultRow{"NoiseOnly", Action::raw(Bytes(60, 0x55)), 235, 110},
        FaultRow{"NoiseThenReply", good().with_noise({0x00, 0xFF, 0x02, 0x01}), 0, 0},
        FaultRow{"StrayDleThenSilence", Action::stray_dle(), 236, 111},
        FaultRow{"WrongSecondByte", good().wrong_second_byte(), 237, 112},
        FaultRow{"CutAfterAddress", good().cut_after(3), 239, 112},
        FaultRow{"CutInData", good().cut_after(8), 241, 114},
        FaultRow{"LengthOver2048", good().length_field(0x0900), 241, 113},
        FaultRow{"BadChecksum", good().bad_checksum(), 243, 116},
        FaultRow{"BadEndFirst", good().bad_end_first(), 245, 118},
        FaultRow{"BadEndLast", good().bad_end_last(), 247, 118},
        FaultRow{"CutBeforeLastByte", good().cut_after(11), 246, 117},
        FaultRow{"OtherCommand", Action::reply(0x07, 0x29, 0, {}), 254, 0},
        FaultRow{"OtherAddress", Action::reply(0x03, 0x28, 0, {}), 253, 0},
        FaultRow{"BroadcastReplier", Action::reply(0xFF, 0x28, 0, {}), 0, 0},
        // Pieces with gaps shorter than the inter-byte wait are still one reply.
        FaultRow{"ChunkedWithGaps", good().chunked(3, 30), 0, 0},
        FaultRow{"DelayedWithinBudget", good().delayed(60), 0, 0}),
    [](const auto &info) { return info.param.name; });

TEST_F(SerialLink, ReplyFieldsAreLeftInTheState) {
    sim.script(Action::reply(0x07, 0x28, 0x10, {0xAA, 0x10, 0xBB}));
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 0);
    EXPECT_EQ(ErrorCode, 0x10);
    EXPECT_EQ(BlkBLength, 3u);
    EXPECT_EQ(Bytes(BlkBAdrBeg, BlkBAdrBeg + 3), (Bytes{0xAA, 0x10, 0xBB}));
    EXPECT_EQ(pc_id_buf, 0x07);
    EXPECT_EQ(IcCmd_buf, 0x28);
}

TEST_F(SerialLink, StatusReadBeforeALaterFailureStays) {
    sim.script(Action::reply(0x07, 0x28, 0x42, {0x01}).bad_checksum());
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 243);
    EXPECT_EQ(ErrorCode, 0x42);
}

TEST_F(SerialLink, LongestReplyIsDecoded) {
    Bytes data(2048);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    sim.script(Action::reply(0x07, 0x23, 0, data));
    ASSERT_EQ(run_exchange(0x07, 0x23, {0x01, 0x02}), 0);
    EXPECT_EQ(BlkBLength, 2048u);
    EXPECT_EQ(Bytes(BlkBAdrBeg, BlkBAdrBeg + 2048), data);
}

// ---- Poll budget: 20 attempts for the handshake, 40 otherwise; noise uses attempts ----

struct BudgetRow {
    const char *name;
    std::uint8_t cmd;
    std::size_t noise;
    int code;
};

class PollBudget : public SerialLink, public testing::WithParamInterface<BudgetRow> {};

TEST_P(PollBudget, NoiseBytesUseAttempts) {
    const BudgetRow &r = GetParam();
    // Attempts that find the line empty before the reply arrives also count; a longer wait
    // per attempt keeps those few whatever the machine's load.
    uhf::serial::timing().first_byte_poll_ms = 50;
    sim.script(Action::reply(0x07, r.cmd, 0, {}).with_noise(Bytes(r.noise, 0x55)));
    EXPECT_EQ(run_exchange(0x07, r.cmd, {}), r.code);
}

INSTANTIATE_TEST_SUITE_P(Rows, PollBudget,
                         testing::Values(BudgetRow{"HandshakeFewNoise", 0x00, 12, 0},
                                         BudgetRow{"HandshakeTooMuchNoise", 0x00, 25, 235},
                                         BudgetRow{"CommandNoiseBeyondHandshakeBudget", 0x28, 30, 0},
                                         BudgetRow{"CommandTooMuchNoise", 0x28, 45, 235}),
                         [](const auto &info) { return info.param.name; });

TEST_F(SerialLink, NoReplyCostsTheWholeBudgetOfAttempts) {
    // 20 and 40 attempts: the handshake gives up first.
    sim.script(Action::silent());
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run_exchange(0x07, 0x00, {}), 234);
    auto handshake = std::chrono::steady_clock::now() - t0;
    sim.script(Action::silent());
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run_exchange(0x07, 0x28, {}), 234);
    auto command = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(handshake, 19 * std::chrono::milliseconds(uhftest::kTestPollMs));
    EXPECT_GE(command, 39 * std::chrono::milliseconds(uhftest::kTestPollMs));
    EXPECT_EQ(TRYNUM2S, 10);
    EXPECT_EQ(TRYNUM2L, 10);
}

// ---- Mended: stale input never becomes the next request's answer ----

TEST_F(SerialLink, RestOfAFailedReplyIsDiscardedBeforeTheNextRequest) {
    // The reply fails at its checksum; its end pair stays queued until the next request.
    sim.script(good().bad_checksum());
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 243);
    ASSERT_TRUE(sim.wait_idle(1s));
    sim.script(Action::reply(0x07, 0x28, 0, {0x33}));
    EXPECT_EQ(run_exchange(0x07, 0x28, {}), 0);
    EXPECT_EQ(BlkBAdrBeg[0], 0x33);
}

TEST_F(SerialLink, LateReplyIsNotTakenForTheNextOne) {
    // The reply comes only after the exchange gave up waiting for it, however long that took.
    sim.script(Action::silent());
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 234);
    sim.send_now(Action::reply(0x07, 0x28, 0, {0x11}).bytes());
    ASSERT_TRUE(sim.wait_idle(3s));  // the late reply now sits in the input queue
    sim.script(Action::reply(0x07, 0x28, 0, {0x22}));
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 0);
    EXPECT_EQ(BlkBLength, 1u);
    EXPECT_EQ(BlkBAdrBeg[0], 0x22);
}

// ---- Mended: bytes past a reply's data read 0 ----

TEST_F(SerialLink, ShortReplyAfterLongOneLeavesZerosBehindIt) {
    sim.script(Action::reply(0x07, 0x28, 0, Bytes(300, 0xEE)));
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 0);
    sim.script(Action::reply(0x07, 0x28, 0, {0x01}));
    ASSERT_EQ(run_exchange(0x07, 0x28, {}), 0);
    EXPECT_EQ(BlkBAdrBeg[0], 0x01);
    EXPECT_EQ(Bytes(BlkBAdrBeg + 1, BlkBAdrBeg + 2048), Bytes(2047, 0));
}

// ---- Mended: no exchange without a port ----

struct NoPortRow {
    const char *name;
    void (*prepare)(const char *path);
};

class NoPort : public testing::TestWithParam<NoPortRow> {};

TEST_P(NoPort, ExchangeFailsAtOnceWith225) {
    uhfsim::PtyReader sim;
    GetParam().prepare(sim.path().c_str());
    int fds = uhftest::open_descriptors();
    IcRetCode = 0;
    EXPECT_EQ(run_exchange(0x07, 0x28, {}), 225);
    EXPECT_EQ(IcRetCode, 101);
    EXPECT_EQ(RS232_SendChar(0x10), 1);
    EXPECT_EQ(RS232_ReceChar(), 1);
    EXPECT_EQ(RS232_SendStr(BlkAAdrBeg, 4), 1);
    EXPECT_EQ(uhftest::open_descriptors(), fds);
    EXPECT_TRUE(sim.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    States, NoPort,
    testing::Values(NoPortRow{"NeverOpened", [](const char *) { RS232_UnLinkCom(); }},
                    NoPortRow{"AfterUnlink",
                              [](const char *p) {
                                  RS232_InitPort_Path(p, 9600);
                                  UnLinkCom();
                              }},
                    NoPortRow{"AfterFailedOpen",
                              [](const char *) { RS232_InitPort_Path("/nonexistent/tty", 9600); }},
                    NoPortRow{"AfterOpeningANonTerminal",
                              [](const char *) { RS232_InitPort_Path("/dev/null", 9600); }}),
    [](const auto &info) { return info.param.name; });

// ---- Mended: re-opening releases the port held ----

TEST(SerialOpen, ReopeningClosesTheHeldPort) {
    uhfsim::PtyReader sim;
    int fds = uhftest::open_descriptors();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), 9600), 0);
    EXPECT_EQ(uhftest::open_descriptors(), fds + 1);
    UnLinkCom();
    EXPECT_EQ(uhftest::open_descriptors(), fds);
}

struct SpeedRow {
    int baud;
    speed_t speed;
};

class LineSpeed : public testing::TestWithParam<SpeedRow> {};

TEST_P(LineSpeed, FromTable) {
    uhfsim::PtyReader sim;
    ASSERT_EQ(RS232_InitPort_Path(sim.path().c_str(), GetParam().baud), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(idComDev, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), GetParam().speed);
    EXPECT_EQ(cfgetispeed(&t), GetParam().speed);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    UnLinkCom();
}

INSTANTIATE_TEST_SUITE_P(Rates, LineSpeed,
                         testing::Values(SpeedRow{9600, B9600}, SpeedRow{19200, B19200},
                                         SpeedRow{38400, B38400}, SpeedRow{57600, B57600},
                                         SpeedRow{115200, B115200}, SpeedRow{4800, B9600},
                                         SpeedRow{0, B9600}),
                         [](const auto &info) { return "Baud" + std::to_string(info.param.baud); });

// ---- The byte-level functions ----

TEST_F(SerialLink, ByteFunctionsUndoAndApplyDoubling) {
    ASSERT_EQ(RS232_QSendChar(0x10), 0);
    ASSERT_EQ(RS232_QSendChar(0x1234), 0);
    EXPECT_EQ(RS232_ReceChar(), 1);  // nothing queued: a failed read
    sim.send_now({0x10, 0x10, 0x10, 0x05, 0x42});
    ASSERT_TRUE(sim.wait_idle(10s)) << "the reader did not get its bytes out";
    EXPECT_EQ(RS232_QReceChar(), 0);
    EXPECT_EQ(qchar, 0x10);
    EXPECT_EQ(RS232_QReceChar(), 1);  // 0x10 then 0x05
    EXPECT_EQ(RS232_ReceChar(), 0);
    EXPECT_EQ(qchar, 0x42);
}

}  // namespace
