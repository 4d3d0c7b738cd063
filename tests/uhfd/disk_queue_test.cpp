// The disk queue: order, acknowledgement, restarts, overflow and damaged files.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "disk_queue.hpp"
#include "harness.hpp"

namespace {

using uhfd::DiskQueue;

std::uint64_t add(DiskQueue& q, const std::string& key, const std::string& body = "x") {
    return q.append(key, "t/" + key, [&](std::uint64_t seq) { return body + ":" + std::to_string(seq); });
}

std::vector<std::string> take_all(DiskQueue& q, bool ack) {
    std::vector<std::string> out;
    while (auto n = q.next()) {
        out.push_back(n->second.payload);
        if (ack) q.ack(n->first);
    }
    return out;
}

std::size_t segment_files(const gwtest::ScratchDir& d) {
    std::size_t n = 0;
    for (const auto& e : gwtest::fs::directory_iterator(d.path() / "q"))
        if (e.path().extension() == ".seg") ++n;
    return n;
}

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

TEST(DiskQueue, UnacknowledgedRecordsOutliveTheProcess) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 6; ++i) add(q, "a");
        auto first = q.next(), second = q.next();
        q.next();  // handed out, never acknowledged
        q.ack(first->first);
        q.ack(second->first);
    }
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.depth(), 4u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:3", "x:4", "x:5", "x:6"}));
}

TEST(DiskQueue, AcknowledgementsOutOfOrderMoveTheHeadOnlyPastAContiguousRun) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    for (int i = 0; i < 3; ++i) add(q, "a");
    auto r1 = q.next(), r2 = q.next(), r3 = q.next();
    q.ack(r2->first);
    q.ack(r3->first);
    EXPECT_EQ(q.depth(), 3u);
    q.ack(r1->first);
    EXPECT_EQ(q.depth(), 0u);
}

TEST(DiskQueue, RewindSendsEverythingUnacknowledgedAgainInOrder) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    for (int i = 0; i < 4; ++i) add(q, "a");
    q.ack(q.next()->first);
    q.next();
    q.next();
    q.rewind();
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:2", "x:3", "x:4"}));
}

TEST(DiskQueue, AFullQueueDropsTheOldestAndCountsThemAcrossRestarts) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 3);
        for (int i = 0; i < 5; ++i) add(q, i % 2 ? "b" : "a");
        EXPECT_EQ(q.depth(), 3u);
        EXPECT_EQ(q.dropped(), 2u);
        EXPECT_EQ(q.dropped_by_key(), (std::map<std::string, std::uint64_t>{{"a", 1}, {"b", 1}}));
    }
    DiskQueue q(d.file("q"), 3);
    EXPECT_EQ(q.dropped(), 2u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:2", "x:2", "x:3"}));
}

// A record already sent may have arrived: counting it as dropped would report a loss that did
// not happen. The oldest record not yet sent goes instead, and never goes out afterwards.
TEST(DiskQueue, AFullQueueDropsTheOldestUnsentNotOneInFlight) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 2);
    add(q, "a");
    add(q, "a");
    auto first = q.next();
    add(q, "a");
    EXPECT_EQ(q.dropped(), 0u);  // two waiting, one in flight
    add(q, "a");                  // drops x:2, the oldest waiting
    EXPECT_EQ(q.dropped(), 1u);
    EXPECT_EQ(q.depth(), 3u);
    q.rewind();  // the connection broke before x:1 was acknowledged
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:3", "x:4"}));
    EXPECT_EQ(q.depth(), 0u);
    q.ack(first->first);  // a late acknowledgement from the old connection changes nothing
    EXPECT_EQ(q.depth(), 0u);
}

TEST(DiskQueue, ADroppedRecordStaysUnsentAcrossARestart) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 1);
        add(q, "a");
        q.next();     // x:1 in flight
        add(q, "a");  // x:2 waits
        add(q, "a");  // drops x:2
    }
    DiskQueue q(d.file("q"), 1);
    EXPECT_EQ(q.depth(), 2u);
    EXPECT_EQ(q.dropped(), 1u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:3"}));
}

TEST(DiskQueue, SequencesContinueAfterEverySegmentWasDeliveredAndDeleted) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 1000, 256);
        for (int i = 0; i < 40; ++i) add(q, "a");
        take_all(q, true);
        EXPECT_EQ(segment_files(d), 1u);  // the delivered segments are gone
    }
    DiskQueue q(d.file("q"), 1000, 256);
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_EQ(add(q, "a"), 41u);
}

TEST(DiskQueue, SequencesContinueAfterACrashWithoutASavedState) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 1000);
        for (int i = 0; i < 5; ++i) add(q, "a");
    }
    gwtest::fs::remove(d.path() / "q" / "state");
    DiskQueue q(d.file("q"), 1000);
    EXPECT_EQ(q.depth(), 5u);
    EXPECT_EQ(add(q, "a"), 6u);
}

TEST(DiskQueue, ARecordCutShortByACrashIsCutOffAndTheRestKept) {
    gwtest::ScratchDir d;
    std::string segment;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 3; ++i) add(q, "a");
        for (const auto& e : gwtest::fs::directory_iterator(d.path() / "q"))
            if (e.path().extension() == ".seg") segment = e.path();
    }
    std::ofstream(segment, std::ios::app) << std::string("\x40\x00\x00\x00\x12\x34", 6);  // a header, no body
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.depth(), 3u);
    add(q, "a");
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:2", "x:3", "x:4"}));
}

TEST(DiskQueue, AFlippedByteEndsTheQueueAtThatRecord) {
    gwtest::ScratchDir d;
    std::string segment;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 3; ++i) add(q, "a", "payload");
        for (const auto& e : gwtest::fs::directory_iterator(d.path() / "q"))
            if (e.path().extension() == ".seg") segment = e.path();
    }
    std::string bytes = gwtest::slurp(segment);
    bytes[bytes.size() - 3] ^= 0x01;  // inside the last record's payload
    std::ofstream(segment, std::ios::trunc | std::ios::binary) << bytes;
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"payload:1", "payload:2"}));
}

}  // namespace
