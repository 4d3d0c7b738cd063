// A broker behind TLS (a CA made by the test) and a password file, and a gateway with the wrong
// password.
#include <gtest/gtest.h>

#include "gateway_harness.hpp"

namespace {

using namespace gwtest;

// A CA, a server certificate for 127.0.0.1 signed by it, and a password file with uhfd:secret.
void make_credentials(const ScratchDir& d) {
    const std::string script =
        "set -e; cd '" + d.path().string() + "'\n"
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.crt "
        "-days 2 -subj /CN=uhfd-test-ca 2>/dev/null\n"
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out server.csr "
        "-subj /CN=127.0.0.1 2>/dev/null\n"
        "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext\n"
        "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 "
        "-extfile san.ext 2>/dev/null\n"
        "mosquitto_passwd -b -c passwd uhfd secret\n"
        "chmod 0644 server.key passwd\n";
    Process p({"sh", "-c", script}, d.file("cred.out"), d.file("cred.err"));
    ASSERT_EQ(p.wait(30s), 0) << p.err();
}

class Auth : public ::testing::Test {
protected:
    ScratchDir dir;
    Sim sim{dir, "a", 2};
    GatewayConfig cfg;
    void SetUp() override {
        make_credentials(dir);
        cfg.queue_dir = dir.file("queue");
        cfg.readers = {{"a", sim.device(), 50, 600, 200}};  // reports keep events coming
    }
    BrokerOptions tls() const {
        return {dir.file("passwd"), dir.file("ca.crt"), dir.file("server.crt"), dir.file("server.key"), ""};
    }
    std::vector<std::string> client_login() const { return {"--cafile", dir.file("ca.crt"), "-u", "uhfd", "-P", "secret"}; }
};

TEST_F(Auth, TlsWithAPasswordConnects) {
    Broker broker(dir, tls());
    cfg.broker_port = broker.port();
    cfg.broker_extra = "username = \"uhfd\"\npassword = \"secret\"\nca_file = \"" + dir.file("ca.crt") + "\"\n";
    std::string text = cfg.text();
    text.replace(text.find("mqtt://"), 7, "mqtts://");
    Subscriber sub(dir, broker.port(), {"uhf/#"}, "", client_login());
    Uhfd gw(dir, text);
    EXPECT_TRUE(eventually([&] { return latest(sub, "uhf/gw/a/status").value("state", "") == "online"; }, 10s))
        << gw.log() << slurp(dir.file("broker.err")) << text;
    EXPECT_TRUE(eventually([&] { return !events(sub, "uhf/gw/a/events").empty(); }, 5s));
}

TEST_F(Auth, AWrongPasswordIsSaidClearlyAndRetriedWithoutACrash) {
    BrokerOptions opt;
    opt.password_file = dir.file("passwd");
    Broker broker(dir, opt);
    cfg.broker_port = broker.port();
    cfg.broker_extra = "username = \"uhfd\"\npassword = \"wrong\"\n";
    std::string text = cfg.text();
    text.replace(text.find("[broker]"), 8, "log_level = \"debug\"\n[broker]");
    Uhfd gw(dir, text);
    ASSERT_TRUE(eventually([&] { return gw.log().find("connection refused") != std::string::npos; }, 10s)) << gw.log();
    const std::string log = gw.log();
    EXPECT_NE(log.find("warning: broker mqtt://127.0.0.1:" + std::to_string(broker.port()) + ": connection refused: "),
              std::string::npos) << log;
    EXPECT_NE(log.find("Not authorized"), std::string::npos) << log;
    EXPECT_NE(log.find("broker.username and broker.password"), std::string::npos) << log;
    // Retried, said once at warning level, and still running.
    EXPECT_TRUE(eventually([&] {
        const std::string l = gw.log();
        std::size_t n = 0;
        for (auto at = l.find("connection refused"); at != std::string::npos; at = l.find("connection refused", at + 1)) ++n;
        return n >= 3;
    }, 5s)) << gw.log();
    EXPECT_EQ(gw.log().find("warning: broker", gw.log().find("warning: broker") + 1), std::string::npos);
    EXPECT_TRUE(gw.process().running());
}

}  // namespace
