// uhfd with LLRP faces in front of virtual readers, driven by llrpjs's LLRPClient (npm, pinned in
// tests/peers/llrp; face_client.js runs the steps): capabilities and configuration, ROSpecs
// started by START_ROSPEC and by an Immediate trigger, reports every N tags, a Duration stop,
// an AccessSpec that writes user memory and one that reads it back, keepalives, a client that
// vanishes and one that comes after it. MQTT output keeps running for the same readers
// throughout; tshark finds nothing malformed in what uhfd sends in a session that uses every
// message the face answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <span>

#include "gateway_harness.hpp"
#include "llrp/capture.hpp"
#include "llrp/raw_client.hpp"

namespace {

using namespace gwtest;
using nlohmann::json;

struct Line {
    std::string type;
    json body;
};

// The script's lines: "TYPE JSON", "end" or "error WORDS" (type "error", body the words).
std::vector<Line> run_client(int port, const json& steps) {
    const std::string dir = LLRP_PEER_DIR;
    std::string quoted = steps.dump();
    std::string escaped;
    for (char c : quoted) escaped += c == '\'' ? std::string("'\\''") : std::string(1, c);
    // The script bounds itself at 60 s; timeout(1) bounds a node that stops running its timers.
    const std::string cmd = "timeout -s KILL 90 '" + std::string(UHF_NODE) + "' '" + dir + "/face_client.js' '" + dir + "' " +
                            std::to_string(port) + " '" + escaped + "' 2>&1 < /dev/null";
    std::vector<Line> lines;
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return lines;
    char buf[65536];
    while (std::fgets(buf, sizeof buf, pipe)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const auto space = line.find(' ');
        Line l{line.substr(0, space), json()};
        if (space != std::string::npos) {
            const std::string rest = line.substr(space + 1);
            l.body = json::parse(rest, nullptr, false);
            if (l.body.is_discarded()) l.body = rest;
        }
        lines.push_back(std::move(l));
    }
    pclose(pipe);
    return lines;
}

std::vector<Line> of_type(const std::vector<Line>& lines, const std::string& type) {
    std::vector<Line> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), [&](const Line& l) { return l.type == type; });
    return out;
}

std::string dump(const std::vector<Line>& lines) {
    std::string s;
    for (const Line& l : lines) s += l.type + " " + (l.body.is_null() ? "" : l.body.dump()) + "\n";
    return s;
}

// Every response's status, in order.
std::vector<std::string> statuses(const std::vector<Line>& lines) {
    std::vector<std::string> out;
    for (const Line& l : lines)
        if (l.body.is_object() && l.body.contains("LLRPStatus")) out.push_back(l.type + " " + l.body["LLRPStatus"]["StatusCode"].get<std::string>());
    return out;
}

// TagReportData of every report, each as an object (llrpjs gives one or an array).
std::vector<json> tags_reported(const std::vector<Line>& lines) {
    std::vector<json> out;
    for (const Line& r : of_type(lines, "RO_ACCESS_REPORT")) {
        const json& t = r.body.value("TagReportData", json());
        if (t.is_array()) out.insert(out.end(), t.begin(), t.end());
        else if (t.is_object()) out.push_back(t);
    }
    return out;
}

json send(const std::string& type, json data = json::object()) { return {{"send", {{"type", type}, {"data", data}}}}; }
json wait(const std::string& type, int count, int ms = 10000) { return {{"wait", type}, {"count", count}, {"ms", ms}}; }

json rospec(int id, const std::string& start, int n, const std::string& trigger = "Upon_N_Tags_Or_End_Of_ROSpec",
            json stop = {{"ROSpecStopTriggerType", "Null"}, {"DurationTriggerValue", 0}}) {
    return {{"ROSpec",
             {{"ROSpecID", id},
              {"Priority", 0},
              {"CurrentState", "Disabled"},
              {"ROBoundarySpec", {{"ROSpecStartTrigger", {{"ROSpecStartTriggerType", start}}}, {"ROSpecStopTrigger", stop}}},
              {"AISpec",
               {{"AntennaIDs", {0}},
                {"AISpecStopTrigger", {{"AISpecStopTriggerType", "Null"}, {"DurationTrigger", 0}}},
                {"InventoryParameterSpec", {{"InventoryParameterSpecID", 1}, {"ProtocolID", "EPCGlobalClass1Gen2"}}}}},
              {"ROReportSpec",
               {{"ROReportTrigger", trigger},
                {"N", n},
                {"TagReportContentSelector",
                 {{"EnableROSpecID", true}, {"EnableSpecIndex", false}, {"EnableInventoryParameterSpecID", false},
                  {"EnableAntennaID", true}, {"EnableChannelIndex", false}, {"EnablePeakRSSI", true},
                  {"EnableFirstSeenTimestamp", true}, {"EnableLastSeenTimestamp", true}, {"EnableTagSeenCount", true},
                  {"EnableAccessSpecID", true}}}}}}}};
}

json id_of(int id) { return {{"ROSpecID", id}}; }
const json kReset = {{"ResetToFactoryDefault", true}};

class LlrpPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(UHF_NODE).empty() || !fs::exists(UHF_NODE)) GTEST_SKIP() << "node is missing (Debian package nodejs)";
        if (!fs::exists(fs::path(LLRP_PEER_DIR) / "node_modules" / "llrpjs"))
            GTEST_SKIP() << "llrpjs is not installed in " << LLRP_PEER_DIR << ": npm ci there (Debian package npm)";
        broker = std::make_unique<Broker>(dir);
        sim_a = std::make_unique<Sim>(dir, "a", 0, std::vector<std::string>{"--control", dir.file("a.ctl")});
        sim_b = std::make_unique<Sim>(dir, "b", 0, std::vector<std::string>{"--control", dir.file("b.ctl")});
        port_a = free_port();
        port_b = free_port();
        GatewayConfig c;
        c.broker_port = broker->port();
        c.queue_dir = dir.file("queue");
        c.readers = {{"a", sim_a->device()}, {"b", sim_b->device()}};
        for (auto& r : c.readers) r.families = R"(["epc"])";
        std::string text = c.text();
        for (auto [name, port] : {std::pair{"a", port_a}, std::pair{"b", port_b}}) {
            const std::string line = "name = \"" + std::string(name) + "\"\n";
            text.replace(text.find(line), line.size(), line + "llrp = " + std::to_string(port) + "\n");
        }
        subscriber = std::make_unique<Subscriber>(dir, broker->port(), std::vector<std::string>{"uhf/gw/#"});
        uhfd = std::make_unique<Uhfd>(dir, text);
        ASSERT_TRUE(eventually([&] { return port_open(port_a) && port_open(port_b); }, 10s)) << uhfd->log();
        ASSERT_EQ(field(dir.file("a.ctl"), "add epc E2801160600002054CC2096F rssi=-48 ant=1"), "ok E2801160600002054CC2096F");
        ASSERT_EQ(field(dir.file("a.ctl"), "add epc 300833B2DDD9014000000001 rssi=-55 ant=3"), "ok 300833B2DDD9014000000001");
    }

    ScratchDir dir;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Sim> sim_a, sim_b;
    std::unique_ptr<Subscriber> subscriber;
    std::unique_ptr<Uhfd> uhfd;
    int port_a = 0, port_b = 0;
};

TEST_F(LlrpPeer, CapabilitiesAndConfigurationAreTheVirtualReaders) {
    const auto lines = run_client(port_a, json::array({send("GET_READER_CAPABILITIES", {{"RequestedData", "All"}}),
                                                       send("GET_READER_CONFIG", {{"AntennaID", 0}, {"RequestedData", "All"}, {"GPIPortNum", 0}, {"GPOPortNum", 0}}),
                                                       send("SET_READER_CONFIG", {{"AntennaConfiguration", {{"AntennaID", 2}, {"RFTransmitter", {{"HopTableID", 1}, {"ChannelIndex", 0}, {"TransmitPower", 21}}}}}}),
                                                       send("GET_READER_CONFIG", {{"AntennaID", 2}, {"RequestedData", "AntennaConfiguration"}, {"GPIPortNum", 0}, {"GPOPortNum", 0}}),
                                                       send("SET_READER_CONFIG", {{"AntennaConfiguration", {{"AntennaID", 9}}}}),
                                                       send("CLOSE_CONNECTION")}));
    ASSERT_EQ(statuses(lines), (std::vector<std::string>{"GET_READER_CAPABILITIES_RESPONSE M_Success", "GET_READER_CONFIG_RESPONSE M_Success",
                                                         "SET_READER_CONFIG_RESPONSE M_Success", "GET_READER_CONFIG_RESPONSE M_Success",
                                                         "SET_READER_CONFIG_RESPONSE M_ParameterError", "CLOSE_CONNECTION_RESPONSE M_Success"}))
        << dump(lines);
    const json caps = of_type(lines, "GET_READER_CAPABILITIES_RESPONSE")[0].body;
    EXPECT_EQ(caps["GeneralDeviceCapabilities"]["MaxNumberOfAntennaSupported"], 4);
    EXPECT_EQ(caps["GeneralDeviceCapabilities"]["ReaderFirmwareVersion"], "2.3");
    EXPECT_EQ(caps["RegulatoryCapabilities"]["UHFBandCapabilities"]["TransmitPowerLevelTableEntry"].size(), 31u);
    const json after = of_type(lines, "GET_READER_CONFIG_RESPONSE")[1].body;
    EXPECT_EQ(after["AntennaConfiguration"]["RFTransmitter"]["TransmitPower"], 21) << after.dump();
}

// (a) delete all, reset, add with a Null start, enable, start, reports, stop, close; reader b's
// client meanwhile sees its own reader and no tag of a's.
TEST_F(LlrpPeer, NullStartReportsTheFieldsTagsWithTheirAntennas) {
    const auto lines = run_client(port_a, json::array({send("DELETE_ROSPEC", id_of(0)), send("SET_READER_CONFIG", kReset),
                                                       send("ADD_ROSPEC", rospec(1, "Null", 1)), send("ENABLE_ROSPEC", id_of(1)),
                                                       send("START_ROSPEC", id_of(1)), wait("RO_ACCESS_REPORT", 6),
                                                       send("STOP_ROSPEC", id_of(1)), send("CLOSE_CONNECTION")}));
    for (const std::string& s : statuses(lines)) EXPECT_NE(s.find("M_Success"), std::string::npos) << dump(lines);
    std::map<std::string, int> antenna;
    for (const json& t : tags_reported(lines)) {
        ASSERT_TRUE(t.contains("EPC_96")) << t.dump();
        antenna[t["EPC_96"]["EPC"].get<std::string>()] = t["AntennaID"]["AntennaID"].get<int>();
        EXPECT_EQ(t["ROSpecID"]["ROSpecID"], 1);
        EXPECT_GE(t["TagSeenCount"]["TagCount"].get<int>(), 1);
    }
    EXPECT_EQ(antenna, (std::map<std::string, int>{{"E2801160600002054CC2096F", 2}, {"300833B2DDD9014000000001", 4}})) << dump(lines);
    // The MQTT output went on meanwhile: both tags arrived there too.
    EXPECT_TRUE(eventually([&] { return events(*subscriber, "uhf/gw/a/events").size() >= 2; }, 10s));
}

// (b) an Immediate start needs no START_ROSPEC; (c) N = 2: two tags a report.
TEST_F(LlrpPeer, ImmediateStartAndReportsOfTwoTags) {
    const auto lines = run_client(port_a, json::array({send("SET_READER_CONFIG", kReset), send("ADD_ROSPEC", rospec(2, "Immediate", 2)),
                                                       send("ENABLE_ROSPEC", id_of(2)), wait("RO_ACCESS_REPORT", 3),
                                                       send("DISABLE_ROSPEC", id_of(2)), send("CLOSE_CONNECTION")}));
    const auto reports = of_type(lines, "RO_ACCESS_REPORT");
    ASSERT_GE(reports.size(), 3u) << dump(lines);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(reports[i].body["TagReportData"].is_array()) << reports[i].body.dump();
        EXPECT_EQ(reports[i].body["TagReportData"].size(), 2u);
    }
}

// (d) a Duration stop trigger ends the ROSpec by itself: its end event, and nothing after.
TEST_F(LlrpPeer, DurationStopEndsTheROSpec) {
    const json events = {{"ReaderEventNotificationSpec",
                          {{"EventNotificationState", json::array({{{"EventType", "ROSpec_Event"}, {"NotificationState", true}}})}}}};
    const auto lines = run_client(port_a, json::array({send("SET_READER_CONFIG", kReset), send("SET_READER_CONFIG", events),
                                                       send("ADD_ROSPEC", rospec(3, "Immediate", 1, "Upon_N_Tags_Or_End_Of_ROSpec",
                                                                                 {{"ROSpecStopTriggerType", "Duration"}, {"DurationTriggerValue", 500}})),
                                                       send("ENABLE_ROSPEC", id_of(3)), wait("READER_EVENT_NOTIFICATION", 3),
                                                       send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    std::vector<std::string> kinds;
    for (const Line& e : of_type(lines, "READER_EVENT_NOTIFICATION"))
        if (e.body["ReaderEventNotificationData"].contains("ROSpecEvent"))
            kinds.push_back(e.body["ReaderEventNotificationData"]["ROSpecEvent"]["EventType"]);
    EXPECT_EQ(kinds, (std::vector<std::string>{"Start_Of_ROSpec", "End_Of_ROSpec"})) << dump(lines);
    EXPECT_FALSE(tags_reported(lines).empty());
    const json got = of_type(lines, "GET_ROSPECS_RESPONSE").at(0).body;
    EXPECT_EQ(got["ROSpec"]["CurrentState"], "Inactive") << got.dump();
}

// (d) a Tag_Observation stop trigger: the AISpec ends once it has seen two tags, and with it
// the ROSpec (its only AISpec done, no ROSpec stop trigger).
TEST_F(LlrpPeer, TagObservationStopEndsTheAISpecAndTheROSpec) {
    const json events = {{"ReaderEventNotificationSpec",
                          {{"EventNotificationState", json::array({{{"EventType", "ROSpec_Event"}, {"NotificationState", true}},
                                                                   {{"EventType", "AISpec_Event"}, {"NotificationState", true}}})}}}};
    json observe = rospec(6, "Immediate", 1);
    observe["ROSpec"]["AISpec"]["AISpecStopTrigger"] = {
        {"AISpecStopTriggerType", "Tag_Observation"},
        {"DurationTrigger", 0},
        {"TagObservationTrigger",
         {{"TriggerType", "Upon_Seeing_N_Tags_Or_Timeout"}, {"NumberOfTags", 2}, {"NumberOfAttempts", 0}, {"T", 0}, {"Timeout", 10000}}}};
    const auto lines = run_client(port_a, json::array({send("SET_READER_CONFIG", kReset), send("SET_READER_CONFIG", events),
                                                       send("ADD_ROSPEC", observe), send("ENABLE_ROSPEC", id_of(6)),
                                                       wait("READER_EVENT_NOTIFICATION", 4), send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    std::vector<std::string> kinds;
    for (const Line& e : of_type(lines, "READER_EVENT_NOTIFICATION")) {
        const json& data = e.body["ReaderEventNotificationData"];
        if (data.contains("ROSpecEvent")) kinds.push_back(data["ROSpecEvent"]["EventType"]);
        if (data.contains("AISpecEvent")) kinds.push_back(data["AISpecEvent"]["EventType"]);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"Start_Of_ROSpec", "End_Of_AISpec", "End_Of_ROSpec"})) << dump(lines);
    std::set<std::string> seen;
    for (const json& t : tags_reported(lines)) seen.insert(t["EPC_96"]["EPC"].get<std::string>());
    EXPECT_EQ(seen.size(), 2u) << dump(lines);
    EXPECT_EQ(of_type(lines, "GET_ROSPECS_RESPONSE").at(0).body["ROSpec"]["CurrentState"], "Inactive") << dump(lines);
}

json access(int id, json op) {
    return {{"AccessSpec",
             {{"AccessSpecID", id},
              {"AntennaID", 0},
              {"ProtocolID", "EPCGlobalClass1Gen2"},
              {"CurrentState", false},
              {"ROSpecID", 0},
              {"AccessSpecStopTrigger", {{"AccessSpecStopTrigger", "Operation_Count"}, {"OperationCountValue", 1}}},
              {"AccessCommand",
               {{"C1G2TagSpec", {{"C1G2TargetTag", {{"MB", 1}, {"Match", true}, {"Pointer", 32}, {"TagMask", "FFFF"}, {"TagData", "E280"}}}}},
                op}}}}};
}

// (e) a write to user memory, then a read of it: the words come back as written, from the
// virtual reader's memory.
TEST_F(LlrpPeer, AccessSpecsWriteAndReadUserMemory) {
    const json write = access(7, {"C1G2Write", {{"OpSpecID", 1}, {"AccessPassword", 0}, {"MB", 3}, {"WordPointer", 2}, {"WriteData", {0x1234, 0xBEEF}}}});
    const json read = access(8, {"C1G2Read", {{"OpSpecID", 2}, {"AccessPassword", 0}, {"MB", 3}, {"WordPointer", 0}, {"WordCount", 4}}});
    const auto lines = run_client(port_a, json::array({send("SET_READER_CONFIG", kReset), send("ADD_ACCESSSPEC", write),
                                                       send("ENABLE_ACCESSSPEC", {{"AccessSpecID", 7}}), send("ADD_ROSPEC", rospec(4, "Immediate", 1)),
                                                       send("ENABLE_ROSPEC", id_of(4)), {{"wait", "RO_ACCESS_REPORT"}, {"count", 4}},
                                                       send("ADD_ACCESSSPEC", read), send("ENABLE_ACCESSSPEC", {{"AccessSpecID", 8}}),
                                                       {{"wait", "RO_ACCESS_REPORT"}, {"count", 8}, {"more", true}},
                                                       send("DISABLE_ROSPEC", id_of(4)), send("CLOSE_CONNECTION")}));
    json written, read_back;
    for (const json& t : tags_reported(lines)) {
        if (t.contains("C1G2WriteOpSpecResult")) written = t["C1G2WriteOpSpecResult"];
        if (t.contains("C1G2ReadOpSpecResult")) read_back = t["C1G2ReadOpSpecResult"];
    }
    ASSERT_TRUE(written.is_object()) << dump(lines);
    EXPECT_EQ(written["Result"], "Success");
    EXPECT_EQ(written["NumWordsWritten"], 2);
    ASSERT_TRUE(read_back.is_object()) << dump(lines);
    EXPECT_EQ(read_back["Result"], "Success");
    EXPECT_EQ(read_back["ReadData"], "000000001234BEEF");  // llrpjs writes u16v words as hex
}

// Everything uhfd sends in a session that asks for every part of the reader's description and
// configuration, every event, every report field and a tag read, as Debian's LLRP dissector
// reads it: nothing malformed, no warning.
TEST_F(LlrpPeer, TsharkFindsNothingMalformedInWhatUhfdSends) {
    if (const std::string why = llrp_test::Capture::skip_reason(); !why.empty()) GTEST_SKIP() << why;
    llrp_test::Capture capture({port_a});
    ASSERT_TRUE(capture.start()) << "dumpcap did not start capturing: " << capture.log();
    json every_event = json::array();
    for (const char* type : {"Upon_Hopping_To_Next_Channel", "GPI_Event", "ROSpec_Event", "Report_Buffer_Fill_Warning",
                             "Reader_Exception_Event", "RFSurvey_Event", "AISpec_Event", "AISpec_Event_With_Details", "Antenna_Event"})
        every_event.push_back({{"EventType", type}, {"NotificationState", true}});
    json everything = rospec(9, "Immediate", 1);
    for (auto& [key, value] : everything["ROSpec"]["ROReportSpec"]["TagReportContentSelector"].items()) value = true;
    const json read = access(10, {"C1G2Read", {{"OpSpecID", 3}, {"AccessPassword", 0}, {"MB", 3}, {"WordPointer", 0}, {"WordCount", 2}}});
    const json all = {{"AntennaID", 0}, {"RequestedData", "All"}, {"GPIPortNum", 0}, {"GPOPortNum", 0}};
    const auto lines = run_client(
        port_a, json::array({send("GET_READER_CAPABILITIES", {{"RequestedData", "All"}}), send("GET_READER_CONFIG", all),
                             send("SET_READER_CONFIG", kReset),
                             send("SET_READER_CONFIG", {{"ReaderEventNotificationSpec", {{"EventNotificationState", every_event}}}}),
                             send("ADD_ACCESSSPEC", read), send("ENABLE_ACCESSSPEC", {{"AccessSpecID", 10}}), send("ADD_ROSPEC", everything),
                             send("ENABLE_ROSPEC", id_of(9)), wait("RO_ACCESS_REPORT", 4), send("GET_ROSPECS"), send("GET_ACCESSSPECS"),
                             send("DISABLE_ROSPEC", id_of(9)), send("DELETE_ROSPEC", id_of(0)),
                             send("DELETE_ACCESSSPEC", {{"AccessSpecID", 0}}), send("CLOSE_CONNECTION")}));
    // Every line but the last ("end") is a message uhfd sent.
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().type, "end") << dump(lines);
    const std::size_t sent = lines.size() - 1;
    EXPECT_TRUE(capture.wait_for_messages_from(port_a, sent)) << ::testing::PrintToString(capture.frames_from(port_a));
    capture.stop();
    EXPECT_EQ(capture.messages_from(port_a), sent) << ::testing::PrintToString(capture.frames_from(port_a)) << dump(lines);
    EXPECT_EQ(capture.faults_from(port_a), "") << capture.file();
}

// The types of the messages that came on `line` until the reader closed it (line.closed()) or
// nothing whole came for `quiet`.
std::vector<int> types_until_quiet(llrp_test::RawClient& line, std::chrono::milliseconds quiet) {
    std::vector<int> types;
    while (const auto bytes = line.receive_bytes(quiet)) types.push_back(uhf::llrp::read_header(*bytes).type);
    return types;
}

bool send_raw(llrp_test::RawClient& line, const std::string& bytes) {
    return line.send(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// An LLRP message's bytes: version 1 unless told, the length the header claims, the body.
std::string llrp_bytes(int type, const std::string& body = "", int version = 1, std::uint32_t claimed = 0) {
    const std::uint32_t length = claimed ? claimed : static_cast<std::uint32_t>(10 + body.size());
    std::string m;
    m += static_cast<char>((version << 2) | ((type >> 8) & 3));
    m += static_cast<char>(type & 0xFF);
    for (int shift = 24; shift >= 0; shift -= 8) m += static_cast<char>((length >> shift) & 0xFF);
    m += std::string("\0\0\0\x07", 4);
    return m + body;
}

long rss_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Bad input on reader a's face: each case gets ERROR_MESSAGE or a response, or is closed; uhfd's
// memory stays bounded through 10 000 requests never read; the face takes a good client after,
// and reader b's face and both readers' MQTT output never notice.
TEST_F(LlrpPeer, BadInputOnOneFaceLeavesItsReaderTheOtherAndMqttAlone) {
    constexpr int kErrorMessage = 100, kGetRospecs = 26, kGetRospecsResponse = 36;
    struct Case {
        const char* name;
        std::string bytes;
        bool must_close;
    };
    const std::string unknown_parameter = std::string("\x03\xE8\x00\x05\x00", 5);  // TLV type 1000
    const std::vector<Case> cases = {
        {"an unknown message type", llrp_bytes(999), false},
        {"version 2", llrp_bytes(kGetRospecs, "", 2), false},
        {"an unknown parameter", llrp_bytes(kGetRospecs, unknown_parameter), false},
        {"a length under the header", llrp_bytes(kGetRospecs, "", 1, 4), true},
        {"a 16 MiB length", llrp_bytes(kGetRospecs, "", 1, 16u << 20), true},
        {"a parameter past the message", llrp_bytes(kGetRospecs, std::string("\x00\xB1\x00\x40", 4)), false},
    };
    const pid_t pid = uhfd->process().pid();
    const long rss_before = rss_kib(pid);
    for (const Case& c : cases) {
        llrp_test::RawClient line(static_cast<std::uint16_t>(port_a));
        ASSERT_TRUE(line.connected()) << c.name;
        ASSERT_TRUE(send_raw(line, c.bytes)) << c.name;
        const std::vector<int> got = types_until_quiet(line, 1500ms);
        ASSERT_FALSE(got.empty()) << c.name << ": not even the connection event";
        const bool answered = std::any_of(got.begin() + 1, got.end(), [](int t) { return t == kErrorMessage || t == kGetRospecsResponse; });
        EXPECT_TRUE(answered || line.closed()) << c.name << ": neither an answer nor a close";
        if (c.must_close) {
            EXPECT_TRUE(line.closed()) << c.name;
        }
    }
    {
        // 10 000 requests from a client with a small window that reads no reply until it has sent
        // them all: each is answered (the answers wait in the kernel's buffers, not in uhfd's
        // memory), or the face drops the client at its bound.
        llrp_test::RawClient flood(static_cast<std::uint16_t>(port_a), 4096);
        std::string many;
        for (int i = 0; i < 10000; ++i) many += llrp_bytes(kGetRospecs);
        send_raw(flood, many);  // may fail part way: the face has dropped us
        const std::vector<int> got = types_until_quiet(flood, 2s);
        EXPECT_TRUE(std::count(got.begin(), got.end(), kGetRospecsResponse) == 10000 || flood.closed())
            << std::count(got.begin(), got.end(), kGetRospecsResponse) << " answers and still connected";
    }
    EXPECT_LT(rss_kib(pid) - rss_before, 32 * 1024) << "uhfd's memory grew by " << rss_kib(pid) - rss_before << " KiB";
    ASSERT_TRUE(uhfd->process().running()) << uhfd->log();
    // The face takes a good client again, reader b's face never noticed, and both readers' events
    // go on reaching MQTT.
    const auto a = run_client(port_a, json::array({send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    EXPECT_EQ(statuses(a), (std::vector<std::string>{"GET_ROSPECS_RESPONSE M_Success", "CLOSE_CONNECTION_RESPONSE M_Success"})) << dump(a);
    const auto b = run_client(port_b, json::array({send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    EXPECT_EQ(statuses(b), (std::vector<std::string>{"GET_ROSPECS_RESPONSE M_Success", "CLOSE_CONNECTION_RESPONSE M_Success"})) << dump(b);
    ASSERT_EQ(field(dir.file("a.ctl"), "add epc 300833B2DDD9014000000077 rssi=-50 ant=1"), "ok 300833B2DDD9014000000077");
    ASSERT_EQ(field(dir.file("b.ctl"), "add epc 300833B2DDD9014000000088 rssi=-50 ant=1"), "ok 300833B2DDD9014000000088");
    auto arrived = [&](const std::string& topic, const std::string& id) {
        for (const json& e : events(*subscriber, topic))
            if (e.value("type", "") == "arrived" && e.dump().find(id) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(eventually([&] { return arrived("uhf/gw/a/events", "300833B2DDD9014000000077"); }, 10s));
    EXPECT_TRUE(eventually([&] { return arrived("uhf/gw/b/events", "300833B2DDD9014000000088"); }, 10s));
}

// (f) keepalives at the period asked; (g) a client that vanishes frees the face for the next,
// which finds the ROSpec still there; reader b's face all along untouched.
TEST_F(LlrpPeer, KeepalivesThenAVanishedClientAndTheNextOne) {
    const json keepalive = {{"KeepaliveSpec", {{"KeepaliveTriggerType", "Periodic"}, {"PeriodicTriggerValue", 200}}}};
    auto lines = run_client(port_a, json::array({send("SET_READER_CONFIG", kReset), send("SET_READER_CONFIG", keepalive),
                                                 send("ADD_ROSPEC", rospec(5, "Null", 1)), wait("KEEPALIVE", 3), {{"drop", true}}}));
    EXPECT_EQ(of_type(lines, "KEEPALIVE").size(), 3u) << dump(lines);
    lines = run_client(port_a, json::array({send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    ASSERT_EQ(of_type(lines, "READER_EVENT_NOTIFICATION").size(), 1u) << dump(lines);
    EXPECT_EQ(of_type(lines, "READER_EVENT_NOTIFICATION")[0].body["ReaderEventNotificationData"]["ConnectionAttemptEvent"]["Status"], "Success");
    EXPECT_EQ(of_type(lines, "GET_ROSPECS_RESPONSE").at(0).body["ROSpec"]["ROSpecID"], 5) << dump(lines);
    lines = run_client(port_b, json::array({send("GET_ROSPECS"), send("CLOSE_CONNECTION")}));
    EXPECT_FALSE(of_type(lines, "GET_ROSPECS_RESPONSE").at(0).body.contains("ROSpec")) << dump(lines);
}

}  // namespace
