// TCP transport: a non-blocking stream socket with Nagle off (a request is one small write
// that must leave at once) and keepalive on (a server that vanished without a word is noticed
// between exchanges too).
#include "transport/tcp.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "transport/serial.hpp"
#include "transport/stream_reader.hpp"
#include "uhfreader.h"

namespace uhf {
namespace {

constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 3;

void set_option(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

IoResult io_error(int err, std::size_t moved) {
    return {errno_means_gone(err) ? Io::gone : Io::failed, moved, err};
}

// One connect attempt to one resolved address, bounded by `deadline_ms`.
OpenResult connect_one(const addrinfo &ai, std::int64_t deadline_ms, int &fd_out) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return {UHF_ERR_CONNECT, errno};
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        const int err = errno;
        ::close(fd);
        return {UHF_ERR_CONNECT, err};
    }
    std::int64_t left = deadline_ms - monotonic_ms();
    const int ready = left > 0 ? wait_for(fd, POLLOUT, static_cast<int>(left)) : 0;
    if (ready <= 0) {
        const int err = ready == 0 ? ETIMEDOUT : errno;
        ::close(fd);
        return {ready == 0 ? UHF_ERR_TIMEOUT : UHF_ERR_CONNECT, err};
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
        ::close(fd);
        return {UHF_ERR_CONNECT, err};
    }
    fd_out = fd;
    return {};
}

}  // namespace

OpenResult TcpTransport::open(const char *host, const char *port, int timeout_ms) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(host, port, &hints, &list);
    if (rc != 0) {
        if (list != nullptr) ::freeaddrinfo(list);
        return {rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL ? UHF_ERR_UNKNOWN_HOST : UHF_ERR_CONNECT,
                rc == EAI_SYSTEM ? errno : 0};
    }
    // Every address the name has, in the resolver's order, within one overall bound.
    const std::int64_t deadline = monotonic_ms() + timeout_ms;
    OpenResult last{UHF_ERR_CONNECT, ECONNREFUSED};
    int fd = -1;
    for (const addrinfo *ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        last = connect_one(*ai, deadline, fd);
        if (last.code == UHF_ERR_TIMEOUT) break;
    }
    ::freeaddrinfo(list);
    if (fd < 0) return last;

    set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
    set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
    set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
    fd_ = fd;
    gone_ = false;
    reply_outstanding = false;
    return {};
}

void TcpTransport::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TcpTransport::discard_stale_input(Trace &trace) {
    if (fd_ < 0) return;
    std::uint8_t buf[4096];
    std::size_t thrown = 0;
    while (thrown < kDiscardLimit) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            trace.emit(UHF_TRACE_DISCARDED, {buf, static_cast<std::size_t>(n)});
            thrown += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The end of the connection shows itself to the exchange that follows.
        if (n == 0 || errno_means_gone(errno)) gone_ = true;
        return;
    }
}

IoResult TcpTransport::send(std::span<const std::uint8_t> bytes, int bound_ms) {
    if (fd_ < 0) return {Io::failed, 0, EBADF};
    if (gone_) return {Io::gone, 0, ECONNRESET};
    std::size_t done = 0;
    const std::int64_t deadline = monotonic_ms() + bound_ms;
    while (done < bytes.size()) {
        // MSG_NOSIGNAL: a peer that went away is an error code here, not SIGPIPE in the host.
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return io_error(errno, done);
        const std::int64_t left = deadline - monotonic_ms();
        if (left <= 0) return {Io::timeout, done, 0};
        const int ready = wait_for(fd_, POLLOUT, static_cast<int>(left));
        if (ready == 0) return {Io::timeout, done, 0};
        if (ready < 0) return io_error(errno, done);
    }
    return {Io::ok, done, 0};
}

IoResult TcpTransport::receive(std::span<std::uint8_t> into, int timeout_ms) {
    if (fd_ < 0) return {Io::failed, 0, EBADF};
    if (gone_) return {Io::gone, 0, ECONNRESET};
    if (timeout_ms > 0) {
        const int ready = wait_for(fd_, POLLIN, timeout_ms);
        if (ready == 0) return {Io::timeout, 0, 0};
        if (ready < 0) return io_error(errno, 0);
    }
    for (;;) {
        const ssize_t n = ::recv(fd_, into.data(), into.size(), MSG_DONTWAIT);
        if (n > 0) return {Io::ok, static_cast<std::size_t>(n), 0};
        if (n == 0) {
            gone_ = true;
            return {Io::gone, 0, ECONNRESET};
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return {Io::timeout, 0, 0};
        if (errno_means_gone(errno)) gone_ = true;
        return io_error(errno, 0);
    }
}

}  // namespace uhf
