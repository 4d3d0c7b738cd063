// One reader on its own thread and its own link: link, inventory rounds one after another,
// per-tag state, commands queued from elsewhere run between rounds, and a reader that fails is
// reported offline and reconnected with capped exponential backoff. Nothing here waits on another
// reader or on the broker.
//
// Everything others may ask runs without the link: snapshot() copies the state under a lock of
// its own, subscribers get every event on the reader's thread, and submit() queues a command.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "command_request.hpp"
#include "config.hpp"
#include "inventory/tag_tracker.hpp"
#include "reader_state.hpp"

namespace uhfd {

struct Backoff {
    std::chrono::milliseconds min{500};
    std::chrono::milliseconds max{30000};
};

class ReaderWorker {
public:
    using Subscriber = std::function<void(const ReaderEvent&)>;
    using FrameSubscriber = std::function<void(int direction, std::span<const std::uint8_t> bytes, unsigned long long t_us)>;
    using Done = std::function<void(CommandResult)>;
    // A job on the reader's link between rounds; `addr` is the reader's address.
    using Task = std::function<void(uhf_link* link, int addr)>;
    using Refused = std::function<void(const std::string& why)>;

    // A reader that fails this many rounds in a row (no reply, bad replies) is taken offline and
    // linked again; a link failure (device gone) takes it offline at once.
    static constexpr int kFailedRoundsOffline = 3;
    static constexpr std::size_t kMaxQueuedCommands = 32;

    ReaderWorker(ReaderConfig config, Backoff backoff);
    ~ReaderWorker();
    ReaderWorker(const ReaderWorker&) = delete;
    ReaderWorker& operator=(const ReaderWorker&) = delete;

    void start();
    void request_stop();
    // True once the thread has ended (waits at most `within`).
    bool wait_stopped(std::chrono::milliseconds within);

    const ReaderConfig& config() const { return config_; }
    ReaderSnapshot snapshot(bool with_tags = true) const;

    // Events from the reader's thread. A subscriber must not block, nor unsubscribe from inside a
    // call; unsubscribe() returns once no call to it is running.
    std::uint64_t subscribe(Subscriber fn);
    void unsubscribe(std::uint64_t id);
    // The frames on the link, as the library traces them (costs nothing with no subscriber).
    std::uint64_t subscribe_frames(FrameSubscriber fn);
    void unsubscribe_frames(std::uint64_t id);

    // Runs the call between two rounds; `done` gets the result on the reader's thread. A reader
    // that is offline, stopping or has too many commands waiting refuses at once.
    void submit(PreparedCall call, Done done);
    // The same for work of several exchanges that must not have a round between them (a
    // read-modify-write of the settings). Exactly one of `task` and `refused` is called.
    void submit_task(Task task, Refused refused);

private:
    struct Pending {
        Task run;
        Refused refuse;
    };

    void run();
    bool link_up(uhf_link*& link, bool& ever_online);
    void run_commands(uhf_link* link, bool refuse_all, const std::string& why);
    void emit(const ReaderEvent& e);
    void set_state(LinkState s, const std::string& reason);
    void count_failure(int code);
    void sleep_until(std::chrono::steady_clock::time_point t);
    void sync_trace(uhf_link* link);
    static void on_frame(void* user, int direction, const unsigned char* bytes, int len, unsigned long long t_us);

    const ReaderConfig config_;
    const Backoff backoff_;
    std::thread thread_;

    std::mutex wake_mu_;
    std::condition_variable wake_;
    bool stop_ = false;                 // under wake_mu_
    std::deque<Pending> commands_;      // under wake_mu_
    std::atomic<bool> done_{false};
    std::mutex done_mu_;
    std::condition_variable done_cv_;

    mutable std::mutex state_mu_;
    ReaderSnapshot state_;

    std::mutex subs_mu_;
    std::map<std::uint64_t, std::shared_ptr<Subscriber>> subs_;
    std::map<std::uint64_t, std::shared_ptr<FrameSubscriber>> frame_subs_;
    std::uint64_t next_sub_ = 1;
    std::atomic<bool> frames_wanted_{false};
    bool trace_on_ = false;  // reader thread only

    inventory::TagTracker tracker_;  // reader thread only
};

}  // namespace uhfd
