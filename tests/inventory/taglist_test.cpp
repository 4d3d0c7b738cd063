// Tag-list pages read by layouts: the virtual reader's own, and layouts written as data.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/layout.hpp"
#include "inventory/taglist.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Builds a list in the virtual reader's form from entries of (id, rssi, antenna, reads).
Bytes tag_list(std::size_t in_list, const std::vector<Bytes>& entries) {
    Bytes out{0, 0, static_cast<std::uint8_t>(in_list >> 8), static_cast<std::uint8_t>(in_list),
              static_cast<std::uint8_t>(entries.size())};
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    out[0] = static_cast<std::uint8_t>(out.size() >> 8);
    out[1] = static_cast<std::uint8_t>(out.size());
    return out;
}

struct ListRow {
    const char* name;
    Bytes list;
    bool ok;
    std::size_t tags;
};

class TagList : public ::testing::TestWithParam<ListRow> {};

TEST_P(TagList, ParsesOnlyAConsistentList) {
    const auto r = inventory::parse_tag_list(GetParam().list);
    ASSERT_EQ(r.has_value(), GetParam().ok);
    if (r) {
        EXPECT_EQ(r->tags.size(), GetParam().tags);
    }
}

const Bytes kEntryA{6, 0xAA, 0xBB, 0xCC, 0xC4, 2, 3};  // ID AABBCC, -60 dBm, antenna 2, 3 reads
const Bytes kEntryB{5, 0x11, 0x22, 0xD8, 0, 1};

INSTANTIATE_TEST_SUITE_P(
    Virtual, TagList,
    ::testing::Values(
        ListRow{"Empty", tag_list(0, {}), true, 0},
        ListRow{"TwoEntries", tag_list(2, {kEntryA, kEntryB}), true, 2},
        ListRow{"PageOfALongerList", tag_list(9, {kEntryB}), true, 1},
        ListRow{"TotalBeyondTheCopy", [] { Bytes b = tag_list(1, {kEntryA}); b[1] += 1; return b; }(), false, 0},
        ListRow{"EntryTooShortForItsFields", tag_list(1, {{3, 1, 2, 3}}), false, 0},
        ListRow{"EntryRunsPastTheTotal", tag_list(1, {{9, 1, 2, 3}}), false, 0},
        ListRow{"FewerEntriesThanAnnounced", [] { Bytes b = tag_list(2, {kEntryA}); b[4] = 2; return b; }(), false, 0},
        ListRow{"BytesAfterTheLastEntry", [] { Bytes b = tag_list(1, {kEntryA}); b[4] = 0; return b; }(), false, 0},
        ListRow{"MoreHereThanInTheList", tag_list(1, {kEntryA, kEntryB}), false, 0},
        ListRow{"ShorterThanTheHeader", Bytes{0, 3, 0}, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TagListFields, EntryFieldsAreSplitFromTheEnd) {
    const auto r = inventory::parse_tag_list(tag_list(1, {kEntryA}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->tags[0].id, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(r->tags[0].rssi, -60);
    EXPECT_EQ(r->tags[0].antenna, 2);
    EXPECT_EQ(r->tags[0].reads, 3);
}

// A layout a real reader might have: fixed 16-byte entries, little-endian counts, a checksum
// byte after the entries, no in-list count.
inventory::Layout fixed_layout() {
    inventory::Layout l;
    l.name = "fixed";
    l.little_endian = true;
    l.count = {0, 2};
    l.entries = 2;
    l.trailer = 1;
    l.entry_size = 16;
    l.id = {0, 12};
    l.rssi = {12, 2, true};
    l.antenna = {14, 1};
    return l;
}

Bytes fixed_entry(std::uint8_t tag, std::int16_t rssi, std::uint8_t antenna) {
    Bytes e(12, tag);
    e.push_back(static_cast<std::uint8_t>(rssi & 0xFF));
    e.push_back(static_cast<std::uint8_t>((rssi >> 8) & 0xFF));
    e.push_back(antenna);
    e.push_back(0x00);
    return e;
}

Bytes fixed_page(const std::vector<Bytes>& entries, std::size_t extra = 0) {
    Bytes out{static_cast<std::uint8_t>(entries.size()), 0};
    for (const Bytes& e : entries) out.insert(out.end(), e.begin(), e.end());
    out.insert(out.end(), extra, 0xEE);
    out.push_back(0x5A);  // trailer
    return out;
}

TEST(FixedLayout, ReadsLittleEndianSignedFieldsAndSkipsTheTrailer) {
    const auto page = inventory::decode_page(fixed_layout(), fixed_page({fixed_entry(1, -300, 2), fixed_entry(2, 5, 0)}));
    ASSERT_TRUE(page);
    ASSERT_EQ(page->tags.size(), 2u);
    EXPECT_EQ(page->tags[0].id, Bytes(12, 1));
    EXPECT_EQ(page->tags[0].rssi, -300);
    EXPECT_EQ(page->tags[0].antenna, 2);
    EXPECT_EQ(page->tags[0].reads, 1);  // no reads field: one read per entry
    EXPECT_EQ(page->tags[1].rssi, 5);
}

TEST(FixedLayout, RefusesBytesBetweenTheEntriesAndTheTrailer) {
    std::string why;
    EXPECT_FALSE(inventory::decode_page(fixed_layout(), fixed_page({fixed_entry(1, 0, 0)}, 3), &why));
    EXPECT_NE(why.find("after the last entry"), std::string::npos) << why;
}

TEST(FixedLayout, AbsentFieldsStayEmpty) {
    inventory::Layout l = fixed_layout();
    l.rssi = {};
    l.antenna = {};
    const auto page = inventory::decode_page(l, fixed_page({fixed_entry(3, 0, 0)}));
    ASSERT_TRUE(page);
    EXPECT_FALSE(page->tags[0].rssi);
    EXPECT_FALSE(page->tags[0].antenna);
}

TEST(VirtualLayout, WhyNamesTheEntryThatRunsOver) {
    std::string why;
    EXPECT_FALSE(inventory::decode_page(inventory::virtual_layout(), tag_list(2, {kEntryA, {9, 1, 2, 3}}), &why));
    EXPECT_NE(why.find("entry 1"), std::string::npos) << why;
}

struct CheckRow {
    const char* name;
    void (*change)(inventory::Layout&);
    const char* complaint;  // nullptr: the layout is sound
};

class LayoutCheck : public ::testing::TestWithParam<CheckRow> {};

TEST_P(LayoutCheck, RefusesLayoutsThatCannotRead) {
    inventory::Layout l = fixed_layout();
    GetParam().change(l);
    const auto err = inventory::check(l);
    if (!GetParam().complaint) {
        EXPECT_FALSE(err) << *err;
    } else {
        ASSERT_TRUE(err);
        EXPECT_NE(err->find(GetParam().complaint), std::string::npos) << *err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutCheck,
    ::testing::Values(
        CheckRow{"Sound", [](inventory::Layout&) {}, nullptr},
        CheckRow{"VirtualIsSound", [](inventory::Layout& l) { l = inventory::virtual_layout(); }, nullptr},
        CheckRow{"NoCount", [](inventory::Layout& l) { l.count = {}; }, "count is required"},
        CheckRow{"FieldWiderThanFourBytes", [](inventory::Layout& l) { l.rssi.size = 5; }, "rssi: size"},
        CheckRow{"NegativePageOffset", [](inventory::Layout& l) { l.in_list = {-1, 2}; }, "in_list"},
        CheckRow{"NoEntryLength", [](inventory::Layout& l) { l.entry_size = 0; }, "entry_size or entry_length"},
        CheckRow{"FieldOutsideTheEntry", [](inventory::Layout& l) { l.antenna = {16, 1}; }, "antenna lies outside"},
        CheckRow{"IdOutsideTheEntry", [](inventory::Layout& l) { l.id = {8, 12}; }, "id lies outside"},
        CheckRow{"IdEndBeforeOffset", [](inventory::Layout& l) { l.id = {4, 0, 2}; }, "id: end"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
