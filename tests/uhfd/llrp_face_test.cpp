// A reader's LLRP face in-process, with its worker against a virtual reader on loopback TCP and
// a raw LLRP client: the description is the reader's own, SET_READER_CONFIG reaches the reader,
// rounds become reports with LLRP's antenna numbers, and a reader going offline is an event
// the client hears while it stays connected.
#include <gtest/gtest.h>

#include <future>

#include "gateway_harness.hpp"
#include "llrp/catalogue.hpp"
#include "llrp/raw_client.hpp"
#include "llrp_capabilities.hpp"
#include "llrp_face.hpp"

namespace {

using namespace gwtest;
namespace msg = uhf::llrp::msg;
namespace param = uhf::llrp::param;
using uhf::llrp::Message;
using uhf::llrp::Parameter;
using U = std::uint64_t;

uhfd::ReaderConfig reader_of(const Sim& sim) {
    uhfd::ReaderConfig c;
    c.name = "a";
    c.device = sim.device();
    c.families = {inventory::Family::epc};
    c.round_interval = std::chrono::milliseconds(50);
    c.departure_timeout = std::chrono::milliseconds(600);
    c.report_interval = std::chrono::milliseconds(0);
    c.layout = inventory::virtual_layout();
    return c;
}

// The reader's RF power block [power, active antenna, maximum], asked through the worker.
std::vector<std::uint8_t> rf_power(uhfd::ReaderWorker& w) {
    std::promise<std::vector<std::uint8_t>> got;
    w.submit(uhfd::parse_request(R"({"command":"Get_RF_Power"})", uhfd::CommandPolicy()).call,
             [&](uhfd::CommandResult r) { got.set_value(r.reply); });
    auto f = got.get_future();
    if (f.wait_for(5s) != std::future_status::ready) return {};
    return f.get();
}

class Face : public ::testing::Test {
protected:
    void SetUp() override {
        sim = std::make_unique<Sim>(dir, "a", 0, std::vector<std::string>{"--control", dir.file("a.ctl")}, true);
        worker = std::make_shared<uhfd::ReaderWorker>(reader_of(*sim), uhfd::Backoff{50ms, 200ms});
        worker->start();
        ASSERT_TRUE(eventually([&] { return worker->snapshot(false).state == uhfd::LinkState::online; }, 10s));
        uhfd::LlrpListen listen;
        listen.port = 0;
        face = std::make_unique<uhfd::LlrpFace>(worker, listen);
        std::string why;
        ASSERT_TRUE(face->start(why)) << why;
        client = std::make_unique<llrp_test::RawClient>(face->port());
        const auto hello = next(msg::READER_EVENT_NOTIFICATION);
        ASSERT_TRUE(hello);
    }
    void TearDown() override {
        client.reset();
        if (face) face->stop();
        worker->request_stop();
        worker->wait_stopped(5s);
    }
    // The next message of the type, skipping others (keepalives, events); none within 10 s.
    std::optional<Message> next(std::uint16_t type) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto m = client->receive(10s);
            if (!m) return std::nullopt;
            if (m->type == type) return m;
        }
        return std::nullopt;
    }
    std::optional<Message> ask(Message m) {
        const std::uint16_t response = uhf::llrp::find_message(m.type)->response;
        client->send(m);
        return next(response);
    }
    static std::int64_t status(const Message& m) {
        return uhf::llrp::number(*uhf::llrp::find(m.params, param::LLRPStatus), "StatusCode").value_or(-1);
    }

    ScratchDir dir;
    std::unique_ptr<Sim> sim;
    std::shared_ptr<uhfd::ReaderWorker> worker;
    std::unique_ptr<uhfd::LlrpFace> face;
    std::unique_ptr<llrp_test::RawClient> client;
};

TEST_F(Face, CapabilitiesComeFromTheReader) {
    const auto caps = ask(uhf::llrp::make_message(msg::GET_READER_CAPABILITIES, 4));
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->id, 4u);
    EXPECT_EQ(status(*caps), 0);
    const Parameter* general = uhf::llrp::find(caps->params, param::GeneralDeviceCapabilities);
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(uhf::llrp::number(*general, "MaxNumberOfAntennaSupported"), 4);
    EXPECT_EQ(std::get<std::string>(*uhf::llrp::field(*general, "ReaderFirmwareVersion")), "2.3");
    const Parameter* regulatory = uhf::llrp::find(caps->params, param::RegulatoryCapabilities);
    ASSERT_NE(regulatory, nullptr);
    const Parameter* band = uhf::llrp::find(regulatory->params, param::UHFBandCapabilities);
    EXPECT_EQ(uhf::llrp::find_all(band->params, param::TransmitPowerLevelTableEntry).size(), 31u);  // 0..30 dBm
    EXPECT_NE(uhf::llrp::find(band->params, param::C1G2UHFRFModeTable), nullptr);
    EXPECT_NE(uhf::llrp::find(caps->params, param::C1G2LLRPCapabilities), nullptr);
}

TEST_F(Face, SetReaderConfigChangesTheReadersPowerAndAntennaAndTheResetRestoresThem) {
    const std::vector<std::uint8_t> before = rf_power(*worker);
    ASSERT_EQ(before.size(), 3u);
    Message set = uhf::llrp::make_message(msg::SET_READER_CONFIG, 5);
    Parameter ac = uhfd::llrp_parameter(param::AntennaConfiguration, {{"AntennaID", U(3)}});
    ac.params.push_back(uhfd::llrp_parameter(param::RFTransmitter, {{"HopTableID", U(1)}, {"TransmitPower", U(uhfd::power_index(12))}}));
    set.params.push_back(ac);
    auto answer = ask(set);
    ASSERT_TRUE(answer);
    EXPECT_EQ(status(*answer), 0);
    EXPECT_EQ(rf_power(*worker), (std::vector<std::uint8_t>{12, 2, 30}));

    Message get = uhf::llrp::make_message(msg::GET_READER_CONFIG, 6);
    uhf::llrp::set(get, "AntennaID", U(3));
    uhf::llrp::set(get, "RequestedData", U(3));  // AntennaConfiguration
    answer = ask(get);
    ASSERT_TRUE(answer);
    const auto configs = uhf::llrp::find_all(answer->params, param::AntennaConfiguration);
    ASSERT_EQ(configs.size(), 1u);
    EXPECT_EQ(uhf::llrp::number(*uhf::llrp::find(configs[0]->params, param::RFTransmitter), "TransmitPower"), uhfd::power_index(12));

    Message reset = uhf::llrp::make_message(msg::SET_READER_CONFIG, 7);
    uhf::llrp::set(reset, "ResetToFactoryDefault", U(1));
    answer = ask(reset);
    ASSERT_TRUE(answer);
    EXPECT_EQ(status(*answer), 0);
    EXPECT_EQ(rf_power(*worker), before);
}

TEST_F(Face, NoSuchAntennaIsAFieldErrorAndChangesNothing) {
    Message get = uhf::llrp::make_message(msg::GET_READER_CONFIG, 8);
    uhf::llrp::set(get, "AntennaID", U(5));
    const auto answer = ask(get);
    ASSERT_TRUE(answer);
    EXPECT_EQ(status(*answer), static_cast<int>(uhf::llrp::StatusCode::M_FieldError));
    EXPECT_EQ(answer->params.size(), 1u);
}

TEST_F(Face, RoundsBecomeReportsWithLlrpsAntennaNumbers) {
    ASSERT_EQ(field(dir.file("a.ctl"), "add epc E2801160600002054CC2096F rssi=-48 ant=2"), "ok E2801160600002054CC2096F");
    Parameter rospec = uhfd::llrp_parameter(param::ROSpec, {{"ROSpecID", U(9)}, {"Priority", U(0)}, {"CurrentState", U(0)}});
    Parameter boundary = uhf::llrp::make_parameter(param::ROBoundarySpec);
    boundary.params.push_back(uhfd::llrp_parameter(param::ROSpecStartTrigger, {{"ROSpecStartTriggerType", U(1)}}));  // Immediate
    boundary.params.push_back(uhf::llrp::make_parameter(param::ROSpecStopTrigger));
    rospec.params.push_back(boundary);
    Parameter ai = uhfd::llrp_parameter(param::AISpec, {{"AntennaIDs", std::vector<std::uint16_t>{0}}});
    ai.params.push_back(uhf::llrp::make_parameter(param::AISpecStopTrigger));
    ai.params.push_back(uhfd::llrp_parameter(param::InventoryParameterSpec, {{"InventoryParameterSpecID", U(1)}, {"ProtocolID", U(1)}}));
    rospec.params.push_back(ai);
    Message add = uhf::llrp::make_message(msg::ADD_ROSPEC, 10);
    add.params.push_back(rospec);
    auto answer = ask(add);
    ASSERT_TRUE(answer);
    ASSERT_EQ(status(*answer), 0);
    Message enable = uhf::llrp::make_message(msg::ENABLE_ROSPEC, 11);
    uhf::llrp::set(enable, "ROSpecID", U(9));
    answer = ask(enable);
    ASSERT_TRUE(answer);
    ASSERT_EQ(status(*answer), 0);
    const auto report = next(msg::RO_ACCESS_REPORT);
    ASSERT_TRUE(report);
    const Parameter* tag = uhf::llrp::find(report->params, param::TagReportData);
    ASSERT_NE(tag, nullptr);
    const Parameter* epc = uhf::llrp::find(tag->params, param::EPC_96);
    ASSERT_NE(epc, nullptr);
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(*uhf::llrp::field(*epc, "EPC")),
              (std::vector<std::uint8_t>{0xE2, 0x80, 0x11, 0x60, 0x60, 0x00, 0x02, 0x05, 0x4C, 0xC2, 0x09, 0x6F}));
    const Parameter* antenna = uhf::llrp::find(tag->params, param::AntennaID);
    ASSERT_NE(antenna, nullptr);
    EXPECT_EQ(uhf::llrp::number(*antenna, "AntennaID"), 3);  // the reader's antenna 2
}

TEST_F(Face, EnableEventsAndReportsIsTakenWithoutAnAnswer) {
    client->send(uhf::llrp::make_message(msg::ENABLE_EVENTS_AND_REPORTS, 20));
    client->send(uhf::llrp::make_message(msg::GET_ROSPECS, 21));
    std::optional<Message> m;
    while ((m = client->receive(10s)) && m->type != msg::GET_ROSPECS_RESPONSE)
        EXPECT_NE(m->type, msg::ERROR_MESSAGE) << "ENABLE_EVENTS_AND_REPORTS was refused";
    ASSERT_TRUE(m);
    EXPECT_EQ(m->id, 21u);
}

TEST_F(Face, AReaderGoingOfflineIsAnEventAndTheClientStays) {
    Message set = uhf::llrp::make_message(msg::SET_READER_CONFIG, 12);
    Parameter events = uhf::llrp::make_parameter(param::ReaderEventNotificationSpec);
    events.params.push_back(uhfd::llrp_parameter(param::EventNotificationState, {{"EventType", U(4)}, {"NotificationState", U(1)}}));
    set.params.push_back(events);
    auto answer = ask(set);
    ASSERT_TRUE(answer);
    ASSERT_EQ(status(*answer), 0);
    sim->kill();
    std::optional<Message> event;
    const auto exception_event = [&] {
        event = next(msg::READER_EVENT_NOTIFICATION);
        if (!event) return true;
        const Parameter* data = uhf::llrp::find(event->params, param::ReaderEventNotificationData);
        return data && uhf::llrp::find(data->params, param::ReaderExceptionEvent);
    };
    ASSERT_TRUE(eventually(exception_event, 15s));
    ASSERT_TRUE(event) << "no event";
    const Parameter* data = uhf::llrp::find(event->params, param::ReaderEventNotificationData);
    const auto& words = std::get<std::string>(*uhf::llrp::field(*uhf::llrp::find(data->params, param::ReaderExceptionEvent), "Message"));
    EXPECT_EQ(words.rfind("reader offline", 0), 0u) << words;
    EXPECT_TRUE(face->client_connected());

    // Offline, the reader cannot be asked: R_DeviceError, at once rather than after a wait.
    answer = ask(uhf::llrp::make_message(msg::GET_READER_CAPABILITIES, 13));
    ASSERT_TRUE(answer);
    EXPECT_EQ(status(*answer), static_cast<int>(uhf::llrp::StatusCode::R_DeviceError));
    EXPECT_TRUE(face->client_connected());
}

}  // namespace
