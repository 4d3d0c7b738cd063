// The publisher against a real mosquitto broker: order, outages and retained state.
#include <gtest/gtest.h>
#include <poll.h>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "publisher.hpp"
#include "queue_test_support.hpp"

namespace {

using namespace std::chrono_literals;

uhfd::Publisher::Options options(int port) {
    uhfd::Publisher::Options o = qtest::loopback_broker(port, "publisher-test");
    o.will = {"test/gw/status", R"({"state":"offline"})"};
    return o;
}

void add_events(uhfd::DiskQueue& q, int n) {
    for (int i = 0; i < n; ++i)
        q.append("r", "test/gw/r/events",
                 [](const uhfd::DiskQueue::Sequence& s) { return R"({"seq":)" + std::to_string(s.seq) + "}"; });
}

// The sequence numbers received, duplicates (allowed by QoS 1) removed.
std::vector<std::uint64_t> sequences(const gwtest::Subscriber& s) {
    std::vector<std::uint64_t> out;
    for (const auto& m : s.on("test/gw/r/events"))
        if (out.empty() || m.body["seq"].get<std::uint64_t>() > out.back()) out.push_back(m.body["seq"].get<std::uint64_t>());
    return out;
}

std::vector<std::uint64_t> one_to(std::uint64_t n) {
    std::vector<std::uint64_t> v;
    for (std::uint64_t i = 1; i <= n; ++i) v.push_back(i);
    return v;
}

TEST(Publisher, DeliversWhatWasQueuedBeforeItStartedInOrder) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    gwtest::Subscriber sub(d, broker.port(), {"test/#"}, "sub-a");
    uhfd::DiskQueue q(d.file("q"), 1000);
    add_events(q, 200);
    uhfd::Publisher p(options(broker.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return sequences(sub).size() == 200; }, 10s)) << sequences(sub).size();
    EXPECT_EQ(sequences(sub), one_to(200));
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s));
}

TEST(Publisher, EventsOfABrokerOutageArriveAfterItInOrder) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    auto sub = std::make_unique<gwtest::Subscriber>(d, broker.port(), std::vector<std::string>{"test/#"}, "sub-b");
    uhfd::DiskQueue q(d.file("q"), 1000);
    uhfd::Publisher p(options(broker.port()), q);
    p.start();
    add_events(q, 10);
    ASSERT_TRUE(gwtest::eventually([&] { return sequences(*sub).size() == 10; }, 10s));
    ASSERT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s));
    broker.stop();
    ASSERT_TRUE(gwtest::eventually([&] { return !p.stats().connected; }, 10s));
    add_events(q, 40);  // while the broker is away: kept, whatever was tried meanwhile
    EXPECT_EQ(q.depth(), 40u);
    const auto before = sequences(*sub);
    broker.start();
    // The subscriber's persistent session takes what arrives before it is back.
    auto sub2 = std::make_unique<gwtest::Subscriber>(d, broker.port(), std::vector<std::string>{"test/#"}, "sub-b");
    ASSERT_TRUE(gwtest::eventually([&] { return sequences(*sub2).size() >= 40; }, 15s)) << sequences(*sub2).size();
    std::vector<std::uint64_t> all = before;
    for (auto s : sequences(*sub2))
        if (s > all.back()) all.push_back(s);
    EXPECT_EQ(all, one_to(50));
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s));
    EXPECT_GE(p.stats().connections, 2u);
}

TEST(Publisher, RetainedStateIsRepublishedAfterReconnecting) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    uhfd::DiskQueue q(d.file("q"), 1000);
    uhfd::Publisher p(options(broker.port()), q);
    p.set_retained("test/gw/status", R"({"state":"online","n":1})");
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connected; }, 5s));
    broker.stop();
    gwtest::fs::remove_all(d.path() / "broker");  // the broker forgets every retained message
    gwtest::fs::create_directories(d.path() / "broker");
    ::chmod((d.path() / "broker").c_str(), 0777);
    broker.start();
    ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connections >= 2; }, 10s));
    gwtest::Subscriber late(d, broker.port(), {"test/gw/status"});
    EXPECT_TRUE(gwtest::wait_message(late, "test/gw/status", [](const nlohmann::json& j) { return j.value("n", 0) == 1; }, 5s));
}

TEST(Publisher, StopPublishesTheFinalRetainedStateBeforeDisconnecting) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    uhfd::DiskQueue q(d.file("q"), 1000);
    {
        uhfd::Publisher p(options(broker.port()), q);
        p.set_retained("test/gw/status", R"({"state":"online"})");
        p.start();
        ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connected; }, 5s));
        p.set_retained("test/gw/status", R"({"state":"offline","reason":"stopped"})");
        p.stop(1s);
    }
    gwtest::Subscriber late(d, broker.port(), {"test/gw/status"});
    EXPECT_TRUE(gwtest::wait_message(late, "test/gw/status", [](const nlohmann::json& j) { return j.value("reason", "") == "stopped"; }, 5s));
}

// A listener whose accept queue is full: the kernel drops further SYNs, so a connect() to it
// blocks for the SYN retries (minutes), as to a broker host that never answers.
class FullListener {
public:
    FullListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        for (int i = 0; i < 4; ++i) {  // fill the queue; these connects may themselves hang, so non-blocking
            const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers_.push_back(c);
        }
        // The first one's connection is complete, so the accept queue (one long) is full.
        pollfd first{fillers_.front(), POLLOUT, 0};
        ::poll(&first, 1, 5000);
    }
    ~FullListener() {
        for (int c : fillers_) ::close(c);
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

TEST(Publisher, StopsInTimeThoughAConnectHangs) {
    gwtest::ScratchDir d;
    FullListener silent;
    uhfd::DiskQueue q(d.file("q"), 1000);
    uhfd::Publisher p(options(silent.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connections == 0; }, 1s));
    const auto t0 = std::chrono::steady_clock::now();
    p.stop(200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

// A broker name nobody answers for: the lookup runs on a thread of its own, and a stop does not
// wait for it.
TEST(Publisher, StopsInTimeThoughTheBrokerNameDoesNotResolve) {
    gwtest::ScratchDir d;
    uhfd::DiskQueue q(d.file("q"), 1000);
    auto o = options(1883);
    o.broker.host = "broker.invalid";
    uhfd::Publisher p(o, q);
    p.start();
    add_events(q, 3);
    const auto t0 = std::chrono::steady_clock::now();
    p.stop(200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_EQ(q.depth(), 3u);
}

}  // namespace
