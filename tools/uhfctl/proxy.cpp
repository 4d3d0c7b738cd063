#include "uhfctl/proxy.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Bytes that sit in a frame longer than this are a frame cut short.
constexpr int kQuietMs = 150;

}  // namespace

void FrameSplitter::feed(std::uint8_t b) {
    if (!in_frame_) {
        // Hunting: a 0x10 0x01 pair starts a frame; anything before it is noise.
        if (dle_ && b == 0x01) {
            if (bytes_.size() > 1) {
                std::vector<std::uint8_t> noise(bytes_.begin(), bytes_.end() - 1);
                sink_(Kind::noise, noise);
            }
            bytes_ = {0x10, 0x01};
            in_frame_ = true;
            dle_ = false;
            return;
        }
        bytes_.push_back(b);
        dle_ = b == 0x10;
        return;
    }
    bytes_.push_back(b);
    if (!dle_) {
        dle_ = b == 0x10;
        return;
    }
    dle_ = false;
    if (b == 0x10) return;  // a doubled data byte
    if (b == 0x02) {
        sink_(Kind::frame, bytes_);
        bytes_.clear();
        in_frame_ = false;
        return;
    }
    // A lone 0x10 inside a frame: the frame is broken; show it as it was.
    sink_(Kind::partial, bytes_);
    bytes_.clear();
    in_frame_ = false;
}

void FrameSplitter::flush() {
    if (!bytes_.empty()) sink_(in_frame_ ? Kind::partial : Kind::noise, bytes_);
    bytes_.clear();
    in_frame_ = false;
    dle_ = false;
}

int open_line(const std::string& path, int baud) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    speed_t speed = B9600;
    switch (baud) {
        case 19200: speed = B19200; break;
        case 38400: speed = B38400; break;
        case 57600: speed = B57600; break;
        case 115200: speed = B115200; break;
        default: break;
    }
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TraceProxy::TraceProxy(int far_fd, Log log) : far_(far_fd), log_(std::move(log)) {
    auto fail = [&](const char* what) {
        const int e = errno;
        if (stop_fd_ >= 0) ::close(stop_fd_);
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
        ::close(far_);
        throw std::system_error(e, std::generic_category(), what);
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
    path_ = name;
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl");
    // Held open so the master never sees a hang-up between the library's opens.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) fail("open pty slave");
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd_ < 0) fail("eventfd");
    thread_ = std::thread(&TraceProxy::relay, this);
}

TraceProxy::~TraceProxy() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stop_fd_, &one, sizeof one);
    thread_.join();
    ::close(stop_fd_);
    ::close(slave_);
    ::close(master_);
    ::close(far_);
}

void TraceProxy::settle() {
    // Bounded: a line that never goes quiet still lets the caller go on after a second.
    const long long give_up = now_ms() + 1000;
    while (now_ms() < give_up && now_ms() - last_byte_ms_.load() < kQuietMs + 50)
        ::usleep(10'000);
}

void TraceProxy::relay() {
    auto sink_for = [this](const char* arrow) {
        return [this, arrow](FrameSplitter::Kind kind, const std::vector<std::uint8_t>& bytes) {
            const char* what = kind == FrameSplitter::Kind::frame ? "" : kind == FrameSplitter::Kind::noise
                                                                         ? "  (noise)"
                                                                         : "  (incomplete frame)";
            log_(std::string(arrow) + " " + hex(bytes) + what);
        };
    };
    FrameSplitter to_reader(sink_for(">"));
    FrameSplitter to_host(sink_for("<"));
    std::vector<std::uint8_t> pending_far, pending_host;  // bytes read but not yet written on
    std::uint8_t buf[4096];
    bool quiet_flushed = true;
    for (;;) {
        pollfd fds[3] = {{master_, POLLIN, 0}, {far_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
        if (!pending_far.empty()) fds[1].events |= POLLOUT;
        if (!pending_host.empty()) fds[0].events |= POLLOUT;
        const int rc = ::poll(fds, 3, quiet_flushed ? 200 : kQuietMs);
        if (rc < 0 && errno != EINTR) break;
        if (fds[2].revents & POLLIN) break;
        if (rc == 0) {
            // Quiet: anything half-seen is shown now rather than never.
            to_reader.flush();
            to_host.flush();
            quiet_flushed = true;
            continue;
        }
        auto pump = [&](int from, std::vector<std::uint8_t>& to_queue, FrameSplitter& split) {
            const ssize_t n = ::read(from, buf, sizeof buf);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) split.feed(buf[i]);
            to_queue.insert(to_queue.end(), buf, buf + n);
            last_byte_ms_.store(now_ms());
            quiet_flushed = false;
        };
        auto drain = [&](int to, std::vector<std::uint8_t>& queue) {
            const ssize_t n = ::write(to, queue.data(), queue.size());
            if (n > 0) queue.erase(queue.begin(), queue.begin() + n);
        };
        if (fds[0].revents & POLLIN) pump(master_, pending_far, to_reader);
        if (fds[1].revents & POLLIN) pump(far_, pending_host, to_host);
        if (!pending_far.empty()) drain(far_, pending_far);
        if (!pending_host.empty()) drain(master_, pending_host);
        if ((fds[0].revents | fds[1].revents) & (POLLERR | POLLNVAL)) ::usleep(10'000);
    }
    to_reader.flush();
    to_host.flush();
}

}  // namespace uhfctl
