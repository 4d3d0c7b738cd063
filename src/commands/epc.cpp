// EPC tag commands. Every one returns the exchange code, or the reader's status byte after a
// successful exchange; copies and echoes happen whatever the status byte says.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

extern "C" {

// The block read back has the select block's form, so it can be written back unchanged.
UHF_API int EPC_Read_Select_Para(int addr, unsigned char *reply) {
    return command(addr, 0x20, no_data(), self_counted_copy(reply));
}

UHF_API int EPC_Write_Select_Para(int addr, unsigned char *block) {
    return command(addr, 0x21, select_block(block));
}

UHF_API int EPC_Query_ON(int addr) {
    return command(addr, 0x22, no_data());
}

UHF_API int EPC_Read_Tag_List(int addr, int a, int b, unsigned char *reply) {
    return command(addr, 0x23, scalar_bytes(a, b), total_length_copy(reply));
}

UHF_API int EPC_Set_Pwd(int addr, int a, unsigned char *pwd1, unsigned char *pwd2) {
    return command(addr, 0x25, scalar_bytes(a) + fixed_block(pwd1, 4) + fixed_block(pwd2, 4));
}

UHF_API int EPC_Wake_TAG(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0x26, bit_counted(block), counted_copy(reply));
}

UHF_API int EPC_Access_Proc(int addr) {
    return command(addr, 0x27, no_data());
}

UHF_API int EPC_Read_TAG(int addr, unsigned char *req, unsigned char *reply) {
    return command(addr, 0x28, fixed_block(req, 4), counted_copy(reply));
}

UHF_API int EPC_Write_TAG(int addr, unsigned char *block) {
    return command(addr, 0x29, word_counted<4>(block), status_echo(block));
}

UHF_API int EPC_Kill_TAG(int addr, unsigned char *block) {
    return command(addr, 0x2A, fixed_block(block, 4), status_echo(block));
}

UHF_API int EPC_Lock_TAG(int addr, unsigned char *block) {
    return command(addr, 0x2B, fixed_block(block, 5), status_echo(block));
}

UHF_API int EPC_Write_Block_TAG(int addr, unsigned char *block) {
    return command(addr, 0x2C, word_counted<4>(block), status_echo(block));
}

UHF_API int EPC_Write_Erase_TAG(int addr, unsigned char *block) {
    return command(addr, 0x2D, fixed_block(block, 4), status_echo(block));
}

UHF_API int EPC_Halt_TAG(int addr) {
    return command(addr, 0x2E, no_data());
}

UHF_API int EPC_Edit_TAG_Pwd(int addr, unsigned char *old_pwd, unsigned char *new_pwd) {
    return command(addr, 0x2F, fixed_block(old_pwd, 4) + fixed_block(new_pwd, 4));
}

UHF_API int EPC_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xE2, custom_block(block), counted_copy(reply));
}

}  // extern "C"
