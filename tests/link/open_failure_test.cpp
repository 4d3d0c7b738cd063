// Every way opening a link fails, each from a real cause, each with its own code and words.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "link_support.hpp"
#include "support/ser2net.hpp"

namespace {

using namespace uhftest;

struct ScratchDir {
    ScratchDir() {
        char tmpl[] = "/tmp/uhf-open-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() {
        const std::string cmd = "rm -rf '" + path + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << path;
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

int open_code(const std::string &device, const uhf_options *options = nullptr) {
    uhf_link *l = nullptr;
    const int rc = uhf_open_with(&l, device.c_str(), kAddr, options);
    EXPECT_EQ(rc == 0, l != nullptr);
    uhf_close(l);
    return rc;
}

// The words name the cause and what to try.
void expect_words(int code, const char *word) {
    const std::string text = uhf_strerror(code, 0);
    EXPECT_NE(text.find(word), std::string::npos) << "\"" << text << "\" lacks \"" << word << "\"";
}

struct Cause {
    const char *name;
    std::string (*make)(const ScratchDir &);  // the device string
    int code;
    const char *word;
};

const Cause kCauses[] = {
    {"MissingNode", [](const ScratchDir &d) { return d / "ttyUSB9"; }, UHF_ERR_NOT_FOUND, "plugged in"},
    {"DanglingLink",
     [](const ScratchDir &d) {
         EXPECT_EQ(symlink((d / "gone").c_str(), (d / "reader").c_str()), 0);
         return d / "reader";
     },
     UHF_ERR_NOT_FOUND, "no such device"},
    {"Directory", [](const ScratchDir &d) { return d.path; }, UHF_ERR_NOT_TERMINAL, "not a serial port"},
    {"RegularFile",
     [](const ScratchDir &d) {
         EXPECT_EQ(std::system(("echo x > '" + (d / "file") + "'").c_str()), 0);
         return d / "file";
     },
     UHF_ERR_NOT_TERMINAL, "a file"},
    {"Fifo",
     [](const ScratchDir &d) {
         EXPECT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
         return d / "fifo";
     },
     UHF_ERR_NOT_TERMINAL, "FIFO"},
    {"DevNull", [](const ScratchDir &) { return std::string("/dev/null"); }, UHF_ERR_NOT_TERMINAL, "terminal node"},
    {"UnsupportedRate", [](const ScratchDir &d) { return d / "ttyUSB0@4800"; }, UHF_ERR_BAD_DEVICE, "115200"},
};

class OpenFailure : public testing::TestWithParam<Cause> {};

TEST_P(OpenFailure, GivesItsOwnCodeAndWords) {
    ScratchDir dir;
    const Cause &c = GetParam();
    const std::string device = c.make(dir);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(open_code(device), c.code) << device;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << "a failure to open waits for nothing";
    expect_words(c.code, c.word);
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenFailure, testing::ValuesIn(kCauses),
                         [](const auto &info) { return std::string(info.param.name); });

// Runs `fn` in a child process and returns what it exited with.
template <class Fn>
int in_child(Fn fn) {
    const pid_t pid = fork();
    if (pid == 0) _exit(fn() & 0xFF);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OpenFailure, PermissionDeniedIsAccess) {
    uhfsim::PtyReader sim;
    const std::string node = sim.path();
    int rc = 0;
    if (geteuid() == 0) {
        // As an unprivileged user, as a member of neither the node's group nor the dialout one.
        rc = in_child([&] {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 99;
            uhf_link *l = nullptr;
            return -uhf_open(&l, node.c_str(), kAddr);
        });
        if (rc == 99) GTEST_SKIP() << "cannot become an unprivileged user here";
        rc = -rc;
    } else {
        ASSERT_EQ(chmod(node.c_str(), 0), 0);
        rc = open_code(node);
        chmod(node.c_str(), 0620);
    }
    EXPECT_EQ(rc, UHF_ERR_ACCESS);
    expect_words(UHF_ERR_ACCESS, "dialout");
    expect_words(UHF_ERR_ACCESS, "udev rule");
}

TEST(OpenFailure, PortHeldByAnotherProcessIsBusyAndTheHolderKeepsWorking) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::PtyReader sim;
    LinkPtr holder = open_link(sim.path());
    ASSERT_TRUE(holder);
    const int child = in_child([&] {
        uhf_link *l = nullptr;
        return -uhf_open(&l, sim.path().c_str(), kAddr);
    });
    EXPECT_EQ(-child, UHF_ERR_BUSY);
    unsigned char info[22];
    EXPECT_EQ(uhf_GetDeviceInfo(holder.get(), kAddr, info), 0) << "the refused open disturbed the holder";
    expect_words(UHF_ERR_BUSY, "another program");
    uhf::serial::timing() = {};
}

TEST(OpenFailure, PortHeldByAnotherLinkIsBusy) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::PtyReader sim;
    LinkPtr first = open_link(sim.path());
    ASSERT_TRUE(first);
    EXPECT_EQ(open_code(sim.path()), UHF_ERR_BUSY);
    EXPECT_NE(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0) << "the designed link took a held port";
    first.reset();
    LinkPtr second = open_link(sim.path());
    EXPECT_TRUE(second) << "closing the first link did not free the port";
    uhf::serial::timing() = {};
}

TEST(OpenFailure, SilentReaderGivesTheHandshakesExchangeCode) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::PtyReader sim;
    sim.set_handler([](const uhfsim::Request &) { return uhfsim::Action::silent(); });
    uhf_options o{};
    o.handshake_attempts = 2;
    EXPECT_EQ(open_code(sim.path(), &o), 234);
    EXPECT_EQ(sim.requests().size(), 2u);
    expect_words(234, "baud rate");
    // The port was let go: it opens again.
    sim.set_handler(&uhfsim::PtyReader::default_reply);
    EXPECT_EQ(open_code(sim.path()), 0);
    uhf::serial::timing() = {};
}

TEST(OpenFailure, RefusedConnectionIsConnect) {
    EXPECT_EQ(open_code("tcp:127.0.0.1:" + std::to_string(free_loopback_port())), UHF_ERR_CONNECT);
    expect_words(UHF_ERR_CONNECT, "listening");
}

// A listening socket that never accepts, its queue filled so a further connection is never
// completed: the connect timeout ends the attempt.
TEST(OpenFailure, ServerThatNeverAcceptsIsTimeout) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        const int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers.push_back(f);
        pollfd p{f, POLLOUT, 0};
        if (poll(&p, 1, 200) == 0) break;  // the queue is full
    }
    uhf_options o{};
    o.connect_timeout_ms = 300;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(open_code("tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port)), &o), UHF_ERR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
    for (int f : fillers) close(f);
    close(listener);
    expect_words(UHF_ERR_TIMEOUT, "in time");
}

TEST(OpenFailure, OutOfRangeArgumentsAreInvalid) {
    uhf_link *l = nullptr;
    EXPECT_EQ(uhf_open(nullptr, "/dev/ttyUSB0", 1), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_open(&l, "/dev/ttyUSB0", 256), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_open(&l, "/dev/ttyUSB0", -1), UHF_ERR_INVALID);
    uhf_options o{};
    o.reply_timeout_ms = -1;
    EXPECT_EQ(uhf_open_with(&l, "/dev/ttyUSB0", 1, &o), UHF_ERR_INVALID);
    EXPECT_EQ(l, nullptr);
}

TEST(OpenFailure, NullLinkIsClosedEverywhere) {
    unsigned char b[256] = {};
    EXPECT_EQ(uhf_exchange(nullptr, 1, 5, nullptr, 0, b, 256, nullptr), UHF_ERR_CLOSED);
    EXPECT_EQ(uhf_GetDeviceInfo(nullptr, 1, b), UHF_ERR_CLOSED);
    EXPECT_EQ(uhf_reconnect(nullptr), UHF_ERR_CLOSED);
    EXPECT_EQ(uhf_status(nullptr), UHF_ERR_CLOSED);
    EXPECT_EQ(uhf_detail(nullptr), UHF_ERR_CLOSED);
    EXPECT_EQ(uhf_set_trace(nullptr, nullptr, nullptr), UHF_ERR_CLOSED);
    EXPECT_STREQ(uhf_device(nullptr), "");
    uhf_close(nullptr);
}

// Every code has words of its own; nothing falls through to the catch-all.
TEST(Strerror, EveryCodeHasItsOwnWords) {
    const int link_codes[] = {UHF_ERR_BAD_DEVICE, UHF_ERR_NOT_FOUND, UHF_ERR_ACCESS,  UHF_ERR_BUSY,
                              UHF_ERR_NOT_TERMINAL, UHF_ERR_NO_USB_READER, UHF_ERR_CONNECT, UHF_ERR_TIMEOUT,
                              UHF_ERR_GONE, UHF_ERR_CLOSED, UHF_ERR_NO_MEMORY, UHF_ERR_INVALID,
                              UHF_ERR_UNKNOWN_HOST, UHF_ERR_USB, UHF_ERR_IO};
    std::vector<std::string> seen;
    for (int c : link_codes) {
        const std::string w = uhf_strerror(c, 0);
        EXPECT_NE(w, "unknown result code") << c;
        for (const std::string &s : seen) EXPECT_NE(w, s) << c;
        seen.push_back(w);
    }
    const int exchange_codes[][2] = {{1, 0},     {225, 101}, {226, 101}, {227, 102}, {228, 103}, {229, 103},
                                     {230, 105}, {231, 107}, {232, 101}, {233, 101}, {234, 109}, {235, 108},
                                     {235, 110}, {236, 111}, {237, 112}, {238, 111}, {239, 112}, {240, 112},
                                     {241, 113}, {241, 114}, {242, 115}, {243, 116}, {244, 117}, {245, 118},
                                     {246, 117}, {247, 118}, {248, 104}, {249, 106}, {253, 0},   {254, 0}};
    for (const auto &c : exchange_codes) {
        const std::string w = uhf_strerror(c[0], c[1]);
        EXPECT_NE(w, uhf_strerror(5, 0)) << c[0] << "/" << c[1] << " read as a status byte";
        EXPECT_NE(w, "unknown result code");
    }
    EXPECT_NE(std::string(uhf_strerror(235, 108)), uhf_strerror(235, 110)) << "USB silence reads like line noise";
    EXPECT_NE(std::string(uhf_strerror(5, 0)).find("status byte"), std::string::npos);
    EXPECT_STREQ(uhf_strerror(-999, 0), "unknown result code");
    EXPECT_STREQ(uhf_strerror(999, 0), "unknown result code");
}

}  // namespace
