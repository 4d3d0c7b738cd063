// Serial transport: a terminal node in raw mode, non-blocking, held exclusively.
#include "transport/serial.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "transport/stream_reader.hpp"
#include "uhfreader.h"

namespace uhf {
namespace {

speed_t line_speed(int baud) {
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

int open_error(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case ELOOP:
        return UHF_ERR_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return UHF_ERR_ACCESS;
    case EBUSY:
        return UHF_ERR_BUSY;
    case EISDIR:
        return UHF_ERR_NOT_TERMINAL;
    default:
        return UHF_ERR_IO;
    }
}

IoResult io_error(int err, std::size_t moved) {
    return {errno_means_gone(err) ? Io::gone : Io::failed, moved, err};
}

}  // namespace

bool serial_rate_supported(int baud) {
    return baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200;
}

int wait_for(int fd, short events, int ms) {
    const std::int64_t deadline = monotonic_ms() + ms;
    for (;;) {
        std::int64_t left = deadline - monotonic_ms();
        if (left < 0) left = 0;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return p.revents;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

OpenResult SerialTransport::open(const char *path, int baud) {
    close();
    if (path == nullptr) return {UHF_ERR_NOT_FOUND, ENOENT};
    // Only a character device can be a serial port; anything else is refused before it is
    // opened, so a FIFO or a file is never read or written.
    struct stat st {};
    if (::stat(path, &st) != 0) return {open_error(errno), errno};
    if (!S_ISCHR(st.st_mode)) return {UHF_ERR_NOT_TERMINAL, S_ISDIR(st.st_mode) ? EISDIR : ENOTTY};

    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {open_error(errno), errno};
    auto fail = [fd](int code, int cause) {
        ::close(fd);
        return OpenResult{code, cause};
    };
    termios old{};
    if (::tcgetattr(fd, &old) != 0) return fail(errno == ENOTTY ? UHF_ERR_NOT_TERMINAL : UHF_ERR_IO, errno);
    // Two programs on one line would take each other's replies: the second one is refused
    // before it changes anything about the port.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? UHF_ERR_BUSY : UHF_ERR_IO, errno);
    ::ioctl(fd, TIOCEXCL);

    termios t{};
    t.c_cflag = CREAD | CLOCAL | CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, line_speed(baud));
    cfsetospeed(&t, line_speed(baud));
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::ioctl(fd, TIOCNXCL);
        return fail(UHF_ERR_IO, errno);
    }
    fd_ = fd;
    rate_ = serial_rate_supported(baud) ? baud : 9600;
    if (published_ != nullptr) *published_ = fd;
    reply_outstanding = false;
    return {};
}

void SerialTransport::close() {
    if (fd_ < 0) return;
    // The exclusive mark outlives this descriptor when another one stays open (a
    // pseudo-terminal's reader holds its own): lift it, or the next open would be refused.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void SerialTransport::discard_stale_input(Trace &) {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

IoResult SerialTransport::send(std::span<const std::uint8_t> bytes, int bound_ms) {
    if (fd_ < 0) return {Io::failed, 0, EBADF};
    std::size_t done = 0;
    const std::int64_t deadline = monotonic_ms() + bound_ms;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
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

IoResult SerialTransport::receive(std::span<std::uint8_t> into, int timeout_ms) {
    if (fd_ < 0) return {Io::failed, 0, EBADF};
    if (timeout_ms > 0) {
        const int ready = wait_for(fd_, POLLIN, timeout_ms);
        if (ready == 0) return {Io::timeout, 0, 0};
        if (ready < 0) return io_error(errno, 0);
    }
    for (;;) {
        const ssize_t n = ::read(fd_, into.data(), into.size());
        if (n > 0) return {Io::ok, static_cast<std::size_t>(n), 0};
        // A terminal read with the line open and nothing queued fails with EAGAIN; end of file
        // is a hang-up: the adapter was unplugged or the pseudo-terminal's far side closed.
        if (n == 0) return {Io::gone, 0, EIO};
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return {Io::timeout, 0, 0};
        return io_error(errno, 0);
    }
}

}  // namespace uhf

namespace uhf::serial {

Timing &timing() {
    static Timing t;
    return t;
}

NodeFamilies &node_families() {
    static NodeFamilies f;
    return f;
}

int frame_bound_ms(int line_rate) {
    // Start pair, then address, command, status, two length bytes, the data and the checksum,
    // every one of them doubled in the worst case, then the end pair; ten bits a byte.
    constexpr long kLongestFrame = 2 + 2 * (5 + static_cast<long>(kReplyCapacity) + 1) + 2;
    const int configured = timing().frame_rest_bound_ms;
    if (line_rate <= 0) return configured;
    const long wire_ms = (kLongestFrame * 10 * 1000 + line_rate - 1) / line_rate;
    const long with_margin = wire_ms + wire_ms / 2;
    return with_margin > configured ? static_cast<int>(with_margin) : configured;
}

}  // namespace uhf::serial
