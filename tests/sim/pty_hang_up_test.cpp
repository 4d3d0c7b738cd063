// PtyReader::hang_up() seen from a host's raw descriptor: the device vanishes the way an
// unplugged USB-serial adapter's tty does.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "sim/pty_reader.hpp"
#include "serve_cases.hpp"
#include "sim_test_util.hpp"
#include "support/eventually.hpp"

namespace {

using namespace std::chrono_literals;
using simtest::kReply;
using simtest::kRequest;
using uhfsim::Action;
using uhfsim::PtyReader;

class RawSlave {
public:
    explicit RawSlave(const std::string& path, int flags = O_NONBLOCK)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | flags)) {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~RawSlave() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

std::size_t queued(int fd) {
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? static_cast<std::size_t>(n) : 0;
}

short poll_events(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return 0;
    return p.revents;
}

TEST(PtyHangUp, HostSeesHangUpEndOfFileAndWriteErrors) {
    PtyReader reader;
    RawSlave host(reader.path());
    ASSERT_GE(host.fd(), 0);
    // Alive first: a request is answered and nothing else is pending.
    ASSERT_EQ(::write(host.fd(), kRequest.data(), kRequest.size()), static_cast<ssize_t>(kRequest.size()));
    ASSERT_TRUE(poll_events(host.fd(), 2000) & POLLIN);
    ASSERT_TRUE(reader.wait_idle(2s));
    std::uint8_t buf[64];
    ASSERT_TRUE(uhftest::eventually([&] { return queued(host.fd()) >= kReply.size(); }, 2s)) << "the whole reply";
    ASSERT_EQ(::read(host.fd(), buf, sizeof buf), static_cast<ssize_t>(kReply.size()));
    EXPECT_EQ(poll_events(host.fd(), 0), 0);

    reader.hang_up();

    const short ev = poll_events(host.fd(), 2000);
    EXPECT_TRUE(ev & POLLHUP) << std::hex << ev;
    // A hung-up tty reads as end of file and refuses writes, as after a USB-serial unplug.
    EXPECT_EQ(::read(host.fd(), buf, sizeof buf), 0);
    errno = 0;
    EXPECT_EQ(::write(host.fd(), kRequest.data(), kRequest.size()), -1);
    EXPECT_EQ(errno, EIO);
    // The node is gone for a new open too.
    EXPECT_LT(::open(reader.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    EXPECT_EQ(reader.requests().size(), 1u) << "nothing heard after the hang-up";
}

TEST(PtyHangUp, WakesABlockedReadAndDropsAPendingReply) {
    PtyReader reader;
    reader.script(Action::reply(5, 2, 0).delayed(5000));
    RawSlave host(reader.path(), 0);  // blocking, as a simple host reads
    ASSERT_GE(host.fd(), 0);
    ASSERT_EQ(::write(host.fd(), kRequest.data(), kRequest.size()), static_cast<ssize_t>(kRequest.size()));
    ASSERT_TRUE(reader.wait_for_requests(1, 2s));

    const pid_t host_thread = uhftest::this_thread_id();
    std::thread unplug([&] {
        // Unplugged while the host is blocked in its read, not before it got there.
        uhftest::eventually([&] { return uhftest::blocked_in(host_thread, {SYS_read}); }, 5s);
        reader.hang_up();
    });
    std::uint8_t buf[64];
    const auto t0 = std::chrono::steady_clock::now();
    const ssize_t n = ::read(host.fd(), buf, sizeof buf);  // would wait 5 s for the reply
    const int err = errno;
    unplug.join();
    // The read under way fails with EIO; a read after the hang-up reads end of file.
    EXPECT_EQ(n, -1);
    EXPECT_EQ(err, EIO);
    EXPECT_EQ(::read(host.fd(), buf, sizeof buf), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_TRUE(reader.wait_idle(1s)) << "the reply died with the line";
}

TEST(PtyHangUp, HandlerCanHangUpInsteadOfAnswering) {
    PtyReader reader;
    reader.set_handler([&](const uhfsim::Request&) {
        reader.hang_up();
        return PtyReader::default_reply(uhfsim::Request{});
    });
    RawSlave host(reader.path());
    ASSERT_EQ(::write(host.fd(), kRequest.data(), kRequest.size()), static_cast<ssize_t>(kRequest.size()));
    EXPECT_TRUE(poll_events(host.fd(), 2000) & POLLHUP);
    std::uint8_t buf[64];
    EXPECT_LE(::read(host.fd(), buf, sizeof buf), 0) << "no reply after the hang-up";
}

TEST(PtyHangUp, IsIdempotentAndSafeAfterStop) {
    PtyReader reader;
    reader.hang_up();
    reader.hang_up();
    reader.stop();
    reader.hang_up();
    reader.send_now({0x01});  // goes nowhere, and must not crash
    SUCCEED();
}

}  // namespace
