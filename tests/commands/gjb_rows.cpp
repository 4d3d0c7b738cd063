// GJB rows, and FD extension rows. The shared-buffer rows pass one buffer as request block
// and reply buffer: the request must go out as the caller wrote it.
#include "command_table.hpp"

namespace cmdtest {
namespace {

const Row kGjb[] = {
    {"Read_Select_Para", CALL(GJB_Read_Select_Para(addr, b)), {}, 0x60, {}, {1, 5}, B, {1}},
    {"Write_Select_Para_Two", CALL(GJB_Write_Select_Para(addr, a)), {2}, 0x61, fill({2}, 2)},
    {"Query_ON", CALL(GJB_Query_ON(addr)), {}, 0x62, {}},
    {"Read_Tag_List", CALL(GJB_Read_Tag_List(addr, 1, 2, b)), {}, 0x63, {1, 2}, {0, 2, 9}, B, {0, 2}},
    // 17 data bytes: the scalar's low byte, then the block.
    {"Set_Pwd", CALL(GJB_Set_Pwd(addr, 0x1AB, a)), {}, 0x65, cat({{0xAB}, fill({}, 16)})},
    {"Wake_TAG_SharedBuffer", CALL(GJB_Wake_TAG(addr, a, a)), {1, 2, 3, 9}, 0x66, fill({1, 2, 3, 9}, 6), {2, 4, 5}, A, {2, 4, 5}},
    {"Access_Proc", CALL(GJB_Access_Proc(addr, 0x1AB)), {}, 0x67, {0xAB}},
    {"Read_TAG_SharedBuffer", CALL(GJB_Read_TAG(addr, a, a)), {}, 0x68, fill({}, 5), {1, 8}, A, {1, 8}},
    {"Write_TAG_1Word", CALL(GJB_Write_TAG(addr, a)), {1, 2, 3, 0, 1}, 0x69, fill({1, 2, 3, 0, 1}, 7), {7}, A, {7}},
    {"Write_TAG_125Words", CALL(GJB_Write_TAG(addr, a)), {1, 2, 3, 0, 125}, 0x69, fill({1, 2, 3, 0, 125}, 255), {7}, A, {7}},
    {"Kill_TAG", CALL(GJB_Kill_TAG(addr, a)), {}, 0x6A, fill({}, 4), {7}, A, {7}},
    {"Lock_TAG", CALL(GJB_Lock_TAG(addr, a)), {}, 0x6B, fill({}, 3), {7}, A, {7}},
    {"Write_Block_TAG_126Words", CALL(GJB_Write_Block_TAG(addr, a)), {1, 2, 126}, 0x6C, fill({1, 2, 126}, 255), {7}, A, {7}},
    {"Erase_TAG", CALL(GJB_Erase_TAG(addr, a)), {}, 0x6D, fill({}, 5), {7}, A, {7}},
    {"Halt_TAG", CALL(GJB_Halt_TAG(addr)), {}, 0x6E, {}},
    {"Edit_TAG_Pwd", CALL(GJB_Edit_TAG_Pwd(addr, a)), {}, 0x6F, fill({}, 16), {7}, A, {7}},
    {"Get_SecPara", CALL(GJB_Get_SecPara(addr, b)), {}, 0x70, {}, {2, 1, 2, 3}, B, {2, 1, 2}},
    {"Cust_SharedBuffer", CALL(GJB_TAG_Cust_Command(addr, a, a)), {0, 1}, 0xE1, fill({0, 1}, 6), {0}, A, {0}},
};
COMMAND_TABLE(Gjb, kGjb);

const Row kFd[] = {
    {"GB_Cust_Access", CALL(GB_FD_Cust_Access(addr, a)), {}, 0xA0, fill({}, 4), {7}, A, {7}},
    {"GB_Cust_Pwd_Write", CALL(GB_FD_Cust_Pwd_Write(addr, a)), {}, 0xA1, fill({}, 4), {7}, A, {7}},
    {"GB_Cust_Pwd_Lock", CALL(GB_FD_Cust_Pwd_Lock(addr, a)), {}, 0xA2, fill({}, 1), {7}, A, {7}},
    {"GB_Cust_Init_End", CALL(GB_FD_Cust_Init_End(addr, a)), {}, 0xA3, fill({}, 4), {7}, A, {7}},
    {"GB_Cust_Lock_Info", CALL(GB_FD_Cust_Lock_Info(addr, b)), {}, 0xA4, {}, fill({4}, 6), B, fill({4}, 5)},
    {"GB_Write_Auth_Pwd", CALL(GB_FD_Write_Auth_Pwd(addr, a)), {}, 0xA5, fill({}, 16), {7}, A, {7}},
    {"GB_Dual_Auth", CALL(GB_FD_Dual_Auth(addr, 0x1FF, 0x102)), {}, 0xA6, {0xFF, 0x02}},
    // Always 16 bytes, whatever byte 0 holds and however long the reply.
    {"GB_Get_Diver_Key_Long", CALL(GB_FD_Get_Diver_Key(addr, 0x103, b)), {}, 0xA7, {3}, fill({0xFF}, 40), B, fill({0xFF}, 16)},
    {"GB_Get_Diver_Key_Short", CALL(GB_FD_Get_Diver_Key(addr, 3, b)), {}, 0xA7, {3}, {1, 2, 3}, B, pad({1, 2, 3}, 16)},
    {"GJB_Cust_Read_Block_SharedBuffer", CALL(GJB_FD_Cust_Read_Block(addr, a, a)), {}, 0xB0, fill({}, 5), {3, 1, 2, 3}, A, {3, 1, 2, 3}},
    {"GJB_Cust_Write_Block_0Words", CALL(GJB_FD_Cust_Write_Block(addr, a)), {1, 2, 3, 0, 0}, 0xB1, {1, 2, 3, 0, 0}, {7}, A, {7}},
    {"GJB_Cust_Write_Block_125Words", CALL(GJB_FD_Cust_Write_Block(addr, a)), {1, 2, 3, 0, 125}, 0xB1, fill({1, 2, 3, 0, 125}, 255), {7}, A, {7}},
    {"GJB_Cust_Erase_Block", CALL(GJB_FD_Cust_Erase_Block(addr, a)), {}, 0xB2, fill({}, 5), {7}, A, {7}},
    {"GJB_Cust_Lock_Blck", CALL(GJB_FD_Cust_Lock_Blck(addr, a)), {}, 0xB3, fill({}, 3), {7}, A, {7}},
    {"GJB_Cust_Lock_Info", CALL(GJB_FD_Cust_Lock_Info(addr, b)), {}, 0xB4, {}, {0, 5}, B, {0}},
};
COMMAND_TABLE(Fd, kFd);

}  // namespace
}  // namespace cmdtest
