// Arguments checked against the catalogue: every refusal is a usage error naming the argument,
// and the reader hears nothing at all (the check comes before the link is opened); what passes is
// sent byte for byte.
#include <gtest/gtest.h>

#include "readers.hpp"

namespace {

using namespace tooltest;
using Bytes = std::vector<std::uint8_t>;

struct RefusedRow {
    const char* name;
    std::vector<std::string> args;
    const char* says;
};

class Refused : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(Refused, IsUsageAndNothingIsSent) {
    ModelReader<uhfsim::PtyReader> reader;
    std::vector<std::string> args = {"--device", reader.device()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const auto r = run(ctl(args));
    EXPECT_EQ(r.exit, 2) << r.out << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_TRUE(reader.endpoint.requests().empty()) << "a frame reached the reader";
}

INSTANTIATE_TEST_SUITE_P(
    Uhfctl, Refused,
    ::testing::Values(
        RefusedRow{"Scalar16AboveRange", {"FM151M_Get_RN", "65552"}, "COUNT: 65552 is out of range 0..65535"},
        RefusedRow{"Scalar8AboveRange", {"EPC_Read_Tag_List", "0", "300"}, "B: 300 is out of range 0..255"},
        RefusedRow{"NarrowedRange", {"ALARM", "8", "0", "0", "0"}, "A: 8 is out of range 0..7"},
        RefusedRow{"Negative", {"ALARM", "-1", "0", "0", "0"}, "A: -1 is out of range 0..7"},
        RefusedRow{"FixedBlockTooLong", {"EPC_Read_TAG", "0300040000"}, "REQ: the block is exactly 4 bytes, 5 bytes given"},
        RefusedRow{"FixedBlockTooShort", {"Set_Work_Param", "1E01"}, "PARAM: the block is exactly 7 bytes, 2 bytes given"},
        RefusedRow{"SecondBlockWrongSize", {"EPC_Set_Pwd", "0", "00000000", "000000"}, "PWD2: the block is exactly 4"},
        RefusedRow{"WordsAnnouncedNoneGiven", {"EPC_Write_TAG", "03000002"}, "count field makes the block 8 bytes but 4"},
        RefusedRow{"WordsGivenBeyondTheCount", {"EPC_Write_TAG", "030000011234ABCD"}, "makes the block 6 bytes but 8"},
        RefusedRow{"CountedHeaderCutShort", {"EPC_Write_TAG", "0300"}, "too short for its 4 bytes header"},
        RefusedRow{"SelectLengthDisagrees", {"EPC_Write_Select_Para", "05010203"}, "makes the block 5 bytes but 4"},
        RefusedRow{"PrefixedBodyShort", {"PSAM_Command", "0400A400"}, "makes the block 5 bytes but 4"},
        RefusedRow{"CountBeyondOneRequest", {"GB_Write_TAG", "03000000FF"}, "makes the block 515 bytes"},
        RefusedRow{"NotAnInteger", {"FM151M_Get_RN", "12abc"}, "is not an integer"},
        RefusedRow{"NotHex", {"EPC_Read_TAG", "03zz0400"}, "not a hex block"},
        RefusedRow{"TooFewArguments", {"EPC_Read_TAG"}, "takes 1 argument (REQ), 0 given"},
        RefusedRow{"TooManyArguments", {"EPC_Query_ON", "1"}, "takes 0 arguments, 1 given"},
        RefusedRow{"RawCodeOutOfRange", {"raw", "256"}, "not a command code 0..255"},
        RefusedRow{"RawDataBeyondOneRequest", {"raw", "1", std::string(512, 'A')}, "at most 255"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SentRow {
    const char* name;
    std::vector<std::string> args;
    std::uint8_t cmd;
    Bytes data;
};

class Sent : public ::testing::TestWithParam<SentRow> {};

TEST_P(Sent, ExactlyTheBytesGiven) {
    ModelReader<uhfsim::PtyReader> reader;
    std::vector<std::string> args = {"--device", reader.device()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const auto r = run(ctl(args));
    ASSERT_LE(r.exit, 1) << r.err;
    const auto requests = reader.endpoint.requests();
    ASSERT_EQ(requests.size(), 2u) << "the handshake and the command";
    EXPECT_EQ(requests[1].cmd, GetParam().cmd);
    EXPECT_EQ(requests[1].data, GetParam().data);
}

INSTANTIATE_TEST_SUITE_P(
    Uhfctl, Sent,
    ::testing::Values(SentRow{"Scalar16HighByteFirst", {"FM151M_Get_RN", "0x1234"}, 0xD1, {0x12, 0x34}},
                      SentRow{"RangeEnds", {"ALARM", "7", "255", "0", "0x10"}, 0x04, {7, 255, 0, 0x10}},
                      SentRow{"WordsAndTheirData", {"EPC_Write_TAG", "03000001ABCD"}, 0x29, {3, 0, 0, 1, 0xAB, 0xCD}},
                      SentRow{"TwoBlocks", {"EPC_Set_Pwd", "1", "00112233", "44556677"}, 0x25,
                              {1, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
                      SentRow{"BlockThatReceivesTheCopy", {"Get_CH_Active", "02"}, 0x19, {2}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
