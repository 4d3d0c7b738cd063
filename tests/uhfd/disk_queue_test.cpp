// The disk queue: order, settling, restarts, overflow, epochs and disk use.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "queue_test_support.hpp"

namespace {

using uhfd::DiskQueue;
using namespace std::chrono_literals;
using qtest::add;
using qtest::take_all;

TEST(DiskQueue, HandsOutInAppendOrderWithPerKeySequences) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    add(q, "a");
    add(q, "b");
    add(q, "a");
    const auto next = q.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->second.topic, "t/a");
    EXPECT_EQ(next->second.seq, 1u);
    EXPECT_EQ(take_all(q, false), (std::vector<std::string>{"x:1", "x:2"}));
    EXPECT_EQ(q.last_sequence("a"), 2u);
}

TEST(DiskQueue, UnsettledRecordsOutliveTheProcess) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 6; ++i) add(q, "a");
        auto first = q.next(), second = q.next();
        q.next();  // handed out, never settled
        q.ack(first->first);
        q.ack(second->first);
    }
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.depth(), 4u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:3", "x:4", "x:5", "x:6"}));
}

// A refused or acknowledged record leaves at once: nothing before it holds it back, and a
// restart does not send it again.
TEST(DiskQueue, SettledRecordsLeaveWhateverIsBeforeThemAndStayGoneAfterARestart) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        add(q, "a");
        add(q, "b");
        add(q, "a");
        auto r1 = q.next(), r2 = q.next(), r3 = q.next();
        q.reject(r2->first);
        q.ack(r3->first);
        EXPECT_EQ(q.depth(), 1u);
        EXPECT_EQ(q.rejected(), 1u);
        EXPECT_EQ(q.counts_by_key().at("b").rejected, 1u);
        q.rewind();  // r1 is sent again; the settled ones are not
        EXPECT_EQ(take_all(q, false), (std::vector<std::string>{"x:1"}));
    }
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.depth(), 1u);
    EXPECT_EQ(q.rejected(), 1u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1"}));
}

TEST(DiskQueue, RewindSendsEverythingUnsettledAgainInOrder) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    for (int i = 0; i < 4; ++i) add(q, "a");
    q.ack(q.next()->first);
    q.next();
    q.next();
    q.rewind();
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:2", "x:3", "x:4"}));
}

// The bound counts records in flight: the oldest waiting one goes (one already sent may have
// arrived), and when every record held is in flight, the new one does.
TEST(DiskQueue, TheBoundCountsRecordsInFlight) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 3);
    for (int i = 0; i < 3; ++i) add(q, "a");
    auto first = q.next();
    q.next();
    add(q, "a");  // drops x:3, the one waiting
    EXPECT_EQ(q.depth(), 3u);
    EXPECT_EQ(q.dropped(), 1u);
    q.next();
    add(q, "b");  // all three in flight: b's goes
    EXPECT_EQ(q.depth(), 3u);
    EXPECT_EQ(q.dropped_by_key(), (std::map<std::string, std::uint64_t>{{"a", 1}, {"b", 1}}));
    q.rewind();
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:2", "x:4"}));
    q.ack(first->first);  // late, from a connection since lost: changes nothing
    EXPECT_EQ(q.depth(), 0u);
}

TEST(DiskQueue, ADroppedRecordStaysUnsentAndCountedAcrossARestart) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 2);
        add(q, "a");
        q.next();     // x:1 in flight
        add(q, "a");  // x:2 waits
        add(q, "a");  // drops x:2
    }
    DiskQueue q(d.file("q"), 2);
    EXPECT_EQ(q.depth(), 2u);
    EXPECT_EQ(q.dropped(), 1u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:3"}));
}

TEST(DiskQueue, DiskUseFollowsDepthAndSequencesContinue) {
    gwtest::ScratchDir d;
    std::string epoch;
    {
        DiskQueue q(d.file("q"), 1000, {.segment_bytes = 256});
        for (int i = 0; i < 40; ++i) add(q, "a");
        EXPECT_GT(q.disk_bytes(), 40u * 24);
        take_all(q, true);
        // Every segment but the one written to goes at once; that one within the queue's tick.
        EXPECT_TRUE(gwtest::eventually([&] { return q.disk_bytes() == 0; }, 10s)) << q.disk_bytes();
        epoch = q.epoch("a");
    }
    DiskQueue q(d.file("q"), 1000, {.segment_bytes = 256});
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_EQ(add(q, "a"), 41u);
    EXPECT_EQ(q.epoch("a"), epoch);
}

// Sequences that start again from 1 come with a new epoch, so (key, epoch, seq) never repeats.
TEST(DiskQueue, ALostDirectoryStartsANewEpoch) {
    gwtest::ScratchDir d;
    std::string before;
    {
        DiskQueue q(d.file("q"), 100);
        add(q, "a");
        add(q, "a");
        before = q.epoch("a");
        EXPECT_EQ(before.size(), 16u);
    }
    gwtest::fs::remove_all(d.path() / "q");
    DiskQueue q(d.file("q"), 100);
    std::string carried;
    q.append("a", "t/a", [&](const DiskQueue::Sequence& s) {
        carried = s.epoch;
        return std::to_string(s.seq);
    });
    EXPECT_EQ(q.last_sequence("a"), 1u);
    EXPECT_EQ(carried, q.epoch("a"));
    EXPECT_NE(carried, before);
}

TEST(DiskQueue, AStrayFileIsIgnored) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        add(q, "a");
    }
    d.write("q/notes.txt", "hello");
    d.write("q/zzzzzzzzzzzzzzzz.seg", "not hex");
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1"}));
}

TEST(DiskQueue, ARecordTheReaderWouldRefuseIsRefusedAndCounted) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    add(q, "a", std::string((16u << 20) + 1, 'p'));
    add(q, "a");
    EXPECT_EQ(q.dropped_by_key(), (std::map<std::string, std::uint64_t>{{"a", 1}}));
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:2"}));
}

// A killed process sends again only what settled since the head was last noted, and what was
// in flight.
TEST(DiskQueue, AKilledProcessResendsFewerThanTheNotingInterval) {
    gwtest::ScratchDir d;
    const pid_t child = ::fork();
    if (child == 0) {
        DiskQueue q(d.file("q"), 1000);
        for (int i = 0; i < 300; ++i) add(q, "a");
        for (int i = 0; i < 123; ++i) q.ack(q.next()->first);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    DiskQueue q(d.file("q"), 1000);
    EXPECT_GE(q.depth(), 300u - 123u);
    EXPECT_LT(q.depth(), 300u - 123u + DiskQueue::kMarkEvery);
}

}  // namespace
