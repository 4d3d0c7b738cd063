// Tags coming and going while the readers serve (uhfsim's control socket), on pseudo-terminal
// and TCP readers at once.
#include <gtest/gtest.h>

#include "gateway_harness.hpp"

namespace {

using namespace gwtest;
using nlohmann::json;

std::vector<json> of_type(const std::vector<json>& evs, const std::string& type) {
    std::vector<json> out;
    for (const auto& e : evs)
        if (e["type"] == type) out.push_back(e);
    return out;
}

class Field : public ::testing::Test {
protected:
    ScratchDir dir;
    Broker broker{dir};
    GatewayConfig cfg;
    void SetUp() override {
        cfg.broker_port = broker.port();
        cfg.queue_dir = dir.file("queue");
    }
};

TEST_F(Field, TagsAddedAndRemovedArriveAndDepartOnSerialAndTcpReaders) {
    Sim serial(dir, "serial", 0, {"--control", dir.file("serial.ctl")});
    Sim tcp(dir, "tcp", 0, {"--control", dir.file("tcp.ctl")}, true);
    cfg.readers = {{"serial", serial.device(), 50, 500, 0}, {"tcp", tcp.device(), 50, 500, 0}};
    Subscriber sub(dir, broker.port(), {"uhf/gw/+/events", "uhf/gw/+/status"});
    Uhfd gw(dir, cfg.text());
    for (const char* r : {"serial", "tcp"})
        ASSERT_TRUE(eventually([&] { return latest(sub, std::string("uhf/gw/") + r + "/status").value("state", "") == "online"; }, 10s))
            << gw.log();

    for (auto [name, ctl] : {std::pair{"serial", dir.file("serial.ctl")}, std::pair{"tcp", dir.file("tcp.ctl")}}) {
        const std::string t = std::string("uhf/gw/") + name + "/events";
        const std::string epc = field(ctl, "add epc E2801160600002054CC2096F rssi=-48 ant=2");
        const std::string gb = field(ctl, "add gb rssi=-70 ant=1");
        ASSERT_EQ(epc, "ok E2801160600002054CC2096F");
        ASSERT_EQ(gb.rfind("ok ", 0), 0u) << gb;
        ASSERT_TRUE(eventually([&] { return of_type(events(sub, t), "arrived").size() == 2; }, 5s)) << gw.log();
        for (const json& e : of_type(events(sub, t), "arrived")) {
            if (e["tag"]["family"] == "EPC") {
                EXPECT_EQ(e["tag"]["id"], "E2801160600002054CC2096F");
                EXPECT_EQ(e["tag"]["antenna"], 2);
                EXPECT_NEAR(e["tag"]["rssi"].get<int>(), -48, 3);  // the reader adds up to 3 dB of jitter
            } else {
                EXPECT_EQ(e["tag"]["family"], "GB");
                EXPECT_EQ(e["tag"]["id"], gb.substr(3));
                EXPECT_EQ(e["tag"]["antenna"], 1);
            }
        }
        ASSERT_EQ(field(ctl, "remove E2801160600002054CC2096F"), "ok");
        ASSERT_TRUE(eventually([&] { return of_type(events(sub, t), "departed").size() == 1; }, 5s)) << gw.log();
        const json dep = of_type(events(sub, t), "departed")[0];
        EXPECT_EQ(dep["tag"]["id"], "E2801160600002054CC2096F");
        EXPECT_GE(dep["tag"]["reads"].get<int>(), 1);
        EXPECT_LE(dep["tag"]["first_seen"].get<std::string>(), dep["tag"]["last_seen"].get<std::string>());
        // The departure came after the timeout: at least 500 ms after the last read.
        EXPECT_GT(dep["time"].get<std::string>(), dep["tag"]["last_seen"].get<std::string>());
        std::vector<std::uint64_t> seq;
        for (const json& e : events(sub, t)) seq.push_back(e["seq"]);
        EXPECT_EQ(seq, (std::vector<std::uint64_t>{1, 2, 3}));
    }
}

TEST_F(Field, ReportsFollowThePopulationAsItChanges) {
    Sim s(dir, "s", 0, {"--control", dir.file("s.ctl")});
    cfg.readers = {{"s", s.device(), 50, 300, 400}};
    Subscriber sub(dir, broker.port(), {"uhf/gw/s/events"});
    Uhfd gw(dir, cfg.text());
    std::set<std::string> ids;
    for (int i = 0; i < 5; ++i) ids.insert(field(dir.file("s.ctl"), "add gjb").substr(3));
    const auto report_ids = [&](const json& r) {
        std::set<std::string> out;
        for (const auto& t : r["tags"]) out.insert(t["id"].get<std::string>());
        return out;
    };
    // A report whose interval began after the five arrived holds exactly them.
    ASSERT_TRUE(eventually([&] {
        const auto reports = of_type(events(sub, "uhf/gw/s/events"), "report");
        return !reports.empty() && report_ids(reports.back()) == ids && reports.size() >= 2;
    }, 10s)) << gw.log();
    const std::string gone = *ids.begin();
    field(dir.file("s.ctl"), "remove " + gone);
    ids.erase(gone);
    EXPECT_TRUE(eventually([&] {
        const auto reports = of_type(events(sub, "uhf/gw/s/events"), "report");
        return report_ids(reports.back()) == ids;
    }, 5s));
}

// Presence outlives the process and a reader's restart: after a kill -9 and after a SIGHUP that
// changes the reader, the tags still in the field are not announced again, and the ones taken away
// meanwhile depart once.
TEST_F(Field, KillAndReloadAnnounceNoTagTwiceAndWhatLeftDeparts) {
    const std::string ctl = dir.file("a.ctl");
    Sim a(dir, "a", 0, {"--control", ctl}, true);
    const std::vector<std::string> ids = {"E20000000000000000000A01", "E20000000000000000000A02", "E20000000000000000000A03"};
    for (const auto& id : ids) ASSERT_EQ(field(ctl, "add epc " + id), "ok " + id);
    cfg.readers = {{"a", a.device(), 50, 500, 0}};
    cfg.readers[0].families = R"(["epc"])";
    Subscriber sub(dir, broker.port(), {"uhf/gw/a/events"});
    Uhfd gw(dir, cfg.text());
    const std::string t = "uhf/gw/a/events";
    const auto count = [&](const std::string& type) { return of_type(events(sub, t), type).size(); };
    ASSERT_TRUE(eventually([&] { return count("arrived") == 3; }, 10s)) << gw.log();
    // Saved at most a second after it changed.
    const std::string file = cfg.queue_dir + "/presence/a.json";
    ASSERT_TRUE(eventually([&] {
        const std::string saved = slurp(file);
        return saved.find(ids[0]) != std::string::npos && saved.find(ids[2]) != std::string::npos;
    }, 5s));

    gw.kill();
    ASSERT_EQ(field(ctl, "remove " + ids[0]), "ok");
    gw.start();
    ASSERT_TRUE(eventually([&] { return count("departed") == 1; }, 10s)) << gw.log();
    EXPECT_EQ(of_type(events(sub, t), "departed")[0]["tag"]["id"], ids[0]);
    EXPECT_EQ(count("arrived"), 3u);

    cfg.readers[0].round_ms = 70;  // a changed setting: the reader restarts
    gw.rewrite(cfg.text());
    ASSERT_EQ(field(ctl, "remove " + ids[1]), "ok");
    gw.process().signal(SIGHUP);
    ASSERT_TRUE(eventually([&] { return gw.log().find("1 stopped or restarted") != std::string::npos; }, 10s)) << gw.log();
    ASSERT_TRUE(eventually([&] { return count("departed") == 2; }, 10s)) << gw.log();
    EXPECT_EQ(of_type(events(sub, t), "departed")[1]["tag"]["id"], ids[1]);
    EXPECT_EQ(count("arrived"), 3u);
}

}  // namespace
