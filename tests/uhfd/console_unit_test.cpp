// The console's checks that need no server: its [http] table, the bearer token, a settings
// change's body, and Prometheus label escaping.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "config.hpp"
#include "harness.hpp"
#include "http/auth.hpp"
#include "http/metrics.hpp"
#include "http/settings.hpp"

namespace {

using uhfd::http::Auth;

std::string with_http(const std::string& table) {
    return "[gateway]\nid = \"gw\"\n[http]\n" + table + "[[readers]]\nname = \"r1\"\ndevice = \"/dev/pts/9\"\n";
}

TEST(ConsoleConfig, AbsentTableLeavesTheConsoleOffAndAnEmptyOneListensOnLoopback8080) {
    EXPECT_FALSE(uhfd::parse_config("[gateway]\nid = \"gw\"\n", "t.toml").http.enabled);
    const uhfd::HttpConfig h = uhfd::parse_config(with_http(""), "t.toml").http;
    EXPECT_TRUE(h.enabled);
    EXPECT_EQ(h.host, "127.0.0.1");
    EXPECT_EQ(h.port, 8080);
    EXPECT_TRUE(h.token.empty());
    EXPECT_EQ(h.max_streams, 16);
}

TEST(ConsoleConfig, AllowedHostsAreKeptInLowerCaseWithoutTheTrailingDot) {
    const uhfd::HttpConfig h = uhfd::parse_config(with_http("allowed_hosts = [\"Gateway.Example.NET.\", \"dock-7\"]\n"), "t.toml").http;
    EXPECT_EQ(h.allowed_hosts, (std::vector<std::string>{"gateway.example.net", "dock-7"}));
}

TEST(ConsoleConfig, TokenFileIsReadAndItsLineEndTrimmed) {
    gwtest::ScratchDir dir;
    const std::string path = dir.write("token", "abcdefghijklmnop0123\n");
    const uhfd::HttpConfig h =
        uhfd::parse_config(with_http("listen = \"localhost:0\"\ntoken_file = \"" + path + "\"\n"), "t.toml").http;
    EXPECT_EQ(h.token, "abcdefghijklmnop0123");
    EXPECT_EQ(h.host, "127.0.0.1");
    EXPECT_EQ(h.port, 0);
}

struct BadHttp {
    const char* name;
    std::string table;
    const char* problem;  // expected in the one problem reported
};

class BadHttpTable : public ::testing::TestWithParam<BadHttp> {};

TEST_P(BadHttpTable, IsRefusedNamingTheKey) {
    try {
        uhfd::parse_config(with_http(GetParam().table), "t.toml");
        FAIL() << "accepted";
    } catch (const uhfd::ConfigError& e) {
        ASSERT_EQ(e.problems().size(), 1u) << e.what();
        EXPECT_NE(e.problems()[0].find(GetParam().problem), std::string::npos) << e.problems()[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Console, BadHttpTable,
    ::testing::Values(BadHttp{"NoPort", "listen = \"127.0.0.1\"\n", "http.listen: must be IPV4:PORT"},
                      BadHttp{"HostName", "listen = \"example.org:80\"\n", "http.listen"},
                      BadHttp{"PortTooHigh", "listen = \"127.0.0.1:65536\"\n", "http.listen"},
                      BadHttp{"ShortToken", "token = \"short\"\n", "http.token: the token must be 16"},
                      BadHttp{"TokenWithSpace", "token = \"abcdefgh ijklmnopq\"\n", "http.token"},
                      BadHttp{"TokenWithQuote", "token = \"abcdefgh\\\"ijklmnopq\"\n", "http.token"},
                      BadHttp{"BothTokens", "token = \"abcdefghijklmnopq\"\ntoken_file = \"/dev/null\"\n", "not both"},
                      BadHttp{"MissingTokenFile", "token_file = \"/nonexistent/token\"\n", "http.token_file: cannot read"},
                      BadHttp{"NoStreams", "max_streams = 0\n", "http.max_streams"},
                      BadHttp{"Misspelt", "listn = \"127.0.0.1:80\"\n", "http.listn: unknown key"},
                      BadHttp{"HostWithPort", "allowed_hosts = [\"gw.example:8080\"]\n", "http.allowed_hosts: each entry must be a host name"},
                      BadHttp{"HostWithNewline", "allowed_hosts = [\"gw.example\\nx\"]\n", "http.allowed_hosts"},
                      BadHttp{"HostEmpty", "allowed_hosts = [\"\"]\n", "http.allowed_hosts"},
                      BadHttp{"HostNotText", "allowed_hosts = [8080]\n", "http.allowed_hosts"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BearerCase {
    const char* name;
    std::string configured, header;
    Auth expected;
};

class Bearer : public ::testing::TestWithParam<BearerCase> {};

TEST_P(Bearer, DecidesAsExpected) {
    EXPECT_EQ(uhfd::http::check_bearer(GetParam().configured, GetParam().header), GetParam().expected);
}

const std::string kToken = "0123456789abcdef0123";
INSTANTIATE_TEST_SUITE_P(
    Console, Bearer,
    ::testing::Values(BearerCase{"Right", kToken, "Bearer " + kToken, Auth::ok},
                      BearerCase{"SchemeInAnyCase", kToken, "bearer " + kToken, Auth::ok},
                      BearerCase{"Missing", kToken, "", Auth::missing},
                      BearerCase{"OtherScheme", kToken, "Basic " + kToken, Auth::missing},
                      BearerCase{"Wrong", kToken, "Bearer 0123456789abcdef0124", Auth::wrong},
                      BearerCase{"Prefix", kToken, "Bearer 0123456789abcdef012", Auth::wrong},
                      BearerCase{"Longer", kToken, "Bearer " + kToken + "4", Auth::wrong},
                      BearerCase{"NoTokenConfigured", "", "Bearer " + kToken, Auth::disabled}),
    [](const auto& info) { return std::string(info.param.name); });

struct ChangeCase {
    const char* name;
    std::string body;
    const char* refusal;  // "" when accepted
};

class SettingsBody : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SettingsBody, IsCheckedBeforeAnythingIsSent) {
    uhfd::http::SettingsChange c;
    const std::string why = uhfd::http::parse_settings_change(GetParam().body, c);
    if (std::string(GetParam().refusal).empty()) EXPECT_EQ(why, "");
    else EXPECT_NE(why.find(GetParam().refusal), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Console, SettingsBody,
    ::testing::Values(ChangeCase{"All", R"({"rf_power":20,"active_antenna":3,"work_parameters":"1a010A01000400"})", ""},
                      ChangeCase{"Malformed", R"({"rf_power":)", "malformed JSON"},
                      ChangeCase{"NotAnObject", R"([20])", "must be a JSON object"},
                      ChangeCase{"Empty", R"({})", "nothing to change"},
                      ChangeCase{"PowerNotInteger", R"({"rf_power":"20"})", "rf_power must be an integer"},
                      ChangeCase{"PowerTooHigh", R"({"rf_power":256})", "rf_power must be an integer 0..255"},
                      ChangeCase{"AntennaOutOfCatalogueRange", R"({"active_antenna":300})", "active_antenna must be an integer"},
                      ChangeCase{"WorkTooShort", R"({"work_parameters":"1A01"})", "work_parameters: args[0]"},
                      ChangeCase{"WorkNotHex", R"({"work_parameters":"1A010A0100040G"})", "work_parameters: args[0]"},
                      ChangeCase{"Unknown", R"({"power":20})", "unknown setting 'power'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConsoleSettings, AChangeNamesTheCommandsItSends) {
    uhfd::http::SettingsChange c;
    ASSERT_EQ(uhfd::http::parse_settings_change(R"({"rf_power":20})", c), "");
    EXPECT_EQ(c.commands(), (std::set<std::string>{"Set_Work_Param"}));
    uhfd::http::SettingsChange a;
    ASSERT_EQ(uhfd::http::parse_settings_change(R"({"active_antenna":1})", a), "");
    EXPECT_EQ(a.commands(), (std::set<std::string>{"Set_Active_ANT"}));
}

TEST(ConsoleMetrics, LabelValuesEscapeBackslashQuoteAndNewline) {
    EXPECT_EQ(uhfd::http::label_value("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
}

}  // namespace
