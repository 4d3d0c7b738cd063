#include "sim/pty_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "serve_cases.hpp"
#include "sim_test_util.hpp"

namespace {

using namespace std::chrono_literals;
using simtest::bytes;
using simtest::kReply;
using simtest::kRequest;
using simtest::ServeCase;
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

class PtyServe : public testing::TestWithParam<ServeCase> {};

TEST_P(PtyServe, AnswersRequestWithScriptedBytes) {
    PtyReader reader;
    simtest::prepare(reader, GetParam());
    Host host(reader.path());
    ASSERT_TRUE(host.ok());
    simtest::expect_served(reader, host, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Actions, PtyServe, testing::ValuesIn(simtest::serve_cases()), simtest::serve_case_name);

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
    Host host(reader.path());
    simtest::expect_prompt_stop(reader, host);
}

TEST(PtyReaderLife, SendNowGoesAheadOfDelayedReply) {
    PtyReader reader;
    Host host(reader.path());
    simtest::expect_send_now_goes_first(reader, host);
}

}  // namespace
