// One reader on its own thread and its own link: link, inventory rounds one after another,
// per-tag state, commands queued from elsewhere run between rounds, and a reader that fails is
// reported offline and reconnected with capped exponential backoff. Nothing here waits on another
// reader or on the broker.
//
// Everything others may ask runs without the link: snapshot() copies the state under a lock of
// its own, subscribers get every event on the reader's thread, and submit() queues a command.
//
// Pace: a round starts every round_interval, counted from the previous round's planned start.
// Commands, from any source, run in the gap between rounds and never start a round early or
// late: a gap runs commands while it lasts (at least one), and the rest wait for the next gap.
//
// Stopping: request_stop() also cancels the exchange the reader may be waiting in, so the thread
// ends within the cancel's bound plus the current step. Anything thrown inside the thread takes
// the reader offline with what was thrown as its reason; it never ends the process.
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
#include <string_view>
#include <thread>

#include "command_request.hpp"
#include "config.hpp"
#include "inventory/tag_tracker.hpp"
#include "reader_state.hpp"
#include "zones.hpp"

namespace uhfd {

struct Backoff {
    std::chrono::milliseconds min{500};
    std::chrono::milliseconds max{30000};
};

class ReaderWorker {
public:
    using Subscriber = std::function<void(const ReaderEvent&)>;
    using FrameSubscriber = std::function<void(int direction, std::span<const std::uint8_t> bytes, unsigned long long t_us)>;
    // Every read of one round, as the tracker sees them (one TagRead per tag and antenna, with
    // its count and RSSI), whether or not anything arrived or departed: what an LLRP inventory
    // reports. `failed`: the round ended early (what it read before that is still there).
    struct RoundSeen {
        inventory::Stamp time;
        const std::vector<inventory::TagRead>& reads;
        bool failed;
    };
    using RoundSubscriber = std::function<void(const RoundSeen&)>;
    using Done = std::function<void(CommandResult)>;
    // A job on the reader's link between rounds; `addr` is the reader's address.
    using Task = std::function<void(uhf_link* link, int addr)>;
    using Refused = std::function<void(const std::string& why)>;

    // A reader that fails this many rounds in a row (no reply, bad replies) is taken offline and
    // linked again; a link failure (device gone) takes it offline at once.
    static constexpr int kFailedRoundsOffline = 3;
    static constexpr std::size_t kMaxQueuedCommands = 32;
    // How a refusal for a full command queue starts ("busy: the reader has 32 commands waiting"),
    // so a front end can tell it from the others (HTTP 503, an MQTT reply with outcome "busy").
    static constexpr std::string_view kBusy = "busy";
    static bool is_busy(std::string_view refusal) { return refusal.substr(0, kBusy.size()) == kBusy; }

    ReaderWorker(ReaderConfig config, Backoff backoff);
    ~ReaderWorker();
    ReaderWorker(const ReaderWorker&) = delete;
    ReaderWorker& operator=(const ReaderWorker&) = delete;

    // Tags present before this worker ran (a worker it replaces, a previous run), and the file
    // that keeps its presence across runs ("" for none). Before start().
    void keep_presence(std::vector<inventory::TagState> present, std::string path);

    void start();
    // Asks the thread to end and cancels the exchange it may be waiting in. Never blocks on it.
    void request_stop();
    // True once the thread has ended (waits at most `within`).
    bool wait_stopped(std::chrono::milliseconds within);

    const ReaderConfig& config() const { return config_; }
    ReaderSnapshot snapshot(bool with_tags = true) const;

    // Events from the reader's thread, called with none of the worker's locks held. A subscriber
    // must not block (it holds up the reader's rounds: a short lock or a queue append at most),
    // nor unsubscribe from inside a call; unsubscribe() returns once no call to it is running
    // (at once when called on the reader's own thread), and no call begins after it returns.
    std::uint64_t subscribe(Subscriber fn);
    void unsubscribe(std::uint64_t id);
    // The frames on the link, as the library traces them (costs nothing with no subscriber); the
    // same contract as subscribe(): on the reader's thread, no lock held, must not block.
    std::uint64_t subscribe_frames(FrameSubscriber fn);
    void unsubscribe_frames(std::uint64_t id);
    // Each round's reads, after the round and before its events; the same contract again.
    std::uint64_t subscribe_rounds(RoundSubscriber fn);
    void unsubscribe_rounds(std::uint64_t id);

    // Runs the call between two rounds; `done` gets the result on the reader's thread (must not
    // block). A reader that is offline, stopping or has kMaxQueuedCommands waiting refuses at
    // once, on the caller's thread; the last with CommandResult::busy.
    void submit(PreparedCall call, Done done);
    // The same for work of several exchanges that must not have a round between them (a
    // read-modify-write of the settings). Exactly one of `task` and `refused` is called; a full
    // queue's refusal passes is_busy(). Neither may block beyond the link's own exchanges.
    void submit_task(Task task, Refused refused);

private:
    struct Pending {
        Task run;
        Refused refuse;
    };

    void run();
    void run_rounds(uhf_link*& link);
    bool link_up(uhf_link*& link, bool& ever_online);
    void set_link(uhf_link* link);
    void run_commands(uhf_link* link, bool refuse_all, const std::string& why);
    // Waits until `until`, running the commands that arrive meanwhile (at least one when any waits).
    void command_gap(uhf_link* link, std::chrono::steady_clock::time_point until);
    void save_presence_now(const inventory::Stamp& now, bool changed);
    // The round's tag events (zones set) and moves, in the order they are sent: arrivals, moves, departures.
    std::vector<ReaderEvent> tag_events(std::vector<inventory::TagEvent> events, const std::vector<ZoneMove>& moves,
                                        const inventory::Stamp& now);
    std::vector<inventory::TagState> present_with_zones() const;
    void emit(const ReaderEvent& e);
    void emit_round(const RoundSeen& seen);
    void set_state(LinkState s, const std::string& reason);
    void count_failure(int code);
    // Until `t`, a stop or a command (when `for_commands`).
    bool sleep_until(std::chrono::steady_clock::time_point t, bool for_commands = false);
    bool stopping();
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

    // Held only to copy the lists; subscribers are called after it is let go. `calling_` counts
    // the calls running, so unsubscribe() can wait them out.
    std::mutex subs_mu_;
    std::condition_variable calls_done_;
    std::map<std::uint64_t, std::shared_ptr<Subscriber>> subs_;
    std::map<std::uint64_t, std::shared_ptr<FrameSubscriber>> frame_subs_;
    std::map<std::uint64_t, std::shared_ptr<RoundSubscriber>> round_subs_;
    std::uint64_t next_sub_ = 1;
    int calling_ = 0;
    std::thread::id thread_id_;  // set before the thread runs anything

    // The open link, for request_stop() to cancel; changed only by the reader's thread, under link_mu_.
    std::mutex link_mu_;
    uhf_link* link_ = nullptr;

    std::string presence_path_;                 // "" when not kept
    std::chrono::steady_clock::time_point presence_saved_{};  // reader thread only
    bool presence_dirty_ = false;               // reader thread only
    std::atomic<bool> frames_wanted_{false};
    bool trace_on_ = false;  // reader thread only

    inventory::TagTracker tracker_;  // reader thread only
    ZoneTracker zones_;              // reader thread only
};

}  // namespace uhfd
