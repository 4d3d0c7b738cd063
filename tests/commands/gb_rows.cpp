// GB rows: where GB requests differ from their EPC twins, and the GB-only commands.
#include "command_table.hpp"

namespace cmdtest {
namespace {

const Bytes kPwd2 = {filler(8), filler(9), filler(10), filler(11)};

const Row kGb[] = {
    {"Read_Select_Para", CALL(GB_Read_Select_Para(addr, b)), {}, 0x40, {}, {3, 1, 2, 9}, B, {3, 1, 2}},
    {"Write_Select_Para_Three", CALL(GB_Write_Select_Para(addr, a)), {3}, 0x41, fill({3}, 3)},
    {"Query_ON", CALL(GB_Query_ON(addr)), {}, 0x42, {}},
    {"Read_Tag_List", CALL(GB_Read_Tag_List(addr, 0x1FF, 0x102, b)), {}, 0x43, {0xFF, 0x02}, {0, 3, 1, 2}, B, {0, 3, 1}},
    {"Set_Pwd_LowBytes", CALL(GB_Set_Pwd(addr, 0x101, 0x202, a, a + 8)), {}, 0x45, cat({{1, 2}, fill({}, 4), kPwd2})},
    {"Wake_TAG_16Bits", CALL(GB_Wake_TAG(addr, a, b)), {1, 2, 3, 16}, 0x46, fill({1, 2, 3, 16}, 6), {1, 4}, B, {1, 4}},
    {"Access_Proc_LowBytes", CALL(GB_Access_Proc(addr, 0x1FF, 0x102)), {}, 0x47, {0xFF, 0x02}},
    {"Read_TAG", CALL(GB_Read_TAG(addr, a, b)), {}, 0x48, fill({}, 5), {1, 8}, B, {1, 8}},
    {"Write_TAG_0Words", CALL(GB_Write_TAG(addr, a)), {1, 2, 3, 0, 0}, 0x49, {1, 2, 3, 0, 0}, {7}, A, {7}},
    {"Write_TAG_1Word", CALL(GB_Write_TAG(addr, a)), {1, 2, 3, 0, 1}, 0x49, fill({1, 2, 3, 0, 1}, 7), {7}, A, {7}},
    {"Write_TAG_125Words", CALL(GB_Write_TAG(addr, a)), {1, 2, 3, 0, 125}, 0x49, fill({1, 2, 3, 0, 125}, 255), {7}, A, {7}},
    {"Kill_TAG", CALL(GB_Kill_TAG(addr, a)), {}, 0x4A, fill({}, 4), {7}, A, {7}},
    {"Lock_TAG", CALL(GB_Lock_TAG(addr, a)), {}, 0x4B, fill({}, 3), {7}, A, {7}},
    {"Write_Block_TAG_0Words", CALL(GB_Write_Block_TAG(addr, a)), {1, 2, 0}, 0x4C, {1, 2, 0}, {7}, A, {7}},
    {"Write_Block_TAG_126Words", CALL(GB_Write_Block_TAG(addr, a)), {1, 2, 126}, 0x4C, fill({1, 2, 126}, 255), {7}, A, {7}},
    {"Erase_TAG", CALL(GB_Erase_TAG(addr, a)), {}, 0x4D, fill({}, 5), {7}, A, {7}},
    {"Halt_TAG", CALL(GB_Halt_TAG(addr)), {}, 0x4E, {}},
    {"Edit_TAG_Pwd", CALL(GB_Edit_TAG_Pwd(addr, a)), {}, 0x4F, fill({}, 9), {7, 1}, A, {7}},
    {"Get_SecPara_Empty", CALL(GB_Get_SecPara(addr, b)), {}, 0x50, {}, {0, 1}, B, {0}},
    {"Get_SecPara_Six", CALL(GB_Get_SecPara(addr, b)), {}, 0x50, {}, fill({6}, 9), B, fill({6}, 7)},
    {"Set_SecPara", CALL(GB_Set_SecPara(addr, a)), {}, 0x51, fill({}, 6), {7}, A, {7}},
    {"Set_Auth_Pwd", CALL(GB_Set_Auth_Pwd(addr, a)), {}, 0x52, fill({}, 16), {7}, A, {7}},
    {"T2R_XAuth", CALL(GB_T2R_XAuth(addr)), {}, 0x53, {}},
    {"T2R_SAuth", CALL(GB_T2R_SAuth(addr)), {}, 0x54, {}},
    {"R2T_XAuth", CALL(GB_R2T_XAuth(addr)), {}, 0x55, {}},
    {"R2T_SAuth", CALL(GB_R2T_SAuth(addr)), {}, 0x56, {}},
    {"Mul_XAuth", CALL(GB_Mul_XAuth(addr)), {}, 0x57, {}},
    {"Mul_SAuth", CALL(GB_Mul_SAuth(addr)), {}, 0x58, {}},
    {"Sec_Comm", CALL(GB_Sec_Comm(addr)), {}, 0x59, {}},
    {"Cust_9Bits", CALL(GB_TAG_Cust_Command(addr, a, b)), {0, 9}, 0xE0, fill({0, 9}, 7), {1, 6}, B, {1, 6}},
    {"Cust_2000Bits", CALL(GB_TAG_Cust_Command(addr, a, b)), {0x07, 0xD0}, 0xE0, fill({0x07, 0xD0}, 255), {0}, B, {0}},
};
COMMAND_TABLE(Gb, kGb);

}  // namespace
}  // namespace cmdtest
