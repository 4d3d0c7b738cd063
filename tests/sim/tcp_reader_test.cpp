// TcpReader: the reader behind a network serial server, driven by a plain socket host.
#include "sim/tcp_reader.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <optional>
#include <system_error>
#include <thread>

#include "serve_cases.hpp"
#include "sim_test_util.hpp"

namespace {

using namespace std::chrono_literals;
using simtest::bytes;
using simtest::kReply;
using simtest::kRequest;
using simtest::ServeCase;
using uhfsim::Action;
using uhfsim::TcpReader;
using Clock = std::chrono::steady_clock;

// A host on a plain socket.
class Client {
public:
    // Connects to 127.0.0.1:port; error() holds errno when that failed.
    explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) error_ = errno;
    }
    ~Client() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool ok() const { return fd_ >= 0 && error_ == 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }

    void write_all(const std::vector<std::uint8_t>& b) {
        ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size()));
    }

    // Reads until n bytes came, the stream ended or failed, or the time is up. end() then says
    // how it ended: 0 still open, -1 end of stream, or the errno of the failed read.
    std::vector<std::uint8_t> read(std::size_t n, std::chrono::milliseconds within) {
        std::vector<std::uint8_t> got;
        const auto deadline = Clock::now() + within;
        end_ = 0;
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r > 0) {
                got.insert(got.end(), buf, buf + r);
            } else {
                end_ = r == 0 ? -1 : errno;
                break;
            }
        }
        return got;
    }
    int end() const { return end_; }

private:
    int fd_;
    int error_ = 0;
    int end_ = 0;
};

class TcpServe : public testing::TestWithParam<ServeCase> {};

TEST_P(TcpServe, AnswersRequestWithScriptedBytes) {
    TcpReader reader;
    simtest::prepare(reader, GetParam());
    Client host(reader.port());
    ASSERT_TRUE(host.ok()) << std::strerror(host.error());
    simtest::expect_served(reader, host, GetParam());
    EXPECT_EQ(reader.connections(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Actions, TcpServe, testing::ValuesIn(simtest::serve_cases()), simtest::serve_case_name);

TEST(TcpReader, ListensOnAFreeLoopbackPortByDefault) {
    TcpReader reader;
    EXPECT_EQ(reader.host(), "127.0.0.1");
    EXPECT_NE(reader.port(), 0);
    EXPECT_EQ(reader.address(), "127.0.0.1:" + std::to_string(reader.port()));
    EXPECT_TRUE(reader.listening());
    EXPECT_FALSE(reader.connected());
    EXPECT_EQ(reader.connections(), 0u);
}

TEST(TcpReader, ListensOnTheGivenPort) {
    std::uint16_t port = 0;
    {
        TcpReader probe;  // a port that was free a moment ago
        port = probe.port();
    }
    TcpReader reader(port);
    EXPECT_EQ(reader.port(), port);
    Client host(port);
    ASSERT_TRUE(host.ok());
    host.write_all(kRequest);
    EXPECT_EQ(host.read(kReply.size(), 2s), kReply);
}

TEST(TcpReader, TakenPortOrBadAddressThrows) {
    TcpReader first;
    EXPECT_THROW(TcpReader(first.port()), std::system_error);
    EXPECT_THROW(TcpReader(0, "not-an-address"), std::system_error);
}

TEST(TcpReader, ServesIpv6LoopbackWhereThereIsOne) {
    std::optional<TcpReader> reader;
    try {
        reader.emplace(0, "::1");
    } catch (const std::system_error& e) {
        GTEST_SKIP() << "no IPv6 loopback: " << e.what();
    }
    EXPECT_EQ(reader->address(), "[::1]:" + std::to_string(reader->port()));
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(reader->port());
    sa.sin6_addr = in6addr_loopback;
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL), static_cast<ssize_t>(kRequest.size()));
    EXPECT_TRUE(reader->wait_for_requests(1, 2s));
    ::close(fd);
}

// A stream, not datagrams: a request split over several writes, and two requests in one.
TEST(TcpReader, RequestSplitOverSeveralReadsIsAnswered) {
    TcpReader reader;
    Client host(reader.port());
    ASSERT_TRUE(host.ok());
    for (std::size_t i = 0; i < kRequest.size(); i += 3) {
        host.write_all(std::vector<std::uint8_t>(kRequest.begin() + static_cast<long>(i),
                                                 kRequest.begin() + static_cast<long>(std::min(i + 3, kRequest.size()))));
        std::this_thread::sleep_for(30ms);
    }
    EXPECT_EQ(host.read(kReply.size(), 2s), kReply);
    auto two = kRequest;
    two.insert(two.end(), kRequest.begin(), kRequest.end());
    host.write_all(two);
    auto replies = kReply;
    replies.insert(replies.end(), kReply.begin(), kReply.end());
    EXPECT_EQ(host.read(replies.size(), 2s), replies);
    EXPECT_EQ(reader.requests().size(), 3u);
    EXPECT_TRUE(reader.malformed().empty());
}

TEST(TcpReader, SecondClientIsClosedAtOnceAndTheFirstServedOn) {
    TcpReader reader;
    Client first(reader.port());
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(reader.wait_for_connections(1, 2s));

    Client second(reader.port());  // the kernel accepts; the reader closes it at once
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second.read(1, 2s).empty());
    EXPECT_EQ(second.end(), -1) << "end of stream";
    EXPECT_EQ(reader.refused(), 1u);
    EXPECT_EQ(reader.connections(), 1u);

    first.write_all(kRequest);
    EXPECT_EQ(first.read(kReply.size(), 2s), kReply);
    EXPECT_TRUE(reader.connected());
}

TEST(TcpReader, NextClientIsServedAfterOneLeaves) {
    TcpReader reader;
    {
        Client host(reader.port());
        host.write_all(kRequest);
        EXPECT_EQ(host.read(kReply.size(), 2s), kReply);
    }
    ASSERT_TRUE(reader.wait_disconnected(2s));
    Client again(reader.port());
    again.write_all(kRequest);
    EXPECT_EQ(again.read(kReply.size(), 2s), kReply);
    EXPECT_EQ(reader.connections(), 2u);
    EXPECT_EQ(reader.refused(), 0u);
}

// A host gone mid-request or mid-reply leaves nothing behind for the next one.
TEST(TcpReader, NextClientGetsNothingMeantForTheLastOne) {
    TcpReader reader;
    reader.script(Action::reply(5, 2, 1).delayed(300));
    {
        Client host(reader.port());
        host.write_all(kRequest);
        ASSERT_TRUE(reader.wait_for_requests(1, 2s));
        host.write_all(bytes("10 01 05"));  // half a request, then gone
    }
    ASSERT_TRUE(reader.wait_disconnected(2s));
    EXPECT_TRUE(reader.wait_idle(2s));
    Client again(reader.port());
    again.write_all(kRequest);
    EXPECT_EQ(again.read(kReply.size() + 1, 1s), kReply) << "only the answer to its own request";
    EXPECT_TRUE(reader.malformed().empty());
}

TEST(TcpReader, ResetClientMidReplyGivesTheHostAReset) {
    TcpReader reader;
    reader.script(Action::reply(5, 2, 0).chunked(4, 2000));
    Client host(reader.port());
    host.write_all(kRequest);
    EXPECT_EQ(host.read(4, 2s), bytes("10 01 05 02"));
    EXPECT_TRUE(reader.reset_client());
    const auto rest = host.read(6, 2s);
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(host.end(), ECONNRESET);
    EXPECT_FALSE(reader.connected());
    EXPECT_FALSE(reader.reset_client()) << "nobody left to reset";
    EXPECT_TRUE(reader.wait_idle(1s));

    Client again(reader.port());
    again.write_all(kRequest);
    EXPECT_EQ(again.read(kReply.size(), 2s), kReply);
}

// A handler may drop the connection itself, as a serial server does on a dying line.
TEST(TcpReader, HandlerCanResetTheClientItIsAnswering) {
    TcpReader reader;
    reader.set_handler([&](const uhfsim::Request& req) {
        if (req.cmd == 2) reader.reset_client();
        return Action::reply(req.addr, req.cmd, 0);
    });
    Client host(reader.port());
    host.write_all(kRequest);
    EXPECT_TRUE(host.read(kReply.size(), 2s).empty());
    EXPECT_EQ(host.end(), ECONNRESET);
    Client again(reader.port());
    again.write_all(uhfsim::encode_request(5, 3));
    EXPECT_EQ(again.read(10, 2s), uhfsim::encode_reply({5, 3, 0, {}}));
}

TEST(TcpReader, CloseClientEndsTheStreamInOrder) {
    TcpReader reader;
    Client host(reader.port());
    ASSERT_TRUE(reader.wait_for_connections(1, 2s));
    EXPECT_TRUE(reader.close_client());
    EXPECT_TRUE(host.read(1, 2s).empty());
    EXPECT_EQ(host.end(), -1);
}

TEST(TcpReader, StoppedListenerRefusesUntilListeningAgain) {
    TcpReader reader;
    const std::uint16_t port = reader.port();
    Client kept(port);
    ASSERT_TRUE(reader.wait_for_connections(1, 2s));
    reader.stop_listening();
    EXPECT_FALSE(reader.listening());
    {
        Client refused(port);
        EXPECT_EQ(refused.error(), ECONNREFUSED);
    }
    kept.write_all(kRequest);
    EXPECT_EQ(kept.read(kReply.size(), 2s), kReply) << "the connected client stays";
    kept.close();
    ASSERT_TRUE(reader.wait_disconnected(2s));

    reader.listen_again();
    EXPECT_TRUE(reader.listening());
    EXPECT_EQ(reader.port(), port);
    Client back(port);
    ASSERT_TRUE(back.ok());
    back.write_all(kRequest);
    EXPECT_EQ(back.read(kReply.size(), 2s), kReply);
    EXPECT_EQ(reader.connections(), 2u);
}

TEST(TcpReader, SendNowWaitsForAClient) {
    TcpReader reader;
    reader.send_now({0xEE, 0xEF});
    EXPECT_FALSE(reader.wait_idle(100ms));
    Client host(reader.port());
    EXPECT_EQ(host.read(2, 2s), bytes("EE EF"));
    EXPECT_TRUE(reader.wait_idle(1s));
}

TEST(TcpReader, SendNowGoesAheadOfDelayedReply) {
    TcpReader reader;
    Client host(reader.port());
    simtest::expect_send_now_goes_first(reader, host);
}

TEST(TcpReader, ReportsMalformedFramesAndGoesOn) {
    TcpReader reader;
    Client host(reader.port());
    host.write_all(bytes("AA 10 01 05 02 00 06 10 02"));
    host.write_all(kRequest);
    EXPECT_EQ(host.read(kReply.size(), 2s), kReply);
    EXPECT_EQ(reader.malformed(), (std::vector<std::string>{"garbage before start pair", "bad checksum"}));
}

TEST(TcpReader, StopIsPromptWithAClientAndALongDelay) {
    TcpReader reader;
    Client host(reader.port());
    simtest::expect_prompt_stop(reader, host);
    EXPECT_TRUE(host.read(1, 2s).empty());
    EXPECT_EQ(host.end(), -1) << "the client is closed with the reader";
    Client late(reader.port());
    EXPECT_EQ(late.error(), ECONNREFUSED);
}

// A reset the host caused (it closes with unread data, or resets) does not stop the service.
TEST(TcpReader, HostResetDoesNotKillTheServer) {
    TcpReader reader;
    reader.script(Action::raw(std::vector<std::uint8_t>(200'000, 0x55)));  // more than fits in buffers
    {
        Client host(reader.port());
        host.write_all(kRequest);
        ASSERT_TRUE(reader.wait_for_requests(1, 2s));
        const linger hard{1, 0};
        ::setsockopt(host.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ASSERT_TRUE(reader.wait_disconnected(2s));
    EXPECT_TRUE(reader.wait_idle(2s));
    Client again(reader.port());
    again.write_all(kRequest);
    EXPECT_EQ(again.read(kReply.size(), 2s), kReply);
}

}  // namespace
