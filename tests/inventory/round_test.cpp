// One round over a link to the virtual reader (in-process, on a pseudo-terminal).
#include <gtest/gtest.h>

#include <set>

#include "inventory/round.hpp"
#include "sim/model.hpp"
#include "sim/pty_reader.hpp"

namespace {

using inventory::Family;

class RoundOnTheVirtualReader : public ::testing::Test {
protected:
    void start(std::size_t tags) {
        model_ = std::make_unique<uhfsim::ReaderModel>(uhfsim::ModelOptions{1, tags, 5});
        pty_ = std::make_unique<uhfsim::PtyReader>();
        pty_->set_handler(model_->handler());
        ASSERT_EQ(uhf_open(&link_, pty_->path().c_str(), 1), 0);
    }
    void TearDown() override { uhf_close(link_); }

    std::unique_ptr<uhfsim::ReaderModel> model_;
    std::unique_ptr<uhfsim::PtyReader> pty_;
    uhf_link* link_ = nullptr;
};

TEST_F(RoundOnTheVirtualReader, ReadsEveryTagOfEveryFamilyAcrossPages) {
    start(255);
    // Pages of at most 10 entries: the reader is asked for as many as fit, and gives 10.
    const uhf_command_info* lists[] = {uhf_command_find("EPC_Read_Tag_List"), uhf_command_find("GB_Read_Tag_List"),
                                       uhf_command_find("GJB_Read_Tag_List")};
    pty_->set_handler([this, lists](const uhfsim::Request& req) {
        uhfsim::Request small = req;
        for (const auto* c : lists)
            if (c && req.cmd == c->code && small.data.size() == 2 && small.data[1] == 0) small.data[1] = 10;
        return model_->handler()(small);
    });
    const inventory::Round r =
        inventory::run_round(link_, 1, {Family::epc, Family::gb, Family::gjb}, inventory::virtual_layout());
    ASSERT_FALSE(r.failed()) << r.failed_call << " " << r.failure;
    std::set<std::pair<Family, std::vector<std::uint8_t>>> tags;
    for (const auto& t : r.reads) tags.insert({t.family, t.tag.id});
    EXPECT_EQ(tags.size(), 255u);
    EXPECT_EQ(r.exchanges, 3 * (1 + 9));  // each family: its query and 9 pages of 85 tags
    EXPECT_TRUE(r.pages.empty());
}

TEST_F(RoundOnTheVirtualReader, AnEmptyFieldIsARoundWithoutReads) {
    start(0);
    const inventory::Round r = inventory::run_round(link_, 1, {Family::epc}, inventory::virtual_layout());
    EXPECT_FALSE(r.failed());
    EXPECT_TRUE(r.reads.empty());
}

TEST_F(RoundOnTheVirtualReader, RawLayoutHandsOnThePageUndecoded) {
    start(3);
    const inventory::Round r = inventory::run_round(link_, 1, {Family::epc, Family::gjb}, inventory::raw_layout());
    ASSERT_EQ(r.pages.size(), 2u);
    EXPECT_TRUE(r.reads.empty());
    EXPECT_EQ(r.pages[0].bytes.size(), (std::size_t{r.pages[0].bytes[0]} << 8) | r.pages[0].bytes[1]);
    EXPECT_TRUE(r.pages[0].why.empty());
}

TEST_F(RoundOnTheVirtualReader, APageTheLayoutCannotReadIsKeptWithTheReason) {
    start(3);
    inventory::Layout wrong = inventory::virtual_layout();
    wrong.entries = 6;  // one byte off
    const inventory::Round r = inventory::run_round(link_, 1, {Family::epc}, wrong);
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_FALSE(r.pages[0].why.empty());
}

TEST_F(RoundOnTheVirtualReader, AReaderThatStopsAnsweringFailsTheRoundWithTheCall) {
    start(3);
    uhf_options fast{};
    fast.reply_timeout_ms = 200;
    ASSERT_EQ(uhf_set_options(link_, &fast), 0);
    pty_->set_handler([](const uhfsim::Request&) { return uhfsim::Action::silent(); });
    const inventory::Round r = inventory::run_round(link_, 1, {Family::epc}, inventory::virtual_layout());
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.outcome, inventory::Outcome::exchange);
    EXPECT_EQ(r.failed_call, "EPC_Query_ON");
}

}  // namespace
