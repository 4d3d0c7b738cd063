// A reader's filters and zones in a running worker, against a virtual reader carrying GS1-coded
// tags that the test moves between antennas through the reader's control socket.
#include <gtest/gtest.h>

#include <mutex>

#include "gateway_harness.hpp"
#include "event_json.hpp"
#include "reader_worker.hpp"

namespace {

using namespace gwtest;
using uhfd::ReaderWorker;

// urn:epc:tag:sgtin-96:3.0614141.812345.6789 / .6790, sgtin-96:1.0614141.999999.1,
// sscc-96:0.0614141.1234567890, and an id that is no GS1 EPC.
const std::vector<std::string> kField{"3074257BF7194E4000001A85", "3074257BF7194E4000001A86", "3034257BF7D08FC000000001",
                                      "3114257BF4499602D2000000", "E2801160600002054D5A7B1F"};

uhfd::ReaderConfig dock_reader(const Sim& sim) {
    uhfd::ReaderConfig c;
    c.name = "dock";
    c.device = sim.device();
    c.round_interval = std::chrono::milliseconds(50);
    c.departure_timeout = std::chrono::milliseconds(600);
    c.report_interval = std::chrono::milliseconds(0);
    c.layout = inventory::virtual_layout();
    return c;
}

uhfd::IdRule rule(const std::string& text) {
    std::string why;
    return *uhfd::IdRule::parse(text, why);
}

// Every event as its JSON, and the ids each round handed on.
struct EventsAndRounds {
    std::mutex mu;
    std::vector<nlohmann::ordered_json> events;
    std::set<std::string> in_rounds;
    std::size_t rounds = 0;
    void event(const uhfd::ReaderEvent& e) {
        if (std::holds_alternative<uhfd::StateChanged>(e)) return;
        std::lock_guard lock(mu);
        events.push_back(uhfd::event_json({"gw", "dock"}, {"e", events.size()}, e));
    }
    void round(const ReaderWorker::RoundSeen& r) {
        std::lock_guard lock(mu);
        ++rounds;
        for (const auto& t : r.reads) in_rounds.insert(uhfd::hex(t.tag.id));
    }
    std::vector<nlohmann::ordered_json> of(const std::string& type) {
        std::lock_guard lock(mu);
        std::vector<nlohmann::ordered_json> out;
        for (const auto& e : events)
            if (e["type"] == type) out.push_back(e);
        return out;
    }
};

class TagRules : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string ctl = dir.file("dock.ctl");
    Sim sim{dir, "dock", 0, {"--control", ctl}, true};
};

// include an item's pattern, exclude one serial of it, an RSSI floor and one antenna: exactly the
// one tag that passes them all arrives, and the rounds channel hands on nothing else.
TEST_F(TagRules, OnlyTheReadsTheFiltersKeepArriveOrReachTheRounds) {
    ASSERT_EQ(field(ctl, "add epc " + kField[0] + " rssi=-50 ant=1"), "ok " + kField[0]);
    ASSERT_EQ(field(ctl, "add epc " + kField[1] + " rssi=-50 ant=1"), "ok " + kField[1]);  // excluded
    ASSERT_EQ(field(ctl, "add epc " + kField[2] + " rssi=-50 ant=1"), "ok " + kField[2]);  // another item
    ASSERT_EQ(field(ctl, "add epc " + kField[3] + " rssi=-50 ant=2"), "ok " + kField[3]);  // another antenna
    ASSERT_EQ(field(ctl, "add epc " + kField[4] + " rssi=-50 ant=1"), "ok " + kField[4]);  // not GS1
    auto c = dock_reader(sim);
    c.filter.include = {rule("urn:epc:pat:sgtin-96:*.0614141.812345.*"), rule("E280")};
    c.filter.exclude = {rule("urn:epc:pat:sgtin-96:3.0614141.812345.6790")};
    c.filter.rssi_min = -70;
    c.filter.antennas = {1};
    ASSERT_EQ(field(ctl, "set " + kField[4] + " rssi=-90"), "ok");  // under the floor, whatever the jitter
    EventsAndRounds heard;
    ReaderWorker w(c, {});
    w.subscribe([&](const uhfd::ReaderEvent& e) { heard.event(e); });
    w.subscribe_rounds([&](const ReaderWorker::RoundSeen& r) { heard.round(r); });
    w.start();
    ASSERT_TRUE(eventually([&] { return heard.of("arrived").size() >= 1 && w.snapshot(false).counters.rounds > 10; }, 10s));
    w.request_stop();
    ASSERT_TRUE(w.wait_stopped(5000ms));
    const auto arrived = heard.of("arrived");
    ASSERT_EQ(arrived.size(), 1u);
    EXPECT_EQ(arrived[0]["tag"]["id"], kField[0]);
    EXPECT_EQ(arrived[0]["tag"]["epc"]["uri"], "urn:epc:id:sgtin:0614141.812345.6789");
    EXPECT_EQ(heard.in_rounds, std::set<std::string>{kField[0]});
    const auto counters = w.snapshot(false).counters;
    EXPECT_GT(counters.filtered, 0u);
    EXPECT_GT(counters.reads, counters.filtered);  // every read counted, the dropped ones too
}

// Antennas 1 and 2 are "door-in", 3 "door-out": the tag arrives in "door-in", its RSSI on 3 rises
// above what it had on 1, and one `moved` follows, from "door-in" to "door-out", in the same
// sequence as the arrival; the snapshot's tag is in "door-out" then.
TEST_F(TagRules, ACrossoverToAnotherZoneIsOneMoved) {
    ASSERT_EQ(field(ctl, "add epc " + kField[3] + " rssi=-60 ant=1"), "ok " + kField[3]);
    auto c = dock_reader(sim);
    c.zones.names = {{1, "door-in"}, {2, "door-in"}, {3, "door-out"}};
    c.zones.window = std::chrono::milliseconds(1000);
    c.zones.hold = std::chrono::milliseconds(150);
    c.zones.min_rounds = 2;
    EventsAndRounds heard;
    ReaderWorker w(c, {});
    w.subscribe([&](const uhfd::ReaderEvent& e) { heard.event(e); });
    w.start();
    ASSERT_TRUE(eventually([&] { return heard.of("arrived").size() == 1; }, 10s));
    EXPECT_EQ(heard.of("arrived")[0]["tag"]["zone"], "door-in");
    ASSERT_EQ(field(ctl, "set " + kField[3] + " ant=2 rssi=-55"), "ok");  // the same zone: no move
    ASSERT_TRUE(eventually([&] { return w.snapshot().counters.reads_by_antenna.count(2) > 0; }, 5s));
    ASSERT_EQ(field(ctl, "set " + kField[3] + " ant=3 rssi=-35"), "ok");
    ASSERT_TRUE(eventually([&] { return !heard.of("moved").empty(); }, 10s));
    const auto before = w.snapshot().counters.rounds;
    ASSERT_TRUE(eventually([&] { return w.snapshot(false).counters.rounds > before + 20; }, 10s));
    const auto moved = heard.of("moved");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["from"], "door-in");
    EXPECT_EQ(moved[0]["to"], "door-out");
    EXPECT_EQ(moved[0]["tag"]["zone"], "door-out");
    EXPECT_EQ(moved[0]["tag"]["epc"]["scheme"], "sscc-96");
    EXPECT_GT(moved[0]["seq"].get<std::size_t>(), heard.of("arrived")[0]["seq"].get<std::size_t>());
    const auto s = w.snapshot();
    ASSERT_EQ(s.tags.size(), 1u);
    EXPECT_EQ(s.tags[0].zone, "door-out");
    EXPECT_EQ(s.counters.moves, 1u);
    w.request_stop();
    EXPECT_TRUE(w.wait_stopped(5000ms));
}

}  // namespace
