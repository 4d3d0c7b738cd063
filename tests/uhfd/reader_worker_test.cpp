// One reader worker in-process against a virtual reader on loopback TCP: its pace under commands,
// its stop in the middle of an exchange, what escapes a subscriber, and its tags handed on.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "gateway_harness.hpp"
#include "event_json.hpp"
#include "presence_store.hpp"
#include "reader_worker.hpp"

namespace {

using namespace gwtest;
using uhfd::ReaderWorker;

uhfd::ReaderConfig reader(const Sim& sim, int round_ms = 50) {
    uhfd::ReaderConfig c;
    c.name = "a";
    c.device = sim.device();
    c.families = {inventory::Family::epc};
    c.round_interval = std::chrono::milliseconds(round_ms);
    c.departure_timeout = std::chrono::milliseconds(600);
    c.report_interval = std::chrono::milliseconds(0);
    c.layout = inventory::virtual_layout();
    return c;
}

uhfd::PreparedCall device_info() {
    const uhfd::Request r = uhfd::parse_request(R"({"command":"GetDeviceInfo"})", uhfd::CommandPolicy());
    return r.call;
}

// What a subscriber heard, for the test thread to read.
struct Heard {
    std::mutex mu;
    std::vector<inventory::TagEvent> tags;
    std::vector<uhfd::ReaderSnapshot> states;
    void operator()(const uhfd::ReaderEvent& e) {
        std::lock_guard lock(mu);
        if (auto* t = std::get_if<uhfd::TagChanged>(&e)) tags.push_back(t->event);
        if (auto* s = std::get_if<uhfd::StateChanged>(&e)) states.push_back(s->snapshot);
    }
    std::size_t count(inventory::TagEvent::Kind k) {
        std::lock_guard lock(mu);
        return static_cast<std::size_t>(std::count_if(tags.begin(), tags.end(), [&](const auto& t) { return t.kind == k; }));
    }
};

bool online(const ReaderWorker& w) { return w.snapshot(false).state == uhfd::LinkState::online; }

class Worker : public ::testing::Test {
protected:
    ScratchDir dir;
};

// Rounds keep to 1000 / round_interval_ms per second whatever commands come: eight clients back to
// back, and bursts past the queue's bound, which are refused busy rather than queued.
TEST_F(Worker, CommandsNeitherAddRoundsNorGoUnanswered) {
    Sim sim(dir, "a", 3, {}, true);
    ReaderWorker w(reader(sim, 50), {});
    w.start();
    ASSERT_TRUE(eventually([&] { return online(w); }, 10s));
    std::atomic<int> answered{0}, busy{0}, failed{0};
    const auto done = [&](uhfd::CommandResult r) {
        if (r.busy) ++busy;
        else if (!r.refusal.empty() || r.outcome != inventory::Outcome::ok) ++failed;
        else ++answered;
    };
    const auto r0 = w.snapshot(false).counters.rounds;
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c)
        clients.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                std::atomic<bool> back{false};
                w.submit(device_info(), [&](uhfd::CommandResult r) {
                    done(std::move(r));
                    back = true;
                });
                eventually([&] { return back.load(); }, 10s);
            }
        });
    for (auto& t : clients) t.join();
    // A burst larger than the queue, while a job holds the reader: the overflow is refused at once.
    std::atomic<bool> holding{false}, release{false};
    w.submit_task([&](uhf_link*, int) {
        holding = true;
        eventually([&] { return release.load(); }, 10s);
    }, [](const std::string&) {});
    ASSERT_TRUE(eventually([&] { return holding.load(); }, 10s));
    for (int i = 0; i < 100; ++i) w.submit(device_info(), done);
    release = true;
    ASSERT_TRUE(eventually([&] { return answered + busy + failed == 300; }, 30s));
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double rounds = static_cast<double>(w.snapshot(false).counters.rounds - r0);
    const double expected = elapsed * 1000.0 / 50.0;
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(busy, 100 - static_cast<int>(ReaderWorker::kMaxQueuedCommands));
    // Before commands kept the pace, each one started a round of its own: 300 and more here.
    EXPECT_LT(rounds, expected * 1.25 + 2) << rounds << " rounds in " << elapsed << " s";
    // Fewer rounds than the pace allows is the machine's load, not a fault: only rounds that
    // stopped are one. The rate itself is bench/'s.
    EXPECT_GT(rounds, 0) << "no round in " << elapsed << " s";
}

// A reader that stops answering in the middle of a 4 s reply wait: the stop cancels the wait.
TEST_F(Worker, StopEndsAReplyWaitAtOnce) {
    Sim sim(dir, "a", 1, {}, true);
    auto cfg = reader(sim, 20);
    cfg.reply_timeout = std::chrono::milliseconds(4000);
    ReaderWorker w(cfg, {});
    std::atomic<int> sent{0};
    w.subscribe_frames([&](int direction, std::span<const std::uint8_t>, unsigned long long) { sent += direction == UHF_TRACE_SENT; });
    w.start();
    ASSERT_TRUE(eventually([&] { return online(w) && sent > 2; }, 10s));
    sim.signal(SIGSTOP);
    const int before = sent;
    ASSERT_TRUE(eventually([&] { return sent > before; }, 5s));  // a request the reader will not answer
    const auto t0 = std::chrono::steady_clock::now();
    w.request_stop();
    EXPECT_TRUE(w.wait_stopped(2000ms));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, 1000ms);  // the cancel's bound is 10 ms; the reply wait's 4 s
    EXPECT_EQ(w.snapshot(false).state, uhfd::LinkState::stopped);
    sim.signal(SIGCONT);
}

// A subscriber is called with no worker lock held: it may subscribe another, and what it throws
// takes the reader offline with the reason, not the process down; the reader then comes back.
TEST_F(Worker, SubscribersRunOutsideLocksAndWhatTheyThrowIsAReason) {
    Sim sim(dir, "a", 2, {}, true);
    Heard heard;  // outlives the worker, whose thread calls into it
    ReaderWorker w(reader(sim), {50ms, 100ms});
    std::atomic<bool> thrown{false}, nested{false};
    w.subscribe([&](const uhfd::ReaderEvent& e) {
        heard(e);
        if (!std::holds_alternative<uhfd::TagChanged>(e)) return;
        if (!nested.exchange(true)) w.subscribe([](const uhfd::ReaderEvent&) {});
        if (!thrown.exchange(true)) throw std::runtime_error("queue append failed");
    });
    w.start();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(heard.mu);
        for (const auto& s : heard.states)
            if (s.state == uhfd::LinkState::offline && s.reason.find("queue append failed") != std::string::npos) return true;
        return false;
    }, 10s));
    EXPECT_TRUE(eventually([&] { return online(w); }, 10s));
}

// Tags handed from a worker to its successor (a reload) or through the presence file (a restart)
// are not announced again; one taken away meanwhile departs.
TEST_F(Worker, PresenceCarriesOverAndWhatLeftDeparts) {
    const std::string control = dir.file("a.ctl");
    Sim sim(dir, "a", 0, {"--control", control}, true);
    std::vector<std::string> ids;
    for (const char* id : {"E20000000000000000000001", "E20000000000000000000002", "E20000000000000000000003"}) {
        ASSERT_EQ(field(control, std::string("add epc ") + id).rfind("ok", 0), 0u);
        ids.push_back(id);
    }
    const std::string file = dir.file("queue/presence/a.json");
    std::vector<inventory::TagState> present;
    {
        Heard heard;
        ReaderWorker first(reader(sim), {});
        first.keep_presence({}, file);
        first.subscribe(std::ref(heard));
        first.start();
        ASSERT_TRUE(eventually([&] { return heard.count(inventory::TagEvent::Kind::arrived) == 3; }, 10s));
        first.request_stop();
        ASSERT_TRUE(first.wait_stopped(5s));
        present = first.snapshot(true).tags;
    }
    ASSERT_EQ(present.size(), 3u);
    // Each run starts after one more tag was taken away.
    for (const bool from_file : {false, true}) {
        SCOPED_TRACE(from_file ? "restored from the file" : "handed over");
        const std::string gone = ids[from_file ? 1 : 0];
        ASSERT_EQ(field(control, "remove " + gone), "ok");
        Heard heard;
        ReaderWorker next(reader(sim), {});
        next.keep_presence(from_file ? uhfd::load_presence(file, inventory::Stamp::now()) : present, file);
        next.subscribe(std::ref(heard));
        next.start();
        ASSERT_TRUE(eventually([&] { return heard.count(inventory::TagEvent::Kind::departed) == 1; }, 10s));
        {
            std::lock_guard lock(heard.mu);
            EXPECT_EQ(uhfd::hex(heard.tags[0].tag.id), gone);
        }
        EXPECT_EQ(heard.count(inventory::TagEvent::Kind::arrived), 0u);
        EXPECT_EQ(next.snapshot(false).tags_present, from_file ? 1u : 2u);
        next.request_stop();
        ASSERT_TRUE(next.wait_stopped(5s));
    }
}

// The rounds channel hears the reads of every round, of tags still present too (their tag events
// stop after they arrive), and an unsubscribed listener hears nothing more.
TEST_F(Worker, EveryRoundIsHeardWithItsReads) {
    const std::string control = dir.file("a.ctl");
    Sim sim(dir, "a", 0, {"--control", control}, true);
    for (const char* id : {"E20000000000000000000001", "E20000000000000000000002"})
        ASSERT_EQ(field(control, std::string("add epc ") + id).rfind("ok", 0), 0u);
    Heard heard;
    std::mutex mu;
    std::vector<std::size_t> sizes;  // reads per round heard
    ReaderWorker w(reader(sim, 20), {});
    w.subscribe(std::ref(heard));
    const auto id = w.subscribe_rounds([&](const ReaderWorker::RoundSeen& r) {
        std::lock_guard lock(mu);
        if (!r.failed) sizes.push_back(r.reads.size());
    });
    w.start();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(mu);
        return sizes.size() >= 10;
    }, 10s));
    w.unsubscribe_rounds(id);
    std::size_t heard_rounds = 0;
    {
        std::lock_guard lock(mu);
        heard_rounds = sizes.size();
        // The virtual field misses a tag now and then, as a real one does.
        for (const auto n : sizes) EXPECT_LE(n, 2u);
        EXPECT_EQ(*std::max_element(sizes.begin(), sizes.end()), 2u);
    }
    EXPECT_EQ(heard.count(inventory::TagEvent::Kind::arrived), 2u);
    const auto r0 = w.snapshot(false).counters.rounds;
    ASSERT_TRUE(eventually([&] { return w.snapshot(false).counters.rounds >= r0 + 3; }, 10s));
    std::lock_guard lock(mu);
    EXPECT_EQ(sizes.size(), heard_rounds);
}

}  // namespace
