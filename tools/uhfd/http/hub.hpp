// Fans the readers' events out to the console's event-stream clients without ever making a
// reader wait for one. Each client has a mailbox of ready-made event-stream messages; a reader's
// thread only appends to mailboxes (and a client that falls 1 MiB behind has its mailbox emptied
// and is sent a fresh picture instead), and each client's own HTTP thread writes its mailbox out.
//
// Once a second the hub's thread also follows reloads (subscribing to new readers' workers),
// switches frame tracing on for the readers someone watches, works out per-antenna read rates,
// and posts the readers' statuses and each followed reader's tags.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http/gateway_ref.hpp"
#include "http/views.hpp"

namespace uhfd::http {

struct Mailbox {
    Mailbox(std::string reader_, bool trace_) : reader(std::move(reader_)), trace(trace_) {}
    const std::string reader;  // whose tags (and frames, with trace) the client follows; "" none
    const bool trace;

    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::shared_ptr<const std::string>> items;  // under mu
    std::size_t bytes = 0;                                  // under mu
    bool resync = false;                                    // under mu: send a whole picture next
    bool closed = false;                                    // under mu: the hub is stopping
};

class Hub {
public:
    static constexpr std::size_t kMaxBehind = 1u << 20;

    // `facts` without the stream count, which the hub keeps.
    Hub(GatewayRef& gateway, std::string gateway_id, ConsoleFacts facts);
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    void start();
    // Closes every mailbox, lets go of the readers and ends the thread.
    void stop();

    // A new client; nullptr when `max` are already connected.
    std::shared_ptr<Mailbox> join(const std::string& reader, bool trace, std::size_t max);
    void leave(const std::shared_ptr<Mailbox>& m);

    std::size_t clients() const;
    std::uint64_t overflows() const { return overflows_; }
    // Streams dropped because their client stopped reading.
    void count_drop() { ++drops_; }
    std::uint64_t drops() const { return drops_; }
    // Failures that escaped the hub's thread (each logged; the thread carries on).
    std::uint64_t failures() const { return failures_; }
    std::map<std::string, Rates> rates() const;
    Rates rates(const std::string& reader) const;

    // One event-stream message: "event: NAME\ndata: JSON\n\n".
    static std::string message(const char* event, const Json& data);
    // The gateway as the console shows it, with the current stream count.
    Json gateway_json(const Gateway& gw) const;

private:
    struct Watch {
        std::shared_ptr<ReaderWorker> worker;
        std::uint64_t events = 0;  // subscription ids; 0: none
        std::uint64_t frames = 0;
        std::map<int, std::uint64_t> last_reads;  // by antenna, at the last tick
        std::chrono::steady_clock::time_point last_tick;
    };

    void run();
    void follow_readers();
    void post_statuses();
    // Subscriber: on the reader's thread; only appends to mailboxes, never blocks on a client.
    void on_event(const std::string& reader, const ReaderEvent& e);
    void post_event(const std::string& reader, const ReaderEvent& e);
    // Logs and counts what escaped the hub's thread or a subscriber.
    void failed(const std::string& what);
    void on_frame(const std::string& reader, int direction, std::span<const std::uint8_t> bytes, unsigned long long t_us);
    // Appends to the mailboxes `to` selects.
    template <class Pred>
    void deliver(const std::shared_ptr<const std::string>& msg, Pred to);
    void push(Mailbox& m, const std::shared_ptr<const std::string>& msg);

    GatewayRef& gateway_;
    const std::string gateway_id_;
    const ConsoleFacts facts_;

    mutable std::mutex mu_;  // clients_, rates_, stop_
    std::condition_variable wake_;
    std::vector<std::shared_ptr<Mailbox>> clients_;
    std::map<std::string, Rates> rates_;
    bool stop_ = false;
    bool changed_ = false;  // a client came or went: follow readers now
    std::atomic<std::size_t> count_{0};
    std::atomic<std::uint64_t> overflows_{0};
    std::atomic<std::uint64_t> drops_{0};
    std::atomic<std::uint64_t> failures_{0};

    std::map<std::string, Watch> watches_;  // hub thread only (and stop(), after it ended)
    std::thread thread_;
};

}  // namespace uhfd::http
