// The harness's own faults would pass for the library's: a wrong percentile, a limit computed
// from the wrong byte count, or a reader that answers early or with other bytes would all
// shift the table without anyone noticing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "bench/pieces.hpp"
#include "bench/remote_reader.hpp"
#include "bench/table.hpp"
#include "sim/wire.hpp"

namespace uhfbench {
namespace {

struct PercentileCase {
    const char *name;
    std::vector<double> samples;
    double p;
    double expected;
};

void PrintTo(const PercentileCase &c, std::ostream *os) { *os << c.name; }

class Percentile : public testing::TestWithParam<PercentileCase> {};

TEST_P(Percentile, TakesTheNearestRank) {
    const PercentileCase &c = GetParam();
    EXPECT_DOUBLE_EQ(percentile(c.samples, c.p), c.expected);
}

std::vector<double> one_to(int n) {
    std::vector<double> v;
    for (int i = n; i >= 1; --i) v.push_back(i);  // descending: the input need not be sorted
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Percentile,
    testing::Values(PercentileCase{"none", {}, 50, 0}, PercentileCase{"one", {7}, 99, 7},
                    PercentileCase{"median_odd", {5, 1, 3}, 50, 3},
                    PercentileCase{"median_even_takes_lower", {4, 1, 3, 2}, 50, 2},
                    PercentileCase{"p99_of_few_is_max", one_to(20), 99, 20},
                    PercentileCase{"p99_of_many", one_to(1000), 99, 990},
                    PercentileCase{"p0_is_min", {3, 9, 1}, 0, 1}),
    [](const testing::TestParamInfo<PercentileCase> &i) { return std::string(i.param.name); });

struct FormatCase {
    double seconds;
    const char *text;
};

void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.text; }

class FormatTime : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTime, PicksTheLargestUnitBelowTheValue) {
    EXPECT_EQ(format_time(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, FormatTime,
                         testing::Values(FormatCase{3.9, "3.90 s"}, FormatCase{1e-3, "1.00 ms"},
                                         FormatCase{0.999e-3, "999 us"}, FormatCase{36.94e-6, "36.9 us"},
                                         FormatCase{0.46e-9, "0.46 ns"}, FormatCase{202e-3, "202 ms"}));

struct VerdictCase {
    const char *name;
    double median;
    double limit;
    double goal_ratio;
    double goal_abs;
    const char *verdict;
};

void PrintTo(const VerdictCase &c, std::ostream *os) { *os << c.name; }

class Verdict : public testing::TestWithParam<VerdictCase> {};

TEST_P(Verdict, NeedsEveryGoalOfTheRow) {
    const VerdictCase &c = GetParam();
    Row r;
    r.median = c.median;
    r.limit = c.limit;
    r.goal_ratio = c.goal_ratio;
    r.goal_abs = c.goal_abs;
    EXPECT_EQ(r.verdict(), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Verdict,
    testing::Values(VerdictCase{"no_goal", 5, 1, 0, 0, ""},
                    VerdictCase{"ratio_at_goal", 1.5, 1, 1.5, 0, "ok"},
                    VerdictCase{"ratio_over", 1.6, 1, 1.5, 0, "MISS"},
                    VerdictCase{"ratio_ok_absolute_over", 1.2e-3, 1e-3, 1.5, 1e-3, "MISS"},
                    VerdictCase{"absolute_only", 9e-3, 0, 0, 10e-3, "ok"},
                    VerdictCase{"ratio_goal_without_limit", 1, 0, 1.5, 0, "MISS"}),
    [](const testing::TestParamInfo<VerdictCase> &i) { return std::string(i.param.name); });

struct ArrivalCase {
    const char *name;
    unsigned baud;
    int latency_us;
    std::size_t request_wire;
    std::size_t index;
    long long expected_ns;
};

void PrintTo(const ArrivalCase &c, std::ostream *os) { *os << c.name; }

class PacedArrival : public testing::TestWithParam<ArrivalCase> {};

TEST_P(PacedArrival, CountsBothFramesTenBitsAByte) {
    const ArrivalCase &c = GetParam();
    ReplyPlan plan;
    plan.baud = c.baud;
    plan.latency_us = c.latency_us;
    EXPECT_EQ(paced_arrival_ns(c.request_wire, c.index, plan), c.expected_ns);
}

INSTANTIATE_TEST_SUITE_P(
    Model, PacedArrival,
    testing::Values(
        ArrivalCase{"unpaced_is_think_time", 0, 250, 300, 2000, 250'000},
        // 8 request bytes and the first reply byte: 90 bits at 9600 baud.
        ArrivalCase{"first_byte_9600", 9600, 0, 8, 0, 9'375'000},
        ArrivalCase{"latency_adds", 9600, 1000, 8, 0, 10'375'000},
        // The longest frames at the slowest rate must not overflow: 2330 bytes, 2.43 s.
        ArrivalCase{"long_frames_9600", 9600, 0, 522, 1807, 2'427'083'333},
        ArrivalCase{"byte_time_115200", 115200, 0, 0, 0, 86'805}),
    [](const testing::TestParamInfo<ArrivalCase> &i) { return std::string(i.param.name); });

long long now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

// Reads until `n` bytes came or `ms` passed without one.
std::vector<std::uint8_t> read_bytes(int fd, std::size_t n, int ms) {
    std::vector<std::uint8_t> got;
    std::uint8_t buf[4096];
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) break;
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

struct ReaderCase {
    const char *name;
    ReplyPlan plan;
    std::size_t request_data;
};

void PrintTo(const ReaderCase &c, std::ostream *os) { *os << c.name; }

class Reader : public testing::TestWithParam<ReaderCase> {};

// What the limits are computed from must be what arrives: exactly the planned frame, and for a
// paced plan never before the modelled line could have carried it.
TEST_P(Reader, SendsThePlannedFrameNoEarlierThanTheLineAllows) {
    const ReaderCase &c = GetParam();
    RemoteReader reader;
    reader.plan(c.plan);
    int fd = ::open(reader.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::vector<std::uint8_t> request = uhfsim::encode_request(0x05, 0x28, request_pattern(c.request_data));
    const std::vector<std::uint8_t> expected = c.plan.silent ? std::vector<std::uint8_t>{}
                                                             : reply_wire(0x05, 0x28, c.plan);
    const long long t0 = now_ns();
    ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    const std::vector<std::uint8_t> got = read_bytes(fd, expected.size() + 1, 300);
    const long long took = now_ns() - t0;
    ::close(fd);

    EXPECT_EQ(uhfsim::hex(got), uhfsim::hex(expected));
    if (!expected.empty()) {
        EXPECT_GE(took, paced_arrival_ns(request.size(), expected.size() - 1, c.plan));
    }
}

ReplyPlan plan_of(std::uint16_t reply, unsigned baud, int latency_us, bool silent) {
    ReplyPlan p;
    p.reply_data = reply;
    p.baud = baud;
    p.latency_us = latency_us;
    p.silent = silent;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Model, Reader,
    testing::Values(ReaderCase{"empty_reply", plan_of(0, 0, 0, false), 0},
                    ReaderCase{"full_reply_with_doubling", plan_of(2048, 0, 0, false), 255},
                    ReaderCase{"think_time", plan_of(16, 0, 20'000, false), 16},
                    ReaderCase{"paced_115200", plan_of(64, 115200, 0, false), 16},
                    ReaderCase{"paced_9600", plan_of(8, 9600, 0, false), 4},
                    ReaderCase{"silent", plan_of(64, 0, 0, true), 16}),
    [](const testing::TestParamInfo<ReaderCase> &i) { return std::string(i.param.name); });

struct LineCase {
    const char *name;
    std::string line;
    bool parses;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

class RowLine : public testing::TestWithParam<LineCase> {};

// Rows from the USB runner cross a pipe as text; a row that does not survive the trip would
// show another row's figures or none.
TEST_P(RowLine, ParsesOnlyWholeRows) {
    Row r;
    EXPECT_EQ(row_from_line(GetParam().line, r), GetParam().parses);
}

INSTANTIATE_TEST_SUITE_P(
    Text, RowLine,
    testing::Values(LineCase{"whole", "USB exchange 0/0\t600\t1e-4\t2e-4\t9e-5\t0\t0\traw\tnote", true},
                    LineCase{"empty_kind_and_note", "x\t1\t1\t1\t0\t0\t0\t\t", true},
                    LineCase{"field_missing", "x\t1\t1\t1\t0\t0\t0\traw", false},
                    LineCase{"field_extra", "x\t1\t1\t1\t0\t0\t0\traw\tnote\tmore", false},
                    LineCase{"number_with_junk", "x\t1\t1ms\t1\t0\t0\t0\traw\tnote", false},
                    LineCase{"no_name", "\t1\t1\t1\t0\t0\t0\traw\tnote", false},
                    LineCase{"empty", "", false}),
    [](const testing::TestParamInfo<LineCase> &i) { return std::string(i.param.name); });

TEST(RowLine, KeepsEveryFieldThroughTheTrip) {
    Row in;
    in.name = "USB exchange\t16/64";  // a tab in text must not shift the fields
    in.samples = 600;
    in.median = 123.456789e-6;
    in.p99 = 1.5e-3;
    in.limit = 100e-6;
    in.limit_kind = "raw libusb round trip";
    in.goal_ratio = 1.5;
    in.goal_abs = 1e-3;
    in.note = "+23 us per exchange; 24-byte frame in 1 piece";
    Row out;
    ASSERT_TRUE(row_from_line(row_to_line(in), out));
    EXPECT_EQ(out.name, "USB exchange 16/64");
    EXPECT_EQ(out.samples, in.samples);
    EXPECT_DOUBLE_EQ(out.median, in.median);
    EXPECT_DOUBLE_EQ(out.p99, in.p99);
    EXPECT_DOUBLE_EQ(out.limit, in.limit);
    EXPECT_EQ(out.limit_kind, in.limit_kind);
    EXPECT_DOUBLE_EQ(out.goal_ratio, in.goal_ratio);
    EXPECT_DOUBLE_EQ(out.goal_abs, in.goal_abs);
    EXPECT_EQ(out.note, in.note);
}

struct PieceCase {
    std::size_t frame;
    std::vector<std::size_t> pieces;
};

void PrintTo(const PieceCase &c, std::ostream *os) { *os << c.frame << "-byte frame"; }

class UsbPieces : public testing::TestWithParam<PieceCase> {};

// The raw USB client must move the same transfers as the library, or its limit is another
// exchange's.
TEST_P(UsbPieces, CutLikeTheTransport) {
    EXPECT_EQ(usb_piece_sizes(GetParam().frame), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(Cut, UsbPieces,
                         testing::Values(PieceCase{8, {8}}, PieceCase{63, {63}}, PieceCase{64, {64, 2}},
                                         PieceCase{65, {64, 1}}, PieceCase{70, {64, 6}},
                                         PieceCase{128, {64, 64, 2}}, PieceCase{209, {64, 64, 64, 17}}));

TEST(RemoteReaderPattern, CarriesDoubledBytes) {
    // Without a 0x10 among the data the doubling path would never be measured.
    const std::vector<std::uint8_t> reply = reply_pattern(2048);
    const std::vector<std::uint8_t> request = request_pattern(255);
    EXPECT_NE(std::count(reply.begin(), reply.end(), 0x10), 0);
    EXPECT_NE(std::count(request.begin(), request.end(), 0x10), 0);
}

}  // namespace
}  // namespace uhfbench
