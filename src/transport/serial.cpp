// Serial transport: a terminal node in raw mode, non-blocking, held exclusively.
#include "transport/serial.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "transport/descriptor_io.hpp"
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

int errno_open_error(int err) {
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

}  // namespace

bool serial_rate_supported(int baud) {
    return baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200;
}

OpenResult SerialTransport::open(const char *path, int baud) {
    close();
    if (path == nullptr) return {UHF_ERR_NOT_FOUND, ENOENT};
    // Only a character device can be a serial port; anything else is refused before it is
    // opened, so a FIFO or a file is never read or written.
    struct stat st {};
    if (::stat(path, &st) != 0) return {errno_open_error(errno), errno};
    if (!S_ISCHR(st.st_mode)) return {UHF_ERR_NOT_TERMINAL, S_ISDIR(st.st_mode) ? EISDIR : ENOTTY};

    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {errno_open_error(errno), errno};
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
    return write_within(fd_, Descriptor::terminal, bytes, bound_ms, cancel_fd);
}

IoResult SerialTransport::receive(std::span<std::uint8_t> into, int timeout_ms) {
    return read_within(fd_, Descriptor::terminal, into, timeout_ms, cancel_fd);
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
