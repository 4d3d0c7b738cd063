// Every exported command as a row: how to call it, its request shape and its reply copy, so a
// test can feed each one the same bad input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "uhfreader.h"

namespace reltest {

using u8 = std::uint8_t;

// A caller block whose own header says how long it is.
enum class Counted { none, select, bits, words3, words4, words5, custom, prefixed, hash, cipher };
// How the reply reaches the caller.
enum class Out { none, counted, self_counted, total, echo, fixed, two_byte };

struct Args {
    int addr = 0;
    int s[4] = {};
    u8 *block = nullptr;
    u8 *block2 = nullptr;
    u8 *reply = nullptr;
};

struct Row {
    const char *name;
    u8 code;
    Counted counted;
    Out out;
    std::size_t out_size;  // fixed copy: bytes copied
    std::size_t cleared;   // bytes of the reply buffer zeroed before the exchange
    int (*call)(const Args &);
};

inline void PrintTo(const Row &row, std::ostream *os) { *os << row.name; }

#define ROW(name, code, counted, out, n, cleared, expr) \
    Row { #name, code, Counted::counted, Out::out, n, cleared, [](const Args &a) { return expr; } }

inline const Row kRows[] = {
    ROW(DeviceRestore, 0x01, none, none, 0, 0, DeviceRestore(a.addr)),
    ROW(DeviceReset, 0x02, none, none, 0, 0, DeviceReset(a.addr)),
    ROW(Set_Baud_Rate, 0x03, none, none, 0, 0, Set_Baud_Rate(a.addr, a.s[0])),
    ROW(ALARM, 0x04, none, none, 0, 0, ALARM(a.addr, a.s[0], a.s[1], a.s[2], a.s[3])),
    ROW(GetDeviceInfo, 0x05, none, fixed, 22, 22, GetDeviceInfo(a.addr, a.reply)),
    ROW(WriteDeviceNo, 0x06, none, none, 0, 0, WriteDeviceNo(a.addr, a.s[0])),
    ROW(ReadDeviceNo, 0x07, none, fixed, 1, 1, ReadDeviceNo(a.addr, a.reply)),
    ROW(Read_DeviceTemp, 0x10, none, fixed, 1, 1, Read_DeviceTemp(a.addr, a.reply)),
    ROW(Set_Work_Param, 0x11, none, none, 0, 0, Set_Work_Param(a.addr, a.block)),
    ROW(Get_Work_Param, 0x12, none, fixed, 7, 7, Get_Work_Param(a.addr, a.reply)),
    ROW(Set_R2000_ON_OFF, 0x13, none, none, 0, 0, Set_R2000_ON_OFF(a.addr, a.s[0])),
    ROW(Set_CW_ON_OFF, 0x14, none, none, 0, 0, Set_CW_ON_OFF(a.addr, a.s[0])),
    ROW(Get_RF_Power, 0x15, none, fixed, 3, 1, Get_RF_Power(a.addr, a.reply)),
    ROW(Set_Active_ANT, 0x17, none, none, 0, 0, Set_Active_ANT(a.addr, a.s[0])),
    ROW(Set_CH_Active, 0x18, none, none, 0, 0, Set_CH_Active(a.addr, a.block)),
    ROW(Get_CH_Active, 0x19, none, fixed, 8, 8, Get_CH_Active(a.addr, a.reply)),
    ROW(Set_Menjin_Param, 0x1A, none, none, 0, 0, Set_Menjin_Param(a.addr, a.block)),
    ROW(Get_Menjin_Param, 0x1B, none, fixed, 5, 5, Get_Menjin_Param(a.addr, a.reply)),

    ROW(EPC_Read_Select_Para, 0x20, none, self_counted, 0, 0, EPC_Read_Select_Para(a.addr, a.reply)),
    ROW(EPC_Write_Select_Para, 0x21, select, none, 0, 0, EPC_Write_Select_Para(a.addr, a.block)),
    ROW(EPC_Query_ON, 0x22, none, none, 0, 0, EPC_Query_ON(a.addr)),
    ROW(EPC_Read_Tag_List, 0x23, none, total, 0, 0, EPC_Read_Tag_List(a.addr, a.s[0], a.s[1], a.reply)),
    ROW(EPC_Set_Pwd, 0x25, none, none, 0, 0, EPC_Set_Pwd(a.addr, a.s[0], a.block, a.block2)),
    ROW(EPC_Wake_TAG, 0x26, bits, counted, 0, 0, EPC_Wake_TAG(a.addr, a.block, a.reply)),
    ROW(EPC_Access_Proc, 0x27, none, none, 0, 0, EPC_Access_Proc(a.addr)),
    ROW(EPC_Read_TAG, 0x28, none, counted, 0, 0, EPC_Read_TAG(a.addr, a.block, a.reply)),
    ROW(EPC_Write_TAG, 0x29, words4, echo, 0, 0, EPC_Write_TAG(a.addr, a.block)),
    ROW(EPC_Kill_TAG, 0x2A, none, echo, 0, 0, EPC_Kill_TAG(a.addr, a.block)),
    ROW(EPC_Lock_TAG, 0x2B, none, echo, 0, 0, EPC_Lock_TAG(a.addr, a.block)),
    ROW(EPC_Write_Block_TAG, 0x2C, words4, echo, 0, 0, EPC_Write_Block_TAG(a.addr, a.block)),
    ROW(EPC_Write_Erase_TAG, 0x2D, none, echo, 0, 0, EPC_Write_Erase_TAG(a.addr, a.block)),
    ROW(EPC_Halt_TAG, 0x2E, none, none, 0, 0, EPC_Halt_TAG(a.addr)),
    ROW(EPC_Edit_TAG_Pwd, 0x2F, none, none, 0, 0, EPC_Edit_TAG_Pwd(a.addr, a.block, a.block2)),
    ROW(EPC_TAG_Cust_Command, 0xE2, custom, counted, 0, 0, EPC_TAG_Cust_Command(a.addr, a.block, a.reply)),

    ROW(GB_Read_Select_Para, 0x40, none, self_counted, 0, 0, GB_Read_Select_Para(a.addr, a.reply)),
    ROW(GB_Write_Select_Para, 0x41, select, none, 0, 0, GB_Write_Select_Para(a.addr, a.block)),
    ROW(GB_Query_ON, 0x42, none, none, 0, 0, GB_Query_ON(a.addr)),
    ROW(GB_Read_Tag_List, 0x43, none, total, 0, 0, GB_Read_Tag_List(a.addr, a.s[0], a.s[1], a.reply)),
    ROW(GB_Set_Pwd, 0x45, none, none, 0, 0, GB_Set_Pwd(a.addr, a.s[0], a.s[1], a.block, a.block2)),
    ROW(GB_Wake_TAG, 0x46, bits, counted, 0, 0, GB_Wake_TAG(a.addr, a.block, a.reply)),
    ROW(GB_Access_Proc, 0x47, none, none, 0, 0, GB_Access_Proc(a.addr, a.s[0], a.s[1])),
    ROW(GB_Read_TAG, 0x48, none, counted, 0, 0, GB_Read_TAG(a.addr, a.block, a.reply)),
    ROW(GB_Write_TAG, 0x49, words5, echo, 0, 0, GB_Write_TAG(a.addr, a.block)),
    ROW(GB_Kill_TAG, 0x4A, none, echo, 0, 0, GB_Kill_TAG(a.addr, a.block)),
    ROW(GB_Lock_TAG, 0x4B, none, echo, 0, 0, GB_Lock_TAG(a.addr, a.block)),
    ROW(GB_Write_Block_TAG, 0x4C, words3, echo, 0, 0, GB_Write_Block_TAG(a.addr, a.block)),
    ROW(GB_Erase_TAG, 0x4D, none, echo, 0, 0, GB_Erase_TAG(a.addr, a.block)),
    ROW(GB_Halt_TAG, 0x4E, none, none, 0, 0, GB_Halt_TAG(a.addr)),
    ROW(GB_Edit_TAG_Pwd, 0x4F, none, echo, 0, 0, GB_Edit_TAG_Pwd(a.addr, a.block)),
    ROW(GB_Get_SecPara, 0x50, none, counted, 0, 0, GB_Get_SecPara(a.addr, a.reply)),
    ROW(GB_Set_SecPara, 0x51, none, echo, 0, 0, GB_Set_SecPara(a.addr, a.block)),
    ROW(GB_Set_Auth_Pwd, 0x52, none, echo, 0, 0, GB_Set_Auth_Pwd(a.addr, a.block)),
    ROW(GB_T2R_XAuth, 0x53, none, none, 0, 0, GB_T2R_XAuth(a.addr)),
    ROW(GB_T2R_SAuth, 0x54, none, none, 0, 0, GB_T2R_SAuth(a.addr)),
    ROW(GB_R2T_XAuth, 0x55, none, none, 0, 0, GB_R2T_XAuth(a.addr)),
    ROW(GB_R2T_SAuth, 0x56, none, none, 0, 0, GB_R2T_SAuth(a.addr)),
    ROW(GB_Mul_XAuth, 0x57, none, none, 0, 0, GB_Mul_XAuth(a.addr)),
    ROW(GB_Mul_SAuth, 0x58, none, none, 0, 0, GB_Mul_SAuth(a.addr)),
    ROW(GB_Sec_Comm, 0x59, none, none, 0, 0, GB_Sec_Comm(a.addr)),
    ROW(GB_TAG_Cust_Command, 0xE0, custom, counted, 0, 0, GB_TAG_Cust_Command(a.addr, a.block, a.reply)),

    ROW(GJB_Read_Select_Para, 0x60, none, self_counted, 0, 0, GJB_Read_Select_Para(a.addr, a.reply)),
    ROW(GJB_Write_Select_Para, 0x61, select, none, 0, 0, GJB_Write_Select_Para(a.addr, a.block)),
    ROW(GJB_Query_ON, 0x62, none, none, 0, 0, GJB_Query_ON(a.addr)),
    ROW(GJB_Read_Tag_List, 0x63, none, total, 0, 0, GJB_Read_Tag_List(a.addr, a.s[0], a.s[1], a.reply)),
    ROW(GJB_Set_Pwd, 0x65, none, none, 0, 0, GJB_Set_Pwd(a.addr, a.s[0], a.block)),
    ROW(GJB_Wake_TAG, 0x66, bits, counted, 0, 0, GJB_Wake_TAG(a.addr, a.block, a.reply)),
    ROW(GJB_Access_Proc, 0x67, none, none, 0, 0, GJB_Access_Proc(a.addr, a.s[0])),
    ROW(GJB_Read_TAG, 0x68, none, counted, 0, 0, GJB_Read_TAG(a.addr, a.block, a.reply)),
    ROW(GJB_Write_TAG, 0x69, words5, echo, 0, 0, GJB_Write_TAG(a.addr, a.block)),
    ROW(GJB_Kill_TAG, 0x6A, none, echo, 0, 0, GJB_Kill_TAG(a.addr, a.block)),
    ROW(GJB_Lock_TAG, 0x6B, none, echo, 0, 0, GJB_Lock_TAG(a.addr, a.block)),
    ROW(GJB_Write_Block_TAG, 0x6C, words3, echo, 0, 0, GJB_Write_Block_TAG(a.addr, a.block)),
    ROW(GJB_Erase_TAG, 0x6D, none, echo, 0, 0, GJB_Erase_TAG(a.addr, a.block)),
    ROW(GJB_Halt_TAG, 0x6E, none, none, 0, 0, GJB_Halt_TAG(a.addr)),
    ROW(GJB_Edit_TAG_Pwd, 0x6F, none, echo, 0, 0, GJB_Edit_TAG_Pwd(a.addr, a.block)),
    ROW(GJB_Get_SecPara, 0x70, none, counted, 0, 0, GJB_Get_SecPara(a.addr, a.reply)),
    ROW(GJB_TAG_Cust_Command, 0xE1, custom, counted, 0, 0, GJB_TAG_Cust_Command(a.addr, a.block, a.reply)),

    ROW(GB_FD_Cust_Access, 0xA0, none, echo, 0, 0, GB_FD_Cust_Access(a.addr, a.block)),
    ROW(GB_FD_Cust_Pwd_Write, 0xA1, none, echo, 0, 0, GB_FD_Cust_Pwd_Write(a.addr, a.block)),
    ROW(GB_FD_Cust_Pwd_Lock, 0xA2, none, echo, 0, 0, GB_FD_Cust_Pwd_Lock(a.addr, a.block)),
    ROW(GB_FD_Cust_Init_End, 0xA3, none, echo, 0, 0, GB_FD_Cust_Init_End(a.addr, a.block)),
    ROW(GB_FD_Cust_Lock_Info, 0xA4, none, counted, 0, 0, GB_FD_Cust_Lock_Info(a.addr, a.reply)),
    ROW(GB_FD_Write_Auth_Pwd, 0xA5, none, echo, 0, 0, GB_FD_Write_Auth_Pwd(a.addr, a.block)),
    ROW(GB_FD_Dual_Auth, 0xA6, none, none, 0, 0, GB_FD_Dual_Auth(a.addr, a.s[0], a.s[1])),
    ROW(GB_FD_Get_Diver_Key, 0xA7, none, fixed, 16, 0, GB_FD_Get_Diver_Key(a.addr, a.s[0], a.reply)),
    ROW(GJB_FD_Cust_Read_Block, 0xB0, none, counted, 0, 0, GJB_FD_Cust_Read_Block(a.addr, a.block, a.reply)),
    ROW(GJB_FD_Cust_Write_Block, 0xB1, words5, echo, 0, 0, GJB_FD_Cust_Write_Block(a.addr, a.block)),
    ROW(GJB_FD_Cust_Erase_Block, 0xB2, none, echo, 0, 0, GJB_FD_Cust_Erase_Block(a.addr, a.block)),
    ROW(GJB_FD_Cust_Lock_Blck, 0xB3, none, echo, 0, 0, GJB_FD_Cust_Lock_Blck(a.addr, a.block)),
    ROW(GJB_FD_Cust_Lock_Info, 0xB4, none, counted, 0, 0, GJB_FD_Cust_Lock_Info(a.addr, a.reply)),

    ROW(PSAM_POWER_ON, 0xF0, none, counted, 0, 0, PSAM_POWER_ON(a.addr, a.s[0], a.s[1], a.reply)),
    ROW(PSAM_Warm_Reset, 0xF1, none, counted, 0, 0, PSAM_Warm_Reset(a.addr, a.s[0], a.reply)),
    ROW(PSAM_Command, 0xF2, prefixed, counted, 0, 0, PSAM_Command(a.addr, a.block, a.reply)),
    ROW(PSAM_FD_Issue, 0xF3, prefixed, counted, 0, 0, PSAM_FD_Issue(a.addr, a.block, a.reply)),

    ROW(FM151M_Get_ID, 0xD0, none, counted, 0, 0, FM151M_Get_ID(a.addr, a.reply)),
    ROW(FM151M_Get_RN, 0xD1, none, two_byte, 0, 0, FM151M_Get_RN(a.addr, a.s[0], a.reply)),
    ROW(FM151M_Hash, 0xD2, hash, counted, 0, 0, FM151M_Hash(a.addr, a.block, a.reply)),
    ROW(FM151M_Cipher, 0xD3, cipher, counted, 0, 0, FM151M_Cipher(a.addr, a.block, a.reply)),
};

#undef ROW

}  // namespace reltest
