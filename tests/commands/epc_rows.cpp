// EPC rows: the count-field boundaries of each request layout, and each copy rule.
#include "command_table.hpp"

namespace cmdtest {
namespace {

const Row kEpc[] = {
    {"Read_Select_Para_Empty", CALL(EPC_Read_Select_Para(addr, b)), {}, 0x20, {}, {0, 1, 2}, B, {0}},
    {"Read_Select_Para_Three", CALL(EPC_Read_Select_Para(addr, b)), {}, 0x20, {}, {3, 1, 2, 9}, B, {3, 1, 2}},
    {"Write_Select_Para_Empty", CALL(EPC_Write_Select_Para(addr, a)), {0}, 0x21, {}},
    {"Write_Select_Para_One", CALL(EPC_Write_Select_Para(addr, a)), {1}, 0x21, {1}},
    {"Write_Select_Para_255", CALL(EPC_Write_Select_Para(addr, a)), {255}, 0x21, fill({255}, 255)},
    {"Query_ON", CALL(EPC_Query_ON(addr)), {}, 0x22, {}},
    {"Read_Tag_List_LowBytes", CALL(EPC_Read_Tag_List(addr, 0x1FF, 0x102, b)), {}, 0x23, {0xFF, 0x02},
     {0, 5, 1, 2, 3, 4}, B, {0, 5, 1, 2, 3}},
    {"Read_Tag_List_TotalOne", CALL(EPC_Read_Tag_List(addr, 0, 0, b)), {}, 0x23, {0, 0}, {0, 1, 7}, B, {0, 1}},
    // A total beyond the reply area is cut at 2048 bytes; past the received data they read 0.
    {"Read_Tag_List_TotalBeyondArea", CALL(EPC_Read_Tag_List(addr, 0, 0, b)), {}, 0x23, {0, 0},
     {0xFF, 0xFF, 1}, B, pad({0xFF, 0xFF, 1}, 2048)},
    {"Set_Pwd", CALL(EPC_Set_Pwd(addr, 0x1AB, a, a + 8)), {}, 0x25, cat({{0xAB}, fill({}, 4), {filler(8), filler(9), filler(10), filler(11)}})},
    {"Wake_TAG_0Bits", CALL(EPC_Wake_TAG(addr, a, b)), {1, 2, 3, 0}, 0x26, {1, 2, 3, 0}, {0}, B, {0}},
    {"Wake_TAG_1Bit", CALL(EPC_Wake_TAG(addr, a, b)), {1, 2, 3, 1}, 0x26, fill({1, 2, 3, 1}, 5), {1, 4}, B, {1, 4}},
    {"Wake_TAG_8Bits", CALL(EPC_Wake_TAG(addr, a, b)), {1, 2, 3, 8}, 0x26, fill({1, 2, 3, 8}, 5), {1, 4}, B, {1, 4}},
    {"Wake_TAG_9Bits", CALL(EPC_Wake_TAG(addr, a, b)), {1, 2, 3, 9}, 0x26, fill({1, 2, 3, 9}, 6), {1, 4}, B, {1, 4}},
    {"Wake_TAG_255Bits", CALL(EPC_Wake_TAG(addr, a, b)), {1, 2, 3, 255}, 0x26, fill({1, 2, 3, 255}, 36), {1, 4}, B, {1, 4}},
    {"Access_Proc", CALL(EPC_Access_Proc(addr)), {}, 0x27, {}},
    {"Read_TAG", CALL(EPC_Read_TAG(addr, a, b)), {}, 0x28, fill({}, 4), {2, 9, 8, 7}, B, {2, 9, 8}},
    // The largest counted copy: 256 bytes.
    {"Read_TAG_Count255", CALL(EPC_Read_TAG(addr, a, b)), {}, 0x28, fill({}, 4), fill({255}, 300), B, fill({255}, 256)},
    // A count beyond the received data: the missing bytes read 0.
    {"Read_TAG_ShortReply", CALL(EPC_Read_TAG(addr, a, b)), {}, 0x28, fill({}, 4), {5, 9}, B, {5, 9, 0, 0, 0, 0}},
    {"Write_TAG_0Words", CALL(EPC_Write_TAG(addr, a)), {1, 2, 3, 0}, 0x29, {1, 2, 3, 0}, {7, 9}, A, {7}},
    // 16 data bytes: the length byte 0x10 travels doubled.
    {"Write_TAG_6Words", CALL(EPC_Write_TAG(addr, a)), {1, 2, 3, 6}, 0x29, fill({1, 2, 3, 6}, 16), {7}, A, {7}},
    {"Write_TAG_125Words", CALL(EPC_Write_TAG(addr, a)), {1, 2, 3, 125}, 0x29, fill({1, 2, 3, 125}, 254), {7}, A, {7}},
    {"Kill_TAG_Echo", CALL(EPC_Kill_TAG(addr, a)), {}, 0x2A, fill({}, 4), {7, 1}, A, {7}},
    {"Lock_TAG", CALL(EPC_Lock_TAG(addr, a)), {}, 0x2B, fill({}, 5), {0}, A, {0}},
    {"Write_Block_TAG_1Word", CALL(EPC_Write_Block_TAG(addr, a)), {1, 2, 3, 1}, 0x2C, fill({1, 2, 3, 1}, 6), {3}, A, {3}},
    {"Write_Erase_TAG", CALL(EPC_Write_Erase_TAG(addr, a)), {}, 0x2D, fill({}, 4), {3}, A, {3}},
    {"Halt_TAG", CALL(EPC_Halt_TAG(addr)), {}, 0x2E, {}},
    {"Edit_TAG_Pwd", CALL(EPC_Edit_TAG_Pwd(addr, a, a + 8)), {}, 0x2F, cat({fill({}, 4), {filler(8), filler(9), filler(10), filler(11)}})},
    {"Cust_0Bits", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0, 0}, 0xE2, fill({0, 0}, 5), {1, 6}, B, {1, 6}},
    {"Cust_1Bit", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0, 1}, 0xE2, fill({0, 1}, 6), {0}, B, {0}},
    {"Cust_8Bits", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0, 8}, 0xE2, fill({0, 8}, 6), {0}, B, {0}},
    {"Cust_9Bits", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0, 9}, 0xE2, fill({0, 9}, 7), {0}, B, {0}},
    {"Cust_256BitsBigEndian", CALL(EPC_TAG_Cust_Command(addr, a, b)), {1, 0}, 0xE2, fill({1, 0}, 37), {0}, B, {0}},
    {"Cust_2000Bits", CALL(EPC_TAG_Cust_Command(addr, a, b)), {0x07, 0xD0}, 0xE2, fill({0x07, 0xD0}, 255), {0}, B, {0}},
};
COMMAND_TABLE(Epc, kEpc);

}  // namespace
}  // namespace cmdtest
