// GB tag commands. Every one returns the exchange code, or the reader's status byte after a
// successful exchange; copies and echoes happen whatever the status byte says.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

extern "C" {

UHF_API int GB_Read_Select_Para(int addr, unsigned char *reply) {
    return command(addr, 0x40, no_data(), self_counted_copy(reply));
}

UHF_API int GB_Write_Select_Para(int addr, unsigned char *block) {
    return command(addr, 0x41, select_block(block));
}

UHF_API int GB_Query_ON(int addr) {
    return command(addr, 0x42, no_data());
}

UHF_API int GB_Read_Tag_List(int addr, int a, int b, unsigned char *reply) {
    return command(addr, 0x43, scalar_bytes(a, b), total_length_copy(reply));
}

UHF_API int GB_Set_Pwd(int addr, int a, int b, unsigned char *pwd1, unsigned char *pwd2) {
    return command(addr, 0x45, scalar_bytes(a, b) + fixed_block(pwd1, 4) + fixed_block(pwd2, 4));
}

UHF_API int GB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0x46, bit_counted(block), counted_copy(reply));
}

UHF_API int GB_Access_Proc(int addr, int a, int b) {
    return command(addr, 0x47, scalar_bytes(a, b));
}

UHF_API int GB_Read_TAG(int addr, unsigned char *req, unsigned char *reply) {
    return command(addr, 0x48, fixed_block(req, 5), counted_copy(reply));
}

UHF_API int GB_Write_TAG(int addr, unsigned char *block) {
    return command(addr, 0x49, word_counted<5>(block), status_echo(block));
}

UHF_API int GB_Kill_TAG(int addr, unsigned char *block) {
    return command(addr, 0x4A, fixed_block(block, 4), status_echo(block));
}

UHF_API int GB_Lock_TAG(int addr, unsigned char *block) {
    return command(addr, 0x4B, fixed_block(block, 3), status_echo(block));
}

UHF_API int GB_Write_Block_TAG(int addr, unsigned char *block) {
    return command(addr, 0x4C, word_counted<3>(block), status_echo(block));
}

UHF_API int GB_Erase_TAG(int addr, unsigned char *block) {
    return command(addr, 0x4D, fixed_block(block, 5), status_echo(block));
}

UHF_API int GB_Halt_TAG(int addr) {
    return command(addr, 0x4E, no_data());
}

UHF_API int GB_Edit_TAG_Pwd(int addr, unsigned char *block) {
    return command(addr, 0x4F, fixed_block(block, 9), status_echo(block));
}

UHF_API int GB_Get_SecPara(int addr, unsigned char *reply) {
    return command(addr, 0x50, no_data(), counted_copy(reply));
}

UHF_API int GB_Set_SecPara(int addr, unsigned char *block) {
    return command(addr, 0x51, fixed_block(block, 6), status_echo(block));
}

// 16 bytes: the length byte 0x10 travels doubled.
UHF_API int GB_Set_Auth_Pwd(int addr, unsigned char *block) {
    return command(addr, 0x52, fixed_block(block, 16), status_echo(block));
}

// The authentication steps carry nothing; the reader keeps whatever state joins them.
UHF_API int GB_T2R_XAuth(int addr) { return command(addr, 0x53, no_data()); }
UHF_API int GB_T2R_SAuth(int addr) { return command(addr, 0x54, no_data()); }
UHF_API int GB_R2T_XAuth(int addr) { return command(addr, 0x55, no_data()); }
UHF_API int GB_R2T_SAuth(int addr) { return command(addr, 0x56, no_data()); }
UHF_API int GB_Mul_XAuth(int addr) { return command(addr, 0x57, no_data()); }
UHF_API int GB_Mul_SAuth(int addr) { return command(addr, 0x58, no_data()); }
UHF_API int GB_Sec_Comm(int addr) { return command(addr, 0x59, no_data()); }

UHF_API int GB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xE0, custom_block(block), counted_copy(reply));
}

}  // extern "C"
