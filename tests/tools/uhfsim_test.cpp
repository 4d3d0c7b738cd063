// uhfsim run as a process and reached through the library: over a pseudo-terminal and TCP, its
// options, and its field changed while it serves.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "process.hpp"
#include "quick_links.hpp"
#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"
#include "sim/wire.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> sim_args(std::vector<std::string> args) {
    args.insert(args.begin(), UHFSIM_PATH);
    return args;
}

using tooltest::Quick;
using UhfsimProcess = Quick;

TEST_F(UhfsimProcess, ServesTheLibraryAndStopsCleanlyOnSigterm) {
    const std::string link = "/tmp/uhfsim-test-" + std::to_string(::getpid());
    tooltest::Child sim(sim_args({"--link", link, "--tags", "6"}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node) << sim.err();
    EXPECT_EQ(node->rfind("/dev/pts/", 0), 0u) << *node;

    ASSERT_EQ(LinkCom_Path(0x01, link.c_str(), 115200), 0);
    std::uint8_t info[22] = {};
    EXPECT_EQ(GetDeviceInfo(0x01, info), 0);
    std::uint8_t work[7] = {20, 3, 4, 5, 6, 7, 8}, back[7] = {};
    EXPECT_EQ(Set_Work_Param(0x01, work), 0);
    EXPECT_EQ(Get_Work_Param(0x01, back), 0);
    EXPECT_EQ(std::memcmp(work, back, 7), 0);
    EXPECT_EQ(EPC_Query_ON(0x01), 0);
    UnLinkCom();

    ASSERT_EQ(::kill(sim.pid(), SIGTERM), 0);
    const auto done = sim.finish(5s);
    EXPECT_EQ(done.exit, 0) << done.err;
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the reader";
}

TEST_F(UhfsimProcess, PacedLongReplyArrivesWhole) {
    uhf::serial::timing() = saved_;  // the line's real budgets
    tooltest::Child sim(sim_args({"--baud", "9600"}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node);
    ASSERT_EQ(LinkCom_Path(0x01, node->c_str(), 9600), 0);
    static std::uint8_t reply[2048];
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(FM151M_Get_RN(0x01, 2000, reply), 0);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ((reply[0] << 8) | reply[1], 2000);
    EXPECT_EQ(BlkBLength, 2002u);
    // 2002 data bytes at 960 bytes a second: paced, not dumped at once.
    EXPECT_GT(took, 1500ms);
}

TEST_F(UhfsimProcess, MalformedFrameIsLoggedAndSkipped) {
    tooltest::Child sim(sim_args({"--trace"}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node);
    ASSERT_EQ(LinkCom_Path(0x01, node->c_str(), 115200), 0);
    const std::uint8_t bad[] = {0x10, 0x01, 0x01, 0x05, 0x00, 0x77, 0x10, 0x02};  // checksum wrong
    ASSERT_EQ(RS232_SendStr(bad, sizeof bad), 0);
    std::uint8_t no[1];
    EXPECT_EQ(ReadDeviceNo(0x01, no), 0);
    EXPECT_EQ(no[0], 0x01);
    UnLinkCom();
    ::kill(sim.pid(), SIGINT);
    const auto done = sim.finish(5s);
    EXPECT_EQ(done.exit, 0);
    EXPECT_NE(done.err.find("skipped a malformed frame"), std::string::npos) << done.err;
    EXPECT_NE(done.err.find("ReadDeviceNo"), std::string::npos) << done.err;
}

TEST_F(UhfsimProcess, AnswersOnlyItsAddressUntilGivenANewOne) {
    tooltest::Child sim(sim_args({"--addr", "5"}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node);
    EXPECT_NE(LinkCom_Path(0x01, node->c_str(), 115200), 0);
    ASSERT_EQ(LinkCom_Path(0x05, node->c_str(), 115200), 0);
    EXPECT_EQ(WriteDeviceNo(0x05, 0x09), 0);
    EXPECT_EQ(pc_id_buf, 0x09) << "the reply comes from the new address";
    std::uint8_t no[1];
    EXPECT_EQ(ReadDeviceNo(0x09, no), 0);
    EXPECT_EQ(no[0], 0x09);
    EXPECT_EQ(ReadDeviceNo(0x05, no), 234);
    EXPECT_EQ(ReadDeviceNo(0xFF, no), 0);
    EXPECT_EQ(no[0], 0x09);
}

TEST_F(UhfsimProcess, FaultsSpoilEveryReplyAtRateOne) {
    tooltest::Child sim(sim_args({"--faults", "1", "--seed", "11", "--trace"}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node);
    ASSERT_EQ(RS232_InitPort_Path(node->c_str(), 115200), 0);
    USB_Flag = 0;
    std::set<int> codes;
    for (int i = 0; i < 8; ++i) {
        pc_id = 0x01;
        IcCmd = 0x07;
        BlkALength = 0;
        codes.insert(PcSendOrder());
    }
    RS232_UnLinkCom();
    ::kill(sim.pid(), SIGTERM);
    const auto done = sim.finish(5s);
    std::size_t replies = 0, spoiled = 0;
    for (const std::string& l : tooltest::lines(done.err)) {
        if (l.find("-> addr") == std::string::npos) continue;
        ++replies;
        if (l.find("[fault: ") != std::string::npos) ++spoiled;
    }
    EXPECT_EQ(replies, 8u) << done.err;
    EXPECT_EQ(spoiled, replies) << done.err;
    // Noise before a frame is skipped by the host; every other fault fails the exchange, unless
    // a late reply lands inside a later exchange's wait.
    for (int c : codes) EXPECT_TRUE(c == 0 || c == 234 || c == 243) << c;
    EXPECT_TRUE(codes.count(234) || codes.count(243)) << "no exchange failed";
}

struct BadOption {
    const char* name;
    std::vector<std::string> args;
};

class UhfsimOptions : public ::testing::TestWithParam<BadOption> {};

TEST_P(UhfsimOptions, BadOptionGivesUsageAndStatus2) {
    const auto r = tooltest::run(sim_args(GetParam().args), 10s);
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("usage: uhfsim"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << "no node printed: " << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Uhfsim, UhfsimOptions,
    ::testing::Values(BadOption{"UnknownOption", {"--bogus"}}, BadOption{"MissingValue", {"--seed"}},
                      BadOption{"TooManyTags", {"--tags", "999"}}, BadOption{"BroadcastAddress", {"--addr", "0xFF"}},
                      BadOption{"RateAboveOne", {"--faults", "1.5"}}, BadOption{"RateNotANumber", {"--faults", "often"}},
                      BadOption{"LatencyNotANumber", {"--latency", "soon"}}, BadOption{"BaudZero", {"--baud", "0"}},
                      BadOption{"TcpWithoutPort", {"--tcp", "127.0.0.1:"}}, BadOption{"TcpPortTooHigh", {"--tcp", "65536"}},
                      BadOption{"TcpNotAPort", {"--tcp", "reader"}}, BadOption{"ControlMissing", {"--control"}},
                      BadOption{"ControlTwice", {"--control", "-", "--control", "-"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UhfsimHelp, HelpExitsZero) {
    const auto r = tooltest::run(sim_args({"--help"}), 10s);
    EXPECT_EQ(r.exit, 0);
    EXPECT_NE(r.out.find("--faults"), std::string::npos);
}

// ---- Over TCP, and the field changed while it serves ----

// A plain socket to 127.0.0.1 or a Unix socket path; -1 when the connection failed.
int connect_tcp(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    ::close(fd);
    return -1;
}

int connect_unix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    // The socket comes up just after the node is printed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
        ::usleep(20'000);
    }
    ::close(fd);
    return -1;
}

// Reads what arrives within the time, up to n bytes or up to a line starting "ok"/"error".
std::string read_some(int fd, std::size_t n, std::chrono::milliseconds within, bool to_verdict = false) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (got.size() < n) {
        if (to_verdict) {
            const std::size_t last = got.rfind('\n', got.size() >= 2 ? got.size() - 2 : 0);
            const std::string tail = got.substr(last == std::string::npos ? 0 : last + 1);
            if (!got.empty() && got.back() == '\n' && (tail.rfind("ok", 0) == 0 || tail.rfind("error", 0) == 0))
                break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[512];
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
}

std::string ask(int fd, const std::string& line) {
    const std::string l = line + "\n";
    if (::write(fd, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return "(write failed)";
    return read_some(fd, 1 << 20, 5s, true);
}

std::string as_text(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

TEST(UhfsimTcp, ServesAClientAndLinksTheDeviceString) {
    const std::string link = "/tmp/uhfsim-tcp-test-" + std::to_string(::getpid());
    tooltest::Child sim(sim_args({"--tcp", "0", "--link", link}));
    const auto addr = sim.first_line(5s);
    ASSERT_TRUE(addr) << sim.err();
    ASSERT_EQ(addr->rfind("127.0.0.1:", 0), 0u) << *addr;
    const int port = std::stoi(addr->substr(10));
    ASSERT_GT(port, 0);
    char target[128] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), "tcp:" + *addr);

    for (int client = 0; client < 2; ++client) {  // one after the other
        const int fd = connect_tcp(static_cast<std::uint16_t>(port));
        ASSERT_GE(fd, 0);
        const auto req = uhfsim::encode_request(0x01, 0x07);  // ReadDeviceNo
        ASSERT_EQ(::write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
        const auto reply = uhfsim::encode_reply({0x01, 0x07, 0, {0x01}});
        EXPECT_EQ(read_some(fd, reply.size(), 5s), as_text(reply)) << "client " << client;
        ::close(fd);
    }
    ::kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.finish(5s).exit, 0);
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the reader";
}

TEST(UhfsimTcp, ListensOnTheGivenAddressOrSaysWhyNot) {
    std::uint16_t port = 0;
    {
        uhfsim::TcpReader probe;
        port = probe.port();
    }
    {
        tooltest::Child sim(sim_args({"--tcp", "127.0.0.1:" + std::to_string(port)}));
        const auto addr = sim.first_line(5s);
        ASSERT_TRUE(addr) << sim.err();
        EXPECT_EQ(*addr, "127.0.0.1:" + std::to_string(port));
        const auto taken = tooltest::run(sim_args({"--tcp", std::to_string(port)}), 10s);
        EXPECT_EQ(taken.exit, 1);
        EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << taken.err;
        EXPECT_TRUE(taken.out.empty());
    }
}

class UhfsimControl : public Quick {
protected:
    // IDs (hex) of the EPC tags one inventory round reports over the linked line.
    std::vector<std::string> epc_round() {
        std::vector<std::string> ids;
        if (EPC_Query_ON(1) != 0) return ids;
        static std::uint8_t list[2048];
        if (EPC_Read_Tag_List(1, 0, 0, list) != 0) return ids;
        std::size_t at = 5;
        for (int i = 0; i < list[4]; ++i) {
            ids.push_back(uhfctl_hex(list + at + 1, list[at] - 3u));
            at += 1 + list[at];
        }
        return ids;
    }
    static std::string uhfctl_hex(const std::uint8_t* p, std::size_t n) {
        std::string out;
        char b[3];
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(b, sizeof b, "%02X", p[i]);
            out += b;
        }
        return out;
    }
};

TEST_F(UhfsimControl, SocketCommandsChangeTheNextInventoryRound) {
    const std::string sock = "/tmp/uhfsim-ctl-" + std::to_string(::getpid());
    tooltest::Child sim(sim_args({"--tags", "0", "--control", sock}));
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node) << sim.err();
    ASSERT_EQ(LinkCom_Path(0x01, node->c_str(), 115200), 0);
    EXPECT_TRUE(epc_round().empty());

    const int ctl = connect_unix(sock);
    ASSERT_GE(ctl, 0);
    const std::string id = "E2801160600002054CC2096F";
    EXPECT_EQ(ask(ctl, "add epc " + id + " rssi=-48 ant=1"), "ok " + id + "\n");
    const std::string generated = ask(ctl, "add epc");
    ASSERT_EQ(generated.size(), 3 + 24 + 1u) << generated;
    EXPECT_EQ(epc_round(), (std::vector<std::string>{id, generated.substr(3, 24)}));
    EXPECT_EQ(ask(ctl, "list"), "EPC " + id + " rssi=-48 ant=1\nEPC " + generated.substr(3, 24) +
                                    " rssi=-60 ant=0\nok 2\n");
    EXPECT_EQ(ask(ctl, "remove " + id), "ok\n");
    EXPECT_EQ(epc_round(), (std::vector<std::string>{generated.substr(3, 24)}));
    EXPECT_EQ(ask(ctl, "add epc 12345").rfind("error ", 0), 0u);
    ::close(ctl);

    const int next = connect_unix(sock);  // the next client, once the first has gone
    ASSERT_GE(next, 0);
    EXPECT_EQ(ask(next, "clear"), "ok 1\n");
    ::close(next);
    EXPECT_TRUE(epc_round().empty());

    ::kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.finish(5s).exit, 0);
    struct stat st{};
    EXPECT_NE(::lstat(sock.c_str(), &st), 0) << "the socket outlived the reader";
}

TEST_F(UhfsimControl, StdinCommandsAreAnsweredOnStdoutAndTheReaderServesOn) {
    const std::string cmds = "/tmp/uhfsim-cmds-" + std::to_string(::getpid());
    {
        std::FILE* f = std::fopen(cmds.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("add epc 0102030405060708090A0B0C\nset 0102030405060708090A0B0C rssi=-99\nbogus\n", f);
        std::fclose(f);
    }
    // stdin ends after the commands; the reader goes on serving.
    tooltest::Child sim({"/bin/sh", "-c", std::string("exec ") + UHFSIM_PATH + " --tags 0 --control - < " + cmds});
    const auto node = sim.first_line(5s);
    ASSERT_TRUE(node) << sim.err();
    ASSERT_EQ(LinkCom_Path(0x01, node->c_str(), 115200), 0);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::vector<std::string> ids;
    while (ids.empty() && std::chrono::steady_clock::now() < deadline) ids = epc_round();
    EXPECT_EQ(ids, std::vector<std::string>{"0102030405060708090A0B0C"});
    UnLinkCom();
    ::kill(sim.pid(), SIGTERM);
    const auto done = sim.finish(5s);
    ::unlink(cmds.c_str());
    EXPECT_EQ(done.exit, 0);
    const auto out = tooltest::lines(done.out);
    ASSERT_EQ(out.size(), 4u) << done.out;
    EXPECT_EQ(out[1], "ok 0102030405060708090A0B0C");
    EXPECT_EQ(out[2], "ok");
    EXPECT_EQ(out[3].rfind("error unknown command", 0), 0u) << out[3];
}

TEST(UhfsimControlSocket, AFileInTheWayIsNotReplaced) {
    const std::string path = "/tmp/uhfsim-not-a-socket-" + std::to_string(::getpid());
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const auto r = tooltest::run(sim_args({"--control", path}), 10s);
    struct stat st{};
    const bool kept = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    ::unlink(path.c_str());
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("not a socket"), std::string::npos) << r.err;
    EXPECT_TRUE(kept);
}

}  // namespace
