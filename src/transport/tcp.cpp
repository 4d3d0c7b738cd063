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

#include "transport/descriptor_io.hpp"
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

// One connect attempt to one resolved address, bounded by `deadline_ms` and the cancel signal.
OpenResult connect_one(const addrinfo &ai, std::int64_t deadline_ms, int cancel_fd, int &fd_out) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return {UHF_ERR_CONNECT, errno};
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        const int err = errno;
        ::close(fd);
        return {UHF_ERR_CONNECT, err};
    }
    std::int64_t left = deadline_ms - monotonic_ms();
    const int ready = left > 0 ? wait_for(fd, POLLOUT, static_cast<int>(left), cancel_fd) : 0;
    if (ready == kWaitCancelled) {
        ::close(fd);
        return {UHF_ERR_CANCELLED, 0};
    }
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
        last = connect_one(*ai, deadline, cancel_fd, fd);
        if (last.code == UHF_ERR_TIMEOUT || last.code == UHF_ERR_CANCELLED) break;
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
    if (gone_) return {Io::gone, 0, ECONNRESET};
    const IoResult r = write_within(fd_, Descriptor::socket, bytes, bound_ms, cancel_fd);
    if (r.status == Io::gone) gone_ = true;
    return r;
}

IoResult TcpTransport::receive(std::span<std::uint8_t> into, int timeout_ms) {
    if (gone_) return {Io::gone, 0, ECONNRESET};
    const IoResult r = read_within(fd_, Descriptor::socket, into, timeout_ms, cancel_fd);
    if (r.status == Io::gone) gone_ = true;
    return r;
}

}  // namespace uhf
