// Command requests: each malformed, unknown, refused or oversize request is refused before
// anything reaches a reader; a good one is ready to run.
#include <gtest/gtest.h>

#include <string>

#include "command_policy.hpp"
#include "command_request.hpp"

namespace {

struct RequestRow {
    const char* name;
    std::string payload;
    const char* refusal;  // a part of the refusal; nullptr: accepted
};

class Requests : public ::testing::TestWithParam<RequestRow> {};

TEST_P(Requests, AreRefusedWholeOrPreparedWhole) {
    const uhfd::CommandPolicy allowed(true, {"EPC_Write_TAG"});
    const uhfd::Request r = uhfd::parse_request(GetParam().payload, allowed);
    if (!GetParam().refusal) {
        EXPECT_EQ(r.refusal, "");
        EXPECT_NE(r.call.cmd, nullptr);
    } else {
        EXPECT_NE(r.refusal.find(GetParam().refusal), std::string::npos) << r.refusal;
        EXPECT_EQ(r.call.cmd, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Requests,
    ::testing::Values(
        RequestRow{"NoArguments", R"({"command":"GetDeviceInfo","id":1})", nullptr},
        RequestRow{"ScalarsAndBlocks", R"({"command":"EPC_Read_Tag_List","args":[0,10]})", nullptr},
        RequestRow{"CountedBlock", R"({"command":"EPC_Write_TAG","args":["030000011234"]})", nullptr},
        RequestRow{"MalformedJson", R"({"command":"GetDeviceInfo",)", "malformed JSON"},
        RequestRow{"NotAnObject", R"(["GetDeviceInfo"])", "must be a JSON object"},
        RequestRow{"NoCommand", R"({"args":[]})", "'command' must be"},
        RequestRow{"UnknownMember", R"({"command":"GetDeviceInfo","arg":[]})", "unknown member 'arg'"},
        RequestRow{"UnknownCommand", R"({"command":"EPC_Rewrite_TAG"})", "unknown command 'EPC_Rewrite_TAG'"},
        RequestRow{"NotAllowed", R"({"command":"EPC_Kill_TAG","args":["00000000"]})", "not allowed"},
        RequestRow{"TooFewArguments", R"({"command":"EPC_Read_Tag_List","args":[0]})", "takes 2 argument(s)"},
        RequestRow{"ScalarOutOfRange", R"({"command":"EPC_Read_Tag_List","args":[0,256]})", "args[1]"},
        RequestRow{"ScalarAsString", R"({"command":"EPC_Read_Tag_List","args":["0",1]})", "must be an integer"},
        RequestRow{"BlockNotHex", R"({"command":"EPC_Read_TAG","args":["03zz0400"]})", "hex digits"},
        RequestRow{"BlockOddDigits", R"({"command":"EPC_Read_TAG","args":["0300040"]})", "hex digits"},
        RequestRow{"BlockShorterThanItsCount", R"({"command":"EPC_Write_TAG","args":["0300000412"]})", "the command sends 12 bytes"},
        RequestRow{"BlockLongerThanItsCount", R"({"command":"EPC_Write_TAG","args":["03000001123456"]})", "the command sends 6 bytes"},
        RequestRow{"OversizeBlock", R"({"command":"EPC_Write_TAG","args":[")" + std::string(600, 'A') + R"("]})", "at most 255"},
        RequestRow{"OversizeRequest", R"({"command":"GetDeviceInfo","id":")" + std::string(9000, 'x') + R"("})", "at most 8192"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Requests, TheIdIsKeptForTheReplyEvenWhenRefused) {
    const uhfd::Request r = uhfd::parse_request(R"({"command":"Nope","id":{"k":[1,2]}})", uhfd::CommandPolicy());
    const auto reply = uhfd::reply_json("gw", "r1", r, nullptr);
    EXPECT_EQ(reply["id"]["k"][1], 2);
    EXPECT_EQ(reply["ok"], false);
    EXPECT_EQ(reply["outcome"], "refused");
}

}  // namespace
