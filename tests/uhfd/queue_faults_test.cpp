// The disk queue under faults: damaged bytes found at start or while running, a disk that
// refuses writes, a disk whose syncs stall.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "log_capture.hpp"
#include "queue_test_support.hpp"

namespace {

using uhfd::DiskQueue;
using namespace std::chrono_literals;
using qtest::add;
using qtest::kRecord;
using qtest::only_segment;
using qtest::take_all;

struct Damage {
    const char* name;
    const char* file;        // "seg" or "state"
    std::size_t at;          // byte flipped
    unsigned char mask;
    std::uint64_t lost_seq;  // the record it costs; 0: none
};

const Damage kSegmentDamage[] = {
    {"LengthLowByte", "seg", 2 * kRecord + 0, 0x04, 3},
    {"LengthHighByte", "seg", 2 * kRecord + 3, 0x01, 3},
    {"Crc", "seg", 2 * kRecord + 5, 0x10, 3},
    {"Sequence", "seg", 2 * kRecord + 9, 0x01, 3},
    {"KeyLength", "seg", 2 * kRecord + 16, 0x02, 3},
    {"Body", "seg", 2 * kRecord + 30, 0x20, 3},
    {"LastByteBeforeARecord", "seg", 3 * kRecord - 1, 0x01, 3},
    {"FirstRecord", "seg", 0, 0x08, 1},
    {"LastRecordLength", "seg", 4 * kRecord + 1, 0x40, 5},
};
// The state file is read at start only.
const Damage kStateDamage[] = {
    {"StateFile", "state", 20, 0x01, 0},
};

void flip(const std::string& path, std::size_t at, unsigned char mask) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(at));
    char c = 0;
    f.get(c);
    f.seekp(static_cast<std::streamoff>(at));
    f.put(static_cast<char>(c ^ mask));
}

std::vector<std::string> expected_without(std::uint64_t lost) {
    std::vector<std::string> out;
    for (std::uint64_t s = 1; s <= 5; ++s)
        if (s != lost) out.push_back("payload:" + std::to_string(s));
    return out;
}

bool kept_aside(const gwtest::ScratchDir& d) {
    return gwtest::fs::exists(d.path() / "q" / "damaged") && !gwtest::fs::is_empty(d.path() / "q" / "damaged");
}

class DamagedQueue : public ::testing::TestWithParam<Damage> {};
class DamagedSegment : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedQueue, FoundAtStartSkipsToTheNextRecordAndCountsTheGap) {
    const Damage& p = GetParam();
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 5; ++i) add(q, "a", "payload");
    }
    flip(std::string(p.file) == "seg" ? only_segment(d) : d.file("q/state"), p.at, p.mask);
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(take_all(q, true), expected_without(p.lost_seq));
    EXPECT_EQ(q.dropped(), p.lost_seq ? 1u : 0u);
    EXPECT_EQ(add(q, "a", "payload"), 6u);  // the sequence goes on past every record written
    if (p.lost_seq && p.lost_seq != 5) {
        EXPECT_TRUE(kept_aside(d));
    }
}

TEST_P(DamagedSegment, FoundWhileRunningIsDroppedAndTheRestDelivered) {
    const Damage& p = GetParam();
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    for (int i = 0; i < 5; ++i) add(q, "a", "payload");
    flip(only_segment(d), p.at, p.mask);
    EXPECT_EQ(take_all(q, true), expected_without(p.lost_seq));
    EXPECT_EQ(q.dropped(), 1u);
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_TRUE(kept_aside(d));
}

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(EveryPart, DamagedQueue, ::testing::ValuesIn(kSegmentDamage), kRowName);
INSTANTIATE_TEST_SUITE_P(State, DamagedQueue, ::testing::ValuesIn(kStateDamage), kRowName);
INSTANTIATE_TEST_SUITE_P(EveryPart, DamagedSegment, ::testing::ValuesIn(kSegmentDamage), kRowName);

TEST(DamagedQueue, ARecordCutShortByACrashIsCutOffNotCountedAndTheRestKept) {
    gwtest::ScratchDir d;
    {
        DiskQueue q(d.file("q"), 100);
        for (int i = 0; i < 3; ++i) add(q, "a");
    }
    std::ofstream(only_segment(d), std::ios::app) << std::string("\x40\x00\x00\x00\x12\x34", 6);  // a header, no body
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.depth(), 3u);
    EXPECT_EQ(q.dropped(), 0u);
    add(q, "a");
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:2", "x:3", "x:4"}));
}

TEST(FullDisk, EventsTheDiskRefusesAreHeldInMemoryAndSentInOrder) {
    gwtest::ScratchDir d;
    qtest::FullDisk disk;
    DiskQueue q(d.file("q"), 100, {.io = &disk});
    add(q, "a");
    disk.refuse = ENOSPC;
    add(q, "a");
    add(q, "a");
    EXPECT_EQ(q.in_memory(), 2u);
    disk.refuse = 0;  // space back
    add(q, "a");
    EXPECT_EQ(q.depth(), 4u);
    EXPECT_EQ(q.dropped(), 0u);
    EXPECT_EQ(take_all(q, true), (std::vector<std::string>{"x:1", "x:2", "x:3", "x:4"}));
    EXPECT_EQ(q.in_memory(), 0u);
}

TEST(FullDisk, OnlyWhatNeitherDiskNorMemoryCouldHoldIsDroppedAndCounted) {
    gwtest::ScratchDir d;
    qtest::FullDisk disk;
    {
        DiskQueue q(d.file("q"), 100, {.memory_records = 3, .io = &disk});
        disk.refuse = EIO;
        for (int i = 0; i < 5; ++i) add(q, "a");
        EXPECT_EQ(q.in_memory(), 3u);
        EXPECT_EQ(q.dropped(), 2u);
        disk.refuse = 0;
    }
    // Held only in memory, they end with the process: counted then.
    DiskQueue q(d.file("q"), 100);
    EXPECT_EQ(q.dropped(), 5u);
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_EQ(add(q, "a"), 6u);
}

// The disk's refusals in the log: the first said at once, the rest summed up at most once a
// minute (on the queue's clock, here the test's), the disk taking records again said once.
TEST(FullDisk, RefusalsAreSaidOnceThenSummedUpOnceAMinute) {
    gwtest::ScratchDir d;
    gwtest::LogCapture log(d);
    qtest::FullDisk disk;
    std::atomic<std::int64_t> seconds{3600};
    const auto tick = [&](int s) { seconds += s; };
    DiskQueue q(d.file("q"), 100,
                {.io = &disk, .clock = [&] { return DiskQueue::Clock::time_point(std::chrono::seconds(seconds.load())); }});
    const std::string first = "cannot write to", summary = "more events could not be written", back = "takes records again";
    add(q, "a");
    disk.refuse = ENOSPC;
    add(q, "a");
    EXPECT_EQ(log.count(first), 1u);
    for (int i = 0; i < 4; ++i) add(q, "a");
    tick(59);
    q.flush();
    EXPECT_EQ(log.count(first), 1u);
    EXPECT_EQ(log.count(summary), 0u) << "summed up before the minute was out";
    tick(1);
    q.flush();
    ASSERT_EQ(log.count(summary), 1u) << log.text();
    EXPECT_EQ(log.count("4 " + summary), 1u) << log.text();
    add(q, "a");
    add(q, "a");
    tick(30);
    q.flush();
    EXPECT_EQ(log.count(summary), 1u) << "a second summary within the minute";
    tick(30);
    q.flush();
    EXPECT_EQ(log.count("2 " + summary), 1u) << log.text();
    tick(60);
    q.flush();
    EXPECT_EQ(log.count(summary), 2u) << "a minute with no refusal has nothing to sum up";
    disk.refuse = 0;
    add(q, "a");
    add(q, "a");
    EXPECT_EQ(log.count(back), 1u) << log.text();
    EXPECT_EQ(log.count(first), 1u);
    EXPECT_EQ(q.dropped(), 0u);
    EXPECT_EQ(q.depth(), 10u);
}

// The state file on a full disk: a save is tried again at each tick until one works, but the
// failure is said once and then summed up once a minute, not logged every second.
TEST(FullDisk, StateSavesThatFailAreSaidOnceThenSummedUpOnceAMinute) {
    gwtest::ScratchDir d;
    gwtest::LogCapture log(d);
    qtest::FullDisk disk;
    std::atomic<std::int64_t> seconds{3600};
    DiskQueue q(d.file("q"), 100,
                {.io = &disk, .clock = [&] { return DiskQueue::Clock::time_point(std::chrono::seconds(seconds.load())); }});
    const std::string first = "cannot save", summary = "attempts have failed so far", back = "state saved again";
    add(q, "a");
    q.flush();
    disk.refuse = ENOSPC;
    add(q, "a");
    for (int i = 0; i < 5; ++i) q.flush();
    EXPECT_EQ(log.count(first), 1u) << log.text();
    EXPECT_EQ(log.count("state: No space left on device"), 1u) << "the system's reason is said: " << log.text();
    EXPECT_EQ(log.count(summary), 0u);
    seconds += 60;
    for (int i = 0; i < 3; ++i) q.flush();
    EXPECT_EQ(log.count(summary), 1u) << log.text();
    disk.refuse = 0;
    q.flush();
    EXPECT_EQ(log.count(back), 1u) << log.text();
    q.flush();
    EXPECT_EQ(log.count(back), 1u);
    EXPECT_NE(gwtest::slurp(d.file("q") + "/state").find("\"seq\":2"), std::string::npos)
        << "the save that worked holds what the failed ones could not";
}

// The queue's sync runs on its own thread, outside the lock: appends go on while it is stuck.
TEST(SlowDisk, AppendsDoNotWaitForASync) {
    gwtest::ScratchDir d;
    qtest::StalledDisk disk;
    DiskQueue q(d.file("q"), 1000, {.io = &disk});
    add(q, "a");  // a new epoch: saved at the next tick
    ASSERT_TRUE(gwtest::eventually([&] { return disk.waiting.load() > 0; }, 10s));
    std::atomic<int> appended{0};
    std::thread reader([&] {
        for (int i = 0; i < 200; ++i) {
            add(q, "a");
            ++appended;
        }
    });
    const bool all = gwtest::eventually([&] { return appended.load() == 200; }, 10s);
    EXPECT_GT(disk.waiting.load(), 0);  // still stuck in the sync
    disk.release();
    reader.join();
    EXPECT_TRUE(all) << appended.load();
    EXPECT_EQ(q.depth(), 201u);
}

}  // namespace
