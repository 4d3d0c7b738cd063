// uhfctl epc as a process: decoding ids, encoding tag URIs, and writing one to a tag of the
// virtual reader, read back and decoded in the same run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tools/process.hpp"
#include "uhfreader.h"

namespace {

using Json = nlohmann::json;

tooltest::Outcome uhfctl(std::vector<std::string> args) {
    args.insert(args.begin(), UHFCTL_PATH);
    return tooltest::run(args);
}

std::vector<Json> json_lines(const std::string &out) {
    std::vector<Json> v;
    for (const std::string &line : tooltest::lines(out))
        if (!line.empty()) v.push_back(Json::parse(line));
    return v;
}

struct WriteRow {
    const char *uri;
    int exit;  // 1: the virtual reader's 6-word ID bank refuses a longer EPC
};

class EpcWrite : public ::testing::TestWithParam<WriteRow> {};

TEST_P(EpcWrite, WrittenIdReadsBackAndDecodesToTheUri) {
    const auto r = uhfctl({"--sim", "--sim-tags", "2", "--json", "epc", "encode", GetParam().uri, "--write"});
    ASSERT_EQ(r.exit, GetParam().exit) << r.out << r.err;
    const auto objects = json_lines(r.out.empty() ? r.err : r.out);
    ASSERT_EQ(objects.size(), 1u) << r.out << r.err;
    if (GetParam().exit == 0) {
        EXPECT_EQ(objects[0]["ok"], true);
        EXPECT_EQ(objects[0]["epc"]["tag_uri"], GetParam().uri);
        EXPECT_EQ(objects[0]["read_back"], objects[0]["written"]);
    } else {
        EXPECT_EQ(objects[0]["ok"], false);
    }
}

INSTANTIATE_TEST_SUITE_P(Uhfctl, EpcWrite, ::testing::Values(
    WriteRow{"urn:epc:tag:sgtin-96:3.0614141.812345.6789", 0},
    WriteRow{"urn:epc:tag:sscc-96:0.0614141.1234567890", 0},
    WriteRow{"urn:epc:tag:gid-96:31415.271828.1414", 0},
    WriteRow{"urn:epc:tag:usdod-96:15.CAGEY.5678", 0},
    WriteRow{"urn:epc:tag:sgtin-198:3.0614141.812345.a%2Fb", 1}));

TEST(UhfctlEpc, DecodeSaysWhichIdsAreNotGs1AndExitsOne) {
    const auto r = uhfctl({"--json", "epc", "decode", "3074257BF7194E4000001A85", "000011112222"});
    EXPECT_EQ(r.exit, 1);
    const auto objects = json_lines(r.out);
    ASSERT_EQ(objects.size(), 2u) << r.out;
    EXPECT_EQ(objects[0]["epc"]["gs1"], "(01)80614141123458(21)6789");
    EXPECT_EQ(objects[0]["epc"]["fields"]["serial"], "6789");
    EXPECT_EQ(objects[1]["ok"], false);
    EXPECT_EQ(objects[1]["code"], UHF_EPC_ERR_HEADER);
    EXPECT_FALSE(objects[1].contains("epc"));
}

TEST(UhfctlEpc, EncodePrintsWordsAndPcAndRefusesInWords) {
    const auto ok = uhfctl({"epc", "encode", "urn:epc:tag:sgtin-96:3.0614141.812345.6789"});
    EXPECT_EQ(ok.exit, 0);
    EXPECT_NE(ok.out.find("3074257BF7194E4000001A85"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("PC 3000"), std::string::npos) << ok.out;
    const auto bad = uhfctl({"epc", "encode", "urn:epc:tag:sgtin-96:3.0614141.812345.06789"});
    EXPECT_EQ(bad.exit, 2);
    EXPECT_NE(bad.err.find(uhf_epc_strerror(UHF_EPC_ERR_LEADING_ZERO)), std::string::npos) << bad.err;
}

TEST(UhfctlEpc, InventoryLeavesNonGs1IdsWithoutEpc) {
    // The virtual reader's own ids are not GS1-coded: the column stays empty, --json has no epc.
    const auto r = uhfctl({"--sim", "--sim-tags", "3", "--json", "inventory", "--rounds", "1"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto objects = json_lines(r.out);
    ASSERT_FALSE(objects.empty());
    for (const Json &tag : objects.back()["tags"]) EXPECT_FALSE(tag.contains("epc")) << tag;
}

} // namespace
