// PSAM and FM151M rows: count blocks at their limits and the two-byte counted reply.
#include "command_table.hpp"

namespace cmdtest {
namespace {

const Row kPsam[] = {
    {"POWER_ON_LowBytes", CALL(PSAM_POWER_ON(addr, 0x1AB, 0x2CD, b)), {}, 0xF0, {0xAB, 0xCD}, {2, 0x11, 0x22}, B, {2, 0x11, 0x22}},
    {"Warm_Reset", CALL(PSAM_Warm_Reset(addr, 0x101, b)), {}, 0xF1, {1}, {0}, B, {0}},
    {"Command_Count0", CALL(PSAM_Command(addr, a, b)), {0}, 0xF2, {0}, {1, 9}, B, {1, 9}},
    {"Command_Count1", CALL(PSAM_Command(addr, a, b)), {1}, 0xF2, fill({1}, 2), {0}, B, {0}},
    {"Command_Count254", CALL(PSAM_Command(addr, a, b)), {254}, 0xF2, fill({254}, 255), {0}, B, {0}},
    {"Command_SharedBuffer", CALL(PSAM_Command(addr, a, a)), {3, 0xA1, 0xB2, 0xC3}, 0xF2, {3, 0xA1, 0xB2, 0xC3}, {2, 0x90, 0x00}, A, {2, 0x90, 0x00}},
    {"FD_Issue", CALL(PSAM_FD_Issue(addr, a, b)), {3, 0xA1, 0xB2, 0xC3}, 0xF3, {3, 0xA1, 0xB2, 0xC3}, {0}, B, {0}},
};
COMMAND_TABLE(Psam, kPsam);

const Row kFm151m[] = {
    {"Get_ID", CALL(FM151M_Get_ID(addr, b)), {}, 0xD0, {}, {3, 1, 2, 3, 4}, B, {3, 1, 2, 3}},
    {"Get_RN_8", CALL(FM151M_Get_RN(addr, 8, b)), {}, 0xD1, {0, 8}, {0, 4, 1, 2, 3, 4, 5}, B, {0, 4, 1, 2, 3, 4}},
    {"Get_RN_HighByteFirst", CALL(FM151M_Get_RN(addr, 0x1234, b)), {}, 0xD1, {0x12, 0x34}, {0, 0, 9}, B, {0, 0}},
    {"Get_RN_Low16Bits", CALL(FM151M_Get_RN(addr, 0x12345, b)), {}, 0xD1, {0x23, 0x45}, {0, 1, 9}, B, {0, 1, 9}},
    // A two-byte count beyond the reply area is cut at 2048 bytes; missing bytes read 0.
    {"Get_RN_CountBeyondArea", CALL(FM151M_Get_RN(addr, 1, b)), {}, 0xD1, {0, 1}, {0xFF, 0xFF, 7}, B, pad({0xFF, 0xFF, 7}, 2048)},
    {"Hash_0", CALL(FM151M_Hash(addr, a, b)), {1, 2, 0}, 0xD2, {1, 2, 0}, {1, 0x7F}, B, {1, 0x7F}},
    {"Hash_1", CALL(FM151M_Hash(addr, a, b)), {1, 2, 1}, 0xD2, fill({1, 2, 1}, 4), {0}, B, {0}},
    {"Hash_252", CALL(FM151M_Hash(addr, a, b)), {1, 2, 252}, 0xD2, fill({1, 2, 252}, 255), {0}, B, {0}},
    {"Hash_SharedBuffer", CALL(FM151M_Hash(addr, a, a)), {1, 2, 8}, 0xD2, fill({1, 2, 8}, 11), {1, 0x7F}, A, {1, 0x7F}},
    {"Cipher_0", CALL(FM151M_Cipher(addr, a, b)), {1, 2, 3, 4, 0}, 0xD3, {1, 2, 3, 4, 0}, {0}, B, {0}},
    {"Cipher_9", CALL(FM151M_Cipher(addr, a, b)), {1, 2, 3, 4, 9}, 0xD3, fill({1, 2, 3, 4, 9}, 14), {0}, B, {0}},
    {"Cipher_250", CALL(FM151M_Cipher(addr, a, b)), {1, 2, 3, 4, 250}, 0xD3, fill({1, 2, 3, 4, 250}, 255), {0}, B, {0}},
};
COMMAND_TABLE(Fm151m, kFm151m);

}  // namespace
}  // namespace cmdtest
