// uhfctl run as a process against its in-process virtual reader: every command group, every
// exit status, help, JSON.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "process.hpp"
#include "uhfreader.h"

namespace {

using tooltest::parse_json_object;
using tooltest::run;

std::vector<std::string> ctl(std::vector<std::string> args) {
    args.insert(args.begin(), UHFCTL_PATH);
    return args;
}

struct ExitRow {
    const char* name;
    std::vector<std::string> args;
    int exit;
    std::string out_has;  // in stdout (or stderr for failures)
};

class ExitStatus : public ::testing::TestWithParam<ExitRow> {};

TEST_P(ExitStatus, MatchesTheOutcome) {
    const ExitRow& row = GetParam();
    const auto r = run(ctl(row.args));
    EXPECT_EQ(r.exit, row.exit) << r.out << r.err;
    const std::string& where = row.exit == 0 || row.exit == 1 ? r.out : r.err;
    EXPECT_NE(where.find(row.out_has), std::string::npos) << "stdout: " << r.out << "\nstderr: " << r.err;
}

// One row per command group, and every exit status with its cause.
INSTANTIATE_TEST_SUITE_P(
    Uhfctl, ExitStatus,
    ::testing::Values(
        ExitRow{"Link", {"--sim", "link"}, 0, "answers on /dev/pts/"},
        ExitRow{"Info", {"--sim", "info"}, 0, "temperature"},
        ExitRow{"AdminRead", {"--sim", "Get_Menjin_Param"}, 0, "fixed copy, 5 bytes"},
        ExitRow{"AdminWriteAccepted", {"--sim", "Set_Work_Param", "1E010A01000400"}, 0, "ok, status 0"},
        ExitRow{"AdminWriteRefused", {"--sim", "Set_Work_Param", "FF010A01000400"}, 1, "status 1 (0x01)"},
        ExitRow{"ExchangeResultStillShowsStatus", {"--sim", "Get_CH_Active", "07"}, 1, "the command's result is 0"},
        ExitRow{"AlarmWithinRange", {"--sim", "ALARM", "7", "0", "0", "0"}, 0, "ALARM: ok"},
        ExitRow{"EpcRead", {"--sim", "EPC_Read_TAG", "03000400"}, 0, "count 8, 8 data bytes"},
        ExitRow{"EpcKillWithoutPassword", {"--sim", "EPC_Kill_TAG", "00000000"}, 1, "block byte 0 now 05"},
        ExitRow{"GbSelfCounted", {"--sim", "GB_Read_Select_Para"}, 0, "self-counted copy, 1 bytes"},
        ExitRow{"GbTagList", {"--sim", "GB_Query_ON"}, 0, "ok"},
        ExitRow{"GjbFdLockInfo", {"--sim", "GJB_FD_Cust_Lock_Info"}, 0, "count 4"},
        ExitRow{"GbFdKeyNeedsAuth", {"--sim", "GB_FD_Get_Diver_Key", "1"}, 1, "fixed copy, 16 bytes"},
        ExitRow{"PsamBeforePowerOn", {"--sim", "PSAM_Command", "0400A40000"}, 1, "status 7"},
        ExitRow{"PsamPowerOn", {"--sim", "PSAM_POWER_ON", "0", "0"}, 0, "count 12"},
        ExitRow{"Fm151mId", {"--sim", "FM151M_Get_ID"}, 0, "count 8"},
        ExitRow{"Fm151mRandom", {"--sim", "FM151M_Get_RN", "0x20"}, 0, "count 32, 32 data bytes"},
        ExitRow{"RawUnknownCode", {"--sim", "raw", "0x24"}, 1, "status 14"},
        ExitRow{"RawHandshake", {"--sim", "raw", "0"}, 0, "ok, status 0"},
        ExitRow{"NamesAreCaseInsensitive", {"--sim", "epc_query_on"}, 0, "EPC_Query_ON: ok"},
        ExitRow{"Demo", {"demo"}, 0, "tag memory ok, random numbers ok"},
        ExitRow{"OptionsAfterTheCommand", {"EPC_Read_TAG", "03000400", "--sim", "--addr", "1"}, 0, "count 8"},
        ExitRow{"BadHexDigit", {"--sim", "EPC_Read_TAG", "03zz0400"}, 2, "not a hex block"},
        ExitRow{"OddHexDigits", {"--sim", "EPC_Read_TAG", "030"}, 2, "not a hex block"},
        ExitRow{"SeparatorInsideAByte", {"--sim", "EPC_Read_TAG", "0 3"}, 2, "not a hex block"},
        ExitRow{"RawTooLong", {"--sim", "raw", "1", std::string(512, 'A')}, 2, "at most 255"},
        ExitRow{"RawCodeOutOfRange", {"--sim", "raw", "256"}, 2, "not a command code"},
        ExitRow{"WrongArgumentCount", {"--sim", "EPC_Read_TAG"}, 2, "takes 1 argument"},
        ExitRow{"InventoryRawLayout", {"--sim", "inventory", "--rounds", "1", "--layout", "raw"}, 0, "tag list page"},
        // The tool and the library it runs on say one version, the header's.
        ExitRow{"Version", {"--version"}, 0,
                "uhfctl " + std::string(uhf_version()) + ", library " + std::string(uhf_version())},
        ExitRow{"NotAnInteger", {"--sim", "FM151M_Get_RN", "12abc"}, 2, "not an integer"},
        ExitRow{"UnknownCommand", {"--sim", "EPC_Fly"}, 2, "unknown command 'EPC_Fly'"},
        ExitRow{"SurplusArgument", {"--sim", "link", "now"}, 2, "link takes no arguments"},
        ExitRow{"UnknownOption", {"--frobnicate", "link"}, 2, "unknown option"},
        ExitRow{"AddressOutOfRange", {"--sim", "--addr", "300", "link"}, 2, "--addr"},
        ExitRow{"UnsupportedBaud", {"--sim", "--baud", "4800", "link"}, 2, "--baud"},
        ExitRow{"NoReaderNamed", {"link"}, 2, "no reader named"},
        ExitRow{"NoCommand", {"--sim"}, 2, "no command"},
        ExitRow{"InventoryBadFamily", {"--sim", "inventory", "--family", "iso"}, 2, "--family"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UhfctlHelp, EveryCommandHasHelp) {
    const auto list = run(ctl({"commands"}));
    ASSERT_EQ(list.exit, 0);
    std::vector<std::string> names = {"link", "info", "scan", "inventory", "raw", "demo", "commands"};
    for (const std::string& line : tooltest::lines(list.out))
        if (line.size() > 2 && line[0] == ' ') names.push_back(line.substr(2, line.find(' ', 2) - 2));
    EXPECT_GT(names.size(), 100u);
    for (const std::string& n : names) {
        const auto h = run(ctl({"help", n}));
        EXPECT_EQ(h.exit, 0) << n;
        EXPECT_EQ(h.out.rfind("usage: uhfctl", 0), 0u) << n << ": " << h.out;
    }
    const auto top = run(ctl({"--help"}));
    EXPECT_EQ(top.exit, 0);
    EXPECT_NE(top.out.find("Exit status"), std::string::npos);
}

TEST(UhfctlJson, EveryResultIsOneObjectWithTheCopySplitByItsCount) {
    const auto r = run(ctl({"--sim", "--json", "FM151M_Get_RN", "16"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto lines = tooltest::lines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    const auto j = parse_json_object(lines[0]);
    ASSERT_TRUE(j) << lines[0];
    EXPECT_EQ(j->at("command"), "FM151M_Get_RN");
    EXPECT_EQ(j->at("ok"), "true");
    EXPECT_EQ(j->at("status"), "0");
    EXPECT_EQ(j->at("decoded"), "count 16");
    EXPECT_EQ(j->at("copy").substr(0, 4), "0010");
    EXPECT_EQ(j->at("copy").size(), 2u * 18);
    EXPECT_EQ(j->at("data").size(), 2u * 16);
    EXPECT_EQ(j->at("copy").substr(4), j->at("data"));
}

TEST(UhfctlJson, FailuresCarryTheCodeAndItsWords) {
    const auto r = run(ctl({"--device", "/nonexistent/tty", "--json", "link"}));
    EXPECT_EQ(r.exit, 3);
    const auto j = parse_json_object(tooltest::lines(r.out).at(0));
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ(j->at("ok"), "false");
    EXPECT_EQ(j->at("code"), "-2");
    EXPECT_NE(j->at("error").find("no such device"), std::string::npos);
}

TEST(UhfctlJson, InventoryListsEveryTagOfThePopulation) {
    const auto r = run(ctl({"--sim", "--sim-tags", "9", "--json", "inventory", "--rounds", "2"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = parse_json_object(tooltest::lines(r.out).back());
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ(j->at("rounds"), "2");
    EXPECT_EQ(j->at("unparsed_lists"), "0");
    std::size_t ids = 0;
    for (std::size_t at = 0; (at = j->at("tags").find("\"id\"", at)) != std::string::npos; ++at) ++ids;
    EXPECT_EQ(ids, 9u);
}

TEST(UhfctlJson, DemoSummaryIsTheOnlyStdout) {
    const auto r = run(ctl({"--json", "demo"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto objects = tooltest::lines(r.out);
    ASSERT_EQ(objects.size(), 1u) << r.out;
    const auto j = parse_json_object(objects[0]);
    ASSERT_TRUE(j) << objects[0];
    EXPECT_EQ(j->at("ok"), "true");
    EXPECT_EQ(j->at("tag_memory"), "ok");
    EXPECT_NE(r.err.find("== inventory"), std::string::npos) << "the narrative moves to stderr";
}

TEST(UhfctlJson, WatchReportsWhileItRuns) {
    const auto r = run(ctl({"--sim", "--json", "inventory", "--watch", "--rounds", "3", "--interval", "600"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto objects = tooltest::lines(r.out);
    ASSERT_GE(objects.size(), 2u) << r.out;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const auto j = parse_json_object(objects[i]);
        ASSERT_TRUE(j) << objects[i];
        EXPECT_EQ(j->at("final"), i + 1 == objects.size() ? "true" : "false");
    }
}

TEST(UhfctlJson, InfoReportsTheAddressTheReaderHas) {
    const auto r = run(ctl({"--sim", "--addr", "0x21", "--json", "info"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = parse_json_object(r.out.substr(0, r.out.find('\n')));
    ASSERT_TRUE(j) << r.out;
    EXPECT_EQ(j->at("address"), "33");
    EXPECT_EQ(j->at("device_info").size(), 44u);
}

TEST(UhfctlScan, NamedDeviceIsProbedAndItsAddressReported) {
    const auto r = run(ctl({"--sim", "--json", "scan"}));
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = parse_json_object(tooltest::lines(r.out).at(0));
    ASSERT_TRUE(j) << r.out;
    EXPECT_NE(j->at("candidates").find("\"addr\":1"), std::string::npos) << j->at("candidates");
}

}  // namespace
