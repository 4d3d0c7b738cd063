// Arrivals, departures and interval reports from rounds of reads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "inventory/tag_tracker.hpp"

namespace {

using namespace std::chrono_literals;
using inventory::Family;
using inventory::TagEvent;

inventory::TagRead read(Family f, std::uint8_t id, int rssi = -50, int antenna = 1, int reads = 1) {
    inventory::TagRead r{f, {}};
    r.tag.id = {0xE2, id};
    r.tag.rssi = rssi;
    r.tag.antenna = antenna;
    r.tag.reads = reads;
    return r;
}

struct Clock {
    inventory::Stamp t = inventory::Stamp::now();
    inventory::Stamp at(std::chrono::milliseconds since_start) const {
        return {t.mono + since_start, t.wall + since_start};
    }
};

TEST(TagTracker, ArrivesOnceThoughReadEveryRound) {
    inventory::TagTracker tracker(1000ms);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::epc, 1)}, c.at(0ms), events);
    tracker.observe({read(Family::epc, 1)}, c.at(100ms), events);
    tracker.expire(c.at(100ms), events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TagEvent::Kind::arrived);
}

TEST(TagTracker, TwoReadsOfANewTagInOneRoundArriveOnceWithBothCounted) {
    inventory::TagTracker tracker(1000ms);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::epc, 1, -60, 1, 2), read(Family::epc, 1, -40, 2, 3)}, c.at(0ms), events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].tag.reads, 5);
    EXPECT_EQ(events[0].tag.peak_rssi, -40);
    EXPECT_EQ(events[0].tag.antenna, 2);
}

TEST(TagTracker, SameIdInAnotherFamilyIsAnotherTag) {
    inventory::TagTracker tracker(1000ms);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::epc, 1), read(Family::gb, 1)}, c.at(0ms), events);
    EXPECT_EQ(events.size(), 2u);
}

TEST(TagTracker, DepartsOnlyAfterTheTimeoutUnread) {
    inventory::TagTracker tracker(1000ms);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::gjb, 7)}, c.at(0ms), events);
    events.clear();
    tracker.expire(c.at(999ms), events);
    EXPECT_TRUE(events.empty());
    tracker.expire(c.at(1000ms), events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, TagEvent::Kind::departed);
    EXPECT_EQ(events[0].tag.last_seen.mono, c.at(0ms).mono);
    EXPECT_EQ(tracker.size(), 0u);
}

TEST(TagTracker, ADepartedTagThatReturnsArrivesAgain) {
    inventory::TagTracker tracker(500ms);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::epc, 1)}, c.at(0ms), events);
    tracker.expire(c.at(600ms), events);
    tracker.observe({read(Family::epc, 1)}, c.at(700ms), events);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, TagEvent::Kind::arrived);
    EXPECT_EQ(events[2].tag.reads, 1);
}

TEST(TagTracker, ReportHoldsTheIntervalsTagsWithPeakAndReadsWithinIt) {
    inventory::TagTracker tracker(10s);
    Clock c;
    std::vector<TagEvent> events;
    tracker.observe({read(Family::epc, 1, -70, 1, 2)}, c.at(0ms), events);
    tracker.take_report(c.at(50ms));
    tracker.observe({read(Family::epc, 1, -45, 3, 1), read(Family::gb, 2)}, c.at(100ms), events);
    tracker.observe({read(Family::epc, 1, -65, 1, 4)}, c.at(200ms), events);
    const inventory::Report r = tracker.take_report(c.at(300ms));
    EXPECT_EQ(r.start.mono, c.at(50ms).mono);
    ASSERT_EQ(r.tags.size(), 2u);
    const inventory::TagState& epc = r.tags[0];
    EXPECT_EQ(epc.reads, 5);  // the 2 reads before the interval are not in it
    EXPECT_EQ(epc.peak_rssi, -45);
    EXPECT_EQ(epc.antenna, 1);
    EXPECT_EQ(epc.first_seen.mono, c.at(100ms).mono);
    EXPECT_EQ(epc.last_seen.mono, c.at(200ms).mono);
    EXPECT_TRUE(tracker.take_report(c.at(400ms)).tags.empty());
}

TEST(TagTracker, WithoutReportsNothingGathersForThem) {
    inventory::TagTracker tracker(10s, false);
    Clock c;
    std::vector<TagEvent> events;
    for (std::uint8_t i = 0; i < 50; ++i) tracker.observe({read(Family::epc, i)}, c.at(std::chrono::milliseconds(i)), events);
    EXPECT_TRUE(tracker.take_report(c.at(100ms)).tags.empty());
    EXPECT_EQ(tracker.size(), 50u);
}

}  // namespace
