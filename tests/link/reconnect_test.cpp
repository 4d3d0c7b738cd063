// uhf_reconnect on a link whose reader answers (a pseudo-terminal and TCP on loopback): the old
// descriptor goes and a new one comes, the link keeps its cancel signal, and exchanges go on as
// before, also after a cancel and while cancels keep arriving from another thread. Built under
// AddressSanitizer and ThreadSanitizer as well, where a descriptor closed twice or a link freed
// early shows.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link.hpp"
#include "link_support.hpp"
#include "stream_sim.hpp"

namespace {

using namespace uhftest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kReconnects = 5;

// The descriptors this process holds, and what each one is.
std::vector<std::string> open_descriptors() {
    std::vector<std::string> out;
    DIR *d = ::opendir("/proc/self/fd");
    if (d == nullptr) return out;
    while (const dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.' || std::stoi(e->d_name) == ::dirfd(d)) continue;
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + e->d_name;
        if (::readlink(path.c_str(), target, sizeof target - 1) > 0) out.push_back(target);
    }
    ::closedir(d);
    return out;
}

// What descriptor `fd` is now ("" when it is closed).
std::string descriptor_kind(int fd) {
    char target[256] = {};
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    return ::readlink(path.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// Waits until the process holds `count` descriptors again (a simulated reader notices a closed
// connection on its own thread, a little later).
bool descriptors_settle_at(std::size_t count) {
    const auto deadline = Clock::now() + 5s;
    while (open_descriptors().size() != count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

class Reconnect : public testing::TestWithParam<Stream> {
protected:
    void SetUp() override {
        stream_ = std::make_unique<StreamSim>(GetParam());
        before_open_ = open_descriptors().size();
        link = open_link(stream_->device(), kAddr);
        ASSERT_TRUE(link);
        sim().clear_log();
    }

    uhfsim::detail::StreamReader &sim() { return stream_->reader(); }

    // uhf_reconnect, tried again only where the simulated TCP server turned the new connection
    // away because it had not yet seen the old one close (it serves one client at a time, as a
    // network serial server does).
    int reconnect() {
        const auto deadline = Clock::now() + 5s;
        for (;;) {
            uhfsim::TcpReader *tcp = stream_->tcp();
            const std::size_t refused = tcp ? tcp->refused() : 0;
            const int rc = uhf_reconnect(link.get());
            if (rc != UHF_ERR_GONE || !tcp || tcp->refused() == refused || Clock::now() > deadline) return rc;
        }
    }

    // One answered exchange whose reply carries `marker`: a late reply left from before would
    // carry another.
    void expect_answered(std::uint8_t marker) {
        sim().script(uhfsim::Action::reply(kAddr, 0x05, 0, {marker, 0x10, 0xA5}));
        unsigned char reply[8] = {};
        int len = 0;
        const int rc = uhf_exchange(link.get(), kAddr, 0x05, nullptr, 0, reply, sizeof reply, &len);
        EXPECT_EQ(rc, 0) << uhf_strerror(rc, 0);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(reply[0], marker);
        EXPECT_EQ(reply[1], 0x10);
    }

    std::unique_ptr<StreamSim> stream_;
    std::size_t before_open_ = 0;
    LinkPtr link;
};

TEST_P(Reconnect, RepeatedOnAHealthyLinkKeepsTheCancelSignalAndLeavesNoDescriptorBehind) {
    expect_answered(1);
    const int cancel_fd = link->cancel_fd;
    ASSERT_EQ(descriptor_kind(cancel_fd), "anon_inode:[eventfd]");
    const std::size_t while_open = open_descriptors().size();

    for (int i = 0; i < kReconnects; ++i) {
        const int rc = reconnect();
        ASSERT_EQ(rc, 0) << "reconnect " << i << ": " << uhf_strerror(rc, 0);
        expect_answered(static_cast<std::uint8_t>(10 + i));
    }
    EXPECT_TRUE(descriptors_settle_at(while_open)) << "each reconnect should replace one descriptor";
    EXPECT_EQ(link->cancel_fd, cancel_fd);
    EXPECT_EQ(descriptor_kind(cancel_fd), "anon_inode:[eventfd]");

    // The signal still reaches the link: a pending cancel ends the next exchange unsent.
    sim().clear_log();
    EXPECT_EQ(uhf_cancel(link.get()), 0);
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 0x05, nullptr, 0, nullptr, 0, nullptr), UHF_ERR_CANCELLED);
    EXPECT_TRUE(sim().requests().empty());
    expect_answered(2);

    link.reset();
    EXPECT_TRUE(descriptors_settle_at(before_open_)) << "uhf_close should give back every descriptor";
}

TEST_P(Reconnect, AfterACancelledExchangeTheAbandonedReplyIsNotTakenForTheNextOne) {
    // Part of a reply at once, the rest later: the cancel lands while it is being read.
    sim().script(uhfsim::Action::reply(kAddr, 0x42, 0, {0xEE, 0xEE, 0xEE, 0xEE}).chunked(6, 300));
    std::thread canceller([&] {
        ASSERT_TRUE(sim().wait_for_requests(1, 5s));
        uhf_cancel(link.get());
    });
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 0x42, nullptr, 0, nullptr, 0, nullptr), UHF_ERR_CANCELLED);
    canceller.join();
    EXPECT_EQ(reconnect(), 0);
    ASSERT_TRUE(sim().wait_idle(5s));
    expect_answered(3);
    EXPECT_EQ(reconnect(), 0);
    expect_answered(4);
}

// Cancels keep arriving from another thread while the link is reconnected and used: every call
// ends in one of the documented ways, and once they stop the link comes back whole and gives
// back every descriptor when closed.
TEST_P(Reconnect, CancelsFromAnotherThreadDuringReconnectsLeaveTheLinkWhole) {
    std::atomic<bool> stop{false};
    std::thread canceller([&] {
        while (!stop.load()) {
            uhf_cancel(link.get());
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 100; ++i) {
        const int reconnected = uhf_reconnect(link.get());
        EXPECT_TRUE(reconnected == 0 || reconnected == UHF_ERR_CANCELLED || reconnected == UHF_ERR_GONE)
            << uhf_strerror(reconnected, 0);
        const int exchanged = uhf_exchange(link.get(), kAddr, 0x05, nullptr, 0, nullptr, 0, nullptr);
        // A reply to a cancelled request may come after the next request's discard and be
        // refused as another command's (an exchange code), as after a timeout.
        EXPECT_TRUE(exchanged >= 0 || exchanged == UHF_ERR_CANCELLED || exchanged == UHF_ERR_GONE)
            << uhf_strerror(exchanged, 0);
    }
    stop = true;
    canceller.join();
    // At most one cancel is still pending; it ends one call.
    if (reconnect() != 0) {
        const int rc = reconnect();
        ASSERT_EQ(rc, 0) << uhf_strerror(rc, 0);
    }
    ASSERT_TRUE(sim().wait_idle(5s));
    expect_answered(5);
    link.reset();
    EXPECT_TRUE(descriptors_settle_at(before_open_));
}

INSTANTIATE_TEST_SUITE_P(Transports, Reconnect, testing::Values(Stream::serial, Stream::tcp),
                         [](const auto &info) { return stream_name(info.param); });

}  // namespace
