// Commands over MQTT, sent by mosquitto_rr (MQTT 5 request/response) and mosquitto_pub (3.1.1).
#include <gtest/gtest.h>

#include <map>

#include "gateway_harness.hpp"

namespace {

using namespace gwtest;
using nlohmann::json;

class Commands : public ::testing::Test {
protected:
    ScratchDir dir;
    Broker broker{dir};
    Sim sim{dir, "a", 2};
    std::unique_ptr<Subscriber> sub;
    std::unique_ptr<Uhfd> gw;

    void SetUp() override {
        GatewayConfig cfg;
        cfg.broker_port = broker.port();
        cfg.queue_dir = dir.file("queue");
        cfg.readers = {{"a", sim.device(), 100}};
        sub = std::make_unique<Subscriber>(dir, broker.port(), std::vector<std::string>{"uhf/gw/a/reply", "uhf/gw/a/status"});
        gw = std::make_unique<Uhfd>(dir, cfg.text());
        ASSERT_TRUE(eventually([&] { return latest(*sub, "uhf/gw/a/status").value("state", "") == "online"; }, 10s)) << gw->log();
    }

    // MQTT 5: the reply comes back on the request's own response topic.
    json request_v5(const std::string& payload) {
        Process rr({"mosquitto_rr", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "mqttv5", "-t",
                    "uhf/gw/a/cmd", "-e", "test/replies", "-m", payload, "-W", "10"},
                   dir.file("rr.out"), dir.file("rr.err"));
        EXPECT_EQ(rr.wait(15s), 0) << rr.err();
        return json::parse(rr.out(), nullptr, false);
    }

    // MQTT 3.1.1: no response topic, so the reply goes to .../reply (requests go one at a time).
    json request_v311(const std::string& payload) {
        const std::size_t before = sub->on("uhf/gw/a/reply").size();
        Process pub({"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "mqttv311", "-q", "1",
                     "-t", "uhf/gw/a/cmd", "-m", payload},
                    dir.file("pub.out"), dir.file("pub.err"));
        EXPECT_EQ(pub.wait(10s), 0);
        if (!eventually([&] { return sub->on("uhf/gw/a/reply").size() > before; }, 10s)) return json();
        return sub->on("uhf/gw/a/reply").back().body;
    }
};

TEST_F(Commands, AnAllowedCommandRunsAndAnswersOnTheResponseTopic) {
    const json r = request_v5(R"({"command":"GetDeviceInfo","id":"info-1"})");
    EXPECT_EQ(r["id"], "info-1");
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["outcome"], "ok");
    EXPECT_EQ(r["reply"].get<std::string>().substr(0, 8), "5553494D");  // the virtual reader's "USIM"
    EXPECT_EQ(r["reply"].get<std::string>().size(), 44u);
}

TEST_F(Commands, AReaderRefusalComesBackAsItsStatusByte) {
    const json r = request_v311(R"({"command":"EPC_Read_TAG","args":["03400400"],"id":5})");  // past the user bank
    EXPECT_EQ(r["id"], 5);
    EXPECT_EQ(r["ok"], false);
    EXPECT_EQ(r["outcome"], "status");
    EXPECT_EQ(r["status"], 3);
}

struct BadRequest {
    const char* name;
    std::string payload;
    const char* error;
};

class BadRequests : public Commands, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(BadRequests, GetAnErrorReplyAndNothingReachesTheReader) {
    const long before = counter(*sub, "uhf/gw/a/status", "commands");
    const json reply = request_v311(GetParam().payload);
    ASSERT_TRUE(reply.is_object()) << gw->log();
    EXPECT_EQ(reply["ok"], false);
    EXPECT_EQ(reply["outcome"], "refused");
    EXPECT_NE(reply["error"].get<std::string>().find(GetParam().error), std::string::npos) << reply;
    const long rounds = counter(*sub, "uhf/gw/a/status", "rounds");
    ASSERT_TRUE(eventually([&] { return counter(*sub, "uhf/gw/a/status", "rounds") > rounds; }, 10s));  // a fresh status
    EXPECT_EQ(counter(*sub, "uhf/gw/a/status", "commands"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadRequests,
    ::testing::Values(
        BadRequest{"MalformedJson", R"({"command": "GetDeviceInfo", "id": 9)", "malformed JSON"},
        BadRequest{"UnknownCommand", R"({"command":"Self_Destruct","id":9})", "unknown command"},
        BadRequest{"RefusedCommand", R"({"command":"EPC_Kill_TAG","args":["01020304"],"id":9})", "not allowed"},
        BadRequest{"OversizeArguments", R"({"command":"EPC_Read_TAG","args":[")" + std::string(520, '0') + R"("],"id":9})",
                   "at most 255"}),
    [](const auto& info) { return std::string(info.param.name); });

// 1000 commands from 8 clients at once, over MQTT, while the reader makes rounds every 100 ms:
// every one is answered or refused busy, and the rounds keep their rate (before, each command
// started a round of its own).
TEST_F(Commands, AThousandCommandsFromEightClientsKeepThePace) {
    // A rate between two fresh statuses, timed as they are seen.
    struct Sample {
        long rounds;
        std::chrono::steady_clock::time_point at;
    };
    const auto fresh_status = [&] {
        const long before = counter(*sub, "uhf/gw/a/status", "rounds");
        Sample s{before, {}};
        eventually([&] { return (s.rounds = counter(*sub, "uhf/gw/a/status", "rounds")) != before; }, 10s);
        s.at = std::chrono::steady_clock::now();
        return s;
    };
    const Sample start = fresh_status();
    std::vector<std::unique_ptr<Process>> clients;
    for (int c = 0; c < 8; ++c) {
        std::string lines;
        for (int i = 0; i < 125; ++i) lines += R"({"command":"GetDeviceInfo","id":")" + std::to_string(c) + "-" + std::to_string(i) + "\"}\n";
        const std::string file = dir.write("client" + std::to_string(c) + ".txt", lines);
        clients.push_back(std::make_unique<Process>(
            // Each client sends a request every 40 ms or so, so the load spans some 5 s of rounds.
            std::vector<std::string>{"sh", "-c", "while read -r l; do echo \"$l\"; sleep 0.04; done < " + file +
                                                     " | mosquitto_pub -h 127.0.0.1 -p " + std::to_string(broker.port()) + " -q 1 -t uhf/gw/a/cmd -l"},
            dir.file("client" + std::to_string(c) + ".out"), dir.file("client" + std::to_string(c) + ".err")));
    }
    std::map<std::string, json> replies;
    const auto collect = [&] {
        for (const auto& m : sub->on("uhf/gw/a/reply"))
            if (m.body.is_object() && m.body["id"].is_string()) replies[m.body["id"].get<std::string>()] = m.body;
        return replies.size() == 1000;
    };
    ASSERT_TRUE(eventually(collect, 120s)) << replies.size() << " replies\n" << gw->log();
    const Sample end = fresh_status();
    std::size_t ok = 0, busy = 0;
    for (const auto& [id, r] : replies) {
        if (r["ok"] == true) ++ok;
        else if (r["outcome"] == "busy") ++busy;
        else ADD_FAILURE() << r;
    }
    EXPECT_EQ(ok + busy, 1000u);
    EXPECT_GT(ok, 0u);
    const double seconds = std::chrono::duration<double>(end.at - start.at).count();
    const double rate = static_cast<double>(end.rounds - start.rounds) / seconds;
    std::printf("%zu answered, %zu busy; %.2f rounds/s over %.1f s (10 expected)\n", ok, busy, rate, seconds);
    EXPECT_GT(rate, 10 * 0.7);
    EXPECT_LT(rate, 10 * 1.3);
}

}  // namespace
