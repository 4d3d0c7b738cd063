#include "sim/stream_loop.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

namespace uhfsim::detail {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

ssize_t StreamEndpoint::send(const std::uint8_t* bytes, std::size_t n) {
    return ::write(connection(), bytes, n);
}

StreamLoop::StreamLoop(Responder& responder) : responder_(responder) {}

StreamLoop::~StreamLoop() {
    stop();
    if (wake_fd_ >= 0) ::close(wake_fd_);
}

void StreamLoop::start(StreamEndpoint& endpoint) {
    endpoint_ = &endpoint;
    if (wake_fd_ < 0) {
        wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    {
        std::lock_guard lock(mu_);
        running_ = true;
    }
    stopping_.store(false);
    try {
        thread_ = std::thread(&StreamLoop::serve, this);
    } catch (...) {
        std::lock_guard lock(mu_);
        running_ = false;
        throw;
    }
}

void StreamLoop::stop() {
    stopping_.store(true);
    wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mu_);
    busy_ = false;
    changed_.notify_all();
}

void StreamLoop::wake() const {
    if (wake_fd_ < 0) return;
    const std::uint64_t one = 1;
    // A full counter already means "wake up", so a failed write loses nothing.
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

bool StreamLoop::wait_idle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout,
                             [&] { return stopping_.load() || (!busy_ && urgent_.empty()); });
}

void StreamLoop::send_now(std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard lock(mu_);
        urgent_.insert(urgent_.end(), bytes.begin(), bytes.end());
    }
    wake();
}

void StreamLoop::call(const std::function<void()>& fn) {
    // From a handler, on the serving thread itself, waiting for the next turn would never end.
    if (std::this_thread::get_id() == thread_.get_id()) {
        fn();
        return;
    }
    std::unique_lock lock(mu_);
    if (!running_) {
        lock.unlock();
        fn();
        return;
    }
    calls_.push_back(&fn);
    const std::uint64_t ticket = ++calls_posted_;
    lock.unlock();
    wake();
    lock.lock();
    changed_.wait(lock, [&] { return calls_done_ >= ticket; });
}

std::size_t StreamLoop::run_calls() {
    std::deque<const std::function<void()>*> calls;
    {
        std::lock_guard lock(mu_);
        calls.swap(calls_);
    }
    for (const auto* fn : calls) (*fn)();
    if (!calls.empty()) {
        std::lock_guard lock(mu_);
        calls_done_ += calls.size();
        changed_.notify_all();
    }
    return calls.size();
}

void StreamLoop::forget_stream() {
    decoder_.reset();
    queue_.clear();
    urgent_out_.clear();
    head_armed_ = false;
    out_blocked_ = false;
}

void StreamLoop::take_input(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        switch (decoder_.feed(bytes[i])) {
        case RequestDecoder::Status::request: {
            {
                // Busy before the request becomes visible: a test that saw it arrive must not
                // find us idle before its answer is queued.
                std::lock_guard lock(mu_);
                busy_ = true;
            }
            std::optional<Action> action = responder_.respond(decoder_.request());
            if (!action) break;
            for (Chunk& c : action->chunks()) queue_.push_back({std::move(c.bytes), c.delay_ms, 0});
            break;
        }
        case RequestDecoder::Status::malformed:
            responder_.note_malformed(decoder_.reason());
            break;
        case RequestDecoder::Status::incomplete:
            break;
        }
    }
}

// One loop turn: run posted calls, take new urgent bytes, write what is due, then sleep in
// ppoll() until the next chunk or paced byte is due, the host writes, a watched descriptor is
// ready, or someone calls wake(). Nothing here waits on the test's threads beyond short locks.
void StreamLoop::serve() {
    Clock::time_point head_due{};
    Clock::time_point next_byte_at{};
    std::uint64_t seen_id = endpoint_->connection_id();
    std::array<std::uint8_t, 4096> buf{};
    std::vector<pollfd> fds;

    while (!stopping_.load()) {
        run_calls();
        const int fd = endpoint_->connection();
        if (const std::uint64_t id = endpoint_->connection_id(); id != seen_id || fd < 0) {
            // Whatever was meant for the last host, or half heard from it, goes with it.
            seen_id = id;
            if (fd < 0 || !queue_.empty() || !urgent_out_.empty() || decoder_.in_frame()) forget_stream();
        }

        {
            std::lock_guard lock(mu_);
            if (fd >= 0 && !urgent_.empty()) {
                urgent_out_.push_back({std::move(urgent_), 0, 0});
                urgent_.clear();
                busy_ = true;  // so wait_idle() never sees the bytes in neither place
            }
        }

        Clock::time_point now = Clock::now();
        if (!queue_.empty() && !head_armed_) {
            // The pause runs from the moment the previous chunk finished (or the request came).
            head_due = now + std::chrono::milliseconds(queue_.front().delay_ms);
            head_armed_ = true;
        }

        std::optional<Clock::time_point> wake_at;
        bool ready_now = false;
        std::deque<Outgoing>* source = nullptr;
        if (!urgent_out_.empty()) source = &urgent_out_;
        else if (!queue_.empty() && now >= head_due) source = &queue_;
        else if (!queue_.empty()) wake_at = head_due;

        if (source && !out_blocked_ && fd >= 0) {
            Outgoing& out = source->front();
            std::size_t n = out.bytes.size() - out.sent;
            const unsigned baud = baud_.load();
            const auto byte_time = baud ? std::chrono::nanoseconds(10'000'000'000LL / baud)
                                        : std::chrono::nanoseconds(0);
            if (baud && n) {
                // After an idle spell the line starts afresh rather than bursting to catch up.
                if (next_byte_at + byte_time < now) next_byte_at = now;
                if (now < next_byte_at) {
                    n = 0;
                    wake_at = next_byte_at;
                } else {
                    n = std::min<std::size_t>(n, 1 + (now - next_byte_at) / byte_time);
                }
            }
            if (n) {
                const ssize_t w = endpoint_->send(out.bytes.data() + out.sent, n);
                if (w > 0) {
                    out.sent += static_cast<std::size_t>(w);
                    next_byte_at += byte_time * w;
                } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    out_blocked_ = true;
                } else if (w < 0 && errno != EINTR) {
                    out.sent = out.bytes.size();  // the line is gone; drop rather than spin
                    endpoint_->on_write_error(errno);
                }
            }
            if (out.sent == out.bytes.size()) {
                if (source == &queue_) head_armed_ = false;
                source->pop_front();
                ready_now = true;
            } else if (!out_blocked_ && !wake_at) {
                ready_now = true;
            }
        }

        {
            std::lock_guard lock(mu_);
            const bool busy = !queue_.empty() || !urgent_out_.empty();
            if (busy != busy_) {
                busy_ = busy;
                changed_.notify_all();
            }
        }

        fds.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        const int live = endpoint_->connection();
        if (live >= 0) fds.push_back({live, static_cast<short>(POLLIN | (out_blocked_ ? POLLOUT : 0)), 0});
        const std::size_t first_watch = fds.size();
        endpoint_->add_watches(fds);

        timespec ts{};
        const timespec* timeout = nullptr;
        if (ready_now || live != fd) {
            timeout = &ts;
        } else if (wake_at) {
            const auto left = std::max(Clock::duration::zero(), *wake_at - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout = &ts;
        }
        const int rc = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
        if (rc < 0) continue;  // EINTR: the loop re-reads the clock

        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
        }
        if (live >= 0) {
            const short ev = fds[1].revents;
            if (ev & POLLOUT) out_blocked_ = false;
            if (ev & POLLIN) {
                const ssize_t r = ::read(live, buf.data(), buf.size());
                if (r > 0) take_input(buf.data(), static_cast<std::size_t>(r));
                else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                    endpoint_->on_hangup();
            } else if (ev & (POLLHUP | POLLERR | POLLNVAL)) {
                endpoint_->on_hangup();
            }
        }
        for (std::size_t i = first_watch; i < fds.size(); ++i)
            if (fds[i].revents != 0) endpoint_->on_watch(fds[i]);
    }

    // Calls posted while stopping still run, here, before call() runs them on its caller.
    for (;;) {
        {
            std::lock_guard lock(mu_);
            if (calls_.empty()) {
                running_ = false;
                changed_.notify_all();
                break;
            }
        }
        run_calls();
    }
}

}  // namespace uhfsim::detail
