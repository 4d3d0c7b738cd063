// PSAM pass-through: the library frames the caller's bytes and hands back the reader's,
// reading neither. Every reply is copied by its own count whatever the status byte says.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

extern "C" {

UHF_API int PSAM_POWER_ON(int addr, int a, int b, unsigned char *reply) {
    return command(addr, 0xF0, scalar_bytes(a, b), counted_copy(reply));
}

UHF_API int PSAM_Warm_Reset(int addr, int a, unsigned char *reply) {
    return command(addr, 0xF1, scalar_bytes(a), counted_copy(reply));
}

// The count byte travels as the first data byte; a count of 255 cannot fit one request.
UHF_API int PSAM_Command(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xF2, count_prefixed(block), counted_copy(reply));
}

UHF_API int PSAM_FD_Issue(int addr, unsigned char *block, unsigned char *reply) {
    return command(addr, 0xF3, count_prefixed(block), counted_copy(reply));
}

}  // extern "C"
