#include "uhfctl/catalog.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "uhfreader.h"

namespace uhfctl {

namespace {

#define ROW(fn, code, args, names, form, fixed, result, help, ...) \
    {#fn, code, args, names, Form::form, fixed, Result::result, help, \
     [](int a, Call& c) -> int { (void)c; return fn(a __VA_OPT__(,) __VA_ARGS__); }}

#define I0 c.ints[0]
#define I1 c.ints[1]
#define I2 c.ints[2]
#define I3 c.ints[3]
#define B0 c.blocks[0]
#define B1 c.blocks[1]
#define OUT c.out

// Get_CH_Active reads its page from the buffer it then fills.
int get_ch_active(int addr, std::uint8_t* block, std::uint8_t* out) {
    out[0] = block[0];
    return Get_CH_Active(addr, out);
}

const CommandRow kRows[] = {
    // Reader administration
    ROW(DeviceRestore, 0x01, "", "", none, 0, exchange, "restore the reader's factory settings"),
    ROW(DeviceReset, 0x02, "", "", none, 0, exchange, "reset the reader"),
    ROW(Set_Baud_Rate, 0x03, "i", "RATE_CODE", none, 0, exchange, "send the reader a line-rate code", I0),
    ROW(ALARM, 0x04, "iiii", "A B C D", none, 0, status, "drive the alarm (A above 7 is refused without sending)", I0, I1, I2, I3),
    ROW(GetDeviceInfo, 0x05, "", "", fixed, 22, exchange, "read the 22-byte device information", OUT),
    ROW(WriteDeviceNo, 0x06, "i", "NEW_ADDR", none, 0, exchange, "give the reader a new address", I0),
    ROW(ReadDeviceNo, 0x07, "", "", fixed, 1, exchange, "read the reader's address", OUT),
    ROW(Read_DeviceTemp, 0x10, "", "", fixed, 1, exchange, "read the reader's temperature", OUT),
    ROW(Set_Work_Param, 0x11, "b", "PARAM7", none, 0, status, "write the 7-byte work parameters", B0),
    ROW(Get_Work_Param, 0x12, "", "", fixed, 7, exchange, "read the 7-byte work parameters", OUT),
    ROW(Set_R2000_ON_OFF, 0x13, "i", "ON", none, 0, exchange, "switch the R2000 on or off", I0),
    ROW(Set_CW_ON_OFF, 0x14, "i", "ON", none, 0, status, "switch the carrier wave on or off", I0),
    ROW(Get_RF_Power, 0x15, "", "", fixed, 3, exchange, "read the 3-byte RF power", OUT),
    ROW(Set_Active_ANT, 0x17, "i", "ANTENNA", none, 0, status, "choose the active antenna", I0),
    ROW(Set_CH_Active, 0x18, "b", "TABLE9", none, 0, status, "write the 9-byte channel table request", B0),
    {"Get_CH_Active", 0x19, "b", "PAGE1", Form::fixed, 8, Result::exchange,
     "read 8 bytes of the channel table (one request byte)",
     [](int a, Call& c) { return get_ch_active(a, c.blocks[0], c.out); }},
    ROW(Set_Menjin_Param, 0x1A, "b", "PARAM5", none, 0, status, "write the 5-byte Menjin parameters", B0),
    ROW(Get_Menjin_Param, 0x1B, "", "", fixed, 5, exchange, "read the 5-byte Menjin parameters", OUT),

    // EPC tags
    ROW(EPC_Read_Select_Para, 0x20, "", "", self_counted, 0, status, "read the select block", OUT),
    ROW(EPC_Write_Select_Para, 0x21, "b", "SELECT", none, 0, status, "write a select block (byte 0 is its length)", B0),
    ROW(EPC_Query_ON, 0x22, "", "", none, 0, status, "run an inventory round"),
    ROW(EPC_Read_Tag_List, 0x23, "ii", "A B", total_length, 0, status, "read the tag list", I0, I1, OUT),
    ROW(EPC_Set_Pwd, 0x25, "ibb", "A PWD4 PWD4", none, 0, status, "set the passwords", I0, B0, B1),
    ROW(EPC_Wake_TAG, 0x26, "b", "BITBLOCK", counted, 0, status, "wake a tag (byte 3 counts mask bits)", B0, OUT),
    ROW(EPC_Access_Proc, 0x27, "", "", none, 0, status, "access the tag"),
    ROW(EPC_Read_TAG, 0x28, "b", "REQ4", counted, 0, status, "read tag memory", B0, OUT),
    ROW(EPC_Write_TAG, 0x29, "b", "WORDBLOCK", status_echo, 0, status, "write tag memory (byte 3 counts words)", B0),
    ROW(EPC_Kill_TAG, 0x2A, "b", "REQ4", status_echo, 0, status, "kill the tag", B0),
    ROW(EPC_Lock_TAG, 0x2B, "b", "REQ5", status_echo, 0, status, "lock tag memory", B0),
    ROW(EPC_Write_Block_TAG, 0x2C, "b", "WORDBLOCK", status_echo, 0, status, "block-write tag memory (byte 3 counts words)", B0),
    ROW(EPC_Write_Erase_TAG, 0x2D, "b", "REQ4", status_echo, 0, status, "erase tag memory", B0),
    ROW(EPC_Halt_TAG, 0x2E, "", "", none, 0, status, "halt the tag"),
    ROW(EPC_Edit_TAG_Pwd, 0x2F, "bb", "OLD4 NEW4", none, 0, status, "change the tag's password", B0, B1),
    ROW(EPC_TAG_Cust_Command, 0xE2, "b", "CUSTBLOCK", counted, 0, status, "raw tag command (bytes 0-1 count bits)", B0, OUT),

    // GB tags
    ROW(GB_Read_Select_Para, 0x40, "", "", self_counted, 0, status, "read the select block", OUT),
    ROW(GB_Write_Select_Para, 0x41, "b", "SELECT", none, 0, status, "write a select block (byte 0 is its length)", B0),
    ROW(GB_Query_ON, 0x42, "", "", none, 0, status, "run an inventory round"),
    ROW(GB_Read_Tag_List, 0x43, "ii", "A B", total_length, 0, status, "read the tag list", I0, I1, OUT),
    ROW(GB_Set_Pwd, 0x45, "iibb", "A B PWD4 PWD4", none, 0, status, "set the passwords", I0, I1, B0, B1),
    ROW(GB_Wake_TAG, 0x46, "b", "BITBLOCK", counted, 0, status, "wake a tag (byte 3 counts mask bits)", B0, OUT),
    ROW(GB_Access_Proc, 0x47, "ii", "A B", none, 0, status, "access the tag", I0, I1),
    ROW(GB_Read_TAG, 0x48, "b", "REQ5", counted, 0, status, "read tag memory", B0, OUT),
    ROW(GB_Write_TAG, 0x49, "b", "WORDBLOCK", status_echo, 0, status, "write tag memory (bytes 3-4 count words)", B0),
    ROW(GB_Kill_TAG, 0x4A, "b", "REQ4", status_echo, 0, status, "kill the tag", B0),
    ROW(GB_Lock_TAG, 0x4B, "b", "REQ3", status_echo, 0, status, "lock tag memory", B0),
    ROW(GB_Write_Block_TAG, 0x4C, "b", "WORDBLOCK", status_echo, 0, status, "block-write tag memory (byte 2 counts words)", B0),
    ROW(GB_Erase_TAG, 0x4D, "b", "REQ5", status_echo, 0, status, "erase tag memory", B0),
    ROW(GB_Halt_TAG, 0x4E, "", "", none, 0, status, "halt the tag"),
    ROW(GB_Edit_TAG_Pwd, 0x4F, "b", "REQ9", status_echo, 0, status, "change a tag password", B0),
    ROW(GB_Get_SecPara, 0x50, "", "", counted, 0, status, "read the security parameters", OUT),
    ROW(GB_Set_SecPara, 0x51, "b", "REQ6", status_echo, 0, status, "write the security parameters", B0),
    ROW(GB_Set_Auth_Pwd, 0x52, "b", "REQ16", status_echo, 0, status, "write the authentication password", B0),
    ROW(GB_T2R_XAuth, 0x53, "", "", none, 0, status, "authentication step"),
    ROW(GB_T2R_SAuth, 0x54, "", "", none, 0, status, "authentication step"),
    ROW(GB_R2T_XAuth, 0x55, "", "", none, 0, status, "authentication step"),
    ROW(GB_R2T_SAuth, 0x56, "", "", none, 0, status, "authentication step"),
    ROW(GB_Mul_XAuth, 0x57, "", "", none, 0, status, "authentication step"),
    ROW(GB_Mul_SAuth, 0x58, "", "", none, 0, status, "authentication step"),
    ROW(GB_Sec_Comm, 0x59, "", "", none, 0, status, "secure communication step"),
    ROW(GB_TAG_Cust_Command, 0xE0, "b", "CUSTBLOCK", counted, 0, status, "raw tag command (bytes 0-1 count bits)", B0, OUT),

    // GJB tags
    ROW(GJB_Read_Select_Para, 0x60, "", "", self_counted, 0, status, "read the select block", OUT),
    ROW(GJB_Write_Select_Para, 0x61, "b", "SELECT", none, 0, status, "write a select block (byte 0 is its length)", B0),
    ROW(GJB_Query_ON, 0x62, "", "", none, 0, status, "run an inventory round"),
    ROW(GJB_Read_Tag_List, 0x63, "ii", "A B", total_length, 0, status, "read the tag list", I0, I1, OUT),
    ROW(GJB_Set_Pwd, 0x65, "ib", "A REQ16", none, 0, status, "set the passwords", I0, B0),
    ROW(GJB_Wake_TAG, 0x66, "b", "BITBLOCK", counted, 0, status, "wake a tag (byte 3 counts mask bits)", B0, OUT),
    ROW(GJB_Access_Proc, 0x67, "i", "A", none, 0, status, "access the tag", I0),
    ROW(GJB_Read_TAG, 0x68, "b", "REQ5", counted, 0, status, "read tag memory", B0, OUT),
    ROW(GJB_Write_TAG, 0x69, "b", "WORDBLOCK", status_echo, 0, status, "write tag memory (bytes 3-4 count words)", B0),
    ROW(GJB_Kill_TAG, 0x6A, "b", "REQ4", status_echo, 0, status, "kill the tag", B0),
    ROW(GJB_Lock_TAG, 0x6B, "b", "REQ3", status_echo, 0, status, "lock tag memory", B0),
    ROW(GJB_Write_Block_TAG, 0x6C, "b", "WORDBLOCK", status_echo, 0, status, "block-write tag memory (byte 2 counts words)", B0),
    ROW(GJB_Erase_TAG, 0x6D, "b", "REQ5", status_echo, 0, status, "erase tag memory", B0),
    ROW(GJB_Halt_TAG, 0x6E, "", "", none, 0, status, "halt the tag"),
    ROW(GJB_Edit_TAG_Pwd, 0x6F, "b", "REQ16", status_echo, 0, status, "change a tag password", B0),
    ROW(GJB_Get_SecPara, 0x70, "", "", counted, 0, status, "read the security parameters", OUT),
    ROW(GJB_TAG_Cust_Command, 0xE1, "b", "CUSTBLOCK", counted, 0, status, "raw tag command (bytes 0-1 count bits)", B0, OUT),

    // FD extensions
    ROW(GB_FD_Cust_Access, 0xA0, "b", "REQ4", status_echo, 0, status, "open the custom area", B0),
    ROW(GB_FD_Cust_Pwd_Write, 0xA1, "b", "REQ4", status_echo, 0, status, "write the custom password", B0),
    ROW(GB_FD_Cust_Pwd_Lock, 0xA2, "b", "REQ1", status_echo, 0, status, "lock the custom password", B0),
    ROW(GB_FD_Cust_Init_End, 0xA3, "b", "REQ4", status_echo, 0, status, "end initialisation", B0),
    ROW(GB_FD_Cust_Lock_Info, 0xA4, "", "", counted, 0, status, "read the lock information", OUT),
    ROW(GB_FD_Write_Auth_Pwd, 0xA5, "b", "REQ16", status_echo, 0, status, "write the authentication password", B0),
    ROW(GB_FD_Dual_Auth, 0xA6, "ii", "A B", none, 0, status, "dual authentication", I0, I1),
    ROW(GB_FD_Get_Diver_Key, 0xA7, "i", "A", fixed, 16, status, "read a 16-byte diversified key", I0, OUT),
    ROW(GJB_FD_Cust_Read_Block, 0xB0, "b", "REQ5", counted, 0, status, "read a block", B0, OUT),
    ROW(GJB_FD_Cust_Write_Block, 0xB1, "b", "WORDBLOCK", status_echo, 0, status, "write a block (bytes 3-4 count words)", B0),
    ROW(GJB_FD_Cust_Erase_Block, 0xB2, "b", "REQ5", status_echo, 0, status, "erase a block", B0),
    ROW(GJB_FD_Cust_Lock_Blck, 0xB3, "b", "REQ3", status_echo, 0, status, "lock a block", B0),
    ROW(GJB_FD_Cust_Lock_Info, 0xB4, "", "", counted, 0, status, "read the lock information", OUT),

    // FM151M
    ROW(FM151M_Get_ID, 0xD0, "", "", counted, 0, status, "read the chip's ID", OUT),
    ROW(FM151M_Get_RN, 0xD1, "i", "COUNT", two_byte_counted, 0, status, "ask for COUNT random bytes (16 bits sent)", I0, OUT),
    ROW(FM151M_Hash, 0xD2, "b", "HASHBLOCK", counted, 0, status, "hash a block (byte 2 counts the body)", B0, OUT),
    ROW(FM151M_Cipher, 0xD3, "b", "CIPHERBLOCK", counted, 0, status, "cipher a block (byte 4 counts the body)", B0, OUT),

    // PSAM
    ROW(PSAM_POWER_ON, 0xF0, "ii", "A B", counted, 0, status, "power the PSAM on", I0, I1, OUT),
    ROW(PSAM_Warm_Reset, 0xF1, "i", "A", counted, 0, status, "warm-reset the PSAM", I0, OUT),
    ROW(PSAM_Command, 0xF2, "b", "CMDBLOCK", counted, 0, status, "send a command block (byte 0 counts the rest)", B0, OUT),
    ROW(PSAM_FD_Issue, 0xF3, "b", "CMDBLOCK", counted, 0, status, "send a command block for issuing", B0, OUT),
};

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const CommandRow> commands() { return kRows; }

const CommandRow* find_command(std::string_view name) {
    for (const CommandRow& r : kRows)
        if (same_name(r.name, name)) return &r;
    return nullptr;
}

const CommandRow* find_command(std::uint8_t code) {
    for (const CommandRow& r : kRows)
        if (r.code == code) return &r;
    return nullptr;
}

const char* command_name(std::uint8_t code) {
    if (code == 0) return "handshake";
    const CommandRow* r = find_command(code);
    return r ? r->name : "unknown";
}

std::size_t copied_size(const CommandRow& row, const std::uint8_t* copy) {
    switch (row.form) {
        case Form::none: return 0;
        case Form::status_echo: return 1;
        case Form::fixed: return row.fixed_size;
        case Form::counted: return std::size_t{copy[0]} + 1;
        case Form::self_counted: return std::max<std::size_t>(copy[0], 1);
        case Form::total_length:
            return std::clamp<std::size_t>((std::size_t{copy[0]} << 8) | copy[1], 2, kBufferSize);
        case Form::two_byte_counted:
            return std::min<std::size_t>(((std::size_t{copy[0]} << 8) | copy[1]) + 2, kBufferSize);
    }
    return 0;
}

}  // namespace uhfctl
