// The catalogue against the header it describes, and the lengths it works out.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "uhfreader.h"

namespace {

struct Param {
    std::string type, name;
};

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// "int addr, unsigned char *req" -> {int addr}, {unsigned char * req}
std::vector<Param> params(const std::string &list) {
    std::vector<Param> out;
    std::stringstream in(list);
    std::string p;
    while (std::getline(in, p, ',')) {
        const auto star = p.find('*');
        const auto last = p.find_last_of(" *");
        Param q{star != std::string::npos ? "block" : "int", p.substr(last + 1)};
        out.push_back(q);
    }
    return out;
}

// Declarations "UHF_API int NAME(PARAMS);" of a header, by name (no std::regex: GCC 12's
// trips the sanitizer build).
std::map<std::string, std::vector<Param>> declarations(const std::string &header, const std::string &prefix) {
    std::map<std::string, std::vector<Param>> out;
    const std::string marker = "UHF_API int " + prefix;
    for (auto at = header.find(marker); at != std::string::npos; at = header.find(marker, at + 1)) {
        const auto open = header.find('(', at);
        const auto close = header.find(')', open);
        std::string list = header.substr(open + 1, close - open - 1);
        for (char &ch : list)
            if (ch == '\n') ch = ' ';
        out[header.substr(at + 12, open - at - 12)] = params(list);
    }
    return out;
}

const std::string kDesigned = read_file(UHF_INCLUDE_DIR "/uhfreader.h");
const std::string kLink = read_file(UHF_INCLUDE_DIR "/uhfreader_link.h");

TEST(Catalogue, DescribesEveryCommandTheHeaderDeclaresWithItsParameterNames) {
    const auto designed = declarations(kDesigned, "");
    const auto twins = declarations(kLink, "uhf_");
    ASSERT_EQ(uhf_command_count(), 98);
    std::set<std::string> names;
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info &c = *uhf_command_at(i);
        names.insert(c.name);
        const auto d = designed.find(c.name);
        ASSERT_NE(d, designed.end()) << c.name << " is not declared";
        const std::vector<Param> &p = d->second;
        ASSERT_EQ(p.size(), static_cast<std::size_t>(c.arg_count + 1)) << c.name;
        EXPECT_EQ(p[0].name, "addr");
        for (int a = 0; a < c.arg_count; ++a) {
            EXPECT_EQ(p[a + 1].name, c.args[a].name) << c.name;
            const bool scalar = c.args[a].kind == UHF_ARG_SCALAR8 || c.args[a].kind == UHF_ARG_SCALAR16;
            EXPECT_EQ(p[a + 1].type, scalar ? "int" : "block") << c.name << " " << c.args[a].name;
        }
        const auto t = twins.find(std::string("uhf_") + c.name);
        ASSERT_NE(t, twins.end()) << "no twin declared for " << c.name;
        ASSERT_EQ(t->second.size(), p.size() + 1);
        EXPECT_EQ(t->second[0].name, "l");
        for (std::size_t a = 0; a < p.size(); ++a) EXPECT_EQ(t->second[a + 1].name, p[a].name) << c.name;
        EXPECT_EQ(uhf_command_find(c.name), &c);
    }
    EXPECT_EQ(names.size(), 98u) << "a command appears twice";
}

TEST(Catalogue, CodesAreUniqueAndInTheirFamilysRange) {
    std::set<int> codes;
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info &c = *uhf_command_at(i);
        EXPECT_TRUE(codes.insert(c.code).second) << c.name;
        const int k = c.code;
        const bool custom = k == 0xE0 || k == 0xE1 || k == 0xE2;
        switch (c.family) {
        case UHF_FAMILY_ADMIN: EXPECT_TRUE((k >= 1 && k <= 7) || (k >= 16 && k <= 27)) << c.name; break;
        case UHF_FAMILY_EPC: EXPECT_TRUE((k >= 32 && k <= 47) || custom) << c.name; break;
        case UHF_FAMILY_GB: EXPECT_TRUE((k >= 64 && k <= 89) || custom) << c.name; break;
        case UHF_FAMILY_GJB: EXPECT_TRUE((k >= 96 && k <= 112) || custom) << c.name; break;
        case UHF_FAMILY_GB_FD: EXPECT_TRUE(k >= 160 && k <= 167) << c.name; break;
        case UHF_FAMILY_GJB_FD: EXPECT_TRUE(k >= 176 && k <= 180) << c.name; break;
        case UHF_FAMILY_FM151M: EXPECT_TRUE(k >= 208 && k <= 211) << c.name; break;
        case UHF_FAMILY_PSAM: EXPECT_TRUE(k >= 240 && k <= 243) << c.name; break;
        default: ADD_FAILURE() << c.name << " has no family";
        }
        const bool copies = c.copy != UHF_COPY_NONE;
        EXPECT_EQ(copies, c.copy_arg >= 0) << c.name << ": a copy with nowhere to go";
    }
    EXPECT_EQ(uhf_command_at(-1), nullptr);
    EXPECT_EQ(uhf_command_at(98), nullptr);
    EXPECT_EQ(uhf_command_find("epc_read_tag"), nullptr);
    EXPECT_EQ(uhf_command_find(nullptr), nullptr);
}

struct BlockCase {
    const char *command;
    int arg;
    std::vector<unsigned char> block;
    int length;
};

class BlockLength : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockLength, IsWhatTheCommandSends) {
    const BlockCase &b = GetParam();
    const uhf_command_info *c = uhf_command_find(b.command);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(uhf_block_length(c, b.arg, b.block.data(), static_cast<int>(b.block.size())), b.length);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BlockLength,
    testing::Values(BlockCase{"EPC_Read_TAG", 0, {3, 0, 2, 0}, 4}, BlockCase{"EPC_Read_TAG", 0, {}, 4},
                    BlockCase{"EPC_Set_Pwd", 1, {1, 2, 3, 4}, 4}, BlockCase{"EPC_Write_TAG", 0, {3, 0, 0, 2}, 8},
                    BlockCase{"EPC_Write_TAG", 0, {3, 0, 0}, -1}, BlockCase{"GB_Write_TAG", 0, {3, 0, 0, 1, 0}, 517},
                    BlockCase{"GB_Write_Block_TAG", 0, {3, 0, 4}, 11}, BlockCase{"EPC_Wake_TAG", 0, {1, 0, 0, 9}, 6},
                    BlockCase{"EPC_Write_Select_Para", 0, {7}, 7}, BlockCase{"EPC_TAG_Cust_Command", 0, {0, 17, 0, 0, 0}, 8},
                    BlockCase{"PSAM_Command", 0, {5}, 6}, BlockCase{"FM151M_Hash", 0, {0, 0, 252}, 255},
                    BlockCase{"FM151M_Cipher", 0, {0, 0, 0, 0, 251}, 256}, BlockCase{"Get_CH_Active", 0, {2}, 1},
                    BlockCase{"EPC_Read_TAG", 1, {}, UHF_ERR_INVALID}, BlockCase{"FM151M_Get_RN", 0, {}, UHF_ERR_INVALID},
                    BlockCase{"EPC_Read_TAG", 2, {}, UHF_ERR_INVALID}));

struct CopyCase {
    const char *command;
    std::vector<unsigned char> copy;
    int length;
};

class CopyLength : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyLength, ReadsTheCountsBackAsTheCopyRuleDid) {
    const CopyCase &k = GetParam();
    std::vector<unsigned char> copy(k.copy);
    copy.resize(2048);
    EXPECT_EQ(uhf_copy_length(uhf_command_find(k.command), copy.data()), k.length);
}

INSTANTIATE_TEST_SUITE_P(Rules, CopyLength,
                         testing::Values(CopyCase{"EPC_Read_TAG", {4}, 5}, CopyCase{"EPC_Read_TAG", {255}, 256},
                                         CopyCase{"EPC_Read_Select_Para", {0}, 1}, CopyCase{"EPC_Read_Select_Para", {6}, 6},
                                         CopyCase{"EPC_Read_Tag_List", {0, 1}, 2}, CopyCase{"EPC_Read_Tag_List", {0x01, 0x00}, 256},
                                         CopyCase{"EPC_Read_Tag_List", {0xFF, 0xFF}, 2048}, CopyCase{"EPC_Write_TAG", {0}, 1},
                                         CopyCase{"GetDeviceInfo", {}, 22}, CopyCase{"FM151M_Get_RN", {0, 16}, 18},
                                         CopyCase{"FM151M_Get_RN", {0xFF, 0xFF}, 2048}, CopyCase{"EPC_Query_ON", {}, 0}));

}  // namespace
