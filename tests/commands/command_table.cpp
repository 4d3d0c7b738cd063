// The row runner, and the calls that must not reach the wire at all.
#include "command_table.hpp"

#include <algorithm>
#include <cstring>

#include "transport/serial.hpp"

namespace cmdtest {

using uhfsim::Action;

void Commands::SetUp() {
    ASSERT_EQ(LinkCom_Path(kReader, sim.path().c_str(), 115200), 0);
    sim.clear_log();
    // Stale bytes a copy must never hand out: the reply area past the received data reads 0.
    std::memset(BlkBAdrBeg, 0xEE, sizeof BlkBAdrBeg);
}

void Commands::TearDown() {
    UnLinkCom();
    uhf::serial::timing() = {};
}

std::string table_name(const testing::TestParamInfo<Table::ParamType> &info) {
    static const char *const scenario[] = {"Ok", "Status5", "Broken"};
    return std::string(std::get<0>(info.param).name) + "_" +
           scenario[static_cast<int>(std::get<1>(info.param))];
}

TEST_P(Table, WireBuffersAndResult) {
    const auto &[r, scenario] = GetParam();
    Bytes a = fill(r.block, kBuf), b(kBuf, 0xCC);
    Bytes want_a = a, want_b = b;
    Bytes &want = r.out == A ? want_a : want_b;

    const u8 reader_status = scenario == Scenario::status5 ? 5 : 0;
    Action reply = Action::reply(kReader, r.cmd, reader_status, r.reply);
    if (scenario == Scenario::broken) reply.bad_checksum();
    sim.script(reply);

    const int rc = r.call(kAddr, a.data(), b.data());

    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].addr, kReader);
    EXPECT_EQ(seen[0].cmd, r.cmd);
    EXPECT_EQ(seen[0].data, r.sent);
    EXPECT_EQ(seen[0].wire, uhfsim::encode_request(kReader, r.cmd, r.sent));
    if (scenario == Scenario::broken) {
        EXPECT_EQ(rc, 243);
        std::fill_n(want.begin(), r.cleared, 0);
    } else {
        EXPECT_EQ(rc, r.result == status ? reader_status : 0);
        EXPECT_EQ(ErrorCode, reader_status);
        std::copy(r.written.begin(), r.written.end(), want.begin());
    }
    EXPECT_EQ(a, want_a);
    EXPECT_EQ(b, want_b);
}

// ---- Requests refused before anything is sent ----

struct Refusal {
    const char *name;
    Call call;
    Bytes block;
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

class Refused : public Commands, public testing::WithParamInterface<Refusal> {};

TEST_P(Refused, SendsNothingTouchesNothingReturns248) {
    const Refusal &r = GetParam();
    Bytes a = fill(r.block, kBuf), b(kBuf, 0xCC);
    const Bytes a0 = a, b0 = b;
    std::memset(BlkAAdrBeg, 0x5A, sizeof BlkAAdrBeg);
    BlkALength = 0x33;
    ErrorCode = 0x44;

    EXPECT_EQ(r.call(kAddr, a.data(), b.data()), 248);
    EXPECT_EQ(IcRetCode, 104);
    EXPECT_EQ(ErrorCode, 0x44);
    EXPECT_EQ(BlkALength, 0x33);
    EXPECT_TRUE(std::all_of(BlkAAdrBeg, BlkAAdrBeg + sizeof BlkAAdrBeg, [](u8 v) { return v == 0x5A; }));
    EXPECT_EQ(a, a0);
    EXPECT_EQ(b, b0);

    // Nothing of the refused request may precede the next one on the line.
    ASSERT_EQ(DeviceReset(kAddr), 0);
    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].cmd, 0x02);
    EXPECT_TRUE(sim.malformed().empty());
}

INSTANTIATE_TEST_SUITE_P(
    OverLong, Refused,
    testing::Values(
        Refusal{"EPC_Write_TAG_126Words", CALL(EPC_Write_TAG(addr, a)), {1, 2, 3, 126}},
        Refusal{"EPC_Write_Block_TAG_255Words", CALL(EPC_Write_Block_TAG(addr, a)), {1, 2, 3, 255}},
        Refusal{"EPC_Cust_2001Bits", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0x07, 0xD1}},
        Refusal{"GB_Write_TAG_126Words", CALL(GB_Write_TAG(addr, a)), {1, 2, 3, 0x00, 0x7E}},
        Refusal{"GB_Write_TAG_HighCountByte", CALL(GB_Write_TAG(addr, a)), {1, 2, 3, 0x01, 0x00}},
        Refusal{"GB_Write_Block_TAG_127Words", CALL(GB_Write_Block_TAG(addr, a)), {1, 2, 127}},
        Refusal{"GB_Cust_MaxBits", CALL(GB_TAG_Cust_Command(addr, a, b)), {0xFF, 0xFF}},
        Refusal{"GJB_Write_TAG_HighCountByte", CALL(GJB_Write_TAG(addr, a)), {1, 2, 3, 0x01, 0x00}},
        Refusal{"GJB_Write_Block_TAG_127Words", CALL(GJB_Write_Block_TAG(addr, a)), {1, 2, 127}},
        Refusal{"GJB_Cust_2001Bits", CALL(GJB_TAG_Cust_Command(addr, a, b)), {0x07, 0xD1}},
        Refusal{"GJB_FD_Write_Block_126Words", CALL(GJB_FD_Cust_Write_Block(addr, a)), {1, 2, 3, 0, 126}},
        Refusal{"PSAM_Command_Count255", CALL(PSAM_Command(addr, a, b)), {0xFF}},
        Refusal{"PSAM_FD_Issue_Count255", CALL(PSAM_FD_Issue(addr, a, b)), {0xFF}},
        Refusal{"FM151M_Hash_253", CALL(FM151M_Hash(addr, a, b)), {1, 2, 253}},
        Refusal{"FM151M_Cipher_251", CALL(FM151M_Cipher(addr, a, b)), {1, 2, 3, 4, 251}}),
    [](const auto &info) { return info.param.name; });

// The alarm refusal is the reader's old contract: 4, with the refused request left in place.
TEST_F(Commands, AlarmAboveSevenReturns4WithRequestInPlace) {
    IcRetCode = 0x77;
    EXPECT_EQ(ALARM(kAddr, 8, 0x101, 2, 3), 4);
    EXPECT_EQ(pc_id, kReader);
    EXPECT_EQ(IcCmd, 0x04);
    EXPECT_EQ(BlkALength, 4);
    EXPECT_EQ(Bytes(BlkAAdrBeg, BlkAAdrBeg + 4), (Bytes{8, 1, 2, 3}));
    EXPECT_EQ(IcRetCode, 0x77);
    EXPECT_EQ(ALARM(kAddr, 0x7FFFFFFF, 0, 0, 0), 4);
    ASSERT_EQ(DeviceReset(kAddr), 0);
    ASSERT_EQ(sim.requests().size(), 1u);
}

// ---- Whole frames, written out by hand ----

struct Frame {
    const char *name;
    Call call;
    Bytes block;
    Bytes wire;
};

void PrintTo(const Frame &f, std::ostream *os) { *os << f.name; }

class Frames : public Commands, public testing::WithParamInterface<Frame> {};

TEST_P(Frames, ReaderSeesExactBytes) {
    const Frame &f = GetParam();
    Bytes a = fill(f.block, kBuf), b(kBuf, 0xCC);
    f.call(kAddr, a.data(), b.data());
    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].wire, f.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Wire, Frames,
    testing::Values(
        Frame{"DeviceReset", CALL(DeviceReset(addr)), {}, {0x10, 0x01, 0x05, 0x02, 0x00, 0x07, 0x10, 0x02}},
        // Command 0x10 travels doubled and stays out of the checksum.
        Frame{"Read_DeviceTemp", CALL(Read_DeviceTemp(addr, b)), {}, {0x10, 0x01, 0x05, 0x10, 0x10, 0x00, 0x05, 0x10, 0x02}},
        Frame{"PSAM_Command", CALL(PSAM_Command(0x01, a, b)), {0x03, 0xA1, 0xB2, 0xC3},
              {0x10, 0x01, 0x01, 0xF2, 0x04, 0x03, 0xA1, 0xB2, 0xC3, 0x24, 0x10, 0x02}},
        Frame{"FM151M_Get_ID", CALL(FM151M_Get_ID(0x01, b)), {}, {0x10, 0x01, 0x01, 0xD0, 0x00, 0xD1, 0x10, 0x02}},
        // Length 0x10 doubled and left out of the checksum; sixteen 0x01 bytes cancel out.
        Frame{"GJB_Edit_TAG_Pwd", CALL(GJB_Edit_TAG_Pwd(addr, a)), Bytes(16, 0x01),
              cat({{0x10, 0x01, 0x05, 0x6F, 0x10, 0x10}, Bytes(16, 0x01), {0x6A, 0x10, 0x02}})}),
    [](const auto &info) { return info.param.name; });

}  // namespace cmdtest
