// Configuration files: what loads, and each malformed row named by its line and key.
#include <gtest/gtest.h>

#include <string>

#include "config.hpp"
#include "harness.hpp"

namespace {

constexpr const char* kMinimal = R"([gateway]
id = "gw"
[[readers]]
name = "r1"
device = "/dev/pts/9"
)";

TEST(Config, MinimalFileTakesTheDefaults) {
    const uhfd::Config c = uhfd::parse_config(kMinimal, "t.toml");
    EXPECT_EQ(c.gateway_id, "gw");
    EXPECT_EQ(c.broker.client_id, "uhfd-gw");
    EXPECT_EQ(c.broker.port, 1883);
    ASSERT_EQ(c.readers.size(), 1u);
    EXPECT_EQ(c.readers[0].layout.name, "virtual");
    EXPECT_TRUE(c.commands.allowed("GetDeviceInfo"));
    EXPECT_FALSE(c.commands.allowed("EPC_Write_TAG"));
}

TEST(Config, CustomLayoutAndExtraCommandsAreTaken) {
    const uhfd::Config c = uhfd::parse_config(R"([gateway]
id = "gw"
[broker]
uri = "mqtts://[::1]"
ca_file = "/dev/null"
protocol = "3.1.1"
[commands]
reads = false
allow = ["EPC_Write_TAG"]
[layouts.fixed]
count = { offset = 0, size = 2 }
entries = 2
entry_size = 8
id = { offset = 0, size = 6 }
rssi = { offset = -2, size = 1, signed = true }
[[readers]]
name = "r1"
device = "tcp:127.0.0.1:4001"
families = ["gjb", "epc"]
layout = "fixed"
)", "t.toml");
    EXPECT_TRUE(c.broker.tls);
    EXPECT_EQ(c.broker.host, "::1");
    EXPECT_EQ(c.broker.port, 8883);
    EXPECT_EQ(c.broker.protocol, 4);
    EXPECT_EQ(c.commands.allowed_commands(), (std::set<std::string>{"EPC_Write_TAG"}));
    EXPECT_EQ(c.readers[0].layout.entry_size, 8);
    EXPECT_EQ(c.readers[0].layout.rssi.offset, -2);
    EXPECT_EQ(c.readers[0].families, (std::vector<inventory::Family>{inventory::Family::gjb, inventory::Family::epc}));
}

struct BadRow {
    const char* name;
    const char* text;
    const char* problem;  // the whole "file:line: key: ..." prefix expected
};

class BadConfig : public ::testing::TestWithParam<BadRow> {};

TEST_P(BadConfig, NamesTheLineAndKey) {
    try {
        uhfd::parse_config(GetParam().text, "t.toml");
        FAIL() << "accepted";
    } catch (const uhfd::ConfigError& e) {
        bool found = false;
        for (const auto& p : e.problems()) found = found || p.rfind(GetParam().problem, 0) == 0;
        EXPECT_TRUE(found) << "first problem: " << e.problems().front();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadConfig,
    ::testing::Values(
        BadRow{"Syntax", "[gateway]\nid = \"gw\"\nname = \n", "t.toml:3: syntax:"},
        BadRow{"NoGateway", "[[readers]]\nname = \"r\"\ndevice = \"x\"\n", "t.toml:1: gateway: missing"},
        BadRow{"IdWithSlash", "[gateway]\nid = \"a/b\"\n", "t.toml:2: gateway.id: must be 1 to 64"},
        BadRow{"UnknownKey", "[gateway]\nid = \"gw\"\nqueue_size = 5\n", "t.toml:3: gateway.queue_size: unknown key"},
        BadRow{"AddressOutOfRange", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\naddress = 256\n",
               "t.toml:6: readers[0].address: must be an integer 0..255"},
        BadRow{"AddressNotANumber", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\naddress = \"1\"\n",
               "t.toml:6: readers[0].address: must be an integer"},
        BadRow{"NoDevice", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\n", "t.toml:3: readers[0].device: missing"},
        BadRow{"UnknownFamily", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nfamilies = [\"iso\"]\n",
               "t.toml:6: readers[0].families: each must be"},
        BadRow{"DuplicateReader",
               "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\n[[readers]]\nname = \"r\"\ndevice = \"y\"\n",
               "t.toml:7: readers[1].name: 'r' names another reader"},
        BadRow{"UnknownLayout", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nlayout = \"mine\"\n",
               "t.toml:6: readers[0].layout: no layout 'mine'"},
        BadRow{"LayoutWithoutCount", "[gateway]\nid = \"gw\"\n[layouts.l]\nentries = 1\nentry_size = 4\nid = { offset = 0, size = 4 }\n",
               "t.toml:3: layouts.l: count is required"},
        BadRow{"LayoutFieldOutsideEntry",
               "[gateway]\nid = \"gw\"\n[layouts.l]\ncount = { offset = 0, size = 1 }\nentries = 1\nentry_size = 4\n"
               "id = { offset = 0, size = 4 }\nantenna = { offset = 4, size = 1 }\n",
               "t.toml:3: layouts.l: antenna lies outside"},
        BadRow{"LayoutFieldTooWide",
               "[gateway]\nid = \"gw\"\n[layouts.l]\ncount = { offset = 0, size = 8 }\nentries = 1\nentry_size = 4\nid = { offset = 0, size = 4 }\n",
               "t.toml:4: layouts.l.count.size: must be an integer 1..4"},
        BadRow{"BadUri", "[gateway]\nid = \"gw\"\n[broker]\nuri = \"http://x\"\n", "t.toml:4: broker.uri: must be mqtt://"},
        BadRow{"TlsWithoutCa", "[gateway]\nid = \"gw\"\n[broker]\nuri = \"mqtts://x\"\n", "t.toml:3: broker.ca_file: mqtts://"},
        BadRow{"UnreadableCa", "[gateway]\nid = \"gw\"\n[broker]\nuri = \"mqtts://x\"\nca_file = \"/nonexistent/ca\"\n",
               "t.toml:5: broker.ca_file: cannot read"},
        BadRow{"UnknownAllowedCommand", "[gateway]\nid = \"gw\"\n[commands]\nallow = [\"EPC_Rewrite\"]\n",
               "t.toml:4: commands.allow: no command 'EPC_Rewrite'"},
        BadRow{"NewlineInDevice", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"/dev/x\\ninfo: forged\"\n",
               "t.toml:5: readers[0].device: must not hold control characters"},
        BadRow{"EscapeInQueueDir", "[gateway]\nid = \"gw\"\nqueue_dir = \"/tmp/q\\u001b[2J\"\n",
               "t.toml:3: gateway.queue_dir: must not hold control characters"},
        BadRow{"TabInUsername", "[gateway]\nid = \"gw\"\n[broker]\nusername = \"a\\tb\"\n",
               "t.toml:4: broker.username: must not hold control characters"},
        BadRow{"BackoffUpsideDown", "[gateway]\nid = \"gw\"\nreconnect_min_ms = 5000\nreconnect_max_ms = 100\n",
               "t.toml:4: gateway.reconnect_max_ms: must not be below"},
        BadRow{"IncludeBadPattern", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\ninclude = [\"urn:epc:pat:sgtin-96:3.0614141.*.6789\"]\n",
               "t.toml:6: readers[0].include: 'urn:epc:pat:sgtin-96:3.0614141.*.6789' is not an EPC pattern"},
        BadRow{"IncludeUnknownScheme", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\ninclude = [\"urn:epc:pat:sgtin-99:3.*.*.*\"]\n",
               "t.toml:6: readers[0].include: 'urn:epc:pat:sgtin-99:3.*.*.*' is not an EPC pattern"},
        BadRow{"ExcludeNotHex", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nexclude = [\"E2X0\"]\n",
               "t.toml:6: readers[0].exclude: 'E2X0' is neither an EPC pattern"},
        BadRow{"ExcludeMaskTooShort", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nexclude = [\"E200/FF\"]\n",
               "t.toml:6: readers[0].exclude: 'E200/FF': the mask"},
        BadRow{"IncludeNotAString", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\ninclude = [42]\n",
               "t.toml:6: readers[0].include: must hold strings"},
        BadRow{"RssiFloorOutOfRange", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nrssi_min = -200\n",
               "t.toml:6: readers[0].rssi_min: must be an integer -128..127"},
        BadRow{"AntennaNegative", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nantennas = [1, -1]\n",
               "t.toml:6: readers[0].antennas: each must be an antenna number"},
        BadRow{"AntennaAsText", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nantennas = [\"1\"]\n",
               "t.toml:6: readers[0].antennas: each must be an antenna number"},
        BadRow{"AntennasEmpty", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nantennas = []\n",
               "t.toml:6: readers[0].antennas: must name at least one"},
        BadRow{"ZoneKeyNotAnAntenna", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzones = { \"door\" = \"in\" }\n",
               "t.toml:6: readers[0].zones: 'door' is not an antenna number"},
        BadRow{"ZoneAntennaTooLarge", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzones = { \"256\" = \"in\" }\n",
               "t.toml:6: readers[0].zones: '256' is not an antenna number"},
        BadRow{"ZoneNameEmpty", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzones = { \"1\" = \"\" }\n",
               "t.toml:6: readers[0].zones: antenna 1: a zone is"},
        BadRow{"ZoneNameNotAString", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzones = { \"1\" = 2 }\n",
               "t.toml:6: readers[0].zones: antenna 1: a zone is"},
        BadRow{"ZoneOnAnUnusedAntenna", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nantennas = [1]\nzones = { \"1\" = \"in\", \"2\" = \"out\" }\n",
               "t.toml:7: readers[0].zones: antenna 2 is not among"},
        BadRow{"ZonesNotATable", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzones = [\"in\"]\n",
               "t.toml:6: readers[0].zones: must be a table"},
        BadRow{"ZoneWindowZero", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzone_window_ms = 0\n",
               "t.toml:6: readers[0].zone_window_ms: must be an integer 1.."},
        BadRow{"ZoneMinRoundsZero", "[gateway]\nid = \"gw\"\n[[readers]]\nname = \"r\"\ndevice = \"x\"\nzone_min_rounds = 0\n",
               "t.toml:6: readers[0].zone_min_rounds: must be an integer 1.."}),
    [](const auto& info) { return std::string(info.param.name); });

// A reload restarts a reader exactly when its configuration differs in anything, layouts included.
TEST(Config, ReaderEqualitySeesEveryEdit) {
    const std::string base = R"([gateway]
id = "gw"
[layouts.l]
count = { offset = 0, size = 1 }
entries = 1
entry_size = 8
id = { offset = 0, size = 6 }
rssi = { offset = -2, size = 1, signed = true }
[[readers]]
name = "r"
device = "/dev/x"
layout = "l"
)";
    const auto reader = [](const std::string& text) { return uhfd::parse_config(text, "t.toml").readers.at(0); };
    const uhfd::ReaderConfig r = reader(base);
    EXPECT_EQ(r, reader(base));
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"entry_size = 8", "entry_size = 9"},
             {"size = 1, signed = true", "size = 1, signed = false"},
             {"device = \"/dev/x\"", "device = \"/dev/y\""},
             {"layout = \"l\"", "layout = \"l\"\nreply_timeout_ms = 900"},
             {"layout = \"l\"", "layout = \"l\"\nfamilies = [\"gb\"]"},
             {"layout = \"l\"", "layout = \"l\"\ninclude = [\"E2\"]"},
             {"layout = \"l\"", "layout = \"l\"\nexclude = [\"urn:epc:pat:sgtin-96:3.*.*.*\"]"},
             {"layout = \"l\"", "layout = \"l\"\nrssi_min = -70"},
             {"layout = \"l\"", "layout = \"l\"\nantennas = [1]"},
             {"layout = \"l\"", "layout = \"l\"\nzones = { \"1\" = \"in\" }"},
             {"layout = \"l\"", "layout = \"l\"\nzone_hold_ms = 900"}}) {
        std::string edited = base;
        edited.replace(edited.find(from), from.size(), to);
        EXPECT_FALSE(r == reader(edited)) << to;
    }
}

TEST(Log, ControlCharactersAreEscaped) {
    EXPECT_EQ(uhfd::log::escape_controls("dev\ninfo: forged\r\t\x1b[2J\x7f\xc3\xa9"), "dev\\ninfo: forged\\r\\t\\x1b[2J\\x7f\xc3\xa9");
}

TEST(Config, EveryProblemIsReportedNotJustTheFirst) {
    try {
        uhfd::parse_config("[gateway]\nid = \"gw\"\nbogus = 1\n[[readers]]\nname = \"r\"\ndevice = \"x\"\naddress = -1\n", "t.toml");
        FAIL() << "accepted";
    } catch (const uhfd::ConfigError& e) {
        EXPECT_EQ(e.problems().size(), 2u);
    }
}

}  // namespace
