#include "transport/cancel.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace uhf {

int make_cancel_signal() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

void raise_cancel(int fd) {
    const int saved = errno;
    const std::uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 cancels; a full counter (EAGAIN) is raised anyway.
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    errno = saved;
}

bool cancel_raised(int fd) {
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, 0)) < 0 && errno == EINTR) {
    }
    return r > 0 && (p.revents & POLLIN) != 0;
}

void lower_cancel(int fd) {
    if (fd < 0) return;
    std::uint64_t count = 0;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace uhf
