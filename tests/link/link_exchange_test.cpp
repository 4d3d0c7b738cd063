// Exchanges on a link handle: raw exchanges, the command twins against the designed functions,
// a state of its own, tracing, and a device that vanishes and comes back.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "link_support.hpp"
#include "sim/wire.hpp"

namespace {

using namespace uhftest;
using Clock = std::chrono::steady_clock;

// Replies the test can predict: status 0x21 (a reader's refusal), data that satisfies every copy
// rule's counts.
uhfsim::Action predictable(const uhfsim::Request &r) {
    return uhfsim::Action::reply(r.addr, r.cmd, 0x21, {3, 0xAA, 0xBB, 0xCC, 0x10, 0x02});
}

using LinkExchange = LinkOnPty;

TEST_F(LinkExchange, RawExchangeCopiesAtMostTheRoomGivenAndSaysHowLongTheReplyWas) {
    sim.script(uhfsim::Action::reply(kAddr, 0x42, 7, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    unsigned char reply[8];
    std::fill(std::begin(reply), std::end(reply), 0xEE);
    int len = -1;
    const unsigned char req[] = {0x10, 0x20};
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 0x42, req, 2, reply, 4, &len), 0);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(Bytes(reply, reply + 8), (Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(uhf_status(link.get()), 7);
    EXPECT_EQ(uhf_detail(link.get()), 0);
    ASSERT_EQ(sim.requests().size(), 1u);
    EXPECT_EQ(sim.requests()[0].data, (Bytes{0x10, 0x20}));
}

TEST_F(LinkExchange, RawExchangeRefusesArgumentsOutOfRangeAndSendsNothing) {
    unsigned char b[4] = {};
    int len = 99;
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 300, nullptr, 0, b, 4, &len), UHF_ERR_INVALID);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(uhf_exchange(link.get(), 256, 5, nullptr, 0, b, 4, nullptr), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 5, nullptr, 3, b, 4, nullptr), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 5, b, 256, b, 4, nullptr), UHF_ERR_INVALID);
    EXPECT_EQ(uhf_exchange(link.get(), kAddr, 5, nullptr, 0, nullptr, 4, nullptr), UHF_ERR_INVALID);
    EXPECT_TRUE(sim.requests().empty());
}

TEST_F(LinkExchange, FailedExchangeGivesItsCodeAndDetail) {
    sim.script(uhfsim::Action::reply(kAddr, 0x05, 0, {1, 2}).bad_checksum());
    unsigned char info[22];
    EXPECT_EQ(uhf_GetDeviceInfo(link.get(), kAddr, info), 243);
    EXPECT_EQ(uhf_detail(link.get()), 116);
}

// One call in both forms: the designed function on the default link, the twin on a link handle.
struct Twin {
    const char *name;
    std::function<int(unsigned char *, unsigned char *, unsigned char *)> designed;
    std::function<int(uhf_link *, unsigned char *, unsigned char *, unsigned char *)> twin;
};

const Twin kTwins[] = {
    {"Set_Baud_Rate", [](auto...) { return Set_Baud_Rate(kAddr, 0x104); },
     [](uhf_link *l, auto...) { return uhf_Set_Baud_Rate(l, kAddr, 0x104); }},
    {"ALARM", [](auto...) { return ALARM(kAddr, 3, 0x10, 2, 1); },
     [](uhf_link *l, auto...) { return uhf_ALARM(l, kAddr, 3, 0x10, 2, 1); }},
    {"AlarmRefused", [](auto...) { return ALARM(kAddr, 8, 0, 0, 0); },
     [](uhf_link *l, auto...) { return uhf_ALARM(l, kAddr, 8, 0, 0, 0); }},
    {"GetDeviceInfo", [](auto, auto, unsigned char *r) { return GetDeviceInfo(kAddr, r); },
     [](uhf_link *l, auto, auto, unsigned char *r) { return uhf_GetDeviceInfo(l, kAddr, r); }},
    {"Get_RF_Power", [](auto, auto, unsigned char *r) { return Get_RF_Power(kAddr, r); },
     [](uhf_link *l, auto, auto, unsigned char *r) { return uhf_Get_RF_Power(l, kAddr, r); }},
    {"Get_CH_Active", [](unsigned char *b, auto, auto) { return Get_CH_Active(kAddr, b); },
     [](uhf_link *l, unsigned char *b, auto, auto) { return uhf_Get_CH_Active(l, kAddr, b); }},
    {"EPC_Query_ON", [](auto...) { return EPC_Query_ON(kAddr); },
     [](uhf_link *l, auto...) { return uhf_EPC_Query_ON(l, kAddr); }},
    {"EPC_Read_Tag_List", [](auto, auto, unsigned char *r) { return EPC_Read_Tag_List(kAddr, 2, 0x11, r); },
     [](uhf_link *l, auto, auto, unsigned char *r) { return uhf_EPC_Read_Tag_List(l, kAddr, 2, 0x11, r); }},
    {"EPC_Set_Pwd", [](unsigned char *b, unsigned char *c, auto) { return EPC_Set_Pwd(kAddr, 9, b, c); },
     [](uhf_link *l, unsigned char *b, unsigned char *c, auto) { return uhf_EPC_Set_Pwd(l, kAddr, 9, b, c); }},
    {"GB_Set_Pwd", [](unsigned char *b, unsigned char *c, auto) { return GB_Set_Pwd(kAddr, 1, 2, b, c); },
     [](uhf_link *l, unsigned char *b, unsigned char *c, auto) { return uhf_GB_Set_Pwd(l, kAddr, 1, 2, b, c); }},
    {"EPC_Read_TAG", [](unsigned char *b, auto, unsigned char *r) { return EPC_Read_TAG(kAddr, b, r); },
     [](uhf_link *l, unsigned char *b, auto, unsigned char *r) { return uhf_EPC_Read_TAG(l, kAddr, b, r); }},
    {"EPC_Write_TAG", [](unsigned char *b, auto, auto) { return EPC_Write_TAG(kAddr, b); },
     [](uhf_link *l, unsigned char *b, auto, auto) { return uhf_EPC_Write_TAG(l, kAddr, b); }},
    {"GB_Write_TAG", [](unsigned char *b, auto, auto) { return GB_Write_TAG(kAddr, b); },
     [](uhf_link *l, unsigned char *b, auto, auto) { return uhf_GB_Write_TAG(l, kAddr, b); }},
    {"EPC_TAG_Cust_Command", [](unsigned char *b, auto, unsigned char *r) { return EPC_TAG_Cust_Command(kAddr, b, r); },
     [](uhf_link *l, unsigned char *b, auto, unsigned char *r) { return uhf_EPC_TAG_Cust_Command(l, kAddr, b, r); }},
    {"GB_FD_Get_Diver_Key", [](auto, auto, unsigned char *r) { return GB_FD_Get_Diver_Key(kAddr, 7, r); },
     [](uhf_link *l, auto, auto, unsigned char *r) { return uhf_GB_FD_Get_Diver_Key(l, kAddr, 7, r); }},
    {"PSAM_Command", [](unsigned char *b, auto, unsigned char *r) { return PSAM_Command(kAddr, b, r); },
     [](uhf_link *l, unsigned char *b, auto, unsigned char *r) { return uhf_PSAM_Command(l, kAddr, b, r); }},
    {"FM151M_Get_RN", [](auto, auto, unsigned char *r) { return FM151M_Get_RN(kAddr, 0x11234, r); },
     [](uhf_link *l, auto, auto, unsigned char *r) { return uhf_FM151M_Get_RN(l, kAddr, 0x11234, r); }},
    {"FM151M_Cipher", [](unsigned char *b, auto, unsigned char *r) { return FM151M_Cipher(kAddr, b, r); },
     [](uhf_link *l, unsigned char *b, auto, unsigned char *r) { return uhf_FM151M_Cipher(l, kAddr, b, r); }},
};

struct Outcome {
    int rc;
    Bytes wire, block, block2, reply;
};

// Blocks whose count fields ask for a few bytes, and a reply buffer with room for any copy.
struct Buffers {
    Buffers() : block(2048, 0x03), block2(2048, 0x44), reply(2048, 0xEE) {
        block[0] = 0x02;  // a PSAM count, a select length
        block[1] = 0x00;
    }
    Bytes block, block2, reply;
};

class TwinOfCommand : public testing::TestWithParam<Twin> {};

TEST_P(TwinOfCommand, SendsCopiesAndReturnsWhatTheDesignedFunctionDoes) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::PtyReader sim;
    sim.set_handler(predictable);
    auto run = [&](auto &&call) {
        Buffers b;
        sim.clear_log();
        const int rc = call(b);
        const auto requests = sim.requests();
        return Outcome{rc, requests.empty() ? Bytes{} : requests.back().wire, b.block, b.block2, b.reply};
    };
    ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
    const Outcome designed = run([&](Buffers &b) { return GetParam().designed(b.block.data(), b.block2.data(), b.reply.data()); });
    UnLinkCom();
    LinkPtr l = open_link(sim.path());
    ASSERT_TRUE(l);
    // What the designed call left in the exported state stays there while the link works.
    const Bytes exported(BlkBAdrBeg, BlkBAdrBeg + 2048);
    const unsigned char exported_status = ErrorCode;
    const Outcome twin = run([&](Buffers &b) { return GetParam().twin(l.get(), b.block.data(), b.block2.data(), b.reply.data()); });
    EXPECT_EQ(twin.rc, designed.rc);
    EXPECT_EQ(twin.wire, designed.wire);
    EXPECT_EQ(twin.block, designed.block);
    EXPECT_EQ(twin.block2, designed.block2);
    EXPECT_EQ(twin.reply, designed.reply);
    EXPECT_EQ(Bytes(BlkBAdrBeg, BlkBAdrBeg + 2048), exported);
    EXPECT_EQ(ErrorCode, exported_status);
    uhf::serial::timing() = {};
}

INSTANTIATE_TEST_SUITE_P(Shapes, TwinOfCommand, testing::ValuesIn(kTwins),
                         [](const auto &info) { return std::string(info.param.name); });

// uhf_call runs any catalogue entry as its twin does.
TEST_F(LinkExchange, CallByCatalogueEntryMatchesTheTwin) {
    sim.set_handler(predictable);
    const uhf_command_info *read = uhf_command_find("EPC_Read_TAG");
    ASSERT_NE(read, nullptr);
    Bytes req{3, 0, 2, 0}, viaCall(2048, 0xEE), viaTwin(2048, 0xEE);
    unsigned char *buffers[4] = {req.data(), viaCall.data()};
    EXPECT_EQ(uhf_call(link.get(), read, kAddr, nullptr, buffers), 0x21);
    EXPECT_EQ(uhf_EPC_Read_TAG(link.get(), kAddr, req.data(), viaTwin.data()), 0x21);
    EXPECT_EQ(viaCall, viaTwin);
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].wire, requests[1].wire);

    const uhf_command_info *rn = uhf_command_find("FM151M_Get_RN");
    EXPECT_EQ(uhf_call(link.get(), rn, kAddr, nullptr, buffers), UHF_ERR_INVALID) << "a scalar with no scalars";
    uhf_command_info copy = *read;
    EXPECT_EQ(uhf_call(link.get(), &copy, kAddr, nullptr, buffers), UHF_ERR_INVALID) << "not a catalogue entry";
}

struct Frame {
    int direction;
    Bytes bytes;
    unsigned long long t_us;
};

void record(void *user, int direction, const unsigned char *bytes, int len, unsigned long long t_us) {
    static_cast<std::vector<Frame> *>(user)->push_back({direction, Bytes(bytes, bytes + len), t_us});
}

TEST_F(LinkExchange, TraceShowsEveryFrameAsOnTheWire) {
    std::vector<Frame> frames;
    ASSERT_EQ(uhf_set_trace(link.get(), record, &frames), 0);
    const uhfsim::Reply reply{kAddr, 0x28, 0x10, {4, 0x10, 0x10, 0x01, 0x02}};
    sim.script(uhfsim::Action::reply(reply));
    Bytes req{0x10, 0, 2, 0}, out(256);
    EXPECT_EQ(uhf_EPC_Read_TAG(link.get(), kAddr, req.data(), out.data()), 0x10);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].direction, UHF_TRACE_SENT);
    EXPECT_EQ(frames[0].bytes, sim.requests().at(0).wire);
    EXPECT_EQ(frames[1].direction, UHF_TRACE_RECEIVED);
    EXPECT_EQ(frames[1].bytes, uhfsim::encode_reply(reply));
    EXPECT_LE(frames[0].t_us, frames[1].t_us);

    ASSERT_EQ(uhf_set_trace(link.get(), nullptr, nullptr), 0);
    EXPECT_EQ(uhf_EPC_Query_ON(link.get(), kAddr), 0);
    EXPECT_EQ(frames.size(), 2u) << "traced after the trace was switched off";
}

TEST_F(LinkExchange, ReplyTimeoutOptionShortensTheWait) {
    sim.set_handler([](const uhfsim::Request &) { return uhfsim::Action::silent(); });
    uhf::serial::timing() = {};  // the real 100 ms slots
    uhf_options o{};
    o.reply_timeout_ms = 300;
    ASSERT_EQ(uhf_set_options(link.get(), &o), 0);
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_EPC_Query_ON(link.get(), kAddr), 234);
    const auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::milliseconds(2000)) << "the 4 s default wait was not shortened";
}

// A reader behind a node that vanishes (an adapter unplugged) and comes back under the same name.
class VanishingReader : public testing::Test {
protected:
    void SetUp() override {
        uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
        char tmpl[] = "/tmp/uhf-gone-XXXXXX";
        dir_ = mkdtemp(tmpl);
        node_ = dir_ + "/ttyUSB0";
        const int before = open_descriptors();
        plug();
        sim_descriptors_ = open_descriptors() - before;
    }
    void TearDown() override {
        uhf::serial::timing() = {};
        unlink(node_.c_str());
        rmdir(dir_.c_str());
    }
    void plug() {
        sim_ = std::make_unique<uhfsim::PtyReader>();
        unlink(node_.c_str());
        ASSERT_EQ(symlink(sim_->path().c_str(), node_.c_str()), 0);
    }
    void unplug() { sim_.reset(); }

    std::string dir_, node_;
    std::unique_ptr<uhfsim::PtyReader> sim_;
    int sim_descriptors_ = 0;
};

TEST_F(VanishingReader, ExchangeSaysGoneAtOnceAndReconnectBringsItBack) {
    const int baseline = open_descriptors();
    LinkPtr l = open_link(node_);
    ASSERT_TRUE(l);
    unsigned char info[22];
    ASSERT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);

    unplug();
    const auto t0 = Clock::now();
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), UHF_ERR_GONE);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    const auto t1 = Clock::now();
    EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), UHF_ERR_GONE);
    EXPECT_LT(Clock::now() - t1, std::chrono::milliseconds(50)) << "a vanished device is not waited for again";
    // The link keeps its cancel signal (one eventfd) until it is closed.
    EXPECT_EQ(open_descriptors(), baseline - sim_descriptors_ + 1) << "the vanished port's descriptor is still held";
    EXPECT_EQ(uhf_reconnect(l.get()), UHF_ERR_NOT_FOUND) << "nothing to reconnect to yet";
    EXPECT_EQ(uhf_EPC_Query_ON(l.get(), kAddr), UHF_ERR_GONE);

    plug();
    EXPECT_EQ(uhf_reconnect(l.get()), 0);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, info), 0);
    l.reset();
    EXPECT_EQ(open_descriptors(), baseline) << "the link left a descriptor behind";
}

}  // namespace
