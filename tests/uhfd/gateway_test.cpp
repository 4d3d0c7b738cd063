// uhfd end to end: virtual readers, a real broker, independent clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "gateway_harness.hpp"

namespace {

using namespace gwtest;
using nlohmann::json;

// 2026-12-08T12:00:00.123Z: UTC with milliseconds.
bool iso_ms(const json& v) {
    if (!v.is_string()) return false;
    const std::string s = v.get<std::string>();
    const std::string shape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (s.size() != shape.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i]) return false;
    return true;
}

std::vector<std::uint64_t> seqs(const std::vector<json>& evs) {
    std::vector<std::uint64_t> out;
    for (const auto& e : evs) out.push_back(e["seq"].get<std::uint64_t>());
    return out;
}

// 1, 2, ..., n in this order.
bool contiguous(const std::vector<std::uint64_t>& s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] != i + 1) return false;
    return true;
}

std::size_t count_type(const std::vector<json>& evs, const std::string& type) {
    std::size_t n = 0;
    for (const auto& e : evs) n += e["type"] == type;
    return n;
}

class Gateway : public ::testing::Test {
protected:
    ScratchDir dir;
    std::unique_ptr<Broker> broker = std::make_unique<Broker>(dir);
    GatewayConfig cfg;
    void SetUp() override {
        cfg.broker_port = broker->port();
        cfg.queue_dir = dir.file("queue");
    }
    std::string topic(const std::string& reader, const std::string& leaf) const { return "uhf/gw/" + reader + "/" + leaf; }
};

TEST_F(Gateway, ArrivalsAndReportsMatchEachReadersPopulation) {
    Sim a(dir, "a", 4), b(dir, "b", 7);
    cfg.readers = {{"a", a.device(), 50, 600, 400}, {"b", b.device(), 50, 600, 400}};
    Subscriber sub(dir, broker->port(), {"uhf/#"});
    Uhfd gw(dir, cfg.text());
    for (auto [name, tags] : {std::pair{"a", 4u}, std::pair{"b", 7u}}) {
        const std::string t = topic(name, "events");
        ASSERT_TRUE(eventually([&] { return count_type(events(sub, t), "report") >= 2; }, 10s)) << gw.log();
        const auto evs = events(sub, t);
        EXPECT_TRUE(contiguous(seqs(evs)));
        std::set<std::string> arrived;
        for (const auto& e : evs) {
            EXPECT_EQ(e["gateway"], "gw");
            EXPECT_EQ(e["reader"], name);
            EXPECT_TRUE(iso_ms(e["time"])) << e;
            if (e["type"] != "arrived") continue;
            const json& tag = e["tag"];
            arrived.insert(tag["family"].get<std::string>() + ":" + tag["id"].get<std::string>());
            EXPECT_TRUE(tag["antenna"].is_number());
            EXPECT_LT(tag["rssi"].get<int>(), 0);
            EXPECT_GE(tag["reads"].get<int>(), 1);
            EXPECT_TRUE(iso_ms(tag["first_seen"]) && iso_ms(tag["last_seen"])) << tag;
        }
        EXPECT_EQ(arrived.size(), tags);
        EXPECT_EQ(count_type(evs, "departed"), 0u);
        // The second report covers a whole interval after every tag arrived.
        json report;
        for (const auto& e : evs)
            if (e["type"] == "report") report = e;
        std::set<std::string> reported;
        for (const auto& t2 : report["tags"]) reported.insert(t2["family"].get<std::string>() + ":" + t2["id"].get<std::string>());
        EXPECT_EQ(reported, arrived);
        EXPECT_EQ(report["count"], tags);
        EXPECT_TRUE(iso_ms(report["start"]) && iso_ms(report["end"]));
    }
}

TEST_F(Gateway, AReaderKilledGoesOfflineAndComesBackWhileTheOtherReadsOn) {
    Sim a(dir, "a", 2, {}, true), b(dir, "b", 2);  // a on TCP, b on a pseudo-terminal
    cfg.readers = {{"a", a.device()}, {"b", b.device()}};
    Subscriber sub(dir, broker->port(), {"uhf/#"});
    Uhfd gw(dir, cfg.text());
    const auto state = [&](const std::string& r) { return latest(sub, topic(r, "status")).value("state", ""); };
    ASSERT_TRUE(eventually([&] { return state("a") == "online" && state("b") == "online"; }, 10s)) << gw.log();
    a.kill();
    ASSERT_TRUE(eventually([&] { return state("a") == "offline"; }, 10s)) << gw.log();
    EXPECT_FALSE(latest(sub, topic("a", "status"))["reason"].get<std::string>().empty());
    const auto rounds_b = counter(sub, topic("b", "status"), "rounds");
    EXPECT_TRUE(eventually([&] { return counter(sub, topic("b", "status"), "rounds") > rounds_b + 10; }, 5s));
    EXPECT_EQ(state("b"), "online");
    a.start();
    ASSERT_TRUE(eventually([&] { return state("a") == "online"; }, 10s)) << gw.log();
    EXPECT_TRUE(eventually([&] { return counter(sub, topic("a", "status"), "reconnects") == 1; }, 5s));
    std::set<std::string> states_b;
    for (const auto& m : sub.on(topic("b", "status"))) states_b.insert(m.body.value("state", ""));
    EXPECT_EQ(states_b.count("offline"), 0u);
}

TEST_F(Gateway, EveryEventOfABrokerOutageArrivesAfterItInOrder) {
    Sim a(dir, "a", 3);
    cfg.readers = {{"a", a.device(), 50, 600, 250}};
    auto sub = std::make_unique<Subscriber>(dir, broker->port(), std::vector<std::string>{"uhf/gw/a/events"}, "outage-sub");
    Uhfd gw(dir, cfg.text());
    ASSERT_TRUE(eventually([&] { return count_type(events(*sub, topic("a", "events")), "report") >= 1; }, 10s)) << gw.log();
    broker->stop();
    const auto before = events(*sub, topic("a", "events"));
    ASSERT_FALSE(before.empty());
    // Gone for good: reconnecting by itself under the same client id, it would take the session
    // (and what was queued for it) from the subscriber below.
    sub->stop();
    // Some 40 reports queued while the broker is away (about ten seconds of them).
    ASSERT_TRUE(eventually([&] { return saved_sequence(cfg.queue_dir, "a") >= seqs(before).back() + 40; }, 30s)) << gw.log();
    broker->start();
    auto sub2 = std::make_unique<Subscriber>(dir, broker->port(), std::vector<std::string>{"uhf/gw/a/events"}, "outage-sub");
    // About 40 reports were made while the broker was away.
    ASSERT_TRUE(eventually([&] { return events(*sub2, topic("a", "events")).size() >= 40; }, 30s))
        << events(*sub2, topic("a", "events")).size() << " events after the outage\n" << gw.log();
    std::vector<std::uint64_t> all = seqs(before);
    for (auto s : seqs(events(*sub2, topic("a", "events"))))
        if (s > all.back()) all.push_back(s);
        else EXPECT_TRUE(std::find(all.begin(), all.end(), s) != all.end()) << "out of order: " << s;
    EXPECT_TRUE(contiguous(all)) << all.size();
    EXPECT_NE(gw.log().find("connection lost"), std::string::npos);
}

TEST_F(Gateway, EventsQueuedDuringAnOutageOutliveAKilledGateway) {
    Sim a(dir, "a", 2);
    cfg.readers = {{"a", a.device(), 50, 600, 100}};
    broker->stop();
    Uhfd gw(dir, cfg.text());
    ASSERT_TRUE(eventually([&] { return saved_sequence(cfg.queue_dir, "a") >= 20; }, 15s)) << gw.log();
    gw.kill();  // SIGKILL: no chance to save anything more
    broker->start();
    Subscriber sub(dir, broker->port(), {"uhf/gw/a/events"});
    gw.start();
    ASSERT_TRUE(eventually([&] { return events(sub, topic("a", "events")).size() >= 20; }, 10s)) << gw.log();
    const auto s = seqs(events(sub, topic("a", "events")));
    EXPECT_TRUE(contiguous(s)) << s.size();
    EXPECT_NE(gw.log().find("events kept from the last run"), std::string::npos);
}

TEST_F(Gateway, AFullQueueDropsTheOldestAndPublishesTheCount) {
    Sim a(dir, "a", 2);
    cfg.queue_max = 5;
    cfg.readers = {{"a", a.device(), 50, 600, 100}};
    {
        Subscriber session(dir, broker->port(), {"uhf/gw/a/events"}, "overflow-sub");
    }
    broker->stop();
    Uhfd gw(dir, cfg.text());
    // Some 15 reports for a queue of 5.
    ASSERT_TRUE(eventually([&] { return saved_sequence(cfg.queue_dir, "a") >= 15 && saved_queue(cfg.queue_dir).value("dropped", 0) >= 10; },
                           15s)) << gw.log();
    broker->start();
    Subscriber sub(dir, broker->port(), {"uhf/gw/a/events"}, "overflow-sub");
    Subscriber status(dir, broker->port(), {"uhf/gw/status", "uhf/gw/a/status"});
    const auto queue = [&] { return latest(status, "uhf/gw/status").value("queue", json::object()); };
    ASSERT_TRUE(eventually([&] { return queue().value("dropped", 0) > 0 && queue().value("depth", 1) == 0; }, 10s)) << gw.log();
    const json q = queue();
    EXPECT_EQ(q["max"], 5);
    EXPECT_EQ(q["dropped"], q["dropped_by_reader"]["a"]);
    EXPECT_TRUE(eventually([&] { return counter(status, "uhf/gw/a/status", "events_dropped") == q["dropped"].get<long>(); }, 5s));
    // The oldest went; the count explains every gap. (A gap may also follow the survivors: while
    // all five are in flight, a new event is the one that goes, however briefly that lasts.)
    std::vector<std::uint64_t> s;
    long dropped = 0;
    EXPECT_TRUE(eventually([&] {
        s = seqs(events(sub, topic("a", "events")));
        dropped = latest(status, "uhf/gw/status").value("queue", json::object()).value("dropped", 0L);
        return s.size() >= 5 && static_cast<long>(s.back() - s.size()) == dropped;
    }, 10s)) << s.size() << " events up to " << (s.empty() ? 0 : s.back()) << ", " << dropped << " dropped";
    ASSERT_FALSE(s.empty());
    EXPECT_GT(s.front(), 1u) << "the oldest were not the ones dropped";
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
}

// A lost queue directory starts a reader's sequence again from 1, under a new epoch: a consumer
// that keeps (reader, epoch, seq) takes the new events rather than dropping them as seen.
TEST_F(Gateway, ALostQueueDirectoryStartsANewEpochThatTheEventsCarry) {
    Sim a(dir, "a", 2);
    cfg.readers = {{"a", a.device(), 50, 600, 200}};
    Subscriber sub(dir, broker->port(), {"uhf/gw/a/events"});
    Uhfd gw(dir, cfg.text());
    std::map<std::string, std::vector<std::uint64_t>> by_epoch;  // in arrival order, each seq once
    const auto collect = [&] {
        by_epoch.clear();
        std::set<std::pair<std::string, std::uint64_t>> seen;
        for (const auto& m : sub.on(topic("a", "events")))
            if (m.body.is_object() && seen.insert({m.body.value("epoch", ""), m.body.value("seq", 0ull)}).second)
                by_epoch[m.body.value("epoch", "")].push_back(m.body["seq"].get<std::uint64_t>());
        return by_epoch;
    };
    ASSERT_TRUE(eventually([&] { return collect().size() == 1 && by_epoch.begin()->second.size() >= 5; }, 10s)) << gw.log();
    const std::string first = by_epoch.begin()->first;
    EXPECT_EQ(first.size(), 16u) << first;
    gw.process().signal(SIGTERM);
    ASSERT_EQ(gw.process().wait(20s), 0) << gw.log();
    fs::remove_all(cfg.queue_dir);
    gw.start();
    const auto fresh = [&] {
        for (const auto& [epoch, s] : collect())
            if (epoch != first) return s.size();
        return std::size_t{0};
    };
    ASSERT_TRUE(eventually([&] { return fresh() >= 5; }, 10s)) << gw.log();
    EXPECT_EQ(by_epoch.size(), 2u);
    EXPECT_EQ(by_epoch.count(""), 0u) << "an event without an epoch";
    for (const auto& [epoch, s] : by_epoch) EXPECT_TRUE(contiguous(s)) << epoch << ": " << s.size() << " events";
    EXPECT_TRUE(by_epoch.count(first));
}

// How long the stop takes is measured, not asserted here (docs/gateway.md has the figures); the
// bound below only catches a stop that hangs.
TEST_F(Gateway, SigtermStopsCleanlyAndSaysSo) {
    Sim a(dir, "a", 2);
    cfg.readers = {{"a", a.device()}};
    Subscriber sub(dir, broker->port(), {"uhf/#"});
    Uhfd gw(dir, cfg.text());
    ASSERT_TRUE(eventually([&] { return latest(sub, topic("a", "status")).value("state", "") == "online"; }, 10s));
    gw.process().signal(SIGTERM);
    EXPECT_EQ(gw.process().wait(20s), 0) << gw.log();
    EXPECT_TRUE(eventually([&] { return latest(sub, "uhf/gw/status").value("reason", "") == "stopped"; }, 2s));
    EXPECT_EQ(latest(sub, "uhf/gw/status")["readers"]["a"], "stopped");
    EXPECT_EQ(latest(sub, topic("a", "status"))["state"], "stopped");
}

TEST_F(Gateway, AGatewayKilledLeavesItsLastWill) {
    Sim a(dir, "a", 1);
    cfg.readers = {{"a", a.device()}};
    Subscriber sub(dir, broker->port(), {"uhf/gw/status"});
    Uhfd gw(dir, cfg.text());
    ASSERT_TRUE(eventually([&] { return latest(sub, "uhf/gw/status").value("state", "") == "online"; }, 10s));
    gw.kill();
    EXPECT_TRUE(eventually([&] { return latest(sub, "uhf/gw/status").value("reason", "") == "connection lost"; }, 10s));
}

TEST_F(Gateway, SighupAddsAndRemovesReadersAndLeavesTheOthersRunning) {
    Sim a(dir, "a", 1), b(dir, "b", 1);
    cfg.readers = {{"a", a.device()}};
    Subscriber sub(dir, broker->port(), {"uhf/#"});
    Uhfd gw(dir, cfg.text());
    ASSERT_TRUE(eventually([&] { return latest(sub, topic("a", "status")).value("state", "") == "online"; }, 10s));
    cfg.readers = {{"a", a.device()}, {"b", b.device()}};
    gw.rewrite(cfg.text());
    gw.process().signal(SIGHUP);
    ASSERT_TRUE(eventually([&] { return latest(sub, topic("b", "status")).value("state", "") == "online"; }, 10s)) << gw.log();
    // Reader a ran on: one arrival only, no restart.
    EXPECT_EQ(count_type(events(sub, topic("a", "events")), "arrived"), 1u);
    cfg.readers = {{"b", b.device()}};
    gw.rewrite(cfg.text());
    gw.process().signal(SIGHUP);
    // A removed reader's retained status is cleared (an empty message).
    EXPECT_TRUE(eventually([&] {
        for (const auto& m : sub.messages())
            if (m.topic == topic("a", "status") && m.raw.empty()) return true;
        return false;
    }, 15s)) << gw.log();
    gw.rewrite("[gateway]\nid = 7\n");
    gw.process().signal(SIGHUP);
    EXPECT_TRUE(eventually([&] { return gw.log().find("reload refused") != std::string::npos; }, 15s));
    EXPECT_TRUE(gw.process().running());
}

// SIGTERM while something does not answer: a reader in the middle of a 4 s reply wait, a broker
// that takes the connection and never answers, a broker name that does not resolve. The stop is
// bounded in each and clean in each: the reader's wait is cancelled, and a broker never reached
// is owed no goodbye (what is queued stays on disk).
struct StuckRow {
    const char* name;
    enum { reader, broker, name_server } what;
    int status;
};

class StopWhileStuck : public ::testing::TestWithParam<StuckRow> {};

TEST_P(StopWhileStuck, EndsBoundedWithTheDocumentedStatus) {
    ScratchDir dir;
    Broker broker(dir);
    GatewayConfig cfg;
    cfg.queue_dir = dir.file("queue");
    cfg.broker_port = broker.port();
    Sim a(dir, "a", 2, {}, true);
    cfg.readers = {{"a", a.device()}};
    int listener = -1;
    if (GetParam().what == StuckRow::broker) {
        // Listening with a backlog: the kernel completes the connection, nobody ever reads it.
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        ASSERT_EQ(::listen(listener, 8), 0);
        socklen_t len = sizeof sa;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len);
        cfg.broker_port = ntohs(sa.sin_port);
    }
    std::string text = cfg.text();
    if (GetParam().what == StuckRow::name_server) {
        const std::string uri = "mqtt://127.0.0.1:" + std::to_string(cfg.broker_port);
        text.replace(text.find(uri), uri.size(), "mqtt://broker.uhfd-test.invalid:1883");
    }
    text += "reply_timeout_ms = 4000\n";
    Uhfd gw(dir, text);
    Subscriber sub(dir, broker.port(), {"uhf/gw/a/status"});
    if (GetParam().what == StuckRow::reader) {
        ASSERT_TRUE(eventually([&] { return latest(sub, "uhf/gw/a/status").value("state", "") == "online"; }, 10s)) << gw.log();
        a.signal(SIGSTOP);
    } else {
        ASSERT_TRUE(eventually([&] { return gw.log().find("reader a (") != std::string::npos; }, 10s)) << gw.log();
    }
    gw.process().signal(SIGTERM);
    EXPECT_EQ(gw.process().wait(20s), GetParam().status) << gw.log();
    if (GetParam().what == StuckRow::reader) a.signal(SIGCONT);
    if (listener >= 0) ::close(listener);
}

INSTANTIATE_TEST_SUITE_P(Stuck, StopWhileStuck,
                         ::testing::Values(StuckRow{"ReaderMidReplyWait", StuckRow::reader, 0},
                                           StuckRow{"SilentBroker", StuckRow::broker, 0},
                                           StuckRow{"UnresolvableBroker", StuckRow::name_server, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckConfig, ExitsTwoNamingLineAndKeyAndZeroWhenSound) {
    ScratchDir dir;
    const auto bad = dir.write("bad.toml", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nround_interval_ms = -1\n");
    Process p({UHFD_PATH, "--check-config", bad}, dir.file("o"), dir.file("e"));
    EXPECT_EQ(p.wait(10s), 2);
    EXPECT_NE(p.err().find(bad + ":6: readers[0].round_interval_ms:"), std::string::npos) << p.err();
    const auto good = dir.write("good.toml", "[gateway]\nid = \"gw\"\n");
    Process q({UHFD_PATH, "--check-config", good}, dir.file("o2"), dir.file("e2"));
    EXPECT_EQ(q.wait(10s), 0);
}

// The manual page names every option --help lists, the exit statuses and the signals.
TEST(ManPage, NamesEveryOptionStatusAndSignal) {
    std::ifstream f(UHFD_MAN);
    ASSERT_TRUE(f);
    std::stringstream page;
    page << f.rdbuf();
    std::string text = page.str();
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;) text.erase(at, 1);  // roff's minus
    ScratchDir dir;
    Process help({UHFD_PATH, "--help"}, dir.file("o"), dir.file("e"));
    ASSERT_EQ(help.wait(10s), 0);
    std::istringstream words(help.out());
    std::size_t options = 0;
    for (std::string w; words >> w;) {
        if (w.rfind("--", 0) != 0) continue;
        w = w.substr(0, w.find_first_of(" :,"));
        EXPECT_NE(text.find(w), std::string::npos) << w << " is not in the manual page";
        ++options;
    }
    EXPECT_GE(options, 4u);
    for (const char* item : {".B 0\n", ".B 1\n", ".B 2\n", ".B 3\n", "SIGTERM", "SIGHUP"})
        EXPECT_NE(text.find(item), std::string::npos) << item;
}

}  // namespace
