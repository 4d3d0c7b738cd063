#include "sim/pty_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "sim_test_util.hpp"

namespace {

using namespace std::chrono_literals;
using simtest::bytes;
using uhfsim::Action;
using uhfsim::PtyReader;
using Clock = std::chrono::steady_clock;

// The host's end, opened the way the library opens a serial node.
class Host {
public:
    explicit Host(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Host() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    void write_all(const std::vector<std::uint8_t>& b) {
        ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }

    // Reads until n bytes arrived or the time is up.
    std::vector<std::uint8_t> read(std::size_t n, std::chrono::milliseconds within) {
        std::vector<std::uint8_t> got;
        const auto deadline = Clock::now() + within;
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

private:
    int fd_;
};

const auto kRequest = bytes("10 01 05 02 00 07 10 02");
const auto kReply = bytes("10 01 05 02 00 00 00 07 10 02");

struct ServeCase {
    const char* name;
    Action scripted;  // empty: the default handler answers
    unsigned baud;
    std::vector<std::uint8_t> expected;
    std::chrono::milliseconds at_least;
};

class PtyServe : public testing::TestWithParam<ServeCase> {};

TEST_P(PtyServe, AnswersRequestWithScriptedBytes) {
    const auto& c = GetParam();
    PtyReader reader;
    if (!c.scripted.empty()) reader.script(c.scripted);
    reader.set_baud(c.baud);
    Host host(reader.path());
    ASSERT_TRUE(host.ok());

    const auto start = Clock::now();
    host.write_all(kRequest);
    EXPECT_EQ(host.read(c.expected.size(), 5s), c.expected);
    EXPECT_GE(Clock::now() - start, c.at_least);

    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    const auto reqs = reader.requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].wire, kRequest);
    EXPECT_TRUE(reader.malformed().empty());
    EXPECT_TRUE(reader.wait_idle(2s));
}

INSTANTIATE_TEST_SUITE_P(
    Actions, PtyServe,
    testing::Values(
        ServeCase{"DefaultHandler", Action::silent(), 0, kReply, 0ms},
        ServeCase{"Delayed", Action::reply(5, 2, 0).delayed(300), 0, kReply, 250ms},
        ServeCase{"ChunkedWithGaps", Action::reply(5, 2, 0).chunked(3, 60), 0, kReply, 150ms},
        ServeCase{"LateSecondFrame", Action::reply(5, 2, 0).then(Action::reply(5, 2, 1).delayed(200)), 0,
                  bytes("10 01 05 02 00 00 00 07 10 02 10 01 05 02 01 00 00 06 10 02"), 150ms},
        // 100 data bytes at 9600 baud need about 115 ms on the line.
        ServeCase{"PacedByBaud", Action::raw(std::vector<std::uint8_t>(110, 0x55)), 9600,
                  std::vector<std::uint8_t>(110, 0x55), 80ms}),
    [](const auto& info) { return std::string(info.param.name); });

// The host closing and reopening the node, as it does between links, must not end the service.
TEST(PtyReaderLife, ServesAcrossReopenAndReportsMalformed) {
    PtyReader reader;
    {
        Host host(reader.path());
        host.write_all(kRequest);
        EXPECT_EQ(host.read(kReply.size(), 2s), kReply);
    }
    Host again(reader.path());
    again.write_all(bytes("AA 10 01 05 02 00 06 10 02"));
    again.write_all(kRequest);
    EXPECT_EQ(again.read(kReply.size(), 2s), kReply);
    ASSERT_TRUE(reader.wait_for_requests(2, 2s));
    EXPECT_EQ(reader.malformed(), (std::vector<std::string>{"garbage before start pair", "bad checksum"}));
}

TEST(PtyReaderLife, ScriptsComeBeforeHandlerAndThrowingHandlerIsReported) {
    PtyReader reader;
    reader.set_handler([](const uhfsim::Request& req) {
        if (req.data.empty()) throw std::runtime_error("no data");
        return Action::reply(req.addr, req.cmd, 7, req.data);
    });
    reader.script(Action::reply(5, 2, 1));
    Host host(reader.path());
    const auto with_data = uhfsim::encode_request(5, 2, bytes("10 AA"));

    host.write_all(with_data);
    EXPECT_EQ(host.read(10, 2s), uhfsim::encode_reply({5, 2, 1, {}}));
    host.write_all(with_data);
    const auto echoed = uhfsim::encode_reply({5, 2, 7, bytes("10 AA")});
    EXPECT_EQ(host.read(echoed.size(), 2s), echoed);
    host.write_all(kRequest);
    ASSERT_TRUE(reader.wait_for_requests(3, 2s));
    EXPECT_TRUE(reader.wait_idle(2s));
    EXPECT_EQ(reader.malformed(), (std::vector<std::string>{"handler failed: no data"}));
    EXPECT_EQ(reader.scripts_left(), 0u);
}

TEST(PtyReaderLife, StopIsPromptDuringLongDelay) {
    PtyReader reader;
    reader.script(Action::reply(5, 2, 0).delayed(60'000));
    Host host(reader.path());
    host.write_all(kRequest);
    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    const auto start = Clock::now();
    reader.stop();
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(PtyReaderLife, SendNowGoesAheadOfDelayedReply) {
    PtyReader reader;
    reader.script(Action::reply(5, 2, 0).delayed(400));
    Host host(reader.path());
    host.write_all(kRequest);
    ASSERT_TRUE(reader.wait_for_requests(1, 2s));
    reader.send_now({0xEE});
    auto expected = kReply;
    expected.insert(expected.begin(), 0xEE);
    EXPECT_EQ(host.read(expected.size(), 3s), expected);
}

}  // namespace
