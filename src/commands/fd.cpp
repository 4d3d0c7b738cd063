// FD extension commands of GB and GJB tags. The GJB group uses the GJB tag layouts under
// codes of its own. Every one returns the exchange code, or the reader's status byte after a
// successful exchange.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

namespace {
constexpr std::size_t kDiverKeySize = 16;
}  // namespace

extern "C" {

UHF_API int GB_FD_Cust_Access(int addr, unsigned char *block) {
    return command(addr, 0xA0, fixed_block(block, 4), status_echo(block));
}

UHF_API int GB_FD_Cust_Pwd_Write(int addr, unsigned char *block) {
    return command(addr, 0xA1, fixed_block(block, 4), status_echo(block));
}

UHF_API int GB_FD_Cust_Pwd_Lock(int addr, unsigned char *block) {
    return command(addr, 0xA2, fixed_block(block, 1), status_echo(block));
}

UHF_API int GB_FD_Cust_Init_End(int addr, unsigned char *block) {
    return command(addr, 0xA3, fixed_block(block, 4), status_echo(block));
}

UHF_API int GB_FD_Cust_Lock_Info(int addr, unsigned char *reply) {
    return command(addr, 0xA4, no_data(), counted_copy(reply));
}

// 16 bytes: the length byte 0x10 travels doubled.
UHF_API int GB_FD_Write_Auth_Pwd(int addr, unsigned char *block) {
    return command(addr, 0xA5, fixed_block(block, 16), status_echo(block));
}

UHF_API int GB_FD_Dual_Auth(int addr, int a, int b) {
    return command(addr, 0xA6, scalar_bytes(a, b));
}

// The key is always 16 bytes; the reply's first byte is key material, not a count.
UHF_API int GB_FD_Get_Diver_Key(int addr, int a, unsigned char *reply) {
    return command(addr, 0xA7, scalar_bytes(a), fixed_copy(reply, kDiverKeySize));
}

UHF_API int GJB_FD_Cust_Read_Block(int addr, unsigned char *req, unsigned char *reply) {
    return command(addr, 0xB0, fixed_block(req, 5), counted_copy(reply));
}

UHF_API int GJB_FD_Cust_Write_Block(int addr, unsigned char *block) {
    return command(addr, 0xB1, word_counted<5>(block), status_echo(block));
}

UHF_API int GJB_FD_Cust_Erase_Block(int addr, unsigned char *block) {
    return command(addr, 0xB2, fixed_block(block, 5), status_echo(block));
}

UHF_API int GJB_FD_Cust_Lock_Blck(int addr, unsigned char *block) {
    return command(addr, 0xB3, fixed_block(block, 3), status_echo(block));
}

UHF_API int GJB_FD_Cust_Lock_Info(int addr, unsigned char *reply) {
    return command(addr, 0xB4, no_data(), counted_copy(reply));
}

}  // extern "C"
