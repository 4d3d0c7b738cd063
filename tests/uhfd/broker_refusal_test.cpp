// A broker that refuses one reader's events (an ACL, MQTT 5 reason 0x87): the other reader's
// events flow, the refused ones are counted and never block the queue or come back.
#include <gtest/gtest.h>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "publisher.hpp"
#include "queue_test_support.hpp"

namespace {

using namespace std::chrono_literals;

uhfd::Publisher::Options v5(int port) {
    uhfd::Publisher::Options o = qtest::loopback_broker(port, "refusal-test");
    o.broker.protocol = 5;
    return o;
}

void add_event(uhfd::DiskQueue& q, const std::string& reader) {
    q.append(reader, "test/gw/" + reader + "/events",
             [](const uhfd::DiskQueue::Sequence& s) { return R"({"seq":)" + std::to_string(s.seq) + "}"; });
}

std::size_t distinct(const gwtest::Subscriber& s, const std::string& topic) {
    std::set<std::uint64_t> seen;
    for (const auto& m : s.on(topic)) seen.insert(m.body["seq"].get<std::uint64_t>());
    return seen.size();
}

TEST(BrokerRefusal, RefusedEventsAreCountedAndNeverHoldBackTheRest) {
    gwtest::ScratchDir d;
    gwtest::BrokerOptions bo;
    bo.acl_file = d.write("acl", "topic deny test/gw/b/events\ntopic readwrite #\n");
    gwtest::Broker broker(d, bo);
    gwtest::Subscriber sub(d, broker.port(), {"test/#"}, "refusal-sub");
    {
        uhfd::DiskQueue q(d.file("q"), 1000);
        for (int i = 0; i < 60; ++i) add_event(q, i % 2 ? "b" : "a");
        uhfd::Publisher p(v5(broker.port()), q);
        p.start();
        ASSERT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 15s)) << q.depth();
        EXPECT_TRUE(gwtest::eventually([&] { return distinct(sub, "test/gw/a/events") == 30; }, 10s));
        EXPECT_EQ(q.counts_by_key().at("b").rejected, 30u);
        EXPECT_EQ(q.counts_by_key().at("a").rejected, 0u);
        EXPECT_EQ(p.stats().rejected, 30u);
        EXPECT_EQ(q.dropped(), 0u);
        p.stop(1s);
    }
    // A restart sends nothing already settled: the first event through is the new one.
    const std::size_t before = sub.on("test/gw/a/events").size();
    uhfd::DiskQueue q(d.file("q"), 1000);
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_EQ(q.rejected(), 30u);
    add_event(q, "a");
    uhfd::Publisher p(v5(broker.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return sub.on("test/gw/a/events").size() > before; }, 10s));
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s));
    EXPECT_EQ(sub.on("test/gw/a/events").size(), before + 1);
    EXPECT_EQ(sub.on("test/gw/a/events").back().body["seq"], 31);
}

// A full disk with the broker up costs no live event.
TEST(BrokerRefusal, AFullDiskLosesNoLiveEventWhileTheBrokerIsUp) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    gwtest::Subscriber sub(d, broker.port(), {"test/#"}, "fulldisk-sub");
    qtest::FullDisk disk;
    uhfd::DiskQueue q(d.file("q"), 1000, {.io = &disk});
    uhfd::Publisher p(v5(broker.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connected; }, 10s));
    disk.refuse = ENOSPC;
    for (int i = 0; i < 26; ++i) add_event(q, "a");
    EXPECT_TRUE(gwtest::eventually([&] { return distinct(sub, "test/gw/a/events") == 26; }, 10s));
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s));
    EXPECT_EQ(q.dropped(), 0u);
    disk.refuse = 0;
    add_event(q, "a");
    EXPECT_TRUE(gwtest::eventually([&] { return distinct(sub, "test/gw/a/events") == 27; }, 10s));
}

// With the broker away as well, the count explains every gap, and delivery resumes after.
TEST(BrokerRefusal, AFullDiskWithTheBrokerAwayCountsEveryGap) {
    gwtest::ScratchDir d;
    gwtest::Broker broker(d);
    gwtest::Subscriber sub(d, broker.port(), {"test/#"}, "away-sub");
    qtest::FullDisk disk;
    uhfd::DiskQueue q(d.file("q"), 1000, {.memory_records = 10, .io = &disk});
    add_event(q, "a");  // written
    disk.refuse = ENOSPC;
    for (int i = 0; i < 15; ++i) add_event(q, "a");  // 10 in memory, 5 dropped
    EXPECT_EQ(q.dropped(), 5u);
    disk.refuse = 0;
    uhfd::Publisher p(v5(broker.port()), q);
    p.start();
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 10s));
    EXPECT_TRUE(gwtest::eventually([&] { return distinct(sub, "test/gw/a/events") == 11; }, 10s));
    EXPECT_EQ(distinct(sub, "test/gw/a/events") + q.dropped(), q.last_sequence("a"));
}

}  // namespace
