// The one answer to "may this command run, and does it change anything", for MQTT and HTTP alike.
#include <gtest/gtest.h>

#include "command_policy.hpp"
#include "uhfreader.h"

namespace {

using uhfd::CommandPolicy;
using V = CommandPolicy::Verdict;

struct PolicyRow {
    const char* what;
    bool reads;
    std::set<std::string> allow;
    const char* command;
    V verdict;
    bool changes;
};

class PolicyTable : public ::testing::TestWithParam<PolicyRow> {};

TEST_P(PolicyTable, Decides) {
    const PolicyRow& row = GetParam();
    const CommandPolicy p(row.reads, row.allow);
    const CommandPolicy::Decision d = p.decide(row.command);
    EXPECT_EQ(d.verdict, row.verdict) << row.what;
    EXPECT_EQ(d.changes, row.changes) << row.what;
    EXPECT_EQ(d.refusal.empty(), row.verdict == V::allowed) << row.what;
    EXPECT_EQ(p.allowed(row.command), row.verdict == V::allowed) << row.what;
    EXPECT_EQ(CommandPolicy::needs_token(row.command), row.changes) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PolicyTable,
    ::testing::Values(
        PolicyRow{"a read runs by default", true, {}, "GetDeviceInfo", V::allowed, false},
        PolicyRow{"a tag read runs by default", true, {}, "EPC_Read_TAG", V::allowed, false},
        PolicyRow{"a write needs naming", true, {}, "EPC_Write_TAG", V::forbidden, true},
        PolicyRow{"a named write runs", true, {"EPC_Write_TAG"}, "EPC_Write_TAG", V::allowed, true},
        PolicyRow{"a setting change needs naming", true, {}, "DeviceReset", V::forbidden, true},
        PolicyRow{"reads withdrawn", false, {}, "GetDeviceInfo", V::forbidden, false},
        PolicyRow{"reads withdrawn, one named back", false, {"Get_RF_Power"}, "Get_RF_Power", V::allowed, false},
        PolicyRow{"names are exact", true, {}, "getdeviceinfo", V::unknown, true},
        PolicyRow{"an unknown name", true, {"Nope"}, "Nope", V::unknown, true},
        PolicyRow{"the empty name", true, {}, "", V::unknown, true}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

// Every catalogue row is answered, and what runs without [commands] changes nothing.
TEST(CommandPolicy, DefaultRunsOnlyCommandsThatChangeNothing) {
    const CommandPolicy p;
    int reads = 0;
    for (int i = 0; i < uhf_command_count(); ++i) {
        const char* name = uhf_command_at(i)->name;
        EXPECT_NE(p.decide(name).verdict, V::unknown) << name;
        EXPECT_EQ(p.allowed(name), !CommandPolicy::changes(name)) << name;
        reads += p.allowed(name);
    }
    EXPECT_GT(reads, 10);
    EXPECT_LT(reads, uhf_command_count() / 2);
}

TEST(CommandPolicy, EqualityFollowsTheAllowedSet) {
    EXPECT_EQ(CommandPolicy(), CommandPolicy(true, {}));
    EXPECT_NE(CommandPolicy(), CommandPolicy(true, {"EPC_Write_TAG"}));
    EXPECT_NE(CommandPolicy(), CommandPolicy(false, {}));
}

}  // namespace
