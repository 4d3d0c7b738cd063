#include "reader_worker.hpp"

#include <pthread.h>

#include <algorithm>

#include "inventory/round.hpp"
#include "log.hpp"
#include "presence_store.hpp"

namespace uhfd {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// How often, at most, a reader's presence file is replaced.
constexpr milliseconds kPresenceEvery{1000};

}  // namespace

ReaderWorker::ReaderWorker(ReaderConfig config, Backoff backoff)
    : config_(std::move(config)),
      backoff_(backoff),
      tracker_(config_.departure_timeout, config_.report_interval.count() > 0),
      zones_(config_.zones) {
    state_.name = config_.name;
    state_.device = config_.device;
    state_.address = config_.address;
    state_.since = inventory::Stamp::now();
}

ReaderWorker::~ReaderWorker() {
    request_stop();
    if (thread_.joinable()) thread_.join();
}

void ReaderWorker::keep_presence(std::vector<inventory::TagState> present, std::string path) {
    tracker_.restore(present);
    presence_path_ = std::move(path);
    std::lock_guard lock(state_mu_);
    state_.tags = tracker_.present();
    state_.tags_present = state_.tags.size();
}

void ReaderWorker::start() {
    thread_ = std::thread([this] { run(); });
    std::lock_guard lock(subs_mu_);
    thread_id_ = thread_.get_id();
}

void ReaderWorker::request_stop() {
    {
        std::lock_guard lock(wake_mu_);
        stop_ = true;
    }
    wake_.notify_all();
    // The stop flag is set first: a cancel that lands between exchanges makes the next wait
    // return at once, and the loop then sees the flag.
    std::lock_guard lock(link_mu_);
    if (link_) uhf_cancel(link_);
}

bool ReaderWorker::stopping() {
    std::lock_guard lock(wake_mu_);
    return stop_;
}

bool ReaderWorker::wait_stopped(milliseconds within) {
    std::unique_lock lock(done_mu_);
    return done_cv_.wait_for(lock, within, [this] { return done_.load(); });
}

ReaderSnapshot ReaderWorker::snapshot(bool with_tags) const {
    std::lock_guard lock(state_mu_);
    ReaderSnapshot s = state_;
    if (!with_tags) s.tags.clear();
    return s;
}

std::uint64_t ReaderWorker::subscribe(Subscriber fn) {
    std::lock_guard lock(subs_mu_);
    subs_[next_sub_] = std::make_shared<Subscriber>(std::move(fn));
    return next_sub_++;
}

void ReaderWorker::unsubscribe(std::uint64_t id) {
    std::unique_lock lock(subs_mu_);
    subs_.erase(id);
    if (std::this_thread::get_id() != thread_id_) calls_done_.wait(lock, [this] { return calling_ == 0; });
}

std::uint64_t ReaderWorker::subscribe_frames(FrameSubscriber fn) {
    std::lock_guard lock(subs_mu_);
    frame_subs_[next_sub_] = std::make_shared<FrameSubscriber>(std::move(fn));
    frames_wanted_ = true;
    return next_sub_++;
}

void ReaderWorker::unsubscribe_frames(std::uint64_t id) {
    std::unique_lock lock(subs_mu_);
    frame_subs_.erase(id);
    frames_wanted_ = !frame_subs_.empty();
    if (std::this_thread::get_id() != thread_id_) calls_done_.wait(lock, [this] { return calling_ == 0; });
}

std::uint64_t ReaderWorker::subscribe_rounds(RoundSubscriber fn) {
    std::lock_guard lock(subs_mu_);
    round_subs_[next_sub_] = std::make_shared<RoundSubscriber>(std::move(fn));
    return next_sub_++;
}

void ReaderWorker::unsubscribe_rounds(std::uint64_t id) {
    std::unique_lock lock(subs_mu_);
    round_subs_.erase(id);
    if (std::this_thread::get_id() != thread_id_) calls_done_.wait(lock, [this] { return calling_ == 0; });
}

void ReaderWorker::on_frame(void* user, int direction, const unsigned char* bytes, int len, unsigned long long t_us) {
    auto* self = static_cast<ReaderWorker*>(user);
    std::vector<std::shared_ptr<FrameSubscriber>> fns;
    {
        std::lock_guard lock(self->subs_mu_);
        for (auto& [id, fn] : self->frame_subs_) fns.push_back(fn);
        ++self->calling_;
    }
    // Called from inside the library: nothing may unwind through it. A frame subscriber that
    // throws loses that frame; the exchange goes on.
    for (auto& fn : fns) {
        try {
            (*fn)(direction, std::span(bytes, static_cast<std::size_t>(len)), t_us);
        } catch (...) {
        }
    }
    {
        std::lock_guard lock(self->subs_mu_);
        --self->calling_;
    }
    self->calls_done_.notify_all();
}

void ReaderWorker::sync_trace(uhf_link* link) {
    const bool want = frames_wanted_.load();
    if (want == trace_on_) return;
    uhf_set_trace(link, want ? &ReaderWorker::on_frame : nullptr, this);
    trace_on_ = want;
}

void ReaderWorker::submit(PreparedCall call, Done done) {
    auto prepared = std::make_shared<PreparedCall>(std::move(call));
    auto reply = std::make_shared<Done>(std::move(done));
    submit_task(
        [this, prepared, reply](uhf_link* link, int addr) {
            CommandResult r = execute(link, addr, *prepared);
            if (r.outcome == inventory::Outcome::exchange || r.outcome == inventory::Outcome::link) count_failure(r.rc);
            (*reply)(std::move(r));
        },
        [reply](const std::string& why) {
            CommandResult r;
            r.refusal = why;
            r.busy = is_busy(why);
            (*reply)(std::move(r));
        });
}

void ReaderWorker::submit_task(Task task, Refused refused) {
    std::string refusal;
    {
        std::lock_guard lock(wake_mu_);
        if (stop_) refusal = "the reader is stopping";
        else if (commands_.size() >= kMaxQueuedCommands)
            refusal = std::string(kBusy) + ": the reader has " + std::to_string(commands_.size()) + " commands waiting";
        else {
            const ReaderSnapshot s = snapshot(false);
            if (s.state != LinkState::online) refusal = "the reader is " + std::string(state_name(s.state)) + (s.reason.empty() ? "" : ": " + s.reason);
        }
        if (refusal.empty()) commands_.push_back({std::move(task), std::move(refused)});
    }
    if (!refusal.empty()) {
        refused(refusal);
        return;
    }
    wake_.notify_all();
}

void ReaderWorker::count_failure(int code) {
    std::lock_guard lock(state_mu_);
    ++state_.counters.failures_by_code[code];
}

namespace {

// Calls each subscriber copied from `subs` with `arg`, with the worker's subscriber lock let go
// and `calling` counting the call, so unsubscribe() can wait it out.
template <class Fn, class Arg>
void call_each(std::mutex& mu, std::condition_variable& done_cv, int& calling,
               const std::map<std::uint64_t, std::shared_ptr<Fn>>& subs, const Arg& arg) {
    std::vector<std::shared_ptr<Fn>> fns;
    {
        std::lock_guard lock(mu);
        if (subs.empty()) return;
        for (auto& [id, fn] : subs) fns.push_back(fn);
        ++calling;
    }
    struct Done {
        std::mutex& mu;
        std::condition_variable& cv;
        int& calling;
        ~Done() {
            {
                std::lock_guard lock(mu);
                --calling;
            }
            cv.notify_all();
        }
    } done{mu, done_cv, calling};
    for (auto& fn : fns) (*fn)(arg);
}

}  // namespace

void ReaderWorker::emit(const ReaderEvent& e) { call_each(subs_mu_, calls_done_, calling_, subs_, e); }

void ReaderWorker::emit_round(const RoundSeen& seen) { call_each(subs_mu_, calls_done_, calling_, round_subs_, seen); }

void ReaderWorker::set_state(LinkState s, const std::string& reason) {
    ReaderSnapshot copy;
    {
        std::lock_guard lock(state_mu_);
        if (state_.state == s && state_.reason == reason) return;
        state_.state = s;
        state_.reason = reason;
        state_.since = inventory::Stamp::now();
        copy = state_;
    }
    copy.tags.clear();
    if (s == LinkState::offline) log::warning("reader " + config_.name + " (" + config_.device + ") offline: " + reason);
    else if (s == LinkState::online) log::info("reader " + config_.name + " (" + config_.device + ") online");
    emit(StateChanged{std::move(copy)});
}

bool ReaderWorker::sleep_until(Clock::time_point t, bool for_commands) {
    std::unique_lock lock(wake_mu_);
    wake_.wait_until(lock, t, [&] { return stop_ || (for_commands && !commands_.empty()); });
    return !stop_;
}

void ReaderWorker::run_commands(uhf_link* link, bool refuse_all, const std::string& why) {
    for (;;) {
        Pending p;
        {
            std::lock_guard lock(wake_mu_);
            if (commands_.empty()) return;
            p = std::move(commands_.front());
            commands_.pop_front();
        }
        if (refuse_all) {
            p.refuse(why);
            continue;
        }
        {
            std::lock_guard lock(state_mu_);
            ++state_.counters.commands;
        }
        p.run(link, config_.address);
    }
}

void ReaderWorker::command_gap(uhf_link* link, Clock::time_point until) {
    bool ran = false;
    for (;;) {
        Pending p;
        {
            std::unique_lock lock(wake_mu_);
            // A gap already over still runs one command, so a reader whose rounds fill the
            // interval serves a command per round rather than none.
            if (ran || Clock::now() < until)
                wake_.wait_until(lock, until, [this] { return stop_ || !commands_.empty(); });
            if (stop_ || commands_.empty() || (ran && Clock::now() >= until)) return;
            p = std::move(commands_.front());
            commands_.pop_front();
        }
        {
            std::lock_guard lock(state_mu_);
            ++state_.counters.commands;
        }
        sync_trace(link);
        p.run(link, config_.address);
        ran = true;
    }
}

void ReaderWorker::set_link(uhf_link* link) {
    std::lock_guard lock(link_mu_);
    link_ = link;
}

// Opens (or reopens) the link and proves the reader; false with the state set offline.
bool ReaderWorker::link_up(uhf_link*& link, bool& ever_online) {
    uhf_options opts{};
    opts.reply_timeout_ms = static_cast<int>(config_.reply_timeout.count());
    int rc = 0;
    if (link) {
        rc = uhf_reconnect(link);
    } else {
        rc = uhf_open_with(&link, config_.device.c_str(), config_.address, &opts);
        if (link) set_link(link);
        // A stop asked while the link was being opened could not cancel it; its flag is seen now.
        if (stopping()) return false;
    }
    if (rc != 0) {
        count_failure(rc);
        set_state(LinkState::offline, uhf_strerror(rc, 0));
        return false;
    }
    std::uint8_t info[22] = {};
    const int info_rc = uhf_GetDeviceInfo(link, config_.address, info);
    {
        std::lock_guard lock(state_mu_);
        if (info_rc == 0) state_.device_info.assign(info, info + sizeof info);
        if (ever_online) ++state_.counters.reconnects;
    }
    ever_online = true;
    trace_on_ = false;
    set_state(LinkState::online, "");
    return true;
}

void ReaderWorker::save_presence_now(const inventory::Stamp& now, bool changed) {
    presence_dirty_ = presence_dirty_ || changed || tracker_.size() > 0;
    if (presence_path_.empty() || !presence_dirty_ || now.mono - presence_saved_ < kPresenceEvery) return;
    presence_saved_ = now.mono;
    presence_dirty_ = false;
    if (!save_presence(presence_path_, tracker_.present()))
        log::debug("reader " + config_.name + ": cannot save its presence to " + presence_path_);
}

std::vector<ReaderEvent> ReaderWorker::tag_events(std::vector<inventory::TagEvent> events,
                                                  const std::vector<ZoneMove>& moves, const inventory::Stamp& now) {
    std::vector<ReaderEvent> out;
    out.reserve(events.size() + moves.size());
    const auto departures = std::stable_partition(events.begin(), events.end(), [](const inventory::TagEvent& e) {
        return e.kind == inventory::TagEvent::Kind::arrived;
    });
    for (auto it = events.begin(); it != departures; ++it) {
        it->tag.zone = zones_.zone_of({it->tag.family, it->tag.id});
        out.push_back(TagChanged{std::move(*it)});
    }
    for (const ZoneMove& m : moves) {
        const inventory::TagState* t = tracker_.find(m.key);
        if (!t) continue;  // departed in this very round
        TagMoved moved{now, *t, m.from, m.to};
        moved.tag.zone = m.to;
        out.push_back(std::move(moved));
    }
    for (auto it = departures; it != events.end(); ++it) {
        const inventory::TagKey key{it->tag.family, it->tag.id};
        it->tag.zone = zones_.zone_of(key);
        zones_.forget(key);
        out.push_back(TagChanged{std::move(*it)});
    }
    return out;
}

std::vector<inventory::TagState> ReaderWorker::present_with_zones() const {
    std::vector<inventory::TagState> tags = tracker_.present();
    for (auto& t : tags) t.zone = zones_.zone_of({t.family, t.id});
    return tags;
}

void ReaderWorker::run() {
    // "uhfd-r:" and the name's start, within the kernel's 15 characters.
    pthread_setname_np(pthread_self(), ("uhfd-r:" + config_.name.substr(0, 8)).c_str());
    uhf_link* link = nullptr;
    // Whatever escapes a round takes the reader offline with its reason, and it tries again after
    // the backoff; the process goes on.
    milliseconds backoff = backoff_.min;
    while (!stopping()) {
        try {
            run_rounds(link);
        } catch (const std::exception& e) {
            log::error("reader " + config_.name + ": " + e.what());
            set_state(LinkState::offline, std::string("internal failure: ") + e.what());
        } catch (...) {
            set_state(LinkState::offline, "internal failure");
        }
        try {
            run_commands(nullptr, true, "the reader is offline after an internal failure");
        } catch (...) {
        }
        // Opened afresh: whatever was thrown may have left an exchange half done.
        set_link(nullptr);
        uhf_close(link);
        link = nullptr;
        sleep_until(Clock::now() + backoff);
        backoff = std::min(backoff * 2, backoff_.max);
    }
    try {
        run_commands(nullptr, true, "the reader is stopping");
        if (!presence_path_.empty()) save_presence(presence_path_, tracker_.present());
    } catch (...) {
    }
    set_link(nullptr);
    uhf_close(link);
    try {
        set_state(LinkState::stopped, "");
    } catch (...) {
    }
    {
        std::lock_guard lock(done_mu_);
        done_ = true;
    }
    done_cv_.notify_all();
}

// The rounds, until a stop (returns) or something thrown (the caller takes the reader offline).
void ReaderWorker::run_rounds(uhf_link*& link) {
    bool online = false, ever_online = false;
    {
        std::lock_guard lock(state_mu_);
        ever_online = state_.counters.reconnects > 0 || !state_.device_info.empty();
    }
    milliseconds backoff = backoff_.min;
    int failed_rounds = 0;
    auto next_report = Clock::now() + config_.report_interval;
    auto next_round = Clock::now();
    while (!stopping()) {
        if (!online) {
            online = link_up(link, ever_online);
            if (!online) {
                run_commands(nullptr, true, "the reader is offline: " + snapshot(false).reason);
                sleep_until(Clock::now() + backoff);
                backoff = std::min(backoff * 2, backoff_.max);
                continue;
            }
            backoff = backoff_.min;
            failed_rounds = 0;
            next_round = Clock::now();
        }
        sync_trace(link);

        const auto t0 = Clock::now();
        inventory::Round round = inventory::run_round(link, config_.address, config_.families, config_.layout);
        const auto t1 = Clock::now();
        const inventory::Stamp now = inventory::Stamp::now();
        if (round.failure == UHF_ERR_CANCELLED) return;  // request_stop(): the round is not counted

        // The counters say what the reader read; from here on only the reads the filters keep
        // exist: for the tracker, the zones and the rounds channel alike.
        std::uint64_t reads = 0;
        std::map<int, std::uint64_t> by_antenna;
        for (const auto& r : round.reads) {
            const auto n = static_cast<std::uint64_t>(std::max(r.tag.reads, 0));
            reads += n;
            if (r.tag.antenna) by_antenna[*r.tag.antenna] += n;
        }
        const std::size_t filtered = config_.filter.apply(round.reads);

        std::vector<inventory::TagEvent> events;
        tracker_.observe(round.reads, now, events);
        std::vector<ZoneMove> moves;
        zones_.observe(round.reads, now, moves);
        // Only a whole round can say a tag is gone.
        if (!round.failed()) tracker_.expire(now, events);
        std::vector<ReaderEvent> tag_changes = tag_events(std::move(events), moves, now);
        {
            std::lock_guard lock(state_mu_);
            ReaderCounters& c = state_.counters;
            ++c.rounds;
            if (round.failed()) {
                ++c.failed_rounds;
                ++c.failures_by_code[round.failure];
            }
            for (const auto& [antenna, n] : by_antenna) c.reads_by_antenna[antenna] += n;
            if (!round.pages.empty()) ++c.pages;
            c.exchanges += static_cast<std::uint64_t>(round.exchanges);
            c.reads += reads;
            c.filtered += filtered;
            c.undecoded_pages += config_.layout.raw ? 0 : round.pages.size();
            c.last_round_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
            for (const auto& e : tag_changes)
                if (const auto* t = std::get_if<TagChanged>(&e))
                    ++(t->event.kind == inventory::TagEvent::Kind::arrived ? c.arrivals : c.departures);
                else
                    ++c.moves;
            state_.tags = present_with_zones();
            state_.tags_present = state_.tags.size();
        }
        emit_round(RoundSeen{now, round.reads, round.failed()});
        const bool changed = !tag_changes.empty();
        for (const auto& e : tag_changes) emit(e);
        if (!round.pages.empty()) emit(PagesRead{now, std::move(round.pages)});
        if (config_.report_interval.count() > 0 && t1 >= next_report) {
            inventory::Report report = tracker_.take_report(now);
            for (auto& t : report.tags) t.zone = zones_.zone_of({t.family, t.id});
            emit(IntervalReport{std::move(report)});
            {
                std::lock_guard lock(state_mu_);
                ++state_.counters.reports;
            }
            next_report += config_.report_interval;
            if (next_report < t1) next_report = t1 + config_.report_interval;
        }
        save_presence_now(now, changed);

        if (round.failed()) {
            ++failed_rounds;
            const std::string why = round.failed_call + ": " + uhf_strerror(round.failure, round.detail);
            log::debug("reader " + config_.name + ": round failed: " + why);
            if (round.outcome == inventory::Outcome::link || failed_rounds >= kFailedRoundsOffline) {
                online = false;
                set_state(LinkState::offline, why);
                run_commands(nullptr, true, "the reader is offline: " + why);
                sleep_until(Clock::now() + backoff);
                backoff = std::min(backoff * 2, backoff_.max);
                continue;
            }
        } else {
            failed_rounds = 0;
        }
        // The next round is planned from this one's plan, not from when it ran, so the rate holds;
        // a reader that fell a whole interval behind starts afresh rather than catching up.
        next_round += config_.round_interval;
        if (next_round + config_.round_interval < Clock::now()) next_round = Clock::now();
        command_gap(link, next_round);
    }
}

}  // namespace uhfd
