// What the queue's tests share: appending and draining, and disks that fail or stall on demand.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "publisher.hpp"

namespace qtest {

// A publisher's settings for a broker on this machine's loopback, reconnecting quickly.
inline uhfd::Publisher::Options loopback_broker(int port, const std::string& client_id) {
    using namespace std::chrono_literals;
    uhfd::Publisher::Options o;
    o.broker.uri = "mqtt://127.0.0.1:" + std::to_string(port);
    o.broker.host = "127.0.0.1";
    o.broker.port = port;
    o.broker.client_id = client_id;
    o.reconnect_min = 50ms;
    o.reconnect_max = 200ms;
    return o;
}

inline std::uint64_t add(uhfd::DiskQueue& q, const std::string& key, const std::string& body = "x") {
    return q.append(key, "t/" + key, [&](const uhfd::DiskQueue::Sequence& s) { return body + ":" + std::to_string(s.seq); });
}

// The length of each record `add(q, "a", "payload")` writes while the sequence has one digit:
// a 24-byte header, the key, the topic and the payload.
constexpr std::size_t kRecord = 37;

// The one segment file of a queue kept in `d`/q.
inline std::string only_segment(const gwtest::ScratchDir& d) {
    for (const auto& e : gwtest::fs::directory_iterator(d.path() / "q"))
        if (e.path().extension() == ".seg") return e.path();
    return {};
}

inline std::vector<std::string> take_all(uhfd::DiskQueue& q, bool ack) {
    std::vector<std::string> out;
    while (auto n = q.next()) {
        out.push_back(n->second.payload);
        if (ack) q.ack(n->first);
    }
    return out;
}

// A disk that refuses every write with `refuse` (ENOSPC, EIO) while it is set.
struct FullDisk : uhfd::QueueIo {
    std::atomic<int> refuse{0};
    ssize_t write(int fd, const void* data, std::size_t n) override {
        if (const int e = refuse.load()) {
            errno = e;
            return -1;
        }
        return uhfd::QueueIo::write(fd, data, n);
    }
};

// A disk whose syncs wait until the test lets them go.
struct StalledDisk : uhfd::QueueIo {
    std::mutex mu;
    std::condition_variable cv;
    bool held = true;
    std::atomic<int> waiting{0};
    int fdatasync(int fd) override {
        ++waiting;
        std::unique_lock lock(mu);
        cv.wait(lock, [&] { return !held; });
        --waiting;
        return uhfd::QueueIo::fdatasync(fd);
    }
    void release() {
        {
            std::lock_guard lock(mu);
            held = false;
        }
        cv.notify_all();
    }
};

}  // namespace qtest
