// Serial transport: a terminal node in raw mode, non-blocking, one exchange at a time.
#include "transport/serial.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/exchange.hpp"
#include "core/frame.hpp"
#include "uhfreader.h"

extern "C" {
UHF_API int idComDev = 0;
UHF_API unsigned char qchar = 0;
UHF_API unsigned char pc_id_buf = 0;
UHF_API unsigned char IcCmd_buf = 0;
UHF_API int TRYNUM2S = 0;
UHF_API int TRYNUM2L = 0;
}

namespace uhf::serial {
namespace {

// Whether idComDev is a descriptor this library opened and has not closed: idComDev
// itself keeps its last value, and 0 at load is not a port.
bool g_open = false;

long long now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until the descriptor is ready for `events` or `ms` pass; false on timeout or error.
bool wait_ready(int fd, short events, int ms) {
    long long deadline = now_ms() + ms;
    for (;;) {
        long long left = deadline - now_ms();
        if (left < 0) left = 0;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

speed_t line_speed(int baud) {
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

// Reads what the line has queued into a private buffer and hands it out byte by byte,
// so a reply costs a few system calls however long it is. The input queue was flushed
// before the request went out, so whatever is buffered belongs to this exchange.
class LineReader final : public ByteSource {
public:
    explicit LineReader(int fd) : fd_(fd) {}

    // One attempt without waiting (the first-byte wait).
    bool take_now(std::uint8_t &b) {
        if (head_ == tail_ && !fill()) return false;
        b = buf_[head_++];
        qchar = b;
        return true;
    }
    void wait_readable(int ms) { wait_ready(fd_, POLLIN, ms); }

    // From the first 0x10 on, each byte may take up to the inter-byte gap, and the rest of
    // the frame the whole-frame bound.
    void start_frame() { frame_deadline_ = now_ms() + timing().frame_rest_bound_ms; }

    bool next(std::uint8_t &b) override {
        while (head_ == tail_ && !fill()) {
            long long left = frame_deadline_ - now_ms();
            if (left <= 0) return false;
            int gap = timing().inter_byte_gap_ms;
            if (!wait_ready(fd_, POLLIN, static_cast<int>(left < gap ? left : gap))) return false;
            if (!fill()) return false;
        }
        b = buf_[head_++];
        qchar = b;
        return true;
    }

private:
    bool fill() {
        head_ = tail_ = 0;
        for (;;) {
            ssize_t n = ::read(fd_, buf_, sizeof buf_);
            if (n > 0) {
                tail_ = static_cast<std::size_t>(n);
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
    }

    int fd_;
    std::uint8_t buf_[4096];
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
    long long frame_deadline_ = 0;
};

// Writes all of `data`, waiting for the line while it is full; returns the bytes written.
std::size_t write_all(int fd, const std::uint8_t *data, std::size_t len) {
    std::size_t done = 0;
    long long deadline = now_ms() + timing().send_bound_ms;
    while (done < len) {
        ssize_t n = ::write(fd, data + done, len - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        long long left = deadline - now_ms();
        if (left <= 0 || !wait_ready(fd, POLLOUT, static_cast<int>(left))) break;
    }
    return done;
}

bool send_byte(int c) {
    std::uint8_t b = static_cast<std::uint8_t>(c);
    return g_open && write_all(idComDev, &b, 1) == 1;
}

bool receive_byte() {
    if (!g_open) return false;
    std::uint8_t b = 0;
    for (;;) {
        ssize_t n = ::read(idComDev, &b, 1);
        if (n == 1) {
            qchar = b;
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

// Waits for the reply's first 0x10 within the poll budget: each attempt reads at once;
// any other byte is dropped and the next attempt follows without waiting.
Outcome await_first_byte(LineReader &line) {
    TRYNUM2S = 10;
    TRYNUM2L = 10;
    const int budget = IcCmd == kHandshake ? 2 * TRYNUM2S : 4 * TRYNUM2L;
    bool last_was_byte = false;
    for (int attempt = 1; attempt <= budget; ++attempt) {
        std::uint8_t b = 0;
        if (line.take_now(b)) {
            if (b == kDle) return code::ok;
            last_was_byte = true;
            continue;
        }
        last_was_byte = false;
        if (attempt < budget) line.wait_readable(timing().first_byte_poll_ms);
    }
    return last_was_byte ? code::first_not_dle : code::serial_no_reply;
}

Outcome exchange() {
    if (!g_open) return code::no_serial_port;

    std::uint8_t frame[kMaxRequestFrame];
    std::size_t len = encode_request(pc_id, IcCmd, {BlkAAdrBeg, BlkALength}, frame);
    // Whatever an earlier exchange left unread (a late or abandoned reply) must not be
    // taken as this request's answer.
    ::tcflush(idComDev, TCIFLUSH);
    std::size_t sent = write_all(idComDev, frame, len);
    if (BlkALength > 0) qchar = BlkAAdrBeg[BlkALength - 1];
    if (sent < len) return request_send_failure({frame, len}, sent);

    LineReader line(idComDev);
    Outcome o = await_first_byte(line);
    if (o.code != 0) return o;

    line.start_frame();
    ReplyFields f;
    o = decode_reply_rest(line, Wire::serial, current_expectation(), f, reply_area());
    if (f.have_address) pc_id_buf = f.address;
    if (f.have_command) IcCmd_buf = f.command;
    if (f.have_status) ErrorCode = f.status;
    // An announced length past the reply area is never left where a caller could index with it.
    if (f.have_length) BlkBLength = f.length <= kReplyCapacity ? f.length : 0;
    if (o.code == 0) zero_reply_tail(f.length);
    return o;
}

}  // namespace

Timing &timing() {
    static Timing t;
    return t;
}

NodeFamilies &node_families() {
    static NodeFamilies f;
    return f;
}

bool port_open() { return g_open; }

void close_port() {
    if (g_open) ::close(idComDev);
    g_open = false;
}

int open_node(const char *path, int baud) {
    close_port();
    if (path == nullptr) return 1;
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return 1;
    termios old{};
    if (::tcgetattr(fd, &old) != 0) {
        ::close(fd);
        return 1;
    }
    termios t{};
    t.c_cflag = CREAD | CLOCAL | CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, line_speed(baud));
    cfsetospeed(&t, line_speed(baud));
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return 1;
    }
    idComDev = fd;
    g_open = true;
    return 0;
}

}  // namespace uhf::serial

namespace {

int open_numbered(const char *prefix, int port, int baud) {
    unsigned n = static_cast<unsigned>(port);
    if (n < 1 || n > 9) n = 0;
    char path[256];
    std::snprintf(path, sizeof path, "%s%u", prefix, n);
    return uhf::serial::open_node(path, baud);
}

}  // namespace

using namespace uhf;

extern "C" {

UHF_API int RS232_InitPort(int port, int baud) {
    return open_numbered(serial::node_families().builtin, port, baud);
}

UHF_API int RS232_InitPort_USB(int port, int baud) {
    return open_numbered(serial::node_families().usb_adapter, port, baud);
}

UHF_API int RS232_InitPort_Path(const char *path, int baud) { return serial::open_node(path, baud); }

UHF_API int RS232_SendStr(const unsigned char *data, int len) {
    if (!serial::port_open() || len < 0 || (data == nullptr && len > 0)) return 1;
    return serial::write_all(idComDev, data, static_cast<std::size_t>(len)) ==
                   static_cast<std::size_t>(len)
               ? 0
               : 1;
}

UHF_API int RS232_ReceStr(unsigned char *buf, int size) {
    if (!serial::port_open() || size < 0 || (buf == nullptr && size > 0)) return 1;
    for (;;) {
        ssize_t n = ::read(idComDev, buf, static_cast<std::size_t>(size));
        if (n >= 0) return 0;
        if (errno != EINTR) return 1;
    }
}

UHF_API int RS232_SendChar(int c) { return serial::send_byte(c) ? 0 : 1; }

UHF_API int RS232_QSendChar(int c) {
    if (!serial::send_byte(c)) return 1;
    if (static_cast<std::uint8_t>(c) == kDle && !serial::send_byte(c)) return 1;
    return 0;
}

UHF_API int RS232_ReceChar(void) { return serial::receive_byte() ? 0 : 1; }

UHF_API int RS232_QReceChar(void) {
    if (!serial::receive_byte()) return 1;
    if (qchar != kDle) return 0;
    if (!serial::receive_byte()) return 1;
    return qchar == kDle ? 0 : 1;
}

UHF_API int RS232_PcSendOrder(void) {
    IcRetCode = 0;
    return finish(serial::exchange());
}

UHF_API int RS232_UnLinkCom(void) {
    serial::close_port();
    return 0;
}

}  // extern "C"
