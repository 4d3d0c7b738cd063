#include "reader_worker.hpp"

#include <pthread.h>

#include <algorithm>

#include "inventory/round.hpp"
#include "log.hpp"

namespace uhfd {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

ReaderWorker::ReaderWorker(ReaderConfig config, Backoff backoff)
    : config_(std::move(config)),
      backoff_(backoff),
      tracker_(config_.departure_timeout, config_.report_interval.count() > 0) {
    state_.name = config_.name;
    state_.device = config_.device;
    state_.address = config_.address;
    state_.since = inventory::Stamp::now();
}

ReaderWorker::~ReaderWorker() {
    request_stop();
    if (thread_.joinable()) thread_.join();
}

void ReaderWorker::start() { thread_ = std::thread([this] { run(); }); }

void ReaderWorker::request_stop() {
    {
        std::lock_guard lock(wake_mu_);
        stop_ = true;
    }
    wake_.notify_all();
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
    std::lock_guard lock(subs_mu_);
    subs_.erase(id);
}

std::uint64_t ReaderWorker::subscribe_frames(FrameSubscriber fn) {
    std::lock_guard lock(subs_mu_);
    frame_subs_[next_sub_] = std::make_shared<FrameSubscriber>(std::move(fn));
    frames_wanted_ = true;
    return next_sub_++;
}

void ReaderWorker::unsubscribe_frames(std::uint64_t id) {
    std::lock_guard lock(subs_mu_);
    frame_subs_.erase(id);
    frames_wanted_ = !frame_subs_.empty();
}

void ReaderWorker::on_frame(void* user, int direction, const unsigned char* bytes, int len, unsigned long long t_us) {
    auto* self = static_cast<ReaderWorker*>(user);
    std::lock_guard lock(self->subs_mu_);
    for (auto& [id, fn] : self->frame_subs_) (*fn)(direction, std::span(bytes, static_cast<std::size_t>(len)), t_us);
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
            (*reply)(std::move(r));
        });
}

void ReaderWorker::submit_task(Task task, Refused refused) {
    std::string refusal;
    {
        std::lock_guard lock(wake_mu_);
        if (stop_) refusal = "the reader is stopping";
        else if (commands_.size() >= kMaxQueuedCommands) refusal = "the reader has " + std::to_string(commands_.size()) + " commands waiting";
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

void ReaderWorker::emit(const ReaderEvent& e) {
    std::lock_guard lock(subs_mu_);
    for (auto& [id, fn] : subs_) (*fn)(e);
}

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

void ReaderWorker::sleep_until(Clock::time_point t) {
    std::unique_lock lock(wake_mu_);
    wake_.wait_until(lock, t, [this] { return stop_ || !commands_.empty(); });
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

// Opens (or reopens) the link and proves the reader; false with the state set offline.
bool ReaderWorker::link_up(uhf_link*& link, bool& ever_online) {
    uhf_options opts{};
    opts.reply_timeout_ms = static_cast<int>(config_.reply_timeout.count());
    const int rc = link ? uhf_reconnect(link) : uhf_open_with(&link, config_.device.c_str(), config_.address, &opts);
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

void ReaderWorker::run() {
    // "uhfd-r:" and the name's start, within the kernel's 15 characters.
    pthread_setname_np(pthread_self(), ("uhfd-r:" + config_.name.substr(0, 8)).c_str());
    uhf_link* link = nullptr;
    bool online = false, ever_online = false;
    milliseconds backoff = backoff_.min;
    int failed_rounds = 0;
    auto next_report = Clock::now() + config_.report_interval;
    const auto stopping = [this] {
        std::lock_guard lock(wake_mu_);
        return stop_;
    };
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
        }
        sync_trace(link);
        run_commands(link, false, {});

        const auto t0 = Clock::now();
        inventory::Round round = inventory::run_round(link, config_.address, config_.families, config_.layout);
        const auto t1 = Clock::now();
        const inventory::Stamp now = inventory::Stamp::now();

        std::vector<inventory::TagEvent> events;
        tracker_.observe(round.reads, now, events);
        // Only a whole round can say a tag is gone.
        if (!round.failed()) tracker_.expire(now, events);
        std::uint64_t reads = 0;
        std::map<int, std::uint64_t> by_antenna;
        for (const auto& r : round.reads) {
            const auto n = static_cast<std::uint64_t>(std::max(r.tag.reads, 0));
            reads += n;
            if (r.tag.antenna) by_antenna[*r.tag.antenna] += n;
        }
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
            c.undecoded_pages += config_.layout.raw ? 0 : round.pages.size();
            c.last_round_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
            for (const auto& e : events)
                ++(e.kind == inventory::TagEvent::Kind::arrived ? c.arrivals : c.departures);
            state_.tags = tracker_.present();
            state_.tags_present = state_.tags.size();
        }
        for (auto& e : events) emit(TagChanged{std::move(e)});
        if (!round.pages.empty()) emit(PagesRead{now, std::move(round.pages)});
        if (config_.report_interval.count() > 0 && t1 >= next_report) {
            emit(IntervalReport{tracker_.take_report(now)});
            {
                std::lock_guard lock(state_mu_);
                ++state_.counters.reports;
            }
            next_report += config_.report_interval;
            if (next_report < t1) next_report = t1 + config_.report_interval;
        }

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
        sleep_until(t0 + config_.round_interval);
    }
    run_commands(nullptr, true, "the reader is stopping");
    uhf_close(link);
    set_state(LinkState::stopped, "");
    {
        std::lock_guard lock(done_mu_);
        done_ = true;
    }
    done_cv_.notify_all();
}

}  // namespace uhfd
