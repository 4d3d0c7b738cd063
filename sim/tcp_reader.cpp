#include "sim/tcp_reader.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

#include "sim/descriptor.hpp"

namespace uhfsim {

namespace {

[[noreturn]] void throw_errno(int err, const std::string& what) {
    throw std::system_error(err, std::generic_category(), what);
}

}  // namespace

TcpReader::TcpReader(std::uint16_t port, std::string host) : host_(std::move(host)), port_(port) {
    open_listener();
    try {
        loop_.start(*this);
    } catch (...) {
        close_fd(listener_);
        throw;
    }
}

TcpReader::~TcpReader() { stop(); }

std::string TcpReader::address() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void TcpReader::open_listener() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port_);
    if (const int rc = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found); rc != 0)
        throw_errno(EINVAL, "not a numeric address: " + host_ + " (" + ::gai_strerror(rc) + ")");
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int err = errno;
        ::freeaddrinfo(found);
        throw_errno(err, "socket");
    }
    // The port comes back at once after stop_listening(), whatever connections linger.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int bound = ::bind(fd, found->ai_addr, found->ai_addrlen);
    const int bind_err = errno;
    ::freeaddrinfo(found);
    if (bound != 0 || ::listen(fd, 8) != 0) {
        const int err = bound != 0 ? bind_err : errno;
        ::close(fd);
        throw_errno(err, "listen on " + address());
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
        port_ = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    }
    listener_ = fd;
    std::lock_guard lock(mu_);
    listening_ = true;
    changed_.notify_all();
}

void TcpReader::stop() {
    loop_.stop();
    drop_client(false);
    close_fd(listener_);
    std::lock_guard lock(mu_);
    listening_ = false;
}

ssize_t TcpReader::send(const std::uint8_t* bytes, std::size_t n) {
    // A host gone since the last look must not raise SIGPIPE in the whole process.
    return ::send(client_, bytes, n, MSG_NOSIGNAL);
}

void TcpReader::add_watches(std::vector<pollfd>& fds) {
    if (listener_ >= 0) fds.push_back({listener_, POLLIN, 0});
}

void TcpReader::on_watch(const pollfd& p) {
    if (p.fd != listener_ || (p.revents & POLLIN) == 0) return;
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // EAGAIN: nobody else waiting
        if (client_ >= 0) {
            // One client at a time, as a serial server's port: the newcomer is closed at once
            // (counted first, so a host that saw the close finds it counted).
            {
                std::lock_guard lock(mu_);
                ++refused_;
                changed_.notify_all();
            }
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        client_ = fd;
        ++client_id_;
        std::lock_guard lock(mu_);
        ++connections_;
        connected_ = true;
        changed_.notify_all();
    }
}

void TcpReader::on_hangup() { drop_client(false); }

void TcpReader::drop_client(bool reset) {
    if (client_ < 0) return;
    if (reset) {
        const linger hard{1, 0};
        ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    {
        std::lock_guard lock(mu_);
        connected_ = false;
        changed_.notify_all();
    }
    close_fd(client_);
}

bool TcpReader::reset_client() {
    bool had = false;
    loop_.call([&] {
        had = client_ >= 0;
        drop_client(true);
    });
    return had;
}

bool TcpReader::close_client() {
    bool had = false;
    loop_.call([&] {
        had = client_ >= 0;
        drop_client(false);
    });
    return had;
}

void TcpReader::stop_listening() {
    loop_.call([&] {
        close_fd(listener_);
        std::lock_guard lock(mu_);
        listening_ = false;
    });
}

void TcpReader::listen_again() {
    std::exception_ptr failed;
    loop_.call([&] {
        if (listener_ >= 0) return;
        try {
            open_listener();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    if (failed) std::rethrow_exception(failed);
}

bool TcpReader::listening() const {
    std::lock_guard lock(mu_);
    return listening_;
}

std::size_t TcpReader::connections() const {
    std::lock_guard lock(mu_);
    return connections_;
}

bool TcpReader::connected() const {
    std::lock_guard lock(mu_);
    return connected_;
}

std::size_t TcpReader::refused() const {
    std::lock_guard lock(mu_);
    return refused_;
}

bool TcpReader::wait_for_connections(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return connections_ >= n; });
}

bool TcpReader::wait_disconnected(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return changed_.wait_for(lock, timeout, [&] { return !connected_; });
}

}  // namespace uhfsim
