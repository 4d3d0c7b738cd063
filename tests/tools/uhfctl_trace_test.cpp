// --trace shows every frame as it went on the wire and came off it, on every transport, each
// with its time, from the handshake on; with --json each is a JSON line.
#include <gtest/gtest.h>

#include "process.hpp"
#include "readers.hpp"
#include "sim/wire.hpp"

namespace {

using namespace tooltest;

template <class Endpoint>
class TraceOn : public ::testing::Test {};

using Transports = ::testing::Types<uhfsim::PtyReader, uhfsim::TcpReader>;
TYPED_TEST_SUITE(TraceOn, Transports);

// Requests whose length, command code and data need DLE doubling, and a long reply.
TYPED_TEST(TraceOn, EveryFrameAsOnTheWire) {
    ModelReader<TypeParam> reader;
    for (const std::vector<std::string>& cmd :
         {std::vector<std::string>{"Read_DeviceTemp"}, {"EPC_Read_TAG", "10101010"},
          {"GB_Set_Auth_Pwd", "10000102030405060708090A0B0C0D0E"}, {"FM151M_Get_RN", "300"}}) {
        std::vector<std::string> args = {"--device", reader.device(), "--trace"};
        args.insert(args.end(), cmd.begin(), cmd.end());
        const auto before = reader.model.wire().size();
        const std::size_t asked = reader.endpoint.requests().size();
        const auto r = run(ctl(args));
        ASSERT_LE(r.exit, 1) << r.err;
        const Traced t = traced(r.err);
        const auto requests = reader.endpoint.requests();
        ASSERT_EQ(requests.size(), asked + 2) << cmd[0];
        ASSERT_EQ(t.sent.size(), 2u) << r.err;
        for (std::size_t i = 0; i < 2; ++i) {
            const uhfsim::Request& q = requests[asked + i];
            EXPECT_EQ(t.sent[i], uhfsim::encode_request(q.addr, q.cmd, q.data)) << cmd[0];
        }
        const auto wire = reader.model.wire();
        EXPECT_EQ(t.received, std::vector<std::uint8_t>(wire.begin() + static_cast<long>(before), wire.end())) << cmd[0];
    }
}

TEST(Trace, LinesCarryTheirTimeInOrder) {
    ModelReader<uhfsim::PtyReader> reader;
    const auto r = run(ctl({"--device", reader.device(), "--trace", "inventory", "--rounds", "2"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    double last = -1;
    std::size_t n = 0;
    for (const std::string& l : lines(r.err)) {
        if (l.rfind("trace +", 0) != 0) continue;
        const double t = std::stod(l.substr(7, l.find(' ', 7) - 7));
        EXPECT_GE(t, last) << l;
        EXPECT_NE(l.find(" " + reader.device() + " "), std::string::npos) << "names its reader: " << l;
        last = t;
        ++n;
    }
    EXPECT_GE(n, 2u + 2 * 3 * 2 * 2) << "handshake, then query and list for three families in two rounds";
}

TEST(Trace, JsonLinesHoldTheSameFrames) {
    ModelReader<uhfsim::PtyReader> reader;
    const auto text = run(ctl({"--device", reader.device(), "--trace", "Read_DeviceTemp"}));
    const auto json = run(ctl({"--device", reader.device(), "--trace", "--json", "Read_DeviceTemp"}));
    ASSERT_EQ(json.exit, 0) << json.err;
    std::vector<std::vector<std::uint8_t>> sent;
    for (const std::string& l : lines(json.err)) {
        const auto j = parse_json_object(l);
        ASSERT_TRUE(j) << l;
        EXPECT_EQ(j->at("device"), reader.device());
        EXPECT_NE(j->at("t_us"), "");
        if (j->at("trace") == "sent") sent.push_back(bytes_of(j->at("bytes")));
    }
    EXPECT_EQ(sent, traced(text.err).sent);
    EXPECT_EQ(lines(json.out).size(), 1u) << "results alone on stdout";
}

}  // namespace
