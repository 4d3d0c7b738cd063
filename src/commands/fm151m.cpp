// FM151M security chip pass-through: ID, random numbers, hash and cipher of caller data.
// Every reply is copied by its own count whatever the status byte says.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

extern "C" {

UHF_API int FM151M_Get_ID(int addr, unsigned char *reply) {
    return command(addr, 0xD0, no_data(), counted_copy(reply));
}

// The one scalar sent as 16 bits; its reply carries a two-byte count.
UHF_API int FM151M_Get_RN(int addr, int count, unsigned char *reply) {
    return command(addr, 0xD1, big_endian16(count), two_byte_counted_copy(reply));
}

UHF_API int FM151M_Hash(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xD2, hash_block(block), counted_copy(reply));
}

UHF_API int FM151M_Cipher(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xD3, cipher_block(block), counted_copy(reply));
}

}  // extern "C"
