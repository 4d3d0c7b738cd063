#include "bench/remote_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "sim/wire.hpp"

namespace uhfbench {
namespace {

[[noreturn]] void throw_errno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

long long now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

void sleep_until_ns(long long t) {
    timespec ts{static_cast<time_t>(t / 1'000'000'000LL), static_cast<long>(t % 1'000'000'000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool write_all(int fd, const std::uint8_t *p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool read_all(int fd, void *dst, std::size_t n) {
    auto *p = static_cast<std::uint8_t *>(dst);
    while (n > 0) {
        ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// `started` is when the request's first bytes were read: the moment the host handed the frame
// to the line, give or take the pseudo-terminal's own hop.
void answer(int master, const uhfsim::Request &req, long long started, const ReplyPlan &plan) {
    if (plan.silent) return;
    const std::vector<std::uint8_t> wire = reply_wire(req.addr, req.cmd, plan);
    if (plan.baud == 0) {
        if (plan.latency_us > 0) sleep_until_ns(started + paced_arrival_ns(0, 0, plan));
        write_all(master, wire.data(), wire.size());
        return;
    }
    // Each byte leaves once its own 10 bits would have crossed the line; whatever has come due
    // while we slept goes out in one write, as a UART's receive FIFO would hand it over.
    std::size_t i = 0;
    while (i < wire.size()) {
        sleep_until_ns(started + paced_arrival_ns(req.wire.size(), i, plan));
        const long long elapsed = now_ns() - started;
        std::size_t j = i + 1;
        while (j < wire.size() && paced_arrival_ns(req.wire.size(), j, plan) <= elapsed) ++j;
        if (!write_all(master, wire.data() + i, j - i)) return;
        i = j;
    }
}

[[noreturn]] void serve(int master, int control, int ack) {
    ReplyPlan plan;
    uhfsim::RequestDecoder decoder;
    long long frame_started = 0;
    std::uint8_t buf[4096];
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {control, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            _exit(1);
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!read_all(control, &plan, sizeof plan)) _exit(0);  // the host has gone
            decoder.reset();
            const std::uint8_t one = 1;
            if (!write_all(ack, &one, 1)) _exit(0);
            continue;
        }
        if (!(fds[0].revents & POLLIN)) {
            // Not expected while we hold the node open; a real-time task must never spin on it.
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) _exit(1);
            continue;
        }
        const long long t = now_ns();
        ssize_t r = ::read(master, buf, sizeof buf);
        if (r <= 0) continue;
        if (!decoder.in_frame()) frame_started = t;
        for (ssize_t k = 0; k < r; ++k) {
            if (decoder.feed(buf[k]) == uhfsim::RequestDecoder::Status::request)
                answer(master, decoder.request(), frame_started, plan);
            if (!decoder.in_frame()) frame_started = t;
        }
    }
}

}  // namespace

std::vector<std::uint8_t> reply_pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return v;
}

std::vector<std::uint8_t> request_pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return v;
}

std::vector<std::uint8_t> reply_wire(std::uint8_t addr, std::uint8_t cmd, const ReplyPlan &plan) {
    return uhfsim::encode_reply({addr, cmd, 0, reply_pattern(plan.reply_data)});
}

long long paced_arrival_ns(std::size_t request_wire, std::size_t i, const ReplyPlan &plan) {
    const long long think = static_cast<long long>(plan.latency_us) * 1000;
    if (plan.baud == 0) return think;
    const long long bits = 10LL * static_cast<long long>(request_wire + i + 1);
    return think + bits * 1'000'000'000LL / plan.baud;
}

RemoteReader::RemoteReader() {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) throw_errno("posix_openpt");
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        throw_errno("pseudo-terminal set-up");
    }
    path_ = name;
    // The child holds the node open for its whole life, so the host may close and reopen it
    // (as the link benchmark does) without the master ever seeing a hang-up.
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || ::tcgetattr(slave, &tio) != 0) {
        if (slave >= 0) ::close(slave);
        ::close(master);
        throw_errno("pseudo-terminal slave");
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);

    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0) throw_errno("pipe");
    if (::pipe2(from_child, O_CLOEXEC) != 0) throw_errno("pipe");
    const pid_t parent = ::getpid();
    child_ = ::fork();
    if (child_ < 0) throw_errno("fork");
    if (child_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(0);
        // Paced bytes are due every 87 us at 115200 baud; the default 50 us of timer slack
        // would show up as line time that is not there.
        ::prctl(PR_SET_TIMERSLACK, 1UL);
        // The reader stands for hardware and a line, which a busy host does not slow down:
        // where allowed, it runs ahead of ordinary tasks. It sleeps between bytes, so this
        // takes nothing from anyone. Without the privilege it runs as it is.
        sched_param sp{};
        sp.sched_priority = 1;
        ::sched_setscheduler(0, SCHED_FIFO, &sp);
        // Nothing of the host's stays open here: another reader's control pipe held by this
        // child would keep that reader from seeing its end. The slave stays open, so the master
        // never sees a hang-up between the host's links.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != master && fd != slave && fd != to_child[0] && fd != from_child[1]) ::close(fd);
        serve(master, to_child[0], from_child[1]);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    ::close(master);
    ::close(slave);
    control_ = to_child[1];
    ack_ = from_child[0];
}

RemoteReader::~RemoteReader() {
    ::close(control_);  // the child's cue to leave
    ::close(ack_);
    if (child_ > 0) {
        int status = 0;
        while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

void RemoteReader::plan(const ReplyPlan &p) {
    if (!write_all(control_, reinterpret_cast<const std::uint8_t *>(&p), sizeof p))
        throw_errno("plan to reader");
    std::uint8_t one = 0;
    if (!read_all(ack_, &one, 1)) throw std::system_error(EPIPE, std::generic_category(), "reader gone");
}

}  // namespace uhfbench
