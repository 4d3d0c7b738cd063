// A reader's filters, zones and the tag JSON's GS1 part, without a reader: the filters as a table
// of rules against GS1-coded and other ids, zones fed rounds whose RSSI crosses over, and the
// tag.epc an event carries.
#include <gtest/gtest.h>

#include "event_json.hpp"
#include "tag_filter.hpp"
#include "zones.hpp"

namespace {

using inventory::Family;
using namespace std::chrono_literals;

std::vector<std::uint8_t> bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// urn:epc:tag:sgtin-96:3.0614141.812345.6789 and .6790, sgtin-96:1.0614141.999999.1,
// sscc-96:0.0614141.1234567890, and an id that is no GS1 EPC.
const std::string kSgtin6789 = "3074257BF7194E4000001A85";
const std::string kSgtin6790 = "3074257BF7194E4000001A86";
const std::string kSgtinOther = "3034257BF7D08FC000000001";
const std::string kSscc = "3114257BF4499602D2000000";
const std::string kPlain = "E2801160600002054D5A7B1F";

inventory::TagRead read(const std::string& hex, int rssi = -50, int antenna = 1, Family f = Family::epc) {
    return {f, {bytes(hex), rssi, antenna, 1}};
}

uhfd::IdRule rule(const std::string& text) {
    std::string why;
    auto r = uhfd::IdRule::parse(text, why);
    if (!r) throw std::runtime_error(why);
    return *r;
}

struct FilterRow {
    const char* name;
    std::vector<std::string> include, exclude;
    std::optional<int> rssi_min;
    std::set<int> antennas;
    std::vector<std::string> kept;  // of the field below, in its order
};

class Filters : public ::testing::TestWithParam<FilterRow> {};

// The field: every id once on antenna 1 at -50, and the first SGTIN again on antenna 2 at -75,
// and a GB tag whose id would decode as an SGTIN-96.
TEST_P(Filters, KeepExactlyTheMatchingReads) {
    const FilterRow& row = GetParam();
    uhfd::TagFilter f;
    for (const auto& t : row.include) f.include.push_back(rule(t));
    for (const auto& t : row.exclude) f.exclude.push_back(rule(t));
    f.rssi_min = row.rssi_min;
    f.antennas = row.antennas;
    std::vector<inventory::TagRead> reads{read(kSgtin6789), read(kSgtin6790), read(kSgtinOther), read(kSscc),
                                          read(kPlain), read(kSgtin6789, -75, 2), read(kSgtin6790, -50, 1, Family::gb)};
    const std::size_t before = reads.size();
    const std::size_t dropped = f.apply(reads);
    std::vector<std::string> kept;
    for (const auto& r : reads)
        kept.push_back(uhfd::hex(r.tag.id) + (r.family == Family::gb ? "/gb" : "") + (r.tag.antenna == 2 ? "@2" : ""));
    EXPECT_EQ(kept, row.kept);
    EXPECT_EQ(dropped, before - reads.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Filters,
    ::testing::Values(
        FilterRow{"NoRulesKeepAll", {}, {}, {}, {},
                  {kSgtin6789, kSgtin6790, kSgtinOther, kSscc, kPlain, kSgtin6789 + "@2", kSgtin6790 + "/gb"}},
        FilterRow{"PatternOneItem", {"urn:epc:pat:sgtin-96:3.0614141.812345.*"}, {}, {}, {},
                  {kSgtin6789, kSgtin6790, kSgtin6789 + "@2"}},
        FilterRow{"PatternAnyFilterValue", {"urn:epc:pat:sgtin-96:*.0614141.*.*"}, {}, {}, {},
                  {kSgtin6789, kSgtin6790, kSgtinOther, kSgtin6789 + "@2"}},
        FilterRow{"PatternSerialRange", {"urn:epc:pat:sgtin-96:3.0614141.812345.[6780-6789]"}, {}, {}, {},
                  {kSgtin6789, kSgtin6789 + "@2"}},
        FilterRow{"TwoIncludesEitherMatches", {"urn:epc:pat:sscc-96:*.0614141.*", "E280"}, {}, {}, {}, {kSscc, kPlain}},
        FilterRow{"ExcludeOneSerial", {}, {"urn:epc:pat:sgtin-96:3.0614141.812345.6789"}, {}, {},
                  {kSgtin6790, kSgtinOther, kSscc, kPlain, kSgtin6790 + "/gb"}},
        FilterRow{"IncludeThenExclude", {"30"}, {"urn:epc:pat:sgtin-96:1.*.*.*"}, {}, {},
                  {kSgtin6789, kSgtin6790, kSgtin6789 + "@2", kSgtin6790 + "/gb"}},
        FilterRow{"HexPrefixTakesAnyFamily", {"3074257BF7194E4000001A86"}, {}, {}, {}, {kSgtin6790, kSgtin6790 + "/gb"}},
        FilterRow{"HexMaskOnTheHeaderAndFilterBits", {"3074/FFE0"}, {}, {}, {},
                  {kSgtin6789, kSgtin6790, kSgtin6789 + "@2", kSgtin6790 + "/gb"}},
        FilterRow{"HexOddDigitsAndLowerCase", {"311"}, {"e2"}, {}, {}, {kSscc}},
        FilterRow{"HexLongerThanTheIdMatchesNothing", {kPlain + "00"}, {}, {}, {}, {}},
        FilterRow{"RssiFloorIsInclusive", {}, {}, -50, {},
                  {kSgtin6789, kSgtin6790, kSgtinOther, kSscc, kPlain, kSgtin6790 + "/gb"}},
        FilterRow{"AntennasOnly2", {}, {}, {}, {2}, {kSgtin6789 + "@2"}},
        FilterRow{"EverythingAtOnce", {"urn:epc:pat:sgtin-96:3.0614141.*.*"}, {"3074257BF7194E4000001A86"}, -80, {2},
                  {kSgtin6789 + "@2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Filters, AReadWithoutRssiPassesTheFloorButNotAnAntennaList) {
    uhfd::TagFilter floor;
    floor.rssi_min = -40;
    inventory::TagRead r{Family::epc, {bytes(kPlain), std::nullopt, std::nullopt, 1}};
    EXPECT_TRUE(floor.keeps(r));
    uhfd::TagFilter antennas;
    antennas.antennas = {0};
    EXPECT_FALSE(antennas.keeps(r));
}

struct BadRule {
    const char* text;
    const char* says;
};

TEST(Filters, MalformedRulesAreRefusedWithTheReason) {
    for (const BadRule& b : {BadRule{"urn:epc:pat:sgtin-96:3.0614141.*.6789", "not an EPC pattern"},
                             BadRule{"urn:epc:pat:sgtin-97:3.0614141.*.*", "not an EPC pattern"},
                             BadRule{"urn:epc:pat:sgtin-96:9.0614141.*.*", "not an EPC pattern"},
                             BadRule{"E2G0", "neither an EPC pattern"},
                             BadRule{"", "neither an EPC pattern"},
                             BadRule{"E200/FF", "the mask"},
                             BadRule{"E200/FFZZ", "the mask"}}) {
        std::string why;
        EXPECT_FALSE(uhfd::IdRule::parse(b.text, why)) << b.text;
        EXPECT_NE(why.find(b.says), std::string::npos) << b.text << ": " << why;
    }
}

// Zones: antennas 1 and 2 share "in", 3 is "out"; a round every 100 ms.
class Zones : public ::testing::Test {
protected:
    uhfd::ZoneSettings settings() {
        uhfd::ZoneSettings z;
        z.names = {{1, "in"}, {2, "in"}, {3, "out"}};
        z.window = 1000ms;
        z.hold = 250ms;
        z.min_rounds = 2;
        return z;
    }
    std::vector<uhfd::ZoneMove> round(uhfd::ZoneTracker& zt, std::vector<inventory::TagRead> reads) {
        t0 += 100ms;
        std::vector<uhfd::ZoneMove> moves;
        zt.observe(reads, {t0, std::chrono::system_clock::now()}, moves);
        return moves;
    }
    const inventory::TagKey key{Family::epc, bytes(kSgtin6789)};
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
};

// Seen on both zones every round, "in" fading and "out" rising: one move, once the "out" peak
// passed the window's "in" peak; none back while "in" stays weaker.
TEST_F(Zones, CrossoverMovesOnceAfterTheHoldOff) {
    uhfd::ZoneTracker zt(settings());
    std::vector<uhfd::ZoneMove> all;
    int moved_at = -1;
    for (int i = 0; i < 30; ++i) {
        const int in = -40 - 2 * i, out = -80 + 2 * i;  // equal at i = 10
        auto m = round(zt, {read(kSgtin6789, in, i % 2 ? 1 : 2), read(kSgtin6789, out, 3)});
        if (i == 0) {
            EXPECT_EQ(zt.zone_of(key), "in");
        }
        if (!m.empty() && moved_at < 0) moved_at = i;
        all.insert(all.end(), m.begin(), m.end());
    }
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].from, "in");
    EXPECT_EQ(all[0].to, "out");
    EXPECT_EQ(zt.zone_of(key), "out");
    // "in" peaked at -40 and drops 2 dB a round: "out" passes the window's "in" peak only once
    // the stronger "in" reads have aged out of the window (round 16), not where the two cross.
    EXPECT_GT(moved_at, 10);
    EXPECT_LT(moved_at, 25);
}

TEST_F(Zones, OneStrayReadDoesNotMove) {
    uhfd::ZoneTracker zt(settings());
    std::size_t moves = 0;
    for (int i = 0; i < 20; ++i) {
        std::vector<inventory::TagRead> reads{read(kSgtin6789, -60, 1)};
        if (i == 5) reads.push_back(read(kSgtin6789, -20, 3, Family::epc));  // much stronger, once
        moves += round(zt, reads).size();
    }
    EXPECT_EQ(moves, 0u);
    EXPECT_EQ(zt.zone_of(key), "in");
}

TEST_F(Zones, AStrongerZoneForLessThanTheHoldDoesNotMove) {
    auto s = settings();
    s.hold = 500ms;
    uhfd::ZoneTracker zt(s);
    std::size_t moves = 0;
    for (int i = 0; i < 5; ++i) moves += round(zt, {read(kSgtin6789, -60, 1)}).size();
    // "out" far stronger for three rounds (300 ms), then gone for good: never read over the hold.
    for (int i = 0; i < 3; ++i) moves += round(zt, {read(kSgtin6789, -60, 1), read(kSgtin6789, -30, 3)}).size();
    for (int i = 0; i < 15; ++i) moves += round(zt, {read(kSgtin6789, -60, 1)}).size();
    EXPECT_EQ(moves, 0u);
    EXPECT_EQ(zt.zone_of(key), "in");
}

TEST_F(Zones, AntennasWithoutAZoneLeaveATagWhereItWas) {
    uhfd::ZoneTracker zt(settings());
    round(zt, {read(kSgtin6789, -70, 3)});
    std::size_t moves = 0;
    for (int i = 0; i < 20; ++i) moves += round(zt, {read(kSgtin6789, -20, 4)}).size();
    EXPECT_EQ(moves, 0u);
    EXPECT_EQ(zt.zone_of(key), "out");
    zt.forget(key);
    EXPECT_EQ(zt.zone_of(key), "");
}

// tag.epc: the URIs, scheme and element string for a GS1 id of the EPC family; nothing for an
// id that is not one, nor for a GB tag whose bytes happen to decode.
TEST(TagJson, CarriesEpcForAGs1IdOnly) {
    inventory::TagState t;
    t.id = bytes(kSgtin6789);
    const auto j = uhfd::tag_json(t, true);
    ASSERT_TRUE(j.contains("epc"));
    EXPECT_EQ(j["epc"]["uri"], "urn:epc:id:sgtin:0614141.812345.6789");
    EXPECT_EQ(j["epc"]["tag_uri"], "urn:epc:tag:sgtin-96:3.0614141.812345.6789");
    EXPECT_EQ(j["epc"]["scheme"], "sgtin-96");
    EXPECT_EQ(j["epc"]["gs1"], "(01)80614141123458(21)6789");
    EXPECT_FALSE(j.contains("zone"));
    t.id = bytes(kPlain);
    EXPECT_FALSE(uhfd::tag_json(t, true).contains("epc"));
    t.id = bytes("3074257BF7194E4000001A85FF");  // a GS1 header, but bits after the id are set
    EXPECT_FALSE(uhfd::tag_json(t, true).contains("epc"));
    t.id = bytes(kSgtin6789);
    t.family = Family::gb;
    EXPECT_FALSE(uhfd::tag_json(t, true).contains("epc"));
    t.zone = "door-3-in";
    EXPECT_EQ(uhfd::tag_json(t, false)["zone"], "door-3-in");
}

TEST(TagJson, MovedEventNamesBothZonesInTheQueueSequence) {
    uhfd::TagMoved m;
    m.time = inventory::Stamp::now();
    m.tag.id = bytes(kSscc);
    m.tag.zone = "out";
    m.from = "in";
    m.to = "out";
    const auto j = uhfd::event_json({"gw", "r"}, {"e7", 42}, m);
    EXPECT_EQ(j["type"], "moved");
    EXPECT_EQ(j["epoch"], "e7");
    EXPECT_EQ(j["seq"], 42);
    EXPECT_EQ(j["from"], "in");
    EXPECT_EQ(j["to"], "out");
    EXPECT_EQ(j["tag"]["zone"], "out");
    EXPECT_EQ(j["tag"]["epc"]["uri"], "urn:epc:id:sscc:0614141.1234567890");
}

}  // namespace
