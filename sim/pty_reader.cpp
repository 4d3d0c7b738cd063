#include "sim/pty_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <optional>
#include <system_error>
#include <utility>

namespace uhfsim {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void throw_errno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyReader::PtyReader() {
    try {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) throw_errno("posix_openpt");
        if (::grantpt(master_) != 0) throw_errno("grantpt");
        if (::unlockpt(master_) != 0) throw_errno("unlockpt");
        char name[128];
        if (const int rc = ::ptsname_r(master_, name, sizeof name); rc != 0) {
            errno = rc;
            throw_errno("ptsname_r");
        }
        path_ = name;
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            throw_errno("fcntl");

        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) throw_errno("open pty slave");
        // Raw from the start: echo or newline translation would corrupt frames before the
        // host applies its own settings.
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0) throw_errno("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0) throw_errno("tcsetattr");

        wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_fd_ < 0) throw_errno("eventfd");

        thread_ = std::thread(&PtyReader::serve, this);
    } catch (...) {
        close_fd(wake_fd_);
        close_fd(slave_);
        close_fd(master_);
        throw;
    }
}

PtyReader::~PtyReader() {
    stop();
    close_fd(wake_fd_);
    close_fd(slave_);
    close_fd(master_);
}

void PtyReader::stop() {
    stopping_.store(true);
    wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mu_);
    busy_ = false;
    changed_.notify_all();
}

void PtyReader::wake() const {
    const std::uint64_t one = 1;
    // A full counter already means "wake up", so a failed write loses nothing.
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

bool PtyReader::wait_idle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout,
                             [&] { return stopping_.load() || (!busy_ && urgent_.empty()); });
}

void PtyReader::send_now(std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard lock(mu_);
        urgent_.insert(urgent_.end(), bytes.begin(), bytes.end());
    }
    wake();
}

// One loop turn: take new urgent bytes, write what is due, then sleep in ppoll() until the next
// chunk or paced byte is due, the host writes, or someone calls wake(). Nothing here waits on
// the test's threads beyond the short lock.
void PtyReader::serve() {
    RequestDecoder decoder;
    std::deque<Outgoing> queue;   // reply chunks in order, each waiting out its own delay
    std::deque<Outgoing> urgent;  // from send_now(), ahead of queued chunks still waiting
    bool head_armed = false;
    Clock::time_point head_due{};
    Clock::time_point next_byte_at{};
    bool out_blocked = false;
    std::array<std::uint8_t, 4096> buf{};

    while (!stopping_.load()) {
        {
            std::lock_guard lock(mu_);
            if (!urgent_.empty()) {
                urgent.push_back({std::move(urgent_), 0, 0});
                urgent_.clear();
                busy_ = true;  // so wait_idle() never sees the bytes in neither place
            }
        }

        Clock::time_point now = Clock::now();
        if (!queue.empty() && !head_armed) {
            // The pause runs from the moment the previous chunk finished (or the request came).
            head_due = now + std::chrono::milliseconds(queue.front().delay_ms);
            head_armed = true;
        }

        std::optional<Clock::time_point> wake_at;
        bool ready_now = false;
        std::deque<Outgoing>* source = nullptr;
        if (!urgent.empty()) source = &urgent;
        else if (!queue.empty() && now >= head_due) source = &queue;
        else if (!queue.empty()) wake_at = head_due;

        if (source && !out_blocked) {
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
                const ssize_t w = ::write(master_, out.bytes.data() + out.sent, n);
                if (w > 0) {
                    out.sent += static_cast<std::size_t>(w);
                    next_byte_at += byte_time * w;
                } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    out_blocked = true;
                } else if (w < 0 && errno != EINTR) {
                    out.sent = out.bytes.size();  // the line is gone; drop rather than spin
                }
            }
            if (out.sent == out.bytes.size()) {
                if (source == &queue) head_armed = false;
                source->pop_front();
                ready_now = true;
            } else if (!out_blocked && !wake_at) {
                ready_now = true;
            }
        }

        {
            std::lock_guard lock(mu_);
            const bool busy = !queue.empty() || !urgent.empty();
            if (busy != busy_) {
                busy_ = busy;
                changed_.notify_all();
            }
        }

        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (out_blocked ? POLLOUT : 0)), 0},
                         {wake_fd_, POLLIN, 0}};
        timespec ts{};
        const timespec* timeout = nullptr;
        if (ready_now) {
            timeout = &ts;
        } else if (wake_at) {
            const auto left = std::max(Clock::duration::zero(), *wake_at - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            timeout = &ts;
        }
        const int rc = ::ppoll(fds, 2, timeout, nullptr);
        if (rc < 0) continue;  // EINTR: the loop re-reads the clock

        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
        }
        if (fds[0].revents & POLLOUT) out_blocked = false;
        if (fds[0].revents & POLLIN) {
            const ssize_t r = ::read(master_, buf.data(), buf.size());
            for (ssize_t i = 0; i < r; ++i) {
                switch (decoder.feed(buf[static_cast<std::size_t>(i)])) {
                case RequestDecoder::Status::request: {
                    {
                        // Busy before the request becomes visible: a test that saw it arrive
                        // must not find us idle before its answer is queued.
                        std::lock_guard lock(mu_);
                        busy_ = true;
                    }
                    std::optional<Action> action = responder_.respond(decoder.request());
                    if (!action) break;
                    for (Chunk& c : action->chunks()) queue.push_back({std::move(c.bytes), c.delay_ms, 0});
                    break;
                }
                case RequestDecoder::Status::malformed:
                    responder_.note_malformed(decoder.reason());
                    break;
                case RequestDecoder::Status::incomplete:
                    break;
                }
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Not expected while our own slave descriptor is open; never spin on it.
            ::usleep(10'000);
        }
    }
}

}  // namespace uhfsim
