// The running service: one worker per configured reader, the disk queue and the publisher, and
// the routing between them: reader events become sequenced JSON on the queue, state changes the
// retained status topics, command requests go to their reader and their replies back.
//
// For tools that watch the gateway from inside the process (a console, metrics), readers() and
// reader(name) give the workers, whose snapshot(), subscribe() and submit() need no link lock.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config.hpp"
#include "disk_queue.hpp"
#include "publisher.hpp"
#include "reader_worker.hpp"
#include "topics.hpp"

namespace uhfd {

class LlrpFace;

class Gateway {
public:
    // The one budget for stopping: a shutdown ends within it (plus the publisher's ~100 ms), and a
    // reload gives each reader it replaces as long. A reader waiting in an exchange is cancelled,
    // so it normally ends within milliseconds; one that does not (its link still being opened) is
    // left behind, unsubscribed, and counted as an unclean stop.
    static constexpr std::chrono::milliseconds kStopBudget{1500};

    enum class StopResult {
        clean,      // every reader ended and the broker took the goodbye
        abandoned,  // a reader was still running at the deadline, or the broker did not answer
    };

    explicit Gateway(Config config);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    void start();
    // Refreshes the retained statuses (counters, queue depth) and reaps replaced readers that have
    // ended since; call about once a second.
    void tick();
    // Applies a new reader list: readers removed stop, new ones start, changed ones (any setting,
    // layouts included) restart and keep the tags present; the others keep running untouched.
    // Broker, queue and gateway settings need a restart. Each reader replaced is unsubscribed at
    // once, so nothing it still says reaches the broker.
    void reload(const Config& fresh);
    // Stops the readers and the publisher within `within` (plus ~100 ms). `abandoned` when a
    // reader was still running at the deadline (the process should then end without waiting for
    // it: see stragglers()) or the broker did not take the goodbye.
    StopResult stop(std::chrono::milliseconds within = kStopBudget);
    // Replaced or stopped readers whose threads have not ended yet.
    std::size_t stragglers() const;

    const std::string& id() const { return config_.gateway_id; }  // never changed by a reload
    std::vector<std::string> reader_names() const;
    // Who may run what, as last loaded ([commands]; a reload replaces it): a copy, so a caller
    // decides a whole request against one policy.
    CommandPolicy command_policy() const;
    // command_policy().allowed_commands(), for the callers that take a name set.
    std::set<std::string> allowed_commands() const;
    std::shared_ptr<ReaderWorker> reader(const std::string& name) const;
    // The retained gateway status; offline with its reason ("stopped", or the will's "connection lost").
    nlohmann::ordered_json gateway_status(bool online, const char* reason = "") const;
    const DiskQueue& queue() const { return *queue_; }
    Publisher::Stats publisher_stats() const { return publisher_->stats(); }

private:
    struct Entry {
        std::shared_ptr<ReaderWorker> worker;
        std::uint64_t subscription = 0;
        // The reader's LLRP face, when it has one: started after the worker, stopped before it
        // (its stop returns at once), so it never outlives its reader.
        std::shared_ptr<LlrpFace> llrp;
    };

    Entry launch(const ReaderConfig& rc, const std::vector<inventory::TagState>* handed_over = nullptr);
    void retire(Entry& e, std::chrono::milliseconds within);
    void reap();
    void on_event(const std::string& reader, const ReaderEvent& e);
    void on_command(const IncomingMessage& m);
    void publish_reader_status(const ReaderSnapshot& s);
    nlohmann::ordered_json status_json(bool online, const char* reason, const std::map<std::string, Entry>& readers) const;

    Config config_;
    const Topics topics_;
    std::unique_ptr<DiskQueue> queue_;
    std::unique_ptr<Publisher> publisher_;
    const inventory::Stamp started_ = inventory::Stamp::now();

    mutable std::mutex mu_;  // readers_ and policy_
    std::map<std::string, Entry> readers_;
    CommandPolicy policy_;
    std::vector<std::shared_ptr<ReaderWorker>> stragglers_;  // retired but not ended yet
    bool stopped_ = false;
};

}  // namespace uhfd
