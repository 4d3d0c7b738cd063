// uhf_cancel on stream links (a pseudo-terminal and TCP on loopback): a reader that does not
// answer holds an exchange for the link's long reply wait, and a cancel from another thread or a
// signal handler ends it at once; the link then works as before. Built under ThreadSanitizer
// as well.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link_support.hpp"
#include "stream_sim.hpp"

namespace {

using namespace uhftest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Long enough that an exchange ended by anything but the cancel fails the bounds below.
constexpr int kLongReplyWaitMs = 10000;
// Generous against the 10 ms the library promises: the machine may be loaded, or sanitized.
constexpr auto kCancelBound = 1000ms;
constexpr int kCommand = 0x42;

// One simulated reader and one link to it, over the transport the test is for.
class StreamCancel : public testing::TestWithParam<Stream> {
protected:
    void SetUp() override {
        stream_ = std::make_unique<StreamSim>(GetParam());
        options_.reply_timeout_ms = kLongReplyWaitMs;
        link = open_link(stream_->device(), kAddr, &options_);
        ASSERT_TRUE(link);
        sim().clear_log();
    }

    uhfsim::detail::StreamReader &sim() { return stream_->reader(); }

    int exchange() { return uhf_exchange(link.get(), kAddr, kCommand, nullptr, 0, nullptr, 0, nullptr); }

    // The next exchange is answered and succeeds: the cancel left the link usable, and the
    // reply it abandoned is not taken for the new one's.
    void expect_link_usable() {
        sim().script(uhfsim::Action::reply(kAddr, 0x05, 0, {9}));
        unsigned char reply[4] = {};
        int len = 0;
        EXPECT_EQ(uhf_exchange(link.get(), kAddr, 0x05, nullptr, 0, reply, 4, &len), 0);
        EXPECT_EQ(len, 1);
        EXPECT_EQ(reply[0], 9);
    }

    std::unique_ptr<StreamSim> stream_;
    uhf_options options_{};
    LinkPtr link;
};

TEST_P(StreamCancel, CancelFromAnotherThreadEndsTheReplyWait) {
    sim().script(uhfsim::Action::silent());
    Clock::time_point cancelled_at{};
    std::thread canceller([&] {
        ASSERT_TRUE(sim().wait_for_requests(1, 5s));
        cancelled_at = Clock::now();
        EXPECT_EQ(uhf_cancel(link.get()), 0);
    });
    const auto start = Clock::now();
    const int rc = exchange();
    const auto returned = Clock::now();
    canceller.join();
    EXPECT_EQ(rc, UHF_ERR_CANCELLED) << uhf_strerror(rc, 0);
    EXPECT_EQ(uhf_detail(link.get()), 0);
    EXPECT_LT(returned - cancelled_at, kCancelBound);
    EXPECT_LT(returned - start, std::chrono::milliseconds(kLongReplyWaitMs / 2));
    expect_link_usable();
}

TEST_P(StreamCancel, CancelMidReplyAbandonsTheRestAndTheNextExchangeDiscardsIt) {
    // The first bytes of a reply come at once, the rest seconds later: the cancel lands mid-frame
    // (or just before it).
    sim().script(uhfsim::Action::reply(kAddr, kCommand, 0, {1, 2, 3, 4, 5, 6, 7, 8}).chunked(6, 1500));
    std::thread canceller([&] {
        ASSERT_TRUE(sim().wait_for_requests(1, 5s));
        std::this_thread::yield();
        uhf_cancel(link.get());
    });
    const auto start = Clock::now();
    const int rc = exchange();
    canceller.join();
    EXPECT_EQ(rc, UHF_ERR_CANCELLED);
    EXPECT_LT(Clock::now() - start, 1400ms) << "the exchange waited for the rest of the reply";
    // The abandoned reply's rest has arrived by the next request, which must not take it.
    ASSERT_TRUE(sim().wait_idle(10s));
    expect_link_usable();
}

std::atomic<uhf_link *> g_signal_link{nullptr};
extern "C" void cancel_on_signal(int) { uhf_cancel(g_signal_link.load()); }

TEST_P(StreamCancel, CancelFromASignalHandlerEndsTheReplyWait) {
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = cancel_on_signal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &sa, &old), 0);
    g_signal_link = link.get();
    sim().script(uhfsim::Action::silent());
    const pthread_t waiter = pthread_self();
    Clock::time_point signalled_at{};
    std::thread signaller([&] {
        ASSERT_TRUE(sim().wait_for_requests(1, 5s));
        signalled_at = Clock::now();
        pthread_kill(waiter, SIGUSR2);
    });
    const int rc = exchange();
    const auto returned = Clock::now();
    signaller.join();
    sigaction(SIGUSR2, &old, nullptr);
    g_signal_link = nullptr;
    EXPECT_EQ(rc, UHF_ERR_CANCELLED);
    EXPECT_LT(returned - signalled_at, kCancelBound);
    expect_link_usable();
}

TEST_P(StreamCancel, CancelWhileNothingWaitsEndsTheNextExchangeBeforeItSendsAndOnlyThatOne) {
    // Several cancels before one exchange count as one.
    EXPECT_EQ(uhf_cancel(link.get()), 0);
    EXPECT_EQ(uhf_cancel(link.get()), 0);
    const auto start = Clock::now();
    EXPECT_EQ(exchange(), UHF_ERR_CANCELLED);
    EXPECT_LT(Clock::now() - start, kCancelBound);
    EXPECT_TRUE(sim().requests().empty()) << "a cancelled exchange sent its request";
    expect_link_usable();
}

TEST_P(StreamCancel, ReconnectHonoursACancelBeforeItAndDuringItsHandshakes) {
    // Raised before: the link is left as it was.
    uhf_cancel(link.get());
    EXPECT_EQ(uhf_reconnect(link.get()), UHF_ERR_CANCELLED);
    expect_link_usable();

    // During the handshakes of a reader that has gone quiet.
    sim().set_handler([](const uhfsim::Request &) { return uhfsim::Action::silent(); });
    sim().clear_log();
    std::thread canceller([&] {
        ASSERT_TRUE(sim().wait_for_requests(1, 5s));
        uhf_cancel(link.get());
    });
    const auto start = Clock::now();
    EXPECT_EQ(uhf_reconnect(link.get()), UHF_ERR_CANCELLED);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kLongReplyWaitMs / 2));
    canceller.join();
    EXPECT_EQ(sim().requests().size(), 1u) << "a cancelled handshake was tried again";

    sim().set_handler(uhfsim::ScriptedReader::default_reply);
    EXPECT_EQ(uhf_reconnect(link.get()), 0);
    expect_link_usable();
}

// A loop that checks its stop flag, then exchanges: a stop that sets the flag and then cancels
// ends it promptly wherever in the loop it lands, because a cancel is never lost.
TEST_P(StreamCancel, StopFlagThenCancelNeverMissesTheLoop) {
    sim().set_handler([](const uhfsim::Request &r) { return uhfsim::Action::reply(r.addr, r.cmd, 0, {}).delayed(2); });
    for (int round = 0; round < 30; ++round) {
        std::atomic<bool> stop{false};
        std::atomic<int> exchanges{0};
        std::thread loop([&] {
            while (!stop.load()) {
                exchange();
                exchanges.fetch_add(1);
            }
        });
        // Land the stop at a different point of the loop each round.
        while (exchanges.load() < 1 + round % 3) std::this_thread::yield();
        const auto at = Clock::now();
        stop = true;
        uhf_cancel(link.get());
        loop.join();
        EXPECT_LT(Clock::now() - at, kCancelBound) << "round " << round;
    }
}

// A loopback listener whose backlog is full: a connect to it waits, as to a host that does not
// answer, until its bound.
class CrowdedListener {
public:
    explicit CrowdedListener(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(fd_, 0) == 0;
        for (int i = 0; i < 3 && bound_; ++i) {
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a);
            waiting_.push_back(c);
        }
    }
    ~CrowdedListener() {
        for (const int c : waiting_) ::close(c);
        ::close(fd_);
    }
    bool bound() const { return bound_; }

private:
    int fd_ = -1;
    bool bound_ = false;
    std::vector<int> waiting_;
};

// The system call a thread of this process is blocked in, -1 when it is running.
long blocked_in(long tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string first;
    in >> first;
    return first == "running" || first.empty() ? -1 : std::stol(first);
}

TEST(TcpConnectCancel, CancelEndsTheConnectionWaitOfAReconnect) {
    uhfsim::TcpReader reader;
    uhf_options o{};
    o.connect_timeout_ms = kLongReplyWaitMs;
    LinkPtr link = open_link("tcp:" + reader.address(), kAddr, &o);
    ASSERT_TRUE(link);
    const std::uint16_t port = reader.port();
    reader.stop_listening();
    ASSERT_TRUE(reader.close_client());
    int rc = 0;
    {
        CrowdedListener crowded(port);
        ASSERT_TRUE(crowded.bound());
        std::atomic<long> tid{0};
        Clock::time_point returned{};
        std::thread reconnecting([&] {
            tid = ::syscall(SYS_gettid);
            rc = uhf_reconnect(link.get());
            returned = Clock::now();
        });
        // Cancel once the thread waits in poll() for the connection, not before it began.
        const auto deadline = Clock::now() + 5s;
        while ((tid.load() == 0 || blocked_in(tid.load()) != SYS_poll) && Clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_LT(Clock::now(), deadline) << "the reconnect never waited for its connection";
        const auto cancelled_at = Clock::now();
        uhf_cancel(link.get());
        reconnecting.join();
        EXPECT_EQ(rc, UHF_ERR_CANCELLED) << uhf_strerror(rc, 0);
        EXPECT_LT(returned - cancelled_at, kCancelBound);
    }
    reader.listen_again();
    EXPECT_EQ(uhf_reconnect(link.get()), 0);
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 0x05, nullptr, 0, nullptr, 0, nullptr), 0);
}

TEST(Cancel, NullLinkIsClosedAndTheCodeHasWords) {
    EXPECT_EQ(uhf_cancel(nullptr), UHF_ERR_CLOSED);
    EXPECT_NE(std::string(uhf_strerror(UHF_ERR_CANCELLED, 0)).find("uhf_cancel"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Transports, StreamCancel, testing::Values(Stream::serial, Stream::tcp),
                         [](const auto &info) { return stream_name(info.param); });

}  // namespace
