// A missing request block is refused before anything is sent, by every command that takes one,
// on the default link and on a link handle alike; a missing reply buffer only skips the copy.
#include <algorithm>
#include <string>

#include "link_support.hpp"
#include "reliability/command_rows.hpp"

namespace {

using namespace uhftest;

bool takes_a_block(const uhf_command_info &c) {
    for (int i = 0; i < c.arg_count; ++i)
        if (c.args[i].kind == UHF_ARG_BLOCK || c.args[i].kind == UHF_ARG_BLOCK_REPLY) return true;
    return false;
}

class NullBlock : public testing::TestWithParam<reltest::Row> {
protected:
    void SetUp() override { uhf::serial::timing().first_byte_poll_ms = kLinkPollMs; }
    void TearDown() override { uhf::serial::timing() = {}; }
    uhfsim::PtyReader sim;
};

TEST_P(NullBlock, DesignedFunctionRefusesBeforeSending) {
    const reltest::Row &row = GetParam();
    const uhf_command_info *c = uhf_command_find(row.name);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
    sim.clear_log();
    BlkALength = 77;
    // Every buffer missing: a reply buffer may be, a request block may not.
    reltest::Args a{kAddr, {1, 1, 1, 1}, nullptr, nullptr, nullptr};
    const int rc = row.call(a);
    if (takes_a_block(*c)) {
        EXPECT_EQ(rc, UHF_REFUSED_NULL_BLOCK);
        EXPECT_EQ(IcRetCode, 106);
        EXPECT_EQ(IcCmd, c->code);
        EXPECT_EQ(BlkALength, 77) << "the refusal touched the request area";
        EXPECT_TRUE(sim.requests().empty()) << "a frame went out for a missing block";
    } else {
        EXPECT_NE(rc, UHF_REFUSED_NULL_BLOCK);
        EXPECT_EQ(sim.requests().size(), 1u);
    }
    UnLinkCom();
}

TEST_P(NullBlock, LinkTwinRefusesBeforeSending) {
    const uhf_command_info *c = uhf_command_find(GetParam().name);
    ASSERT_NE(c, nullptr);
    LinkPtr l = open_link(sim.path());
    ASSERT_TRUE(l);
    sim.clear_log();
    Bytes reply(2048, 0xEE);
    unsigned char *buffers[4] = {};
    for (int i = 0; i < c->arg_count; ++i)
        if (c->args[i].kind == UHF_ARG_REPLY) buffers[i] = reply.data();
    const int scalars[4] = {1, 1, 1, 1};
    const int rc = uhf_call(l.get(), c, kAddr, scalars, buffers);
    if (takes_a_block(*c)) {
        EXPECT_EQ(rc, UHF_REFUSED_NULL_BLOCK);
        EXPECT_EQ(uhf_detail(l.get()), 106);
        EXPECT_TRUE(sim.requests().empty());
    } else {
        EXPECT_NE(rc, UHF_REFUSED_NULL_BLOCK);
        EXPECT_EQ(sim.requests().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, NullBlock, testing::ValuesIn(reltest::kRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(NullReply, ExchangeRunsAndNothingIsCopied) {
    uhf::serial::timing().first_byte_poll_ms = kLinkPollMs;
    uhfsim::PtyReader sim;
    sim.set_handler([](const uhfsim::Request &r) { return uhfsim::Action::reply(r.addr, r.cmd, 0, {2, 9, 9}); });
    LinkPtr l = open_link(sim.path());
    ASSERT_TRUE(l);
    unsigned char req[4] = {3, 0, 1, 0};
    EXPECT_EQ(uhf_EPC_Read_TAG(l.get(), kAddr, req, nullptr), 0);
    EXPECT_EQ(uhf_GetDeviceInfo(l.get(), kAddr, nullptr), 0);
    EXPECT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 1) << "the designed link took the link's port";
    l.reset();
    ASSERT_EQ(LinkCom_Path(kAddr, sim.path().c_str(), 115200), 0);
    EXPECT_EQ(EPC_Read_TAG(kAddr, req, nullptr), 0);
    UnLinkCom();
    uhf::serial::timing() = {};
}

}  // namespace
