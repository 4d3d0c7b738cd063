#include "publisher.hpp"

#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "log.hpp"

namespace uhfd {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {
// How long the broker has to answer CONNECT before the attempt counts as failed.
constexpr milliseconds kConnackWait{10000};
// After its deadline, a stop waits this long for the thread to leave a blocking connect().
constexpr milliseconds kStopSlack{100};
}  // namespace

Publisher::Publisher(Options options, DiskQueue& queue) : opt_(std::move(options)), queue_(queue) {
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

Publisher::~Publisher() {
    stop(milliseconds(0));
    queue_.set_on_append(nullptr);
    ::close(wake_fd_);
}

void Publisher::set_message_handler(std::function<void(const IncomingMessage&)> handler) { handler_ = std::move(handler); }

namespace {
// Interrupts a blocking connect() of the publisher thread (a broker host that never answers
// would otherwise hold a stop for the kernel's SYN timeout, minutes).
void on_interrupt(int) {}
}  // namespace

void Publisher::start() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa{};
        sa.sa_handler = on_interrupt;  // no SA_RESTART: the blocked call returns EINTR
        sigaction(SIGUSR1, &sa, nullptr);
    });
    queue_.set_on_append([this] { wake(); });
    thread_ = std::thread([this] { run(); });
}

void Publisher::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void Publisher::set_retained(const std::string& topic, std::string payload) {
    {
        std::lock_guard lock(mu_);
        retained_[topic] = {std::move(payload), true};
    }
    wake();
}

void Publisher::send(const std::string& topic, std::string payload, std::optional<std::string> correlation) {
    {
        std::lock_guard lock(mu_);
        if (direct_.size() >= 1000) direct_.pop_front();  // replies nobody can take: the oldest go
        direct_.push_back({topic, std::move(payload), std::move(correlation)});
    }
    wake();
}

bool Publisher::stop_by(Clock::time_point deadline) {
    if (!thread_.joinable()) return true;
    stop_deadline_ = deadline;
    {
        std::lock_guard lock(mu_);
        for (auto& [topic, entry] : retained_) entry.second = true;
    }
    stopping_ = true;
    wake();
    // The thread only blocks inside a connect() (a host that never answers the SYN); past the
    // deadline a signal makes it give up. Name lookups run on threads of their own.
    while (!exited_.load()) {
        if (Clock::now() >= deadline) pthread_kill(thread_.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(milliseconds(5));
    }
    thread_.join();
    return clean_stop_.load();
}

Publisher::Stats Publisher::stats() const {
    std::lock_guard lock(mu_);
    return stats_;
}

void Publisher::note_failure(const std::string& what) {
    // A broker that stays away is said once, not at every attempt.
    if (what != last_failure_) log::warning("broker " + opt_.broker.uri + ": " + what + "; retrying");
    else log::debug("broker " + opt_.broker.uri + ": " + what);
    last_failure_ = what;
}

void Publisher::try_connect() {
    if (!lookup_) {
        lookup_.emplace(opt_.broker.host);
        lookup_deadline_ = Clock::now() + opt_.lookup_wait;
    }
    const auto found = lookup_->result();
    if (!found) {
        if (Clock::now() < lookup_deadline_) return;  // asked again at the next pass
        lookup_.reset();
        note_failure("no answer looking up " + opt_.broker.host);
        schedule_retry();
        return;
    }
    lookup_.reset();
    if (found->address.empty()) {
        note_failure(found->error);
        schedule_retry();
        return;
    }
    SessionEvents ev;
    ev.connected = [this](int reason, const std::string& words) {
        if (reason != 0) {
            note_failure("connection refused: " + words);
            lost_ = true;
            return;
        }
        connected_ = true;
        backoff_ = milliseconds(0);
        if (!last_failure_.empty() || stats_.connections == 0) log::info("broker " + opt_.broker.uri + ": connected");
        last_failure_.clear();
        {
            std::lock_guard lock(mu_);
            ++stats_.connections;
            stats_.connected = true;
            for (auto& [topic, entry] : retained_) entry.second = true;
        }
        for (const std::string& s : opt_.subscriptions)
            if (!session_->subscribe(s, 1)) log::warning("subscribing to " + s + ": " + session_->last_error());
    };
    ev.published = [this](int mid) {
        if (auto it = in_flight_.find(mid); it != in_flight_.end()) {
            queue_.ack(it->second.ticket);
            in_flight_.erase(it);
            std::lock_guard lock(mu_);
            ++stats_.delivered;
        } else {
            retained_in_flight_.erase(mid);
        }
    };
    ev.refused = [this](int mid, int reason) {
        auto it = in_flight_.find(mid);
        if (it == in_flight_.end()) {
            if (retained_in_flight_.erase(mid)) log::warning("broker refused a status message: " + reason_words(reason));
            return;
        }
        // Final: the same message would be refused again, and it must not hold back the rest.
        if (refused_topics_.insert(it->second.topic).second)
            log::warning("broker " + opt_.broker.uri + " refuses events on " + it->second.topic + " (" + reason_words(reason) +
                         "); they are counted as rejected and not sent again");
        queue_.reject(it->second.ticket);
        in_flight_.erase(it);
        std::lock_guard lock(mu_);
        ++stats_.rejected;
    };
    ev.message = [this](const IncomingMessage& m) {
        if (handler_) handler_(m);
    };
    try {
        session_ = std::make_unique<MqttSession>(opt_.broker, opt_.will, std::move(ev));
    } catch (const std::exception& e) {
        session_.reset();
        note_failure(e.what());
        schedule_retry();
        return;
    }
    const std::string err = session_->connect(found->address);
    if (!err.empty()) {
        session_.reset();
        note_failure(err);
        schedule_retry();
        return;
    }
    connect_deadline_ = Clock::now() + kConnackWait;
}

void Publisher::drop_session(const std::string& why) {
    if (connected_) log::warning("broker " + opt_.broker.uri + ": connection lost (" + why + ")");
    session_.reset();
    connected_ = false;
    lost_ = false;
    in_flight_.clear();
    retained_in_flight_.clear();
    queue_.rewind();
    {
        std::lock_guard lock(mu_);
        stats_.connected = false;
    }
    schedule_retry();
}

void Publisher::schedule_retry() {
    backoff_ = backoff_ == milliseconds(0) ? opt_.reconnect_min : std::min(backoff_ * 2, opt_.reconnect_max);
    next_attempt_ = Clock::now() + backoff_;
}

void Publisher::pump() {
    std::vector<std::pair<std::string, std::string>> retained;
    std::deque<Direct> direct;
    {
        std::lock_guard lock(mu_);
        for (auto& [topic, entry] : retained_)
            if (entry.second) {
                retained.emplace_back(topic, entry.first);
                entry.second = false;
            }
        direct.swap(direct_);
    }
    for (const auto& [topic, payload] : retained) {
        if (auto mid = session_->publish(topic, payload, 1, true)) retained_in_flight_.insert(*mid);
        else log::warning("publishing " + topic + ": " + session_->last_error());
    }
    for (const Direct& d : direct)
        if (!session_->publish(d.topic, d.payload, 1, false, d.correlation))
            log::warning("publishing " + d.topic + ": " + session_->last_error());
    if (stopping_) return;  // what is queued stays queued for the next start
    std::uint64_t sent = 0;
    // What the window has room for, read from the disk at once.
    for (auto& [ticket, rec] : queue_.next_batch(opt_.window - in_flight_.size())) {
        auto mid = session_->publish(rec.topic, rec.payload, 1, false);
        if (!mid) {
            log::warning("publishing " + rec.topic + ": " + session_->last_error());
            queue_.rewind();
            in_flight_.clear();
            lost_ = true;
            break;
        }
        in_flight_[*mid] = {ticket, rec.topic};
        ++sent;
    }
    if (sent) {
        std::lock_guard lock(mu_);
        stats_.sent += sent;
    }
}

void Publisher::run() {
    pthread_setname_np(pthread_self(), "uhfd-mqtt");  // for top -H and the benchmarks' CPU split
    next_attempt_ = Clock::now();
    bool disconnecting = false, done = false;
    std::optional<Clock::time_point> deadline;
    while (!done) {
        try {
            step(disconnecting, deadline, done);
        } catch (const std::exception& e) {
            // A fault here costs the connection, never the process: the queue keeps the records.
            log::error(std::string("publisher: ") + e.what() + "; reconnecting");
            {
                std::lock_guard lock(mu_);
                ++stats_.failures;
            }
            if (stopping_) break;
            lost_ = true;
        }
    }
    try {
        session_.reset();
        queue_.rewind();
    } catch (const std::exception& e) {
        log::error(std::string("publisher: ") + e.what());
    }
    connected_ = false;
    {
        std::lock_guard lock(mu_);
        stats_.connected = false;
    }
    exited_ = true;
}

// One pass of the publisher's loop: connection, publishing, stopping, then one wait.
void Publisher::step(bool& disconnecting, std::optional<Clock::time_point>& deadline, bool& done) {
    // Read once: stop() marks the retained topics before it sets the flag, so a pass that saw
    // the flag also publishes them.
    const bool stopping = stopping_.load();
    const auto now = Clock::now();
    if (!session_ && !stopping && now >= next_attempt_) try_connect();
    if (session_ && !connected_ && !lost_ && now >= connect_deadline_) {
        note_failure("no answer to CONNECT");
        lost_ = true;
    }
    if (lost_) drop_session(session_ ? session_->last_error() : "");
    if (!session_ && stopping) {
        clean_stop_ = true;  // nothing to say goodbye on
        done = true;
        return;
    }
    if (session_ && connected_ && !disconnecting) pump();
    if (stopping) {
        // stop() wrote its deadline before setting the flag; this thread keeps its own copy.
        if (!deadline) deadline = stop_deadline_;
        const bool settled = !session_ || !connected_ || (retained_in_flight_.empty() && !session_->wants_write());
        if (now >= *deadline || settled) {
            if (session_ && connected_ && !disconnecting) {
                // A clean DISCONNECT: the broker drops the will, since the status said goodbye itself.
                clean_stop_ = settled;
                session_->disconnect();
                disconnecting = true;
                deadline = std::max(*deadline, now) + kStopSlack;
                return;
            }
            if (!connected_) clean_stop_ = true;
            done = true;
            return;
        }
    }

    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {-1, 0, 0}};
    int timeout_ms = 1000;
    if (session_ && session_->socket() >= 0) {
        fds[1] = {session_->socket(), static_cast<short>(POLLIN | (session_->wants_write() ? POLLOUT : 0)), 0};
    } else if (lookup_) {
        timeout_ms = 20;  // the lookup's answer is asked for, not announced
    } else if (!session_) {
        timeout_ms = static_cast<int>(std::clamp<long>(
            std::chrono::duration_cast<milliseconds>(next_attempt_ - Clock::now()).count(), 0, 1000));
    }
    if (stopping_) timeout_ms = std::min(timeout_ms, 20);
    if (::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout_ms) < 0 && errno != EINTR) log::error(std::string("poll: ") + std::strerror(errno));
    if (fds[0].revents & POLLIN) {
        std::uint64_t n;
        [[maybe_unused]] const ssize_t r = ::read(wake_fd_, &n, sizeof n);
    }
    if (session_) {
        bool ok = true;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ok = session_->read();
        if (ok && session_ && (fds[1].revents & POLLOUT || session_->wants_write())) ok = session_->write();
        if (ok && session_) ok = session_->housekeeping();
        if (!ok) {
            if (disconnecting) {
                done = true;
                return;
            }
            lost_ = true;
        }
    }
}

}  // namespace uhfd
