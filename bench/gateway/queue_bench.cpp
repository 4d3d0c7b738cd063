// The gateway's queue on its own: append latency with a normal and a slow disk (every fdatasync
// 300 ms), and a backlog queued during an outage drained into a real mosquitto on loopback.
//
//   uhfd_queue_bench [events [window]]      (defaults: 100000, the publisher's)
//
// Prints figures; asserts nothing. The broker is started and stopped here, on a free port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "proc_cpu.hpp"
#include "publisher.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct SlowSync : uhfd::QueueIo {
    int fdatasync(int fd) override {
        std::this_thread::sleep_for(300ms);
        return uhfd::QueueIo::fdatasync(fd);
    }
};

// A report-sized event: a few hundred bytes of JSON.
std::string payload(const uhfd::DiskQueue::Sequence& s) {
    return R"({"type":"arrived","gateway":"bench","reader":"r1","epoch":")" + s.epoch + R"(","seq":)" + std::to_string(s.seq) +
           R"(,"time":"2026-12-09T05:00:00.000Z","tag":{"id":"E2000017221101441890ABCD","family":"EPC","antenna":1,)"
           R"("rssi":-52,"peak_rssi":-52,"reads":3,"first_seen":"2026-12-09T05:00:00.000Z","last_seen":"2026-12-09T05:00:00.000Z"}})";
}

struct Latency {
    double p50_us, p99_us, max_us;
};

// Appends `n` events, `per_ms` to a millisecond (0: back to back); the latency of each append.
Latency append(uhfd::DiskQueue& q, std::size_t n, int per_ms) {
    std::vector<double> us;
    us.reserve(n);
    auto next = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        if (per_ms && i % static_cast<std::size_t>(per_ms) == 0) {
            next += 1ms;
            std::this_thread::sleep_until(next);
        }
        const auto t0 = Clock::now();
        q.append("r" + std::to_string(i % 8), "bench/gw/r/events", payload);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t events = argc > 1 ? std::stoul(argv[1]) : 100000;
    const std::size_t window = argc > 2 ? std::stoul(argv[2]) : uhfd::Publisher::Options{}.window;
    gwtest::ScratchDir d;

    {
        SlowSync slow;
        uhfd::DiskQueue normal(d.file("paced"), events + 1);
        uhfd::DiskQueue::Limits slow_disk;
        slow_disk.io = &slow;
        uhfd::DiskQueue stalled(d.file("slow"), events + 1, slow_disk);
        // Paced as readers make events (10 a millisecond), for long enough to span several syncs.
        const std::size_t paced = std::min<std::size_t>(events, 30000);
        const Latency a = append(normal, paced, 10);
        const Latency b = append(stalled, paced, 10);
        std::printf("append latency, %zu events at 10/ms   p50 %.1f us  p99 %.1f us  max %.1f us\n", paced, a.p50_us, a.p99_us, a.max_us);
        std::printf("  same, fdatasync 300 ms              p50 %.1f us  p99 %.1f us  max %.1f us\n", b.p50_us, b.p99_us, b.max_us);
    }

    {
        // The queue's own share of a drain: hand out and acknowledge, no broker.
        uhfd::DiskQueue alone(d.file("alone"), events + 1);
        append(alone, events, 0);
        const auto t0 = Clock::now();
        while (auto n = alone.next()) alone.ack(n->first);
        const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("queue alone: %zu events handed out and acknowledged in %.2f s   %.0f events/s\n", events, secs, events / secs);
    }

    gwtest::Broker broker(d);
    broker.stop();  // the outage
    uhfd::DiskQueue q(d.file("q"), events + 1);
    const Latency fill = append(q, events, 0);
    std::printf("queued %zu events during the outage    p50 %.1f us  p99 %.1f us  (disk %.1f MB)\n", events, fill.p50_us, fill.p99_us,
                static_cast<double>(q.disk_bytes()) / 1e6);
    uhfd::Publisher::Options o;
    o.broker.uri = "mqtt://127.0.0.1:" + std::to_string(broker.port());
    o.broker.host = "127.0.0.1";
    o.broker.port = broker.port();
    o.broker.protocol = 5;
    o.broker.client_id = "queue-bench";
    o.reconnect_min = 20ms;
    o.reconnect_max = 50ms;
    o.window = window;
    uhfd::Publisher p(o, q);
    p.start();
    broker.start();
    while (!p.stats().connected) std::this_thread::sleep_for(1ms);
    // Where the time goes: the publisher thread's CPU and the broker's, per event.
    const std::string publisher_stat = gwbench::own_thread("uhfd-mqtt"), broker_stat = gwbench::own_child("mosquitto");
    const double pub0 = gwbench::cpu_seconds(publisher_stat), broker0 = gwbench::cpu_seconds(broker_stat);
    const auto t0 = Clock::now();
    while (q.depth() > 0) std::this_thread::sleep_for(1ms);
    const double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    const double pub_us = (gwbench::cpu_seconds(publisher_stat) - pub0) * 1e6 / static_cast<double>(events);
    const double broker_us = (gwbench::cpu_seconds(broker_stat) - broker0) * 1e6 / static_cast<double>(events);
    std::printf("drained %zu events in %.2f s, window %zu  %.0f events/s  (disk after: %llu bytes)\n", events, secs, window, events / secs,
                static_cast<unsigned long long>(q.disk_bytes()));
    std::printf("  CPU per event: publisher thread %.1f us, broker %.1f us   (load average %s)\n", pub_us, broker_us,
                gwbench::load_average().c_str());
    p.stop(1s);
    return 0;
}
