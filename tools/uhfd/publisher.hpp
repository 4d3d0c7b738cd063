// The broker side of uhfd, on a thread of its own: keeps a connection (reconnecting with capped
// exponential backoff), sends the disk queue's records in order with QoS 1 and removes each only
// when the broker acknowledges it, keeps the retained status topics current, and hands incoming
// command requests to a handler.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>

#include "config.hpp"
#include "disk_queue.hpp"
#include "mqtt_session.hpp"

namespace uhfd {

class Publisher {
public:
    struct Options {
        BrokerConfig broker;
        Will will;                         // retained last will
        std::vector<std::string> subscriptions;
        std::chrono::milliseconds reconnect_min{500};
        std::chrono::milliseconds reconnect_max{30000};
        // Queue records in flight at once; with the queue's head noted every 16 settled records,
        // a killed process sends fewer than window + 16 records twice.
        std::size_t window = 32;
        std::chrono::milliseconds lookup_wait{10000};  // for the broker's host name
    };
    struct Stats {
        std::uint64_t sent = 0;       // queue records published (resends included)
        std::uint64_t delivered = 0;  // acknowledged
        std::uint64_t rejected = 0;   // refused by the broker (MQTT 5 reason code >= 0x80)
        std::uint64_t failures = 0;   // faults caught on the publisher thread
        std::uint64_t connections = 0;
        bool connected = false;
    };

    Publisher(Options options, DiskQueue& queue);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Runs on the publisher thread for each message on a subscribed topic; must not block.
    void set_message_handler(std::function<void(const IncomingMessage&)> handler);
    void start();

    // Retained: published now or at the next connection, and again after every reconnection.
    void set_retained(const std::string& topic, std::string payload);
    // One QoS 1 message outside the queue (a command reply); dropped when not connected.
    void send(const std::string& topic, std::string payload, std::optional<std::string> correlation = std::nullopt);

    // Publishes the retained topics once more, waits until `deadline` at most for the broker to
    // acknowledge them, disconnects and ends the thread. The queue keeps whatever was not
    // delivered. Returns by the deadline plus about 100 ms whatever the broker or the name
    // server do; false when the goodbye was not acknowledged in time.
    bool stop_by(std::chrono::steady_clock::time_point deadline);
    bool stop(std::chrono::milliseconds grace) { return stop_by(std::chrono::steady_clock::now() + grace); }

    Stats stats() const;

private:
    struct Direct {
        std::string topic;
        std::string payload;
        std::optional<std::string> correlation;
    };

    void run();
    void step(bool& disconnecting, std::optional<std::chrono::steady_clock::time_point>& deadline, bool& done);
    void wake();
    void try_connect();
    void drop_session(const std::string& why);
    void schedule_retry();
    void pump();  // publishes what is waiting, while connected
    void note_failure(const std::string& what);

    Options opt_;
    DiskQueue& queue_;
    std::function<void(const IncomingMessage&)> handler_;

    int wake_fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> exited_{false};
    std::atomic<bool> clean_stop_{false};
    std::chrono::steady_clock::time_point stop_deadline_;

    mutable std::mutex mu_;  // guards what other threads hand in, and the stats
    std::map<std::string, std::pair<std::string, bool>> retained_;  // topic: payload, still to publish
    std::deque<Direct> direct_;
    Stats stats_;

    // Publisher thread only.
    std::unique_ptr<MqttSession> session_;
    std::optional<HostLookup> lookup_;
    std::chrono::steady_clock::time_point lookup_deadline_;
    bool connected_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::time_point connect_deadline_;
    std::chrono::steady_clock::time_point next_attempt_;
    std::chrono::milliseconds backoff_{0};
    struct Sent {
        DiskQueue::Ticket ticket;
        std::string topic;
    };
    std::unordered_map<int, Sent> in_flight_;
    std::set<std::string> refused_topics_;  // said once each
    std::set<int> retained_in_flight_;
    std::string last_failure_;
};

}  // namespace uhfd
