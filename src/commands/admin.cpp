// Reader administration: commands that act on the reader itself.
//
// The reading commands clear the bytes they fill before the exchange, so a failed exchange
// leaves zeros there; their copies are fixed-size and take no count from the reply. Which
// commands return the exchange code alone and which the reader's status byte is uneven,
// but callers have always seen it so.
#include "core/command.hpp"
#include "uhfreader.h"

using namespace uhf;

namespace {
constexpr int kAlarmHighestMode = 7;
constexpr int kAlarmRefused = 4;
}  // namespace

extern "C" {

UHF_API int DeviceRestore(int addr) {
    return command(addr, 0x01, no_data(), no_copy(), exchange_result);
}

UHF_API int DeviceReset(int addr) {
    return command(addr, 0x02, no_data(), no_copy(), exchange_result);
}

// The rate code is the reader's own; the host's line keeps its speed until the next link.
UHF_API int Set_Baud_Rate(int addr, int rate_code) {
    return command(addr, 0x03, scalar_bytes(rate_code), no_copy(), exchange_result);
}

// The refused request stays in the exchange state. The first argument is tested as a signed
// int, so negative values pass and travel as their low byte; 4 is the refusal callers expect.
UHF_API int ALARM(int addr, int a, int b, int c, int d) {
    if (const int rc = prepare(addr, 0x04, scalar_bytes(a, b, c, d)); rc != 0) return rc;
    if (a > kAlarmHighestMode) return kAlarmRefused;
    return run(no_copy(), status_result);
}

UHF_API int GetDeviceInfo(int addr, unsigned char *info) {
    return command(addr, 0x05, no_data(), cleared(info, 22), fixed_copy(info, 22), exchange_result);
}

// The one reply accepted from any reader address: it comes from the address just written.
UHF_API int WriteDeviceNo(int addr, int new_addr) {
    return command(addr, 0x06, scalar_bytes(new_addr), no_copy(), exchange_result);
}

UHF_API int ReadDeviceNo(int addr, unsigned char *no) {
    return command(addr, 0x07, no_data(), cleared(no, 1), fixed_copy(no, 1), exchange_result);
}

// Code 0x10 travels doubled and stays out of the checksum.
UHF_API int Read_DeviceTemp(int addr, unsigned char *temp) {
    return command(addr, 0x10, no_data(), cleared(temp, 1), fixed_copy(temp, 1), exchange_result);
}

UHF_API int Set_Work_Param(int addr, unsigned char *param) {
    return command(addr, 0x11, fixed_block(param, 7), no_copy(), status_result);
}

UHF_API int Get_Work_Param(int addr, unsigned char *param) {
    return command(addr, 0x12, no_data(), cleared(param, 7), fixed_copy(param, 7), exchange_result);
}

UHF_API int Set_R2000_ON_OFF(int addr, int on) {
    return command(addr, 0x13, scalar_bytes(on), no_copy(), exchange_result);
}

UHF_API int Set_CW_ON_OFF(int addr, int on) {
    return command(addr, 0x14, scalar_bytes(on), no_copy(), status_result);
}

// Only byte 0 is cleared although three are copied: callers rely on bytes 1-2 surviving a
// failed exchange.
UHF_API int Get_RF_Power(int addr, unsigned char *power) {
    return command(addr, 0x15, no_data(), cleared(power, 1), fixed_copy(power, 3), exchange_result);
}

UHF_API int Set_Active_ANT(int addr, int antenna) {
    return command(addr, 0x17, scalar_bytes(antenna), no_copy(), status_result);
}

UHF_API int Set_CH_Active(int addr, unsigned char *table) {
    return command(addr, 0x18, fixed_block(table, 9), no_copy(), status_result);
}

// Byte 0 is input as well: it goes into the request before the buffer is cleared.
UHF_API int Get_CH_Active(int addr, unsigned char *table) {
    return command(addr, 0x19, fixed_block(table, 1), cleared(table, 8), fixed_copy(table, 8), exchange_result);
}

UHF_API int Set_Menjin_Param(int addr, unsigned char *param) {
    return command(addr, 0x1A, fixed_block(param, 5), no_copy(), status_result);
}

UHF_API int Get_Menjin_Param(int addr, unsigned char *param) {
    return command(addr, 0x1B, no_data(), cleared(param, 5), fixed_copy(param, 5), exchange_result);
}

}  // extern "C"
