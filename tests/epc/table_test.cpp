// Decoding and encoding by table: worked examples from the Tag Data Standard and GS1's
// published examples in both directions, refusals with the code that says why, round trips
// over every scheme's edges, and pattern URIs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "id_maker.hpp"
#include "uhfreader.h"

namespace {

std::vector<unsigned char> bytes(const std::string &h) {
    std::vector<unsigned char> v;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        v.push_back(static_cast<unsigned char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return v;
}

std::string hex(const unsigned char *b, int n) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; ++i) s += {d[b[i] >> 4], d[b[i] & 15]};
    return s;
}

struct Example {
    const char *hex;  // as written to a tag: whole 16-bit words
    const char *tag_uri, *uri, *gs1;
};

const Example examples[] = {
    {"3074257BF7194E4000001A85", "urn:epc:tag:sgtin-96:3.0614141.812345.6789",
     "urn:epc:id:sgtin:0614141.812345.6789", "(01)80614141123458(21)6789"},
    {"3174257BF4499602D2000000", "urn:epc:tag:sscc-96:3.0614141.1234567890",
     "urn:epc:id:sscc:0614141.1234567890", "(00)106141412345678908"},
    {"3274257BF460720000000190", "urn:epc:tag:sgln-96:3.0614141.12345.400",
     "urn:epc:id:sgln:0614141.12345.400", "(414)0614141123452(254)400"},
    {"3374257BF40C0E4000000190", "urn:epc:tag:grai-96:3.0614141.12345.400",
     "urn:epc:id:grai:0614141.12345.400", "(8003)00614141123452400"},
    {"3474257BF40000000000162E", "urn:epc:tag:giai-96:3.0614141.5678",
     "urn:epc:id:giai:0614141.5678", "(8004)06141415678"},
    {"350007AB70425D4000000586", "urn:epc:tag:gid-96:31415.271828.1414",
     "urn:epc:id:gid:31415.271828.1414", ""},
    {"2F320434147455900000162E", "urn:epc:tag:usdod-96:3.CAGEY.5678",
     "urn:epc:id:usdod:CAGEY.5678", ""},
    {"3B0E0CF5E76C9047759AD00373DC7602E7200000", "urn:epc:tag:adi-var:3.35962.PQ7VZ4.M37GXB92",
     "urn:epc:id:adi:35962.PQ7VZ4.M37GXB92", ""},
    {"3D74257BF75411DEF6B4CC00000003039000", "urn:epc:tag:cpi-var:3.0614141.5PQ7%2FZ43.12345",
     "urn:epc:id:cpi:0614141.5PQ7%2FZ43.12345", "(8010)06141415PQ7/Z43(8011)12345"},
    {"3274257BF460720000000000", "urn:epc:tag:sgln-96:3.0614141.12345.0",
     "urn:epc:id:sgln:0614141.12345.0", "(414)0614141123452"},
    {"2D74257BF4499602D2000000", "urn:epc:tag:gsrn-96:3.0614141.1234567890",
     "urn:epc:id:gsrn:0614141.1234567890", "(8018)061414112345678902"},
    {"2E74257BF4499602D2000000", "urn:epc:tag:gsrnp-96:3.0614141.1234567890",
     "urn:epc:id:gsrnp:0614141.1234567890", "(8017)061414112345678902"},
    {"3F74257BF4607200000F42BB", "urn:epc:tag:sgcn-96:3.0614141.12345.000123",
     "urn:epc:id:sgcn:0614141.12345.000123", "(255)0614141123452000123"},
    {"4074257BF7194E40820000006A14", "urn:epc:tag:itip-110:3.0614141.812345.01.02.6789",
     "urn:epc:id:itip:0614141.812345.01.02.6789", "(8006)806141411234580102(21)6789"},
    {"3674257BF7194E70AFC400000000000000000000000000000000",
     "urn:epc:tag:sgtin-198:3.0614141.812345.a%2Fb", "urn:epc:id:sgtin:0614141.812345.a%2Fb",
     "(01)80614141123458(21)a/b"},
};

class WorkedExample : public ::testing::TestWithParam<Example> {};

TEST_P(WorkedExample, DecodesToItsUrisAndElementString) {
    const Example &x = GetParam();
    const auto b = bytes(x.hex);
    uhf_epc e;
    ASSERT_EQ(uhf_epc_decode(b.data(), static_cast<int>(b.size()), &e), 0);
    EXPECT_STREQ(e.tag_uri, x.tag_uri);
    EXPECT_STREQ(e.uri, x.uri);
    EXPECT_STREQ(e.gs1, x.gs1);
    EXPECT_STREQ(e.name, uhf_epc_scheme_name(e.scheme));
}

TEST_P(WorkedExample, EncodesToItsWords) {
    const Example &x = GetParam();
    unsigned char out[UHF_EPC_BYTES_MAX];
    const int n = uhf_epc_encode(x.tag_uri, out, sizeof out);
    ASSERT_GT(n, 0) << uhf_epc_strerror(n);
    EXPECT_EQ(hex(out, n), x.hex);
}

INSTANTIATE_TEST_SUITE_P(Epc, WorkedExample, ::testing::ValuesIn(examples));

TEST(EpcDecode, FieldsCarryTheirNamesAndLeadingZeros) {
    const auto b = bytes("3074257BF7194E4000001A85");
    uhf_epc e;
    ASSERT_EQ(uhf_epc_decode(b.data(), static_cast<int>(b.size()), &e), 0);
    EXPECT_EQ(e.scheme, UHF_EPC_SGTIN_96);
    EXPECT_EQ(e.filter, 3);
    EXPECT_EQ(e.bits, 96);
    ASSERT_EQ(e.field_count, 3);
    EXPECT_STREQ(e.field[0].name, "company_prefix");
    EXPECT_STREQ(e.field[0].value, "0614141");
    EXPECT_STREQ(e.field[1].name, "item_reference");
    EXPECT_STREQ(e.field[2].value, "6789");
}

TEST(EpcDecode, ByteAlignedVariableIdWithoutItsLastWordDecodes) {
    // The Tag Data Standard prints the ADI example in 37 hex digits (146 bits); as bytes it
    // takes 19, not a whole number of words.
    const auto b = bytes("3B0E0CF5E76C9047759AD00373DC7602E72000");
    uhf_epc e;
    ASSERT_EQ(uhf_epc_decode(b.data(), static_cast<int>(b.size()), &e), 0);
    EXPECT_EQ(e.bits, 8 + 6 + 36 + 7 * 6 + 9 * 6);
}

struct BinaryRefusal {
    const char *what, *hex;
    int code;
};

const BinaryRefusal binary_refusals[] = {
    {"empty", "", UHF_EPC_ERR_SHORT},
    {"unprogrammed header", "000000000000000000000000", UHF_EPC_ERR_HEADER},
    {"header of a scheme not decoded (SGTIN-64)", "8000000000000000", UHF_EPC_ERR_HEADER},
    {"SGTIN-96 a byte short", "3074257BF7194E4000001A", UHF_EPC_ERR_SHORT},
    {"partition 7", "307C257BF7194E4000001A85", UHF_EPC_ERR_PARTITION},
    {"company prefix above 12 digits", "3063FFFFFFFFFC0000000000", UHF_EPC_ERR_RANGE},
    {"item reference above its digit", "30600000000003C000000000", UHF_EPC_ERR_RANGE},
    {"a set bit after the id", "3074257BF7194E4000001A8500000001", UHF_EPC_ERR_PADDING},
    {"SSCC reserved bits set", "3174257BF4499602D2000001", UHF_EPC_ERR_PADDING},
    {"GSRN reserved bits set", "2D74257BF4499602D2800000", UHF_EPC_ERR_PADDING},
    {"SGTIN-198 character 7F", "3674257BF7194E7FC00000000000000000000000000000000000", UHF_EPC_ERR_CHARACTER},
    {"SGTIN-198 empty serial", "3674257BF7194E40000000000000000000000000000000000000", UHF_EPC_ERR_LENGTH},
    {"SGTIN-198 bits after the terminator", "3674257BF7194E70800000000000000000000000000000000040", UHF_EPC_ERR_PADDING},
    {"SGCN serial not led by 1", "3F74257BF46072000000C350", UHF_EPC_ERR_RANGE},
    {"CPI-var without terminator", "3D74257BF754", UHF_EPC_ERR_SHORT},
    {"ADI-var '#' inside a serial", "3B0E0CF5E76C9047759AD0037A3C7602E7200000", UHF_EPC_ERR_CHARACTER},
    {"USDOD-96 letter O in a CAGE code", "2F3204341474F5900000162E", UHF_EPC_ERR_CHARACTER},
};

class RefusedBinary : public ::testing::TestWithParam<BinaryRefusal> {};

TEST_P(RefusedBinary, WithTheCodeThatSaysWhy) {
    const auto b = bytes(GetParam().hex);
    uhf_epc e;
    const unsigned char none = 0;
    EXPECT_EQ(uhf_epc_decode(b.empty() ? &none : b.data(), static_cast<int>(b.size()), &e), GetParam().code)
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Epc, RefusedBinary, ::testing::ValuesIn(binary_refusals));

struct UriRefusal {
    const char *uri;
    int code;
};

const UriRefusal uri_refusals[] = {
    {"urn:epc:id:sgtin:0614141.812345.6789", UHF_EPC_ERR_URI},
    {"urn:epc:tag:sgtin-97:3.0614141.812345.6789", UHF_EPC_ERR_SCHEME},
    {"urn:epc:tag:sgtin-96:3.0614141.812345", UHF_EPC_ERR_URI},
    {"urn:epc:tag:sgtin-96:3.0614141.812345.6789.1", UHF_EPC_ERR_URI},
    {"urn:epc:tag:sgtin-96:8.0614141.812345.6789", UHF_EPC_ERR_FILTER},
    {"urn:epc:tag:sgtin-96:03.0614141.812345.6789", UHF_EPC_ERR_LEADING_ZERO},
    {"urn:epc:tag:sgtin-96:3.0614141.81234.6789", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:sgtin-96:3.06141.8123456.6789", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:sgtin-96:3.06141x1.812345.6789", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:sgtin-96:3.0614141.812345.06789", UHF_EPC_ERR_LEADING_ZERO},
    {"urn:epc:tag:sgtin-96:3.0614141.812345.274877906944", UHF_EPC_ERR_RANGE},
    {"urn:epc:tag:sgtin-96:3.0614141.812345.", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:sgtin-198:3.0614141.812345.a/b", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:sgtin-198:3.0614141.812345.a%2", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:sgtin-198:3.0614141.812345.a%23", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:sgtin-198:3.0614141.812345.123456789012345678901", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:sgtin-198:3.0614141.812345.", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:giai-96:3.0614141.05678", UHF_EPC_ERR_LEADING_ZERO},
    {"urn:epc:tag:cpi-96:3.0614141.123456789.1", UHF_EPC_ERR_RANGE},
    {"urn:epc:tag:cpi-var:3.0614141.5PQ7.1000000000000", UHF_EPC_ERR_RANGE},
    {"urn:epc:tag:cpi-var:3.0614141.5pq7.1", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:usdod-96:3.CAGEI.1", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:usdod-96:16.CAGEY.1", UHF_EPC_ERR_FILTER},
    {"urn:epc:tag:adi-var:3.35962.PQ7VZ4.M3%237", UHF_EPC_ERR_CHARACTER},
    {"urn:epc:tag:adi-var:3.35962.PQ7VZ4.", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:gid-96:268435456.1.1", UHF_EPC_ERR_RANGE},
    {"urn:epc:tag:itip-110:3.0614141.812345.1.02.6789", UHF_EPC_ERR_LENGTH},
    {"urn:epc:tag:sgcn-96:3.0614141.12345.1234567890123", UHF_EPC_ERR_LENGTH},
};

class RefusedUri : public ::testing::TestWithParam<UriRefusal> {};

TEST_P(RefusedUri, WithTheCodeThatSaysWhy) {
    unsigned char out[UHF_EPC_BYTES_MAX];
    EXPECT_EQ(uhf_epc_encode(GetParam().uri, out, sizeof out), GetParam().code) << GetParam().uri;
}

INSTANTIATE_TEST_SUITE_P(Epc, RefusedUri, ::testing::ValuesIn(uri_refusals));

TEST(EpcEncode, EscapedOrdinaryCharacterEncodesAsItself) {
    unsigned char a[UHF_EPC_BYTES_MAX], b[UHF_EPC_BYTES_MAX];
    const int na = uhf_epc_encode("urn:epc:tag:sgtin-198:3.0614141.812345.a%41", a, sizeof a);
    const int nb = uhf_epc_encode("urn:epc:tag:sgtin-198:3.0614141.812345.aA", b, sizeof b);
    ASSERT_GT(na, 0);
    EXPECT_EQ(hex(a, na), hex(b, nb));
}

TEST(EpcEncode, BufferTooSmallIsRefusedAndLeftAlone) {
    unsigned char out[12];
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(uhf_epc_encode("urn:epc:tag:sgtin-96:3.0614141.812345.6789", out, 11), UHF_EPC_ERR_SPACE);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(EpcArguments, NullAndNegativeAreRefused) {
    uhf_epc e;
    unsigned char b[4] = {};
    uhf_epc_pattern p;
    EXPECT_EQ(uhf_epc_decode(nullptr, 4, &e), UHF_EPC_ERR_ARGUMENT);
    EXPECT_EQ(uhf_epc_decode(b, -1, &e), UHF_EPC_ERR_ARGUMENT);
    EXPECT_EQ(uhf_epc_encode(nullptr, b, 4), UHF_EPC_ERR_ARGUMENT);
    EXPECT_EQ(uhf_epc_pattern_parse(nullptr, &p), UHF_EPC_ERR_ARGUMENT);
    EXPECT_STRNE(uhf_epc_strerror(UHF_EPC_ERR_PADDING), uhf_epc_strerror(-999));
}

// Every scheme: its edges and random ids encode, decode back to the same tag URI, and the pure
// URI is the tag URI without its filter.
class RoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(RoundTrip, EdgesAndRandomIdsComeBackUnchanged) {
    std::vector<std::string> uris = epc_test::edge_uris(GetParam());
    std::mt19937_64 rng(7);
    for (int i = 0; i < 2000; ++i) uris.push_back(epc_test::random_uri(GetParam(), rng));
    for (const std::string &uri : uris) {
        unsigned char out[UHF_EPC_BYTES_MAX];
        const int n = uhf_epc_encode(uri.c_str(), out, sizeof out);
        ASSERT_GT(n, 0) << uri << ": " << uhf_epc_strerror(n);
        ASSERT_EQ(n % 2, 0);
        uhf_epc e;
        ASSERT_EQ(uhf_epc_decode(out, n, &e), 0) << uri;
        ASSERT_EQ(e.tag_uri, uri);
        ASSERT_LE(e.bits, n * 8);
        ASSERT_GT(e.bits, n * 8 - 16);
        std::string body = uri.substr(uri.find(':', 12) + 1);
        if (e.filter >= 0) body = body.substr(body.find('.') + 1);
        const std::string name = e.name;
        ASSERT_EQ(e.uri, "urn:epc:id:" + name.substr(0, name.find('-')) + ":" + body);
    }
}

INSTANTIATE_TEST_SUITE_P(Epc, RoundTrip, ::testing::ValuesIn(epc_test::scheme_names()),
                         [](const auto &info) {
                             std::string n = info.param;
                             for (char &c : n) if (c == '-') c = '_';
                             return n;
                         });

struct PatternRow {
    const char *pattern, *hex;
    int matches;
};

const PatternRow pattern_rows[] = {
    {"urn:epc:pat:sgtin-96:3.0614141.*.*", "3074257BF7194E4000001A85", 1},
    {"urn:epc:pat:sgtin-96:*.*.*.*", "3074257BF7194E4000001A85", 1},
    {"urn:epc:pat:sgtin-96:3.0614141.812345.6789", "3074257BF7194E4000001A85", 1},
    {"urn:epc:pat:sgtin-96:*.0614141.812345.[6000-7000]", "3074257BF7194E4000001A85", 1},
    {"urn:epc:pat:sgtin-96:*.0614141.812345.[1-6788]", "3074257BF7194E4000001A85", 0},
    {"urn:epc:pat:sgtin-96:[0-2].*.*.*", "3074257BF7194E4000001A85", 0},
    {"urn:epc:pat:sgtin-96:3.0614142.*.*", "3074257BF7194E4000001A85", 0},
    {"urn:epc:pat:sgtin-198:*.*.*.*", "3074257BF7194E4000001A85", 0},
    {"urn:epc:pat:sgtin-96:*.*.*.*", "307C257BF7194E4000001A85", 0},
    {"urn:epc:pat:gid-96:31415.[271828-271828].*", "350007AB70425D4000000586", 1},
    {"urn:epc:pat:cpi-var:*.0614141.5PQ7%2FZ43.*", "3D74257BF75411DEF6B4CC00000003039000", 1},
};

class Pattern : public ::testing::TestWithParam<PatternRow> {};

TEST_P(Pattern, MatchesExactlyTheIdsItNames) {
    uhf_epc_pattern p;
    ASSERT_EQ(uhf_epc_pattern_parse(GetParam().pattern, &p), 0) << GetParam().pattern;
    const auto b = bytes(GetParam().hex);
    EXPECT_EQ(uhf_epc_pattern_match(&p, b.data(), static_cast<int>(b.size())), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(Epc, Pattern, ::testing::ValuesIn(pattern_rows));

const UriRefusal pattern_refusals[] = {
    {"urn:epc:pat:sgtin-96:3.*.812345.*", UHF_EPC_ERR_PATTERN},
    {"urn:epc:pat:sgtin-96:3.0614141.[1-2].*", UHF_EPC_ERR_PATTERN},
    {"urn:epc:pat:sgtin-96:3.0614141.812345.[9-1]", UHF_EPC_ERR_PATTERN},
    {"urn:epc:pat:sgtin-96:3.0614141.812345.[1-", UHF_EPC_ERR_PATTERN},
    {"urn:epc:pat:sgtin-198:3.0614141.812345.[1-2]", UHF_EPC_ERR_PATTERN},
    {"urn:epc:pat:sgtin-96:[0-8].*.*.*", UHF_EPC_ERR_FILTER},
    {"urn:epc:pat:sgtin-96:3.0614141.812345.007", UHF_EPC_ERR_LEADING_ZERO},
    {"urn:epc:pat:sgtin-96:3.0614141.*", UHF_EPC_ERR_URI},
    {"urn:epc:tag:sgtin-96:3.0614141.*.*", UHF_EPC_ERR_URI},
};

class RefusedPattern : public ::testing::TestWithParam<UriRefusal> {};

TEST_P(RefusedPattern, WithTheCodeThatSaysWhy) {
    uhf_epc_pattern p;
    EXPECT_EQ(uhf_epc_pattern_parse(GetParam().uri, &p), GetParam().code) << GetParam().uri;
}

INSTANTIATE_TEST_SUITE_P(Epc, RefusedPattern, ::testing::ValuesIn(pattern_refusals));

} // namespace
