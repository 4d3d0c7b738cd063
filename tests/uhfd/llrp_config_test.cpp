// A reader's LLRP face described without a reader: the `llrp` key and --check-config's
// address check, the reader's replies decoded into its facts, the capabilities built from them,
// and SET_READER_CONFIG's refusals by status, parameter path and description.
#include <gtest/gtest.h>

#include "config.hpp"
#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "llrp/server.hpp"
#include "llrp_capabilities.hpp"
#include "llrp_config.hpp"
#include "llrp_reader_config.hpp"

namespace {

namespace param = uhf::llrp::param;
using uhf::llrp::StatusCode;

std::string config_with(const std::string& readers, const std::string& extra = "") {
    return "[gateway]\nid = \"gw\"\n" + extra + readers;
}

std::string reader(const std::string& name, const std::string& llrp) {
    return "[[readers]]\nname = \"" + name + "\"\ndevice = \"tcp:127.0.0.1:1\"\nllrp = " + llrp + "\n";
}

struct KeyRow {
    const char* value;  // as written in the file
    const char* host;   // expected, or nullptr: refused
    int port;
};

class LlrpKey : public ::testing::TestWithParam<KeyRow> {};

TEST_P(LlrpKey, ParsesOrNamesTheLineAndKey) {
    const KeyRow& row = GetParam();
    const std::string text = config_with(reader("a", row.value));
    if (row.host) {
        const uhfd::Config c = uhfd::parse_config(text, "t.toml");
        ASSERT_TRUE(c.readers[0].llrp.has_value());
        EXPECT_EQ(c.readers[0].llrp->host, row.host);
        EXPECT_EQ(c.readers[0].llrp->port, row.port);
        EXPECT_EQ(c.readers[0].llrp->line, 6);
        return;
    }
    try {
        uhfd::parse_config(text, "t.toml");
        FAIL() << "accepted " << row.value;
    } catch (const uhfd::ConfigError& e) {
        ASSERT_EQ(e.problems().size(), 1u);
        EXPECT_EQ(e.problems()[0].rfind("t.toml:6: readers[0].llrp: ", 0), 0u) << e.problems()[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Values, LlrpKey,
                         ::testing::Values(KeyRow{"\"127.0.0.1:5084\"", "127.0.0.1", 5084},
                                           KeyRow{"\"5085\"", "127.0.0.1", 5085},  // a bare port: loopback
                                           KeyRow{"5086", "127.0.0.1", 5086},
                                           KeyRow{"\"0.0.0.0:5084\"", "0.0.0.0", 5084},
                                           KeyRow{"\"[::1]:5084\"", "::1", 5084},
                                           KeyRow{"\"reader.local:5084\"", "reader.local", 5084},
                                           KeyRow{"\"0\"", "127.0.0.1", 0},
                                           KeyRow{"\"127.0.0.1\"", nullptr, 0},
                                           KeyRow{"\"127.0.0.1:\"", nullptr, 0},
                                           KeyRow{"\"127.0.0.1:65536\"", nullptr, 0},
                                           KeyRow{"\":5084\"", nullptr, 0},
                                           KeyRow{"\"::1:5084\"", nullptr, 0},  // IPv6 needs brackets
                                           KeyRow{"\"[127.0.0.1]:5084\"", nullptr, 0},
                                           KeyRow{"\"a b:5084\"", nullptr, 0},
                                           KeyRow{"-1", nullptr, 0},
                                           KeyRow{"true", nullptr, 0}));

struct ClashRow {
    const char* first;
    const char* second;
    bool clash;
};

class LlrpClash : public ::testing::TestWithParam<ClashRow> {};

TEST_P(LlrpClash, SecondReaderOnTheSamePortIsNamed) {
    const ClashRow& row = GetParam();
    const std::string text = config_with(reader("a", row.first) + reader("b", row.second));
    if (!row.clash) {
        EXPECT_NO_THROW(uhfd::parse_config(text, "t.toml"));
        return;
    }
    try {
        uhfd::parse_config(text, "t.toml");
        FAIL() << "accepted";
    } catch (const uhfd::ConfigError& e) {
        ASSERT_EQ(e.problems().size(), 1u);
        EXPECT_NE(e.problems()[0].find(":10: readers[1].llrp: "), std::string::npos) << e.problems()[0];
        EXPECT_NE(e.problems()[0].find("reader 'a'"), std::string::npos) << e.problems()[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, LlrpClash,
                         ::testing::Values(ClashRow{"5084", "5084", true},
                                           ClashRow{"\"127.0.0.1:5084\"", "\"localhost:5084\"", true},
                                           ClashRow{"\"0.0.0.0:5084\"", "\"127.0.0.1:5084\"", true},  // the wildcard takes every address
                                           ClashRow{"\"127.0.0.1:5084\"", "\"[::]:5084\"", true},
                                           ClashRow{"5084", "5085", false},
                                           ClashRow{"\"127.0.0.1:5084\"", "\"127.0.0.2:5084\"", false},
                                           ClashRow{"0", "0", false}));  // any free port, twice

TEST(LlrpClashConsole, TheConsolesPortIsNamed) {
    try {
        uhfd::parse_config(config_with(reader("a", "8080"), "[http]\nlisten = \"127.0.0.1:8080\"\n"), "t.toml");
        FAIL() << "accepted";
    } catch (const uhfd::ConfigError& e) {
        ASSERT_EQ(e.problems().size(), 1u);
        EXPECT_NE(e.problems()[0].find("readers[0].llrp: 127.0.0.1:8080 is the console's port"), std::string::npos) << e.problems()[0];
    }
}

TEST(LlrpCheck, AnAddressInUseOrUnknownIsNamedWithItsLine) {
    class Silent : public uhf::llrp::Handler {
        uhf::llrp::Answer handle(const uhf::llrp::Message&) override { return std::nullopt; }
    } silent;
    uhf::llrp::ServerOptions o;
    o.port = 0;
    uhf::llrp::Server holder(o, silent);
    std::string why;
    ASSERT_TRUE(holder.start(why)) << why;
    const uhfd::Config c = uhfd::parse_config(
        config_with(reader("a", std::to_string(holder.port())) + reader("b", "\"192.0.2.1:5084\"") + reader("c", "0")), "t.toml");
    const auto problems = uhfd::llrp_listen_problems(c, "t.toml");
    ASSERT_EQ(problems.size(), 2u) << ::testing::PrintToString(problems);
    EXPECT_EQ(problems[0].rfind("t.toml:6: readers[0].llrp: cannot listen on 127.0.0.1:" + std::to_string(holder.port()), 0), 0u) << problems[0];
    EXPECT_NE(problems[0].find("in use"), std::string::npos) << problems[0];
    EXPECT_EQ(problems[1].rfind("t.toml:10: readers[1].llrp: cannot listen on 192.0.2.1:5084", 0), 0u) << problems[1];
}

TEST(LlrpReload, MovingTheKeyToAnotherLineIsNoChange) {
    uhfd::LlrpListen a, b;
    a.line = 6;
    b.line = 9;
    EXPECT_EQ(a, b);
    b.port = 5085;
    EXPECT_NE(a, b);
}

// The virtual reader's replies as docs/simulator.md lays them out.
uhfd::ReaderFacts virtual_facts(std::uint8_t region = 1) {
    std::array<std::uint8_t, 22> info{'U', 'S', 'I', 'M', 1, 0, 2, 3, 0, 0, 0, 7, 0xBD, 0xC0, 0x22, 0x38, 1, 4, 0, 4, 30, 7};
    std::array<std::uint8_t, 3> power{26, 2, 30};
    std::array<std::uint8_t, 7> work{26, 1, 10, region, 0, 4, 0};
    std::array<std::array<std::uint8_t, 8>, 4> pages{};
    pages[0][0] = 0x05;  // channels 0 and 2
    pages[0][1] = 0x80;  // channel 15
    pages[1][0] = 0x01;  // channel 64: past the plan's 20
    return uhfd::decode_facts(info, power, work, pages);
}

TEST(LlrpFacts, DecodedFromTheReadersReplies) {
    const uhfd::ReaderFacts f = virtual_facts();
    EXPECT_EQ(f.model, "USIM");
    EXPECT_EQ(f.model_code, 0x5553494Du);
    EXPECT_EQ(f.hardware, "1.0");
    EXPECT_EQ(f.firmware, "2.3");
    EXPECT_EQ(f.serial, (std::vector<std::uint8_t>{0xBD, 0xC0, 0x22, 0x38}));
    EXPECT_EQ(f.antennas, 4);
    EXPECT_EQ(f.active_antenna, 2);
    EXPECT_EQ(f.power_dbm, 26);
    EXPECT_EQ(f.max_power_dbm, 30);
    EXPECT_EQ(f.channels, (std::vector<int>{0, 2, 15, 64}));
    EXPECT_EQ(uhfd::hop_frequencies(f), (std::vector<std::uint32_t>{920125, 920625, 923875}));
    EXPECT_TRUE(uhfd::hop_frequencies(virtual_facts(9)).empty());  // a region without a plan: no table
}

TEST(LlrpCapabilities, EncodeAndCarryTheReadersPowerRangeAndAntennas) {
    const uhfd::ReaderFacts f = virtual_facts();
    uhf::llrp::Message m = uhf::llrp::make_message(uhf::llrp::msg::GET_READER_CAPABILITIES_RESPONSE, 7);
    m.params.push_back(uhf::llrp::llrp_status(uhf::llrp::Error{}));
    for (auto& p : uhfd::capabilities(f, uhf::llrp::EngineOptions{}, 0)) m.params.push_back(std::move(p));
    const auto encoded = uhf::llrp::encode(m);
    ASSERT_TRUE(encoded.ok()) << encoded.error;
    const auto back = uhf::llrp::decode(encoded.bytes);
    ASSERT_TRUE(back.ok());
    const auto* general = uhf::llrp::find(back.message->params, param::GeneralDeviceCapabilities);
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(uhf::llrp::number(*general, "MaxNumberOfAntennaSupported"), 4);
    EXPECT_EQ(uhf::llrp::find_all(general->params, param::PerAntennaAirProtocol).size(), 4u);
    const auto* band = uhf::llrp::find(uhf::llrp::find(back.message->params, param::RegulatoryCapabilities)->params, param::UHFBandCapabilities);
    const auto powers = uhf::llrp::find_all(band->params, param::TransmitPowerLevelTableEntry);
    ASSERT_EQ(powers.size(), 31u);  // 0..30 dBm
    EXPECT_EQ(uhf::llrp::number(*powers.back(), "Index"), 31);
    EXPECT_EQ(uhf::llrp::number(*powers.back(), "TransmitPowerValue"), 3000);
    for (int requested = 1; requested <= 4; ++requested)
        EXPECT_EQ(uhfd::capabilities(f, uhf::llrp::EngineOptions{}, requested).size(), 1u) << requested;
}

// SET_READER_CONFIG with the given parameters.
uhf::llrp::Message set_config(std::vector<uhf::llrp::Parameter> params) {
    uhf::llrp::Message m = uhf::llrp::make_message(uhf::llrp::msg::SET_READER_CONFIG, 3);
    m.params = std::move(params);
    return m;
}

uhf::llrp::Parameter antenna(int id, std::optional<int> power, std::vector<uhf::llrp::Parameter> more = {}) {
    uhf::llrp::Parameter p = uhfd::llrp_parameter(param::AntennaConfiguration, {{"AntennaID", std::uint64_t(id)}});
    if (power)
        p.params.push_back(uhfd::llrp_parameter(param::RFTransmitter, {{"HopTableID", std::uint64_t(1)}, {"TransmitPower", std::uint64_t(*power)}}));
    for (auto& m : more) p.params.push_back(std::move(m));
    return p;
}

struct PlanRow {
    const char* name;
    std::vector<uhf::llrp::Parameter> params;
    StatusCode code;
    std::vector<std::uint16_t> path;  // the ParameterError chain's types
    const char* words;                // in the description
};

class LlrpSetConfig : public ::testing::TestWithParam<PlanRow> {};

TEST_P(LlrpSetConfig, RefusedWholeWithStatusPathAndDescription) {
    const PlanRow& row = GetParam();
    const uhf::llrp::Message m = set_config(row.params);
    uhfd::ConfigPlan plan;
    const uhf::llrp::Error e = uhfd::plan_reader_config(m, virtual_facts(), plan);
    EXPECT_EQ(e.code, row.code);
    std::vector<std::uint16_t> path;
    for (const auto& f : e.parameters) path.push_back(f.type);
    EXPECT_EQ(path, row.path);
    EXPECT_NE(e.description.find(row.words), std::string::npos) << e.description;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, LlrpSetConfig,
    ::testing::Values(
        PlanRow{"PowerPastTheTable", {antenna(1, 32)}, StatusCode::M_ParameterError, {param::AntennaConfiguration, param::RFTransmitter}, "1..31"},
        PlanRow{"PowerIndexZero", {antenna(1, 0)}, StatusCode::M_ParameterError, {param::AntennaConfiguration, param::RFTransmitter}, "1..31"},
        PlanRow{"TwoPowers", {antenna(1, 10), antenna(2, 12)}, StatusCode::M_ParameterError, {param::AntennaConfiguration, param::RFTransmitter}, "one transmit power"},
        PlanRow{"TwoAntennasSelected", {antenna(1, 10), antenna(2, 10)}, StatusCode::M_ParameterError, {param::AntennaConfiguration}, "one antenna at a time"},
        PlanRow{"NoSuchAntenna", {antenna(5, std::nullopt)}, StatusCode::M_ParameterError, {param::AntennaConfiguration}, "antennas 1..4"},
        PlanRow{"C1G2Filter", {antenna(0, std::nullopt, {[] { auto p = uhf::llrp::make_parameter(param::C1G2InventoryCommand); p.params.push_back(uhf::llrp::make_parameter(param::C1G2Filter)); return p; }()})},
                StatusCode::M_ParameterError, {param::AntennaConfiguration, param::C1G2InventoryCommand}, "C1G2 filters"},
        PlanRow{"PeriodicKeepaliveWithoutPeriod", {uhfd::llrp_parameter(param::KeepaliveSpec, {{"KeepaliveTriggerType", std::uint64_t(1)}})},
                StatusCode::M_ParameterError, {param::KeepaliveSpec}, "period"},
        PlanRow{"Gpo", {uhf::llrp::make_parameter(param::GPOWriteData)}, StatusCode::M_ParameterError, {param::GPOWriteData}, "no GPI or GPO"},
        PlanRow{"AntennaGain", {uhfd::llrp_parameter(param::AntennaProperties, {{"AntennaID", std::uint64_t(1)}, {"AntennaGain", std::int64_t(3)}})},
                StatusCode::M_ParameterError, {param::AntennaProperties}, "cannot be set"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LlrpSetConfigPlan, OneAntennaAndAPowerBecomeTheReadersActiveAntennaAndPower) {
    uhfd::ConfigPlan plan;
    const auto m = set_config({antenna(3, 21), antenna(0, 21),
                               uhfd::llrp_parameter(param::KeepaliveSpec, {{"KeepaliveTriggerType", std::uint64_t(1)}, {"PeriodicTriggerValue", std::uint64_t(250)}})});
    ASSERT_EQ(uhfd::plan_reader_config(m, virtual_facts(), plan).code, StatusCode::M_Success);
    EXPECT_EQ(plan.reader.power_dbm, 20);
    EXPECT_EQ(plan.reader.active_antenna, 2);
    EXPECT_EQ(plan.keepalive_ms, 250u);
    EXPECT_FALSE(plan.reset);
}

}  // namespace
