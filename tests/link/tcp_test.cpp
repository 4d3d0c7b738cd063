// The TCP transport: through Debian's ser2net to a simulated reader, and against peers that
// misbehave (reset mid-reply, flood, hang up), each bounded and with its own code.
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "link/link.hpp"
#include "link_support.hpp"
#include "sim/model.hpp"
#include "sim/wire.hpp"
#include "support/eventually.hpp"
#include "support/require.hpp"
#include "support/ser2net.hpp"

namespace {

using namespace uhftest;
using Clock = std::chrono::steady_clock;

class ThroughSer2net : public testing::Test {
protected:
    void SetUp() override {
        if (std::string(UHF_SER2NET).empty()) GTEST_SKIP() << uhftest::missing_program_message("ser2net", "ser2net");
        uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
        sim.set_handler(model.handler());
        server = std::make_unique<Ser2net>(UHF_SER2NET, sim.path());
        ASSERT_TRUE(server->running()) << "ser2net did not start";
    }
    void TearDown() override { uhf::serial::timing() = {}; }

    uhfsim::ReaderModel model{{.addr = kAddr, .tags = 6, .seed = 3}};
    uhfsim::PtyReader sim;
    std::unique_ptr<Ser2net> server;
};

TEST_F(ThroughSer2net, CommandsRunAsOnTheLine) {
    LinkPtr l = open_link(server->device());
    ASSERT_TRUE(l);
    for (int i = 0; i < 20; ++i) {
        unsigned char info[22] = {};
        ASSERT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0) << "exchange " << i;
        EXPECT_EQ(Bytes(info, info + 4), (Bytes{'U', 'S', 'I', 'M'}));
        ASSERT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), 0);
        std::vector<unsigned char> list(2048);
        ASSERT_EQ(uhf_EPC_Read_Tag_List(l.get(), kAddr, 0, 0, list.data()), 0);
        EXPECT_GT(uhf_copy_length(uhf_command_find("EPC_Read_Tag_List"), list.data()), 5);
    }
}

TEST_F(ThroughSer2net, DesignedLinkReachesItByTheSameDeviceString) {
    ASSERT_EQ(LinkCom_Path(kAddr, server->device().c_str(), 115200), 0);
    unsigned char no[1] = {};
    EXPECT_EQ(ReadDeviceNo(kAddr, no), 0);
    EXPECT_EQ(no[0], kAddr);
    EXPECT_EQ(UnLinkCom(), 0);
    EXPECT_NE(ReadDeviceNo(kAddr, no), 0) << "the connection outlived UnLinkCom";
}

TEST_F(ThroughSer2net, ReplyCutShortHasTheLinesCode) {
    LinkPtr l = open_link(server->device());
    ASSERT_TRUE(l);
    sim.script(uhfsim::Action::reply(kAddr, 0x05, 0, Bytes(22, 0x41)).cut_after(14));
    unsigned char info[22];
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 241);
    EXPECT_EQ(uhf_detail(l.get()), 114);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0) << "the next exchange is not disturbed";
}

std::vector<int> directions;
void note_direction(void *, int direction, const unsigned char *, int, unsigned long long) {
    directions.push_back(direction);
}

TEST_F(ThroughSer2net, LateReplyIsDiscardedBeforeTheNextRequest) {
    uhf_options o{};
    o.reply_timeout_ms = 100;
    LinkPtr l = open_link(server->device(), kAddr, &o);
    ASSERT_TRUE(l);
    directions.clear();
    uhf_set_trace(l.get(), note_direction, nullptr);
    sim.script(uhfsim::Action::reply(kAddr, 0x07, 0, {0x99}).delayed(400));
    unsigned char no[1] = {};
    EXPECT_EQ(uhf_ReadDeviceNo(l.get(), kAddr, no), 234);
    // The late reply has reached the link's socket before the next request goes out.
    const int fd = std::get<uhf::TcpTransport>(l->transport).fd();
    const std::size_t late = uhfsim::encode_reply({kAddr, 0x07, 0, {0x99}}).size();
    ASSERT_TRUE(eventually([&] {
        int queued = 0;
        return ioctl(fd, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) >= late;
    }, std::chrono::seconds(10)));
    EXPECT_EQ(uhf_ReadDeviceNo(l.get(), kAddr, no), 0);
    EXPECT_EQ(no[0], kAddr) << "the late reply was taken for the next request";
    EXPECT_NE(std::find(directions.begin(), directions.end(), UHF_TRACE_DISCARDED), directions.end());
}

TEST_F(ThroughSer2net, ServerGoneIsGoneAndReconnectWorksWhenItReturns) {
    LinkPtr l = open_link(server->device());
    ASSERT_TRUE(l);
    const int port = server->port();
    server->stop();
    unsigned char info[22];
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(uhf_reconnect(l.get()), UHF_ERR_CONNECT);
    server = std::make_unique<Ser2net>(UHF_SER2NET, sim.path(), port);
    ASSERT_TRUE(server->running());
    EXPECT_EQ(uhf_reconnect(l.get()), 0);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
}

// A peer that answers the link handshake properly, then treats the next request its own way.
class RawPeer {
public:
    using Misdeed = std::function<void(int fd, RawPeer &self)>;
    explicit RawPeer(Misdeed misdeed) : misdeed_(std::move(misdeed)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(listener_, 1);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawPeer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::string device() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

private:
    // Reads one request frame (up to its end pair); false when the host went away or we stop.
    bool read_request(int fd, std::uint8_t &cmd) {
        Bytes got;
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t b[256];
            const ssize_t n = recv(fd, b, sizeof b, 0);
            if (n <= 0) return false;
            got.insert(got.end(), b, b + n);
            if (got.size() >= 8 && got[got.size() - 2] == 0x10 && got.back() == 0x02) {
                cmd = got[3];
                return true;
            }
        }
        return false;
    }
    void serve() {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_ && poll(&p, 1, 20) <= 0) {
        }
        if (stop_) return;
        const int fd = accept(listener_, nullptr, nullptr);
        std::uint8_t cmd = 0;
        if (read_request(fd, cmd)) {
            const Bytes hello = uhfsim::encode_reply({kAddr, cmd, 0, {}});
            send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);
            if (read_request(fd, cmd)) misdeed_(fd, *this);
        }
        while (!stop_ && fd_open_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (fd_open_) close(fd);
    }

public:
    std::atomic<bool> stop_{false};
    std::atomic<bool> fd_open_{true};

private:
    Misdeed misdeed_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST(RawTcpPeer, ResetInTheMiddleOfAReplyIsGone) {
    RawPeer peer([](int fd, RawPeer &self) {
        const Bytes reply = uhfsim::encode_reply({kAddr, 0x05, 0, Bytes(22, 0x41)});
        send(fd, reply.data(), 12, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        linger l{1, 0};  // close with a reset
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close(fd);
        self.fd_open_ = false;
    });
    LinkPtr l = open_link(peer.device());
    ASSERT_TRUE(l);
    unsigned char info[22];
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
}

TEST(RawTcpPeer, OrderlyCloseAfterTheRequestIsGone) {
    RawPeer peer([](int fd, RawPeer &self) {
        close(fd);
        self.fd_open_ = false;
    });
    LinkPtr l = open_link(peer.device());
    ASSERT_TRUE(l);
    EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), UHF_ERR_GONE);
}

TEST(RawTcpPeer, FloodOfNoiseEndsWithinTheBudget) {
    RawPeer peer([](int fd, RawPeer &self) {
        const Bytes noise(4096, 0x55);
        const auto until = Clock::now() + std::chrono::seconds(3);
        while (!self.stop_ && Clock::now() < until) send(fd, noise.data(), noise.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    LinkPtr l = open_link(peer.device());
    ASSERT_TRUE(l);
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), 235);
    EXPECT_EQ(uhf_detail(l.get()), 110);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), 235) << "the discard before the next request is bounded too";
    uhf::serial::timing() = {};
}

}  // namespace

// The simulator listening on TCP itself, as a reader with its own network port does.
#include "sim/tcp_reader.hpp"

namespace {

using namespace uhftest;

TEST(DirectTcpReader, CommandsResetAndTheServerComingBack) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::ReaderModel model{{.addr = kAddr, .tags = 4, .seed = 9}};
    uhfsim::TcpReader reader;
    reader.set_handler(model.handler());
    const std::string device = "tcp:" + reader.address();
    LinkPtr l = open_link(device);
    ASSERT_TRUE(l);
    unsigned char info[22];
    for (int i = 0; i < 10; ++i) ASSERT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);

    // The connection reset half-way through a reply.
    reader.script(uhfsim::Action::reply(kAddr, 0x05, 0, Bytes(22, 0x41)).chunked(8, 200));
    std::thread resetter([&] {
        reader.wait_for_requests(12, std::chrono::seconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        reader.reset_client();
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    resetter.join();

    reader.stop_listening();
    EXPECT_EQ(uhf_reconnect(l.get()), UHF_ERR_CONNECT);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE);
    reader.listen_again();
    EXPECT_EQ(uhf_reconnect(l.get()), 0);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
    EXPECT_EQ(reader.connections(), 2u);
    uhf::serial::timing() = {};
}

}  // namespace
