#include "control_channel.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace uhfsim_tool {

namespace {

// A line longer than this is refused whole rather than buffered without end.
constexpr std::size_t kMaxLine = 4096;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

ControlChannel::ControlChannel(std::string where, Run run) : where_(std::move(where)), run_(std::move(run)) {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) fail("eventfd");
    if (where_ != "-") {
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        if (where_.size() >= sizeof sa.sun_path) {
            ::close(stop_fd_);
            errno = ENAMETOOLONG;
            fail("control socket " + where_);
        }
        std::memcpy(sa.sun_path, where_.c_str(), where_.size() + 1);
        struct stat st{};
        if (::lstat(where_.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) {
                ::close(stop_fd_);
                errno = EEXIST;
                fail("control socket " + where_ + " (a file that is not a socket is in the way)");
            }
            ::unlink(where_.c_str());
        }
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            ::listen(listener_, 8) != 0) {
            const int err = errno;
            if (listener_ >= 0) ::close(listener_);
            ::close(stop_fd_);
            errno = err;
            fail("control socket " + where_);
        }
    }
    thread_ = std::thread(&ControlChannel::serve, this);
}

ControlChannel::~ControlChannel() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_fd_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(where_.c_str());
    }
    ::close(stop_fd_);
}

void ControlChannel::serve() {
    if (listener_ < 0) {
        converse(STDIN_FILENO, STDOUT_FILENO);  // at the end of stdin the reader serves on
        return;
    }
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const bool go_on = converse(client, client);
        ::close(client);
        if (!go_on) return;
    }
}

bool ControlChannel::write_all(int fd, const std::string& text) const {
    std::size_t at = 0;
    while (at < text.size()) {
        // A client gone meanwhile must not raise SIGPIPE; stdout is not a socket.
        const ssize_t w = fd == STDOUT_FILENO ? ::write(fd, text.data() + at, text.size() - at)
                                              : ::send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        at += static_cast<std::size_t>(w);
    }
    return true;
}

bool ControlChannel::converse(int in, int out) {
    std::string pending;
    bool overlong = false;  // skipping the rest of a line that was too long
    char buf[1024];
    for (;;) {
        pollfd fds[2] = {{in, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return false;
        const ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return true;
        pending.append(buf, static_cast<std::size_t>(r));
        std::size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (overlong) {
                overlong = false;
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!write_all(out, run_(line))) return true;
        }
        if (pending.size() > kMaxLine && !overlong) {
            if (!write_all(out, "error line too long\n")) return true;
            pending.clear();
            overlong = true;
        } else if (overlong) {
            pending.clear();
        }
    }
}

}  // namespace uhfsim_tool
