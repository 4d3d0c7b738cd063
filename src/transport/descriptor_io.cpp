#include "transport/descriptor_io.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "transport/stream_reader.hpp"

namespace uhf {
namespace {

IoResult io_error(int err, std::size_t moved) {
    return {errno_means_gone(err) ? Io::gone : Io::failed, moved, err};
}

ssize_t write_some(int fd, Descriptor kind, const std::uint8_t *data, std::size_t n) {
    // MSG_NOSIGNAL: a peer that went away is an error code here, not SIGPIPE in the host.
    return kind == Descriptor::socket ? ::send(fd, data, n, MSG_NOSIGNAL) : ::write(fd, data, n);
}

ssize_t read_some(int fd, Descriptor kind, std::uint8_t *data, std::size_t n) {
    return kind == Descriptor::socket ? ::recv(fd, data, n, MSG_DONTWAIT) : ::read(fd, data, n);
}

}  // namespace

int wait_for(int fd, short events, int ms, int cancel_fd) {
    const std::int64_t deadline = monotonic_ms() + ms;
    for (;;) {
        std::int64_t left = deadline - monotonic_ms();
        if (left < 0) left = 0;
        // poll() skips a negative descriptor, so without a cancel signal this is a plain wait.
        pollfd p[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
        const int r = ::poll(p, 2, static_cast<int>(left));
        if (r > 0 && (p[1].revents & POLLIN) != 0) return kWaitCancelled;
        if (r > 0) return p[0].revents;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

IoResult write_within(int fd, Descriptor kind, std::span<const std::uint8_t> bytes, int bound_ms, int cancel_fd) {
    if (fd < 0) return {Io::failed, 0, EBADF};
    std::size_t done = 0;
    const std::int64_t deadline = monotonic_ms() + bound_ms;
    while (done < bytes.size()) {
        const ssize_t n = write_some(fd, kind, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return io_error(errno, done);
        const std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) return {Io::timeout, done, 0};
        const int ready = wait_for(fd, POLLOUT, static_cast<int>(left), cancel_fd);
        if (ready == 0) return {Io::timeout, done, 0};
        if (ready == kWaitCancelled) return {Io::cancelled, done, 0};
        if (ready < 0) return io_error(errno, done);
    }
    return {Io::ok, done, 0};
}

IoResult read_within(int fd, Descriptor kind, std::span<std::uint8_t> into, int timeout_ms, int cancel_fd) {
    if (fd < 0) return {Io::failed, 0, EBADF};
    if (timeout_ms > 0) {
        const int ready = wait_for(fd, POLLIN, timeout_ms, cancel_fd);
        if (ready == 0) return {Io::timeout, 0, 0};
        if (ready == kWaitCancelled) return {Io::cancelled, 0, 0};
        if (ready < 0) return io_error(errno, 0);
    }
    for (;;) {
        const ssize_t n = read_some(fd, kind, into.data(), into.size());
        if (n > 0) return {Io::ok, static_cast<std::size_t>(n), 0};
        // Nothing queued is EAGAIN; end of file is a hang-up or a closed connection.
        if (n == 0) return {Io::gone, 0, kind == Descriptor::socket ? ECONNRESET : EIO};
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return {Io::timeout, 0, 0};
        return io_error(errno, 0);
    }
}

}  // namespace uhf
