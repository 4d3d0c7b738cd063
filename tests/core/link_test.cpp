// Link management over pseudo-terminals: retries, node order, the state a link leaves.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "serial_support.hpp"
#include "support/scratch_nodes.hpp"

namespace {

using uhfsim::Action;
using uhfsim::Request;
using uhftest::open_descriptors;

class Link : public testing::Test {
protected:
    void SetUp() override { uhf::serial::timing().first_byte_poll_ms = uhftest::kTestPollMs; }
    void TearDown() override {
        UnLinkCom();
        uhf::serial::timing() = {};
    }
};

TEST_F(Link, PresentReaderLinksAtOnce) {
    uhfsim::PtyReader sim;
    IcRetCode = 99;
    ASSERT_EQ(LinkCom_Path(0x05, sim.path().c_str(), 57600), 0);
    EXPECT_EQ(IcBaudRate, 57600);
    EXPECT_EQ(IcRetCode, 0);
    EXPECT_EQ(USB_Flag, 0);
    auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].wire, (uhftest::Bytes{0x10, 0x01, 0x05, 0x00, 0x00, 0x05, 0x10, 0x02}));
}

TEST_F(Link, SecondHandshakeOnTheOpenPort) {
    uhfsim::PtyReader sim;
    sim.script(Action::silent());
    ASSERT_EQ(LinkCom_Path(0x05, sim.path().c_str(), 9600), 0);
    EXPECT_EQ(sim.requests().size(), 2u);
    EXPECT_EQ(IcRetCode, 0);
}

TEST_F(Link, SilentReaderFailsAfterSixHandshakes) {
    uhfsim::PtyReader sim;
    sim.set_handler([](const Request &) { return Action::silent(); });
    int fds = open_descriptors();
    EXPECT_EQ(LinkCom_Path(0x05, sim.path().c_str(), 9600), 1);
    EXPECT_EQ(sim.requests().size(), 6u);
    EXPECT_EQ(IcBaudRate, 0);
    EXPECT_EQ(IcRetCode, 234);
    EXPECT_EQ(USB_Flag, 0);
    EXPECT_EQ(open_descriptors(), fds);  // every failed attempt closed its port
}

TEST_F(Link, BroadcastAddressLinksAnyReader) {
    uhfsim::PtyReader sim;
    sim.set_handler([](const Request &r) { return Action::reply(0x09, r.cmd, 0, {}); });
    EXPECT_EQ(LinkCom_Path(0xFF, sim.path().c_str(), 9600), 0);
    EXPECT_NE(LinkCom_Path(0x05, sim.path().c_str(), 9600), 0);  // but 0x09 is not 0x05
}

TEST_F(Link, MissingNodeFailsWithoutHandshakes) {
    EXPECT_EQ(LinkCom_Path(0x05, "/nonexistent/ttyX", 9600), 1);
    EXPECT_EQ(IcBaudRate, 0);
}

TEST_F(Link, RelinkingReleasesTheHeldPort) {
    uhfsim::PtyReader sim;
    int fds = open_descriptors();
    for (int i = 0; i < 200; ++i) ASSERT_EQ(LinkCom_Path(0x05, sim.path().c_str(), 9600), 0);
    EXPECT_EQ(open_descriptors(), fds + 1);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(LinkCom_Path(0x05, sim.path().c_str(), 9600), 0);
        UnLinkCom();
    }
    EXPECT_EQ(open_descriptors(), fds);
}

// The numbered openers, redirected into a scratch directory of links to simulated readers.
class NumberedNodes : public Link {
protected:
    void place(const std::string &name, const uhfsim::PtyReader &sim) { nodes_.place(name, sim.path()); }
    uhftest::ScratchNodes nodes_;
};

TEST_F(NumberedNodes, BuiltinPortFirstThenAdapter) {
    uhfsim::PtyReader silent, reader;
    silent.set_handler([](const Request &) { return Action::silent(); });
    place("ttyS0", silent);
    place("ttyUSB0", reader);
    ASSERT_EQ(LinkCom(0x05, 0, 115200), 0);
    EXPECT_EQ(silent.requests().size(), 2u);
    EXPECT_EQ(reader.requests().size(), 1u);
    EXPECT_EQ(IcBaudRate, 115200);
}

TEST_F(NumberedNodes, OutOfRangePortMeansNodeZero) {
    uhfsim::PtyReader reader;
    place("ttyS0", reader);
    EXPECT_EQ(LinkCom(0x05, 12, 9600), 0);
    EXPECT_EQ(LinkCom(0x05, -1, 9600), 0);
    EXPECT_EQ(reader.requests().size(), 2u);
}

TEST_F(NumberedNodes, PortDigitPicksTheNode) {
    uhfsim::PtyReader reader;
    place("ttyUSB3", reader);
    EXPECT_EQ(RS232_InitPort_USB(3, 4800), 0);
    EXPECT_EQ(RS232_InitPort(3, 4800), 1);
    EXPECT_EQ(LinkCom(0x05, 3, 19200), 0);
    EXPECT_EQ(IcBaudRate, 19200);
}

TEST_F(NumberedNodes, NoReaderAnywhere) {
    uhfsim::PtyReader silent;
    silent.set_handler([](const Request &) { return Action::silent(); });
    place("ttyS1", silent);
    place("ttyUSB1", silent);
    EXPECT_EQ(LinkCom(0x05, 1, 9600), 1);
    EXPECT_EQ(silent.requests().size(), 12u);  // three attempts, two nodes, two handshakes
    EXPECT_EQ(IcBaudRate, 0);
    EXPECT_EQ(IcRetCode, 234);
}

}  // namespace
