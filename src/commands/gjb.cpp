// GJB tag commands: the GB set's layouts under codes 32 higher, except the password,
// access and password-edit requests. Every one returns the exchange code, or the reader's
// status byte after a successful exchange.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

extern "C" {

UHF_API int GJB_Read_Select_Para(int addr, unsigned char *reply) {
    return command(addr, 0x60, no_data(), self_counted_copy(reply));
}

UHF_API int GJB_Write_Select_Para(int addr, unsigned char *block) {
    return command(addr, 0x61, select_block(block));
}

UHF_API int GJB_Query_ON(int addr) {
    return command(addr, 0x62, no_data());
}

UHF_API int GJB_Read_Tag_List(int addr, int a, int b, unsigned char *reply) {
    return command(addr, 0x63, scalar_bytes(a, b), total_length_copy(reply));
}

UHF_API int GJB_Set_Pwd(int addr, int a, unsigned char *block) {
    return command(addr, 0x65, scalar_bytes(a) + fixed_block(block, 16));
}

UHF_API int GJB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0x66, bit_counted(block), counted_copy(reply));
}

UHF_API int GJB_Access_Proc(int addr, int a) {
    return command(addr, 0x67, scalar_bytes(a));
}

UHF_API int GJB_Read_TAG(int addr, unsigned char *req, unsigned char *reply) {
    return command(addr, 0x68, fixed_block(req, 5), counted_copy(reply));
}

UHF_API int GJB_Write_TAG(int addr, unsigned char *block) {
    return command(addr, 0x69, word_counted<5>(block), status_echo(block));
}

UHF_API int GJB_Kill_TAG(int addr, unsigned char *block) {
    return command(addr, 0x6A, fixed_block(block, 4), status_echo(block));
}

UHF_API int GJB_Lock_TAG(int addr, unsigned char *block) {
    return command(addr, 0x6B, fixed_block(block, 3), status_echo(block));
}

UHF_API int GJB_Write_Block_TAG(int addr, unsigned char *block) {
    return command(addr, 0x6C, word_counted<3>(block), status_echo(block));
}

UHF_API int GJB_Erase_TAG(int addr, unsigned char *block) {
    return command(addr, 0x6D, fixed_block(block, 5), status_echo(block));
}

UHF_API int GJB_Halt_TAG(int addr) {
    return command(addr, 0x6E, no_data());
}

// 16 bytes: the length byte 0x10 travels doubled.
UHF_API int GJB_Edit_TAG_Pwd(int addr, unsigned char *block) {
    return command(addr, 0x6F, fixed_block(block, 16), status_echo(block));
}

UHF_API int GJB_Get_SecPara(int addr, unsigned char *reply) {
    return command(addr, 0x70, no_data(), counted_copy(reply));
}

UHF_API int GJB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xE1, custom_block(block), counted_copy(reply));
}

}  // extern "C"
