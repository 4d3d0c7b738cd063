// Bad input through every exported command: count fields at their edges, replies whose counts
// run past what was sent, scalar arguments at the ends of int, and commands with no link.
// Caller blocks and reply buffers live on the heap at exactly the size the call may touch, so
// under AddressSanitizer one byte read or written too many stops the test.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_rows.hpp"
#include "sim/pty_reader.hpp"
#include "transport/serial.hpp"

namespace {

using namespace std::chrono_literals;
using reltest::Args;
using reltest::Counted;
using reltest::kRows;
using reltest::Out;
using reltest::Row;
using reltest::u8;
using Bytes = std::vector<u8>;

constexpr int kAddr = 0x05;

// A heap buffer of exactly n bytes (at least one, so a pointer exists), filled with `fill`.
struct Buffer {
    explicit Buffer(std::size_t n, u8 fill = 0xCC) : size(n), bytes(new u8[n ? n : 1]) {
        std::memset(bytes.get(), fill, n ? n : 1);
    }
    Bytes content() const { return Bytes(bytes.get(), bytes.get() + size); }
    std::size_t size;
    std::unique_ptr<u8[]> bytes;
};

class Linked : public testing::Test {
protected:
    // The line's own waits: every case here expects an answer, which ends the wait at once,
    // so a loaded machine that starves the simulator costs time, not a false failure.
    void SetUp() override {
        ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
        sim.clear_log();
    }
    void TearDown() override { UnLinkCom(); }
    // Whether the reader has seen `n` requests; a request refused locally never arrives, which
    // a harmless command sent after it proves.
    std::vector<uhfsim::Request> requests_after_probe() {
        EXPECT_EQ(EPC_Query_ON(kAddr), 0);
        EXPECT_TRUE(sim.wait_for_requests(1, 2s));
        auto seen = sim.requests();
        EXPECT_FALSE(seen.empty());
        if (!seen.empty()) seen.pop_back();
        return seen;
    }
    uhfsim::PtyReader sim;
};

// ---- Count fields of caller blocks ----

struct CountRule {
    std::size_t header;  // bytes before the counted part
    std::size_t at;      // where the count sits
    bool wide;           // a big-endian 16-bit count
    std::size_t (*length)(std::size_t count);
};

CountRule rule_for(Counted c) {
    switch (c) {
    case Counted::select: return {1, 0, false, [](std::size_t n) { return n; }};
    case Counted::bits: return {4, 3, false, [](std::size_t n) { return 4 + (n + 7) / 8; }};
    case Counted::words3: return {3, 2, false, [](std::size_t n) { return 3 + 2 * n; }};
    case Counted::words4: return {4, 3, false, [](std::size_t n) { return 4 + 2 * n; }};
    case Counted::words5: return {5, 3, true, [](std::size_t n) { return 5 + 2 * n; }};
    case Counted::custom: return {5, 0, true, [](std::size_t n) { return 5 + (n + 7) / 8; }};
    case Counted::prefixed: return {1, 0, false, [](std::size_t n) { return 1 + n; }};
    case Counted::hash: return {3, 2, false, [](std::size_t n) { return 3 + n; }};
    case Counted::cipher: return {5, 4, false, [](std::size_t n) { return 5 + n; }};
    case Counted::none: break;
    }
    return {};
}

struct CountCase {
    const Row *row;
    std::size_t count;
    std::string label;
};

// 0, the largest count that still fits 255 request bytes, one past it, and the field's maximum.
std::vector<CountCase> count_cases() {
    std::vector<CountCase> out;
    for (const Row &row : kRows) {
        if (row.counted == Counted::none) continue;
        const CountRule r = rule_for(row.counted);
        const std::size_t field_max = r.wide ? 65535 : 255;
        std::size_t largest = field_max;
        while (r.length(largest) > 255) --largest;
        std::vector<std::pair<std::size_t, const char *>> counts = {
            {0, "Zero"}, {largest, "LargestLegal"}, {largest + 1, "OnePast"}, {field_max, "FieldMax"}};
        std::vector<std::size_t> done;
        for (auto [n, label] : counts) {
            if (n > field_max || std::find(done.begin(), done.end(), n) != done.end()) continue;
            done.push_back(n);
            out.push_back({&row, n, std::string(row.name) + "_" + label});
        }
    }
    return out;
}

class CountField : public Linked, public testing::WithParamInterface<CountCase> {};

TEST_P(CountField, PlacedWholeOrRefusedBeforeSending) {
    const CountCase &c = GetParam();
    const CountRule r = rule_for(c.row->counted);
    const std::size_t length = r.length(c.count);
    const bool fits = length <= 255;
    // Over-long: only the header exists, so reading past it is caught.
    Buffer block(fits ? std::max(length, r.header) : r.header, 0x10);
    if (r.wide) {
        block.bytes[r.at] = static_cast<u8>(c.count >> 8);
        block.bytes[r.at + 1] = static_cast<u8>(c.count);
    } else {
        block.bytes[r.at] = static_cast<u8>(c.count);
    }
    const Bytes before = block.content();
    Buffer reply(256);
    Args a;
    a.addr = kAddr;
    a.block = block.bytes.get();
    a.reply = reply.bytes.get();

    IcRetCode = 0;
    const int rc = c.row->call(a);
    if (fits) {
        EXPECT_EQ(rc, 0);
        ASSERT_TRUE(sim.wait_for_requests(1, 2s));
        const auto seen = sim.requests();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].cmd, c.row->code);
        EXPECT_EQ(seen[0].data, Bytes(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(length)));
    } else {
        EXPECT_EQ(rc, 248);
        EXPECT_EQ(IcRetCode, 104);
        EXPECT_EQ(block.content(), before);  // not even the status echo
        EXPECT_TRUE(requests_after_probe().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCountedBlock, CountField, testing::ValuesIn(count_cases()),
                         [](const auto &info) { return info.param.label; });

// ---- Reply counts the reader controls ----

// The most each copy may write, whatever the reply says.
std::size_t room(const Row &row) {
    switch (row.out) {
    case Out::counted: return 256;
    case Out::self_counted: return 255;
    case Out::total:
    case Out::two_byte: return 2048;
    case Out::fixed: return row.out_size;
    case Out::echo: return 1;
    case Out::none: return 0;
    }
    return 0;
}

// What the copy writes for this reply, by the rule's own definition.
std::size_t copied(const Row &row, const Bytes &reply) {
    Bytes r = reply;
    r.resize(2048, 0);
    const std::size_t be = static_cast<std::size_t>(r[0]) << 8 | r[1];
    switch (row.out) {
    case Out::counted: return r[0] + 1u;
    case Out::self_counted: return std::max<std::size_t>(r[0], 1);
    case Out::total: return std::clamp<std::size_t>(be, 2, 2048);
    case Out::two_byte: return std::min<std::size_t>(be, 2046) + 2;
    case Out::fixed: return row.out_size;
    case Out::echo: return 1;
    case Out::none: return 0;
    }
    return 0;
}

enum class Shape { claims_more_than_sent, at_the_most, longer_than_the_rule };

Bytes reply_data(const Row &row, Shape s) {
    switch (s) {
    case Shape::claims_more_than_sent:
        return row.out == Out::fixed ? Bytes{} : Bytes{0xFF, 0xFF};
    case Shape::at_the_most: {
        Bytes d(room(row), 0x10);
        if (row.out == Out::counted) d[0] = 0xFF;
        if (row.out == Out::self_counted) d[0] = 0xFF;
        if (row.out == Out::total) d[0] = 0x08, d[1] = 0x00;
        if (row.out == Out::two_byte) d[0] = 0x07, d[1] = 0xFE;
        return d;
    }
    case Shape::longer_than_the_rule: return Bytes(2048, 0xFF);
    }
    return {};
}

struct ReplyCase {
    const Row *row;
    Shape shape;
    std::string label;
};

std::vector<ReplyCase> reply_cases() {
    std::vector<ReplyCase> out;
    const std::pair<Shape, const char *> shapes[] = {{Shape::claims_more_than_sent, "ClaimsMoreThanSent"},
                                                     {Shape::at_the_most, "AtTheMost"},
                                                     {Shape::longer_than_the_rule, "LongerThanTheRule"}};
    for (const Row &row : kRows) {
        if (row.out == Out::none || row.out == Out::echo) continue;
        for (auto [shape, label] : shapes) out.push_back({&row, shape, std::string(row.name) + "_" + label});
    }
    return out;
}

class ReplyCount : public Linked, public testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyCount, CopyStaysWithinItsRule) {
    const ReplyCase &c = GetParam();
    const Bytes data = reply_data(*c.row, c.shape);
    sim.script(uhfsim::Action::reply(kAddr, c.row->code, 0x00, data));
    // Zeroed request blocks: every count in them is 0, every request short.
    Buffer block(32, 0x00), block2(32, 0x00), reply(room(*c.row));
    Args a;
    a.addr = kAddr;
    a.block = block.bytes.get();
    a.block2 = block2.bytes.get();
    a.reply = reply.bytes.get();
    ASSERT_EQ(c.row->call(a), 0);

    const std::size_t n = copied(*c.row, data);
    ASSERT_LE(n, reply.size);
    Bytes expect = data;
    expect.resize(n, 0);  // past the data sent the reply area reads 0
    const Bytes got = reply.content();
    EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n)), expect);
    EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(n), got.end(), [](u8 b) { return b == 0xCC; }));
}

INSTANTIATE_TEST_SUITE_P(EveryCopy, ReplyCount, testing::ValuesIn(reply_cases()),
                         [](const auto &info) { return info.param.label; });

// ---- Scalar arguments at the ends of int ----

// Rows whose request starts with scalar arguments, and how many.
const std::map<std::string, int> kScalars = {
    {"Set_Baud_Rate", 1},     {"ALARM", 4},           {"WriteDeviceNo", 1},     {"Set_R2000_ON_OFF", 1},
    {"Set_CW_ON_OFF", 1},     {"Set_Active_ANT", 1},  {"EPC_Read_Tag_List", 2}, {"GB_Read_Tag_List", 2},
    {"GJB_Read_Tag_List", 2}, {"EPC_Set_Pwd", 1},     {"GB_Set_Pwd", 2},        {"GJB_Set_Pwd", 1},
    {"GB_Access_Proc", 2},    {"GJB_Access_Proc", 1}, {"GB_FD_Dual_Auth", 2},   {"GB_FD_Get_Diver_Key", 1},
    {"PSAM_POWER_ON", 2},     {"PSAM_Warm_Reset", 1}, {"FM151M_Get_RN", 0}};

struct ScalarCase {
    const Row *row;
    int value;
    std::string label;
};

std::vector<ScalarCase> scalar_cases() {
    std::vector<ScalarCase> out;
    const std::pair<int, const char *> values[] = {{INT_MIN, "IntMin"}, {INT_MAX, "IntMax"}, {-1, "MinusOne"},
                                                   {0x12345610, "LowByteDle"}};
    for (const Row &row : kRows) {
        if (!kScalars.count(row.name)) continue;
        for (auto [v, label] : values) out.push_back({&row, v, std::string(row.name) + "_" + label});
    }
    return out;
}

class Scalar : public Linked, public testing::WithParamInterface<ScalarCase> {};

TEST_P(Scalar, OnlyTheLowBitsTravel) {
    const ScalarCase &c = GetParam();
    Buffer block(32, 0x00), block2(32, 0x00), reply(2048);
    Args a;
    a.addr = c.value;
    for (int &s : a.s) s = c.value;
    a.block = block.bytes.get();
    a.block2 = block2.bytes.get();
    a.reply = reply.bytes.get();
    const u8 low = static_cast<u8>(c.value & 0xFF);
    const int rc = c.row->call(a);

    if (std::string(c.row->name) == "ALARM" && c.value > 7) {
        EXPECT_EQ(rc, 4);  // refused before sending, whatever the rest
        UnLinkCom();
        ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
        return;
    }
    EXPECT_EQ(rc, 0);
    ASSERT_TRUE(sim.wait_for_requests(1, 2s));
    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].addr, low);
    Bytes lead;
    if (std::string(c.row->name) == "FM151M_Get_RN")
        lead = {static_cast<u8>((c.value >> 8) & 0xFF), low};
    else
        lead.assign(static_cast<std::size_t>(kScalars.at(c.row->name)), low);
    ASSERT_GE(seen[0].data.size(), lead.size());
    EXPECT_EQ(Bytes(seen[0].data.begin(), seen[0].data.begin() + static_cast<std::ptrdiff_t>(lead.size())), lead);
}

INSTANTIATE_TEST_SUITE_P(EveryScalar, Scalar, testing::ValuesIn(scalar_cases()),
                         [](const auto &info) { return info.param.label; });

// ---- No link ----

// Every command with no transport open fails at once with a non-zero code, touches only the
// bytes its row clears beforehand, and neither writes to nor reads from any descriptor: the
// one the last port had is now a socket whose other end would see it.
class Unlinked : public testing::TestWithParam<Row> {};

// Request blocks whose every count field is small (0x01 throughout), so each call reads no
// more of them than they hold.
constexpr std::size_t kBlock = 64;
constexpr u8 kBlockFill = 0x01;

void expect_untouched_failure(const Row &row) {
    Buffer block(kBlock, kBlockFill), block2(kBlock, kBlockFill), reply(2048);
    Args a;
    a.addr = kAddr;
    for (int &s : a.s) s = 1;
    a.block = block.bytes.get();
    a.block2 = block2.bytes.get();
    a.reply = reply.bytes.get();
    const int rc = row.call(a);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(block.content(), Bytes(kBlock, kBlockFill));
    EXPECT_EQ(block2.content(), Bytes(kBlock, kBlockFill));
    Bytes expect(2048, 0xCC);
    std::fill_n(expect.begin(), row.cleared, 0);
    EXPECT_EQ(reply.content(), expect);
}

TEST_P(Unlinked, AfterUnLinkComFailsTouchingNothing) {
    uhfsim::PtyReader sim;
    ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
    const int old_fd = idComDev;
    ASSERT_EQ(UnLinkCom(), 0);
    sim.clear_log();
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    // Make the closed port's number a live descriptor, with one byte waiting to be stolen.
    if (pair[0] != old_fd) {
        ASSERT_EQ(dup2(pair[0], old_fd), old_fd);
        close(pair[0]);
        pair[0] = old_fd;
    }
    ASSERT_EQ(write(pair[1], "x", 1), 1);

    expect_untouched_failure(GetParam());
    char buf[8];
    EXPECT_EQ(read(pair[1], buf, sizeof buf), -1) << "the library wrote to a descriptor it had closed";
    EXPECT_EQ(read(pair[0], buf, sizeof buf), 1) << "the library read from a descriptor it had closed";
    close(pair[0]);
    close(pair[1]);
    EXPECT_TRUE(sim.requests().empty());
}

TEST_P(Unlinked, UsbFlagWithoutADeviceFails) {
    USB_Flag = 1;
    expect_untouched_failure(GetParam());
    USB_Flag = 0;
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, Unlinked, testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// Before any link idComDev is 0, which is standard input: nothing may be read from it.
// Meaningful only as the process's first link-related act, as CTest runs it.
TEST(BeforeAnyLink, CommandsLeaveStandardInputAlone) {
    if (idComDev != 0 || uhf::serial::port_open()) GTEST_SKIP() << "a port was opened earlier in this process";
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    const int saved = dup(0);
    ASSERT_EQ(dup2(pair[0], 0), 0);
    ASSERT_EQ(write(pair[1], "x", 1), 1);
    int failures = 0;
    for (const Row &row : kRows) {
        Buffer block(kBlock, kBlockFill), block2(kBlock, kBlockFill), reply(2048);
        Args a{kAddr, {1, 1, 1, 1}, block.bytes.get(), block2.bytes.get(), reply.bytes.get()};
        if (row.call(a) == 0) ++failures;
    }
    char buf[8];
    const ssize_t written = read(pair[1], buf, sizeof buf);
    const ssize_t left = read(0, buf, sizeof buf);
    dup2(saved, 0);
    close(saved);
    close(pair[0]);
    close(pair[1]);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(written, -1);
    EXPECT_EQ(left, 1);
}

}  // namespace
