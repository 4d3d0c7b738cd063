// Every way a link fails, each from a real cause, with its own words and exit status, and
// without the long waits: an open that cannot succeed waits for nothing, and --timeout and
// --attempts bound a reader that does not answer.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "uhfreader.h"
#include "readers.hpp"
#include "support/ports.hpp"

namespace {

using namespace tooltest;
using namespace std::chrono_literals;

struct ScratchDir {
    ScratchDir() {
        char tmpl[] = "/tmp/uhfctl-fail-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

struct Cause {
    const char* name;
    std::string (*device)(const ScratchDir&);
    int exit;
    const char* words;  // what this cause alone says
    const char* kind = "";  // what the path turned out to be, said beside the device
};

const Cause kCauses[] = {
    {"MissingNode", [](const ScratchDir& d) { return d / "ttyUSB9"; }, 3, "no such device"},
    {"DanglingLink",
     [](const ScratchDir& d) {
         EXPECT_EQ(symlink((d / "gone").c_str(), (d / "reader").c_str()), 0);
         return d / "reader";
     },
     3, "no such device", "(a link to "},
    {"Directory", [](const ScratchDir& d) { return d.path; }, 3, "not a serial port", "(a directory)"},
    {"RegularFile",
     [](const ScratchDir& d) {
         EXPECT_EQ(std::system(("echo x > '" + (d / "file") + "'").c_str()), 0);
         return d / "file";
     },
     3, "not a serial port", "(a regular file)"},
    {"Fifo",
     [](const ScratchDir& d) {
         EXPECT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);
         return d / "fifo";
     },
     3, "not a serial port", "(a FIFO)"},
    {"DevNull", [](const ScratchDir&) { return std::string("/dev/null"); }, 3, "not a serial port",
     "(a character device that is not a terminal)"},
    {"UnsupportedRate", [](const ScratchDir& d) { return d / "ttyUSB0@4800"; }, 2, "malformed device string"},
    {"MalformedUsb", [](const ScratchDir&) { return std::string("usb:nonsense"); }, 2, "malformed device string"},
    {"ConnectionRefused", [](const ScratchDir&) { return "tcp:127.0.0.1:" + std::to_string(uhftest::free_loopback_port()); }, 3,
     "TCP connection refused"},
};

class OpenFailure : public ::testing::TestWithParam<Cause> {};

TEST_P(OpenFailure, SaysItsCauseAtOnce) {
    ScratchDir dir;
    const Cause& c = GetParam();
    const std::string device = c.device(dir);
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = run(ctl({"--device", device, "link"}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << "an open that cannot succeed waits for nothing";
    EXPECT_EQ(r.exit, c.exit) << r.err;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(device), std::string::npos) << "the message names the device: " << r.err;
    EXPECT_NE(r.err.find(c.kind), std::string::npos) << r.err;
    // Each cause has words of its own: none says another's.
    for (const Cause& other : kCauses) {
        if (std::string(other.words) != c.words) {
            EXPECT_EQ(r.err.find(other.words), std::string::npos) << other.name << " in " << r.err;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Causes, OpenFailure, ::testing::ValuesIn(kCauses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OpenFailure, PermissionDeniedNamesTheGroupAndTheRule) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run uhfctl as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv missing";
    uhfsim::PtyReader reader;
    // As nobody, a member of neither the node's group nor dialout.
    const auto r = run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", UHFCTL_PATH,
                        "--device", reader.path(), "link"});
    if (r.exit == 126 || r.err.find("setpriv") != std::string::npos) GTEST_SKIP() << r.err;
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_NE(r.err.find("permission denied"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dialout"), std::string::npos) << r.err;
}

TEST(OpenFailure, PortHeldElsewhereIsBusy) {
    uhfsim::PtyReader reader;
    uhf_link* holder = nullptr;
    ASSERT_EQ(uhf_open(&holder, reader.path().c_str(), 1), 0);
    const auto r = run(ctl({"--device", reader.path(), "link"}));
    uhf_close(holder);
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("in use"), std::string::npos) << r.err;
}

TEST(OpenFailure, SilentReaderIsBoundedByTimeoutAndAttempts) {
    uhfsim::PtyReader reader;
    reader.set_handler([](const uhfsim::Request&) { return uhfsim::Action::silent(); });
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = run(ctl({"--device", reader.path(), "--timeout", "100", "--attempts", "2", "link"}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << "two 100 ms waits, not the library's 2 s each";
    EXPECT_EQ(r.exit, 3);
    EXPECT_NE(r.err.find("no reply at all"), std::string::npos) << r.err;
    EXPECT_EQ(reader.requests().size(), 2u) << "--attempts 2";
}

// The reader goes away while uhfctl is in the middle of its rounds: uhfctl says so, not that a
// reply was cut short.
template <class Endpoint>
void gone_mid_watch(std::function<void(Endpoint&)> pull) {
    ModelReader<Endpoint> reader;
    Child c(ctl({"--device", reader.device(), "inventory", "--watch", "--interval", "20"}));
    ASSERT_TRUE(reader.endpoint.wait_for_requests(20, 5s));
    pull(reader.endpoint);
    const auto r = c.finish(10s);
    EXPECT_EQ(r.exit, 3) << r.err;
    EXPECT_NE(r.err.find("the device went away"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("tags,"), std::string::npos) << "what was read before is still shown";
}

TEST(DeviceGone, SerialNodeHungUp) {
    gone_mid_watch<uhfsim::PtyReader>([](uhfsim::PtyReader& p) { p.hang_up(); });
}

TEST(DeviceGone, TcpConnectionReset) {
    gone_mid_watch<uhfsim::TcpReader>([](uhfsim::TcpReader& t) {
        t.stop_listening();
        t.reset_client();
    });
}

}  // namespace
