// The field changed at run time: the model's tag operations and the control language, checked
// against the inventory rounds the model answers.
#include "sim/control.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sim/model.hpp"

namespace {

using uhfsim::Family;
using uhfsim::ReaderModel;
using uhfsim::Request;

// One EPC inventory round as a host runs it: query, then the whole tag list. The IDs it lists,
// in upper-case hex, with each entry's RSSI and antenna.
struct Seen {
    std::string id;
    int rssi;
    int antenna;
};

std::vector<Seen> epc_round(ReaderModel& m) {
    m.answer(Request{1, 0x22, {}, {}});
    const auto reply = m.answer(Request{1, 0x23, {0, 0}, {}});
    std::vector<Seen> out;
    if (!reply || reply->status != 0) return out;
    const auto& d = reply->data;
    std::size_t at = 5;
    for (int i = 0; i < d[4]; ++i) {
        const std::size_t n = d[at];
        std::string id;
        char b[3];
        for (std::size_t k = 0; k + 3 < n; ++k) {
            std::snprintf(b, sizeof b, "%02X", d[at + 1 + k]);
            id += b;
        }
        out.push_back({id, static_cast<std::int8_t>(d[at + n - 2]), d[at + n - 1]});
        at += 1 + n;
    }
    return out;
}

std::string line(ReaderModel& m, const std::string& text) { return uhfsim::run_control_line(m, text); }

TEST(TagControl, AddedTagShowsInTheNextRoundAndRemovedOneLeavesIt) {
    ReaderModel m({1, 0, 3});
    EXPECT_TRUE(epc_round(m).empty());
    EXPECT_EQ(line(m, "add epc 300833B2DDD9014000000001 rssi=-51 ant=2"), "ok 300833B2DDD9014000000001\n");
    auto seen = epc_round(m);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].id, "300833B2DDD9014000000001");
    EXPECT_NEAR(seen[0].rssi, -51, 3) << "the round's jitter is at most 3 dB";
    EXPECT_EQ(seen[0].antenna, 2);

    EXPECT_EQ(line(m, "set 300833b2ddd9014000000001 ant=3 rssi=-90"), "ok\n");
    seen = epc_round(m);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].antenna, 3);
    EXPECT_NEAR(seen[0].rssi, -90, 3);

    EXPECT_EQ(line(m, "remove 300833B2DDD9014000000001"), "ok\n");
    EXPECT_TRUE(epc_round(m).empty());
}

TEST(TagControl, GeneratedIdsHaveTheFamilyLengthAndAreListed) {
    ReaderModel m({1, 0, 9});
    const std::string epc = line(m, "add epc");
    const std::string gb = line(m, "ADD GB ant=1");
    const std::string gjb = line(m, "add gjb rssi=-70");
    EXPECT_EQ(epc.size(), 3 + 24 + 1u) << epc;
    EXPECT_EQ(gb.size(), 3 + 32 + 1u) << gb;
    EXPECT_EQ(gjb.size(), 3 + 16 + 1u) << gjb;
    EXPECT_EQ(line(m, "list"), "EPC " + epc.substr(3, 24) + " rssi=-60 ant=0\n" + "GB " + gb.substr(3, 32) +
                                   " rssi=-60 ant=1\n" + "GJB " + gjb.substr(3, 16) + " rssi=-70 ant=0\nok 3\n");
    ReaderModel same({1, 0, 9});
    EXPECT_EQ(line(same, "add epc"), epc) << "the seed decides generated IDs";
}

TEST(TagControl, ClearEmptiesTheFieldAndForgetsTheLastRound) {
    ReaderModel m({1, 6, 4});
    ASSERT_EQ(epc_round(m).size(), 2u);
    EXPECT_EQ(line(m, "clear"), "ok 6\n");
    const auto list = m.answer(Request{1, 0x23, {0, 0}, {}});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->data[4], 0) << "the old round's list names no tag that is gone";
    EXPECT_EQ(m.answer(Request{1, 0x22, {}, {}})->status, uhfsim::status::no_tag);
    EXPECT_EQ(line(m, "list"), "ok 0\n");
}

// A removed tag was singled out by a wake: the target falls to the next tag, never to the
// tag that took its index.
TEST(TagControl, RemovingAWokenTagForgetsTheWake) {
    ReaderModel m({1, 6, 4});  // EPC tags 0 and 3
    const auto first = m.tags()[0].id();
    const auto second = m.tags()[3].id();
    // Wake the second EPC tag by its whole ID.
    std::vector<std::uint8_t> wake{1, 0, 0, static_cast<std::uint8_t>(second.size() * 8)};
    wake.insert(wake.end(), second.begin(), second.end());
    ASSERT_EQ(m.answer(Request{1, 0x26, wake, {}})->status, 0);
    ASSERT_TRUE(m.remove_tag(second));
    // A read of the ID bank now reaches the first EPC tag.
    const auto read = m.answer(Request{1, 0x28, {1, 0, 6, 0}, {}});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->status, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(read->data.begin() + 1, read->data.end()), first);
}

struct BadLine {
    const char* name;
    const char* text;
    const char* reason;  // a piece of the answer
};

class TagControlRefuses : public testing::TestWithParam<BadLine> {};

TEST_P(TagControlRefuses, AnswersErrorAndChangesNothing) {
    ReaderModel m({1, 3, 2});
    const std::string before = line(m, "list");
    const std::string answer = line(m, GetParam().text);
    EXPECT_EQ(answer.rfind("error ", 0), 0u) << answer;
    EXPECT_NE(answer.find(GetParam().reason), std::string::npos) << answer;
    EXPECT_EQ(answer.back(), '\n');
    EXPECT_EQ(answer.find('\n'), answer.size() - 1) << "one line";
    EXPECT_EQ(line(m, "list"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Sim, TagControlRefuses,
    testing::Values(BadLine{"Empty", "", "empty"}, BadLine{"Unknown", "frobnicate", "unknown command"},
                    BadLine{"NoFamily", "add", "arguments"}, BadLine{"BadFamily", "add iso", "not a family"},
                    BadLine{"OddId", "add epc 123", "not an ID"}, BadLine{"NotHex", "add epc 12G4", "not hex"},
                    BadLine{"RssiTooLow", "add epc rssi=-121", "outside"},
                    BadLine{"RssiNotNumber", "add epc rssi=loud", "not an integer"},
                    BadLine{"AntennaTooHigh", "add gb ant=4", "outside"},
                    BadLine{"UnknownSetting", "add gb power=3", "unexpected"},
                    BadLine{"TwiceRssi", "add gb rssi=-1 rssi=-2", "twice"},
                    BadLine{"RemoveUnknown", "remove 0102", "no tag"}, BadLine{"RemoveNoId", "remove", "arguments"},
                    BadLine{"SetNothing", "set 0102", "arguments"}, BadLine{"SetUnknown", "set 0102 ant=1", "no tag"},
                    BadLine{"SetBadAntenna", "set 0102 ant=9", "outside"},
                    BadLine{"ListWithArgument", "list all", "arguments"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TagControl, DuplicateIdAndFullFieldAreRefused) {
    ReaderModel m({1, 0, 1});
    ASSERT_EQ(line(m, "add gjb 0102030405060708"), "ok 0102030405060708\n");
    EXPECT_EQ(line(m, "add gjb 0102030405060708").rfind("error ", 0), 0u);
    for (std::size_t i = 1; i < ReaderModel::kMaxTags; ++i) ASSERT_EQ(line(m, "add epc").rfind("ok ", 0), 0u);
    EXPECT_EQ(line(m, "add epc").rfind("error the field is full", 0), 0u);
    EXPECT_EQ(m.list_tags().size(), ReaderModel::kMaxTags);
}

// Rounds answered on one thread while another changes the field (a data race here is what
// the sanitizer builds look for).
TEST(TagControl, FieldChangesWhileRoundsAreAnswered) {
    ReaderModel m({1, 12, 5});
    std::atomic<bool> done{false};
    std::atomic<std::size_t> rounds{0};
    std::thread reader([&] {
        while (!done.load()) {
            for (const Seen& s : epc_round(m)) ASSERT_EQ(s.id.size() % 4, 0u);
            ++rounds;
        }
    });
    while (rounds.load() == 0) std::this_thread::yield();
    for (int i = 0; i < 300; ++i) {
        const std::string added = line(m, "add epc");
        ASSERT_EQ(added.rfind("ok ", 0), 0u);
        ASSERT_EQ(line(m, "set " + added.substr(3, 24) + " rssi=-70"), "ok\n");
        if (i % 2 == 0) {
            ASSERT_EQ(line(m, "remove " + added.substr(3, 24)), "ok\n");
        }
    }
    done.store(true);
    reader.join();
    EXPECT_GT(rounds.load(), 1u);
    EXPECT_EQ(m.list_tags().size(), 12u + 150u);
}

}  // namespace
