// Resources over the serial transport: many link cycles and every way opening can fail leave
// the process's descriptors where they were and no port held.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "sim/pty_reader.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace {

using namespace std::chrono_literals;
using uhfsim::Action;
using uhfsim::PtyReader;
using uhfsim::Request;

int open_descriptors() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}

// Numbered nodes redirected into a scratch directory, so no real serial port is ever opened.
class Nodes : public testing::Test {
public:
    std::string node(const std::string &name) const { return dir_ + "/" + name; }
    void link(const std::string &name, const std::string &target) {
        ASSERT_EQ(symlink(target.c_str(), node(name).c_str()), 0);
    }
    void file(const std::string &name) {
        const int fd = ::open(node(name).c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }

protected:
    void SetUp() override {
        // Short enough that the silent readers below cost about a second, long enough that a
        // starved simulator still answers a handshake in time.
        uhf::serial::timing().first_byte_poll_ms = 10;
        char tmpl[] = "/tmp/uhf-rel-nodes-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        builtin_ = dir_ + "/ttyS";
        adapter_ = dir_ + "/ttyUSB";
        uhf::serial::node_families() = {builtin_.c_str(), adapter_.c_str()};
    }
    void TearDown() override {
        UnLinkCom();
        uhf::serial::timing() = {};
        uhf::serial::node_families() = {};
        const std::string cmd = "rm -rf " + dir_;
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string dir_, builtin_, adapter_;
};

TEST_F(Nodes, TenThousandLinkCyclesLeaveNoDescriptor) {
    PtyReader reader;
    link("ttyUSB4", reader.path());
    const int fds = open_descriptors();
    for (int i = 0; i < 10'000; ++i) {
        // Alternate the numbered opener and the path opener; both must give back what they took.
        const int rc = i % 2 ? LinkCom(0x05, 4, 115200) : LinkCom_Path(0x05, reader.path().c_str(), 115200);
        ASSERT_EQ(rc, 0) << "cycle " << i;
        ASSERT_EQ(UnLinkCom(), 0);
        if (i % 1000 == 999) {
            ASSERT_EQ(open_descriptors(), fds) << "after " << i + 1 << " cycles";
        }
    }
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_FALSE(uhf::serial::port_open());
}

// One way for a link to fail: how the nodes look, and the call.
struct OpenFailure {
    const char *name;
    std::function<void(Nodes &, PtyReader &silent, PtyReader &stranger)> arrange;
    std::function<int(Nodes &)> call;
};

class FailedOpen : public Nodes, public testing::WithParamInterface<OpenFailure> {};

TEST_P(FailedOpen, LeavesNoDescriptorAndNoPort) {
    PtyReader silent, stranger;
    silent.set_handler([](const Request &) { return Action::silent(); });
    stranger.set_handler([](const Request &r) { return Action::reply(0x33, r.cmd, 0); });
    GetParam().arrange(*this, silent, stranger);
    const int fds = open_descriptors();
    EXPECT_NE(GetParam().call(*this), 0);
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_FALSE(uhf::serial::port_open());
    EXPECT_EQ(USB_Flag, 0);
    IcCmd = 0x22;
    BlkALength = 0;
    EXPECT_EQ(PcSendOrder(), 225);  // no port: refused without touching any descriptor
}

auto none = [](Nodes &, PtyReader &, PtyReader &) {};

INSTANTIATE_TEST_SUITE_P(
    EveryPath, FailedOpen,
    testing::Values(
        OpenFailure{"MissingNode", none, [](Nodes &n) { return LinkCom_Path(5, n.node("absent").c_str(), 9600); }},
        OpenFailure{"Directory", none, [](Nodes &n) { return RS232_InitPort_Path(n.node("").c_str(), 9600); }},
        OpenFailure{"RegularFile",
                    [](Nodes &n, PtyReader &, PtyReader &) { n.file("plain"); },
                    [](Nodes &n) { return LinkCom_Path(5, n.node("plain").c_str(), 9600); }},
        OpenFailure{"NotATerminal", none, [](Nodes &) { return RS232_InitPort_Path("/dev/null", 9600); }},
        OpenFailure{"NullPath", none, [](Nodes &) { return LinkCom_Path(5, nullptr, 9600); }},
        OpenFailure{"SilentReader",
                    [](Nodes &n, PtyReader &s, PtyReader &) { n.link("quiet", s.path()); },
                    [](Nodes &n) { return LinkCom_Path(5, n.node("quiet").c_str(), 9600); }},
        OpenFailure{"OtherReaderAnswers",
                    [](Nodes &n, PtyReader &, PtyReader &o) { n.link("other", o.path()); },
                    [](Nodes &n) { return LinkCom_Path(5, n.node("other").c_str(), 9600); }},
        OpenFailure{"NumberedBothMissing", none, [](Nodes &) { return LinkCom(5, 7, 9600); }},
        OpenFailure{"NumberedFileThenSilent",
                    [](Nodes &n, PtyReader &s, PtyReader &) {
                        n.file("ttyS2");
                        n.link("ttyUSB2", s.path());
                    },
                    [](Nodes &) { return LinkCom(5, 2, 9600); }},
        OpenFailure{"NumberedSilentThenOther",
                    [](Nodes &n, PtyReader &s, PtyReader &o) {
                        n.link("ttyS3", s.path());
                        n.link("ttyUSB3", o.path());
                    },
                    [](Nodes &) { return LinkCom(5, 3, 9600); }}),
    [](const auto &info) { return info.param.name; });

// A link that was up, then a new link that fails: the old port is not stranded either.
TEST_F(Nodes, FailedRelinkReleasesTheEarlierPort) {
    PtyReader reader;
    const int fds = open_descriptors();
    ASSERT_EQ(LinkCom_Path(5, reader.path().c_str(), 9600), 0);
    EXPECT_NE(LinkCom_Path(5, node("absent").c_str(), 9600), 0);
    EXPECT_EQ(open_descriptors(), fds);
    EXPECT_FALSE(uhf::serial::port_open());
}

// The reader goes away while linked: exchanges fail within their bound, and closing gives the
// descriptor back.
TEST_F(Nodes, ReaderVanishingMidLinkFailsBoundedAndReleases) {
    const int fds = open_descriptors();
    auto reader = std::make_unique<PtyReader>();
    ASSERT_EQ(LinkCom_Path(5, reader->path().c_str(), 9600), 0);
    reader.reset();
    for (int i = 0; i < 20; ++i) {
        pc_id = 5;
        IcCmd = 0x22;
        BlkALength = 0;
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_NE(PcSendOrder(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    }
    EXPECT_EQ(open_descriptors(), fds + 1);  // the port, still held
    UnLinkCom();
    EXPECT_EQ(open_descriptors(), fds);
}

}  // namespace
