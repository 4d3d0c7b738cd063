// The queue on a filesystem that really fills up: a small tmpfs mounted for the test (this needs
// root, as on this machine and CI). Where mounting is not allowed the same tests run on the
// queue's injected disk, which refuses writes the way a full one does, and say so.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstring>
#include <iostream>
#include <set>

#include "disk_queue.hpp"
#include "harness.hpp"
#include "log_capture.hpp"
#include "publisher.hpp"
#include "queue_test_support.hpp"

namespace {

using namespace std::chrono_literals;
using uhfd::DiskQueue;

// A directory on a filesystem of its own that fill() makes full and give_back() frees again;
// unmounted when it goes, however the test ends.
class SmallFilesystem {
public:
    explicit SmallFilesystem(const std::string& dir) : dir_(dir) {
        gwtest::fs::create_directories(dir_);
        mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k,mode=0755") == 0;
        if (!mounted_)
            std::cout << "[  NOTE    ] cannot mount a tmpfs here (" << std::strerror(errno)
                      << "): the queue's injected disk refuses writes instead\n";
    }
    ~SmallFilesystem() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;

    std::string queue_dir() const { return dir_ + "/q"; }
    uhfd::QueueIo* io() { return mounted_ ? nullptr : &injected_; }

    // Takes every byte left; the filesystem's own refusal says when it is done.
    void fill() {
        if (!mounted_) {
            injected_.refuse = ENOSPC;
            return;
        }
        const int fd = ::open(filler().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        const int err = errno;
        ::close(fd);
        EXPECT_EQ(err, ENOSPC) << std::strerror(err);
    }
    void give_back() {
        if (mounted_) ::unlink(filler().c_str());
        else injected_.refuse = 0;
    }

private:
    std::string filler() const { return dir_ + "/filler"; }
    std::string dir_;
    bool mounted_ = false;
    qtest::FullDisk injected_;
};

uhfd::Publisher::Options publisher_options(int port) { return qtest::loopback_broker(port, "full-filesystem-test"); }

// An event of some 250 bytes: a few dozen of them outgrow whatever room a full tmpfs leaves in
// the pages the queue's files already have.
std::uint64_t add(DiskQueue& q) {
    return q.append("a", "test/gw/a/events", [](const DiskQueue::Sequence& s) {
        return R"({"seq":)" + std::to_string(s.seq) + R"(,"pad":")" + std::string(230, 'x') + "\"}";
    });
}

std::set<std::uint64_t> received(const gwtest::Subscriber& s) {
    std::set<std::uint64_t> seen;
    for (const auto& m : s.on("test/gw/a/events"))
        if (m.body.is_object()) seen.insert(m.body["seq"].get<std::uint64_t>());
    return seen;
}

class FullFilesystem : public ::testing::Test {
protected:
    gwtest::ScratchDir dir;
    SmallFilesystem disk{dir.file("fs")};
    gwtest::Broker broker{dir};
    gwtest::Subscriber sub{dir, broker.port(), {"test/#"}, "full-fs-sub"};
    gwtest::LogCapture log{dir};
};

// With the broker there, every live event reaches it while the disk is full, and after.
TEST_F(FullFilesystem, WithTheBrokerUpNoLiveEventIsLost) {
    DiskQueue q(disk.queue_dir(), 10000, {.io = disk.io()});
    uhfd::Publisher p(publisher_options(broker.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return p.stats().connected; }, 10s));
    for (int i = 0; i < 10; ++i) add(q);
    disk.fill();
    for (int i = 0; i < 300; ++i) add(q);
    EXPECT_TRUE(gwtest::eventually([&] { return received(sub).size() == 310; }, 20s)) << received(sub).size();
    EXPECT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 5s)) << q.depth();
    EXPECT_EQ(q.dropped(), 0u);
    EXPECT_EQ(log.count("cannot write to"), 1u) << "the disk was never full:\n" << log.text();

    disk.give_back();
    for (int i = 0; i < 10; ++i) add(q);
    EXPECT_TRUE(gwtest::eventually([&] { return received(sub).size() == 320; }, 10s)) << received(sub).size();
    EXPECT_EQ(log.count("takes records again"), 1u) << log.text();
    EXPECT_EQ(q.in_memory(), 0u);
    p.stop(2s);
}

// With the broker away, what neither the disk nor memory could hold is dropped, and the count
// explains every gap; once there is room again, events are kept on disk and delivered.
TEST_F(FullFilesystem, WithTheBrokerAwayTheCountExplainsEveryGapAndDeliveryResumes) {
    DiskQueue q(disk.queue_dir(), 10000, {.memory_records = 20, .io = disk.io()});
    for (int i = 0; i < 10; ++i) add(q);
    disk.fill();
    for (int i = 0; i < 100; ++i) add(q);
    EXPECT_EQ(q.in_memory(), 20u);
    EXPECT_GT(q.dropped(), 0u);
    disk.give_back();
    for (int i = 0; i < 10; ++i) add(q);
    EXPECT_EQ(q.in_memory(), 20u) << "events were not kept on disk once there was room";

    uhfd::Publisher p(publisher_options(broker.port()), q);
    p.start();
    ASSERT_TRUE(gwtest::eventually([&] { return q.depth() == 0; }, 20s)) << q.depth();
    const std::uint64_t last = q.last_sequence("a");
    ASSERT_EQ(last, 120u);
    ASSERT_TRUE(gwtest::eventually([&] { return received(sub).size() + q.dropped() == last; }, 10s))
        << received(sub).size() << " received, " << q.dropped() << " dropped";
    EXPECT_EQ(q.dropped_by_key()["a"], q.dropped());
    const auto got = received(sub);
    for (std::uint64_t s = 1; s <= 10; ++s) EXPECT_TRUE(got.count(s)) << "written before the disk filled: " << s;
    for (std::uint64_t s = last - 9; s <= last; ++s) EXPECT_TRUE(got.count(s)) << "written after room came back: " << s;
    EXPECT_EQ(*got.rbegin(), last);
    p.stop(2s);
}

}  // namespace
