// Handing records out in batches: order and limits across segments and records held in memory,
// and a damaged record inside a batch costing only itself.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "queue_test_support.hpp"

namespace {

using uhfd::DiskQueue;
using qtest::add;
using qtest::kRecord;
using qtest::only_segment;

std::vector<std::string> payloads(const std::vector<std::pair<DiskQueue::Ticket, DiskQueue::Record>>& batch) {
    std::vector<std::string> out;
    for (const auto& [ticket, rec] : batch) out.push_back(rec.payload);
    return out;
}

TEST(QueueBatch, KeepsOrderAndSizeAcrossSegmentsAndMemory) {
    gwtest::ScratchDir d;
    qtest::FullDisk disk;
    DiskQueue::Limits limits;
    limits.segment_bytes = 64;  // two records a segment
    limits.io = &disk;
    DiskQueue q(d.file("q"), 100, limits);
    for (int i = 0; i < 3; ++i) add(q, "a");
    disk.refuse = ENOSPC;
    for (int i = 0; i < 2; ++i) add(q, "a");
    disk.refuse = 0;
    for (int i = 0; i < 3; ++i) add(q, "a");
    ASSERT_EQ(q.in_memory(), 2u);

    EXPECT_TRUE(q.next_batch(0).empty());
    EXPECT_EQ(q.unsent(), 8u);
    const auto first = q.next_batch(3);
    EXPECT_EQ(payloads(first), (std::vector<std::string>{"x:1", "x:2", "x:3"}));
    const auto rest = q.next_batch(100);
    EXPECT_EQ(payloads(rest), (std::vector<std::string>{"x:4", "x:5", "x:6", "x:7", "x:8"}));
    EXPECT_TRUE(q.next_batch(100).empty());
    for (const auto* batch : {&first, &rest})
        for (const auto& [ticket, rec] : *batch) q.ack(ticket);
    EXPECT_EQ(q.depth(), 0u);
    EXPECT_EQ(q.dropped(), 0u);
}

// Five records of 37 bytes ("payload:1".."payload:5" under key "a"); a byte flipped in one.
struct Spoiled {
    const char* name;
    std::size_t at;
    std::uint64_t lost_seq;
};
const Spoiled kSpoiled[] = {
    {"FirstRecordLength", 0, 1},
    {"MiddleRecordBody", 2 * kRecord + 30, 3},
    {"LastRecordCrc", 4 * kRecord + 5, 5},
};

class QueueBatchDamage : public testing::TestWithParam<Spoiled> {};

TEST_P(QueueBatchDamage, CostsOnlyTheDamagedRecord) {
    gwtest::ScratchDir d;
    DiskQueue q(d.file("q"), 100);
    for (int i = 0; i < 5; ++i) add(q, "a", "payload");
    {
        std::fstream f(only_segment(d), std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(static_cast<std::streamoff>(GetParam().at));
        char c = 0;
        f.get(c);
        f.seekp(static_cast<std::streamoff>(GetParam().at));
        f.put(static_cast<char>(c ^ 0x10));
    }
    const auto batch = q.next_batch(10);
    std::vector<std::string> expected;
    for (std::uint64_t s = 1; s <= 5; ++s)
        if (s != GetParam().lost_seq) expected.push_back("payload:" + std::to_string(s));
    EXPECT_EQ(payloads(batch), expected);
    EXPECT_EQ(q.dropped(), 1u);
    for (const auto& [ticket, rec] : batch) q.ack(ticket);
    EXPECT_EQ(q.depth(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Positions, QueueBatchDamage, testing::ValuesIn(kSpoiled),
                         [](const testing::TestParamInfo<Spoiled>& i) { return std::string(i.param.name); });

}  // namespace
