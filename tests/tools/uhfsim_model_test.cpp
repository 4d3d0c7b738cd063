// The reader model uhfsim serves, driven in-process through the library: what is written reads
// back, locks, kill, select, tag-list pages, the ciphers and the seeded population.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quick_links.hpp"
#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "sim/wire.hpp"
#include "uhfreader.h"

namespace {

using namespace std::chrono_literals;
using tooltest::Quick;

class Model : public Quick {
protected:
    void serve(uhfsim::ModelOptions o = {}) {
        model_ = std::make_unique<uhfsim::ReaderModel>(o);
        reader_ = std::make_unique<uhfsim::PtyReader>();
        reader_->set_handler(model_->handler());
        ASSERT_EQ(LinkCom_Path(o.addr, reader_->path().c_str(), 115200), 0);
    }
    void TearDown() override {
        Quick::TearDown();
        reader_.reset();
    }
    // IDs of the EPC tags one inventory round reports.
    std::vector<std::string> epc_round() {
        std::vector<std::string> ids;
        EPC_Query_ON(1);
        static std::uint8_t list[2048];
        if (EPC_Read_Tag_List(1, 0, 0, list) != 0) return ids;
        std::size_t at = 5;
        for (int i = 0; i < list[4]; ++i) {
            ids.emplace_back(reinterpret_cast<char*>(list + at + 1), list[at] - 3);
            at += 1 + list[at];
        }
        return ids;
    }
    std::unique_ptr<uhfsim::ReaderModel> model_;
    std::unique_ptr<uhfsim::PtyReader> reader_;
};

struct RoundTrip {
    const char* name;
    int (*set)(int, unsigned char*);
    int (*get)(int, unsigned char*);
    std::vector<std::uint8_t> written;
    std::size_t compare;  // bytes of the read that must equal the written
};

class ModelRoundTrip : public Model, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(ModelRoundTrip, ReadsBackWhatWasWritten) {
    serve();
    const RoundTrip& row = GetParam();
    std::vector<std::uint8_t> w = row.written;
    ASSERT_EQ(row.set(1, w.data()), 0);
    std::uint8_t back[256] = {};
    ASSERT_EQ(row.get(1, back), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + row.compare),
              std::vector<std::uint8_t>(row.written.begin(), row.written.begin() + static_cast<long>(row.compare)));
}

// Get_CH_Active takes its page from the buffer; the table stores the 8 mask bytes after it.
int get_channel_page2(int addr, unsigned char* out) {
    out[0] = 2;
    std::uint8_t table[8];
    table[0] = 2;
    const int rc = Get_CH_Active(addr, table);
    out[0] = 2;
    std::memcpy(out + 1, table, 8);
    return rc;
}

INSTANTIATE_TEST_SUITE_P(
    Uhfsim, ModelRoundTrip,
    ::testing::Values(
        RoundTrip{"WorkParam", Set_Work_Param, Get_Work_Param, {30, 1, 2, 3, 4, 5, 6}, 7},
        RoundTrip{"MenjinParam", Set_Menjin_Param, Get_Menjin_Param, {9, 8, 7, 6, 5}, 5},
        RoundTrip{"ChannelPage", Set_CH_Active, get_channel_page2, {2, 1, 2, 3, 4, 5, 6, 7, 8}, 9},
        RoundTrip{"EpcSelect", EPC_Write_Select_Para, EPC_Read_Select_Para, {6, 1, 0, 2, 0xAB, 0xCD}, 6},
        RoundTrip{"GbSelect", GB_Write_Select_Para, GB_Read_Select_Para, {5, 2, 1, 1, 0x10}, 5},
        RoundTrip{"GjbSelectEveryTag", GJB_Write_Select_Para, GJB_Read_Select_Para, {1}, 1},
        RoundTrip{"GbSecurity", GB_Set_SecPara, [](int a, unsigned char* o) {
                      std::uint8_t r[256];
                      const int rc = GB_Get_SecPara(a, r);
                      std::memcpy(o, r + 1, 6);
                      return rc;
                  }, {1, 2, 3, 4, 5, 6}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Model, LockedBankNeedsTheAccessPassword) {
    serve({1, 3, 1});  // one tag of each family; the EPC tag is tag 0
    std::uint8_t write_pw[12] = {0, 2, 0, 2, 0x12, 0x34, 0x56, 0x78};  // reserved words 2-3
    ASSERT_EQ(EPC_Write_TAG(1, write_pw), 0);
    std::uint8_t lock[5] = {3, 1, 0, 0, 0};
    EXPECT_EQ(EPC_Lock_TAG(1, lock), uhfsim::status::not_authenticated);
    std::uint8_t pw[4] = {0x12, 0x34, 0x56, 0x78}, kill_pw[4] = {};
    ASSERT_EQ(EPC_Set_Pwd(1, 0, pw, kill_pw), 0);
    ASSERT_EQ(EPC_Access_Proc(1), 0);
    lock[0] = 3;
    ASSERT_EQ(EPC_Lock_TAG(1, lock), 0);
    EPC_Halt_TAG(1);  // forgets the secured tag
    std::uint8_t data[6] = {3, 0, 0, 1, 0xAA, 0xBB};
    EXPECT_EQ(EPC_Write_TAG(1, data), uhfsim::status::locked);
    EXPECT_EQ(data[0], uhfsim::status::locked) << "the status echo";
    std::uint8_t wrong[4] = {0, 0, 0, 1};
    ASSERT_EQ(EPC_Set_Pwd(1, 0, wrong, kill_pw), 0);
    EXPECT_EQ(EPC_Access_Proc(1), uhfsim::status::wrong_password);
    ASSERT_EQ(EPC_Set_Pwd(1, 0, pw, kill_pw), 0);
    ASSERT_EQ(EPC_Access_Proc(1), 0);
    std::uint8_t again[6] = {3, 0, 0, 1, 0xAA, 0xBB};
    EXPECT_EQ(EPC_Write_TAG(1, again), 0);
}

TEST_F(Model, KilledTagLeavesTheField) {
    serve({1, 6, 4});  // EPC tags 0 and 3
    ASSERT_EQ(epc_round().size(), 2u);
    std::uint8_t set_kill[8] = {0, 0, 0, 2, 0xCA, 0xFE, 0xBA, 0xBE};  // reserved words 0-1
    ASSERT_EQ(EPC_Write_TAG(1, set_kill), 0);
    std::uint8_t wrong[4] = {0xCA, 0xFE, 0xBA, 0xBF};
    EXPECT_EQ(EPC_Kill_TAG(1, wrong), uhfsim::status::wrong_password);
    std::uint8_t right[4] = {0xCA, 0xFE, 0xBA, 0xBE};
    EXPECT_EQ(EPC_Kill_TAG(1, right), 0);
    const auto after = epc_round();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], std::string(reinterpret_cast<const char*>(model_->tags()[3].id().data()), 12));
}

TEST_F(Model, SelectNarrowsTheRoundAndTargetsTheTag) {
    serve({1, 9, 2});
    const auto all = epc_round();
    ASSERT_EQ(all.size(), 3u);
    const auto id = model_->tags()[6].id();
    std::vector<std::uint8_t> sel{static_cast<std::uint8_t>(4 + id.size()), 1, 0, static_cast<std::uint8_t>(id.size())};
    sel.insert(sel.end(), id.begin(), id.end());
    ASSERT_EQ(EPC_Write_Select_Para(1, sel.data()), 0);
    const auto one = epc_round();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], std::string(reinterpret_cast<const char*>(id.data()), id.size()));
    std::uint8_t w[8] = {3, 4, 0, 2, 1, 2, 3, 4};
    ASSERT_EQ(EPC_Write_TAG(1, w), 0);
    EXPECT_EQ(model_->tags()[6].banks[3][4], 0x0102);
    EXPECT_EQ(model_->tags()[0].banks[3][4], 0) << "only the selected tag is written";
}

TEST_F(Model, TagListPagesFromTheFirstIndex) {
    serve({1, 30, 5});
    ASSERT_EQ(EPC_Query_ON(1), 0);
    static std::uint8_t all[2048], page[2048];
    ASSERT_EQ(EPC_Read_Tag_List(1, 0, 0, all), 0);
    ASSERT_EQ(EPC_Read_Tag_List(1, 1, 3, page), 0);
    EXPECT_EQ((all[2] << 8) | all[3], 10);
    EXPECT_EQ(all[4], 10);
    EXPECT_EQ(page[4], 3);
    const std::size_t entry = 1 + all[5];  // every EPC entry has the same size
    EXPECT_EQ(0, std::memcmp(page + 5, all + 5 + entry, 3 * entry));
    EXPECT_EQ((page[0] << 8) | page[1], static_cast<int>(5 + 3 * entry));
}

TEST_F(Model, CipherTwiceGivesTheBodyBack) {
    serve();
    std::uint8_t block[5 + 40] = {0, 7, 1, 2, 40};
    for (int i = 0; i < 40; ++i) block[5 + i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t once[256], twice_in[5 + 40] = {1, 7, 1, 2, 40}, twice[256];
    ASSERT_EQ(FM151M_Cipher(1, block, once), 0);
    ASSERT_EQ(once[0], 40);
    EXPECT_NE(0, std::memcmp(once + 1, block + 5, 40));
    std::memcpy(twice_in + 5, once + 1, 40);
    ASSERT_EQ(FM151M_Cipher(1, twice_in, twice), 0);
    EXPECT_EQ(0, std::memcmp(twice + 1, block + 5, 40));
}

TEST_F(Model, SameSeedSamePopulation) {
    uhfsim::ReaderModel a({1, 12, 77}), b({1, 12, 77}), c({1, 12, 78});
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(a.tags()[i].id(), b.tags()[i].id());
    EXPECT_NE(a.tags()[0].id(), c.tags()[0].id());
}

}  // namespace
