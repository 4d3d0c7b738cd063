// Reader administration rows. The reading commands zero their output first, so a failed
// exchange leaves zeros in exactly the `cleared` bytes.
#include "command_table.hpp"

namespace cmdtest {
namespace {

const Row kAdmin[] = {
    {"DeviceRestore", CALL(DeviceRestore(addr)), {}, 0x01, {}, {}, none, {}, exchange},
    {"DeviceReset", CALL(DeviceReset(addr)), {}, 0x02, {}, {9}, none, {}, exchange},
    {"Set_Baud_Rate_LowByte", CALL(Set_Baud_Rate(addr, 0x1234)), {}, 0x03, {0x34}, {}, none, {}, exchange},
    {"ALARM_Seven", CALL(ALARM(addr, 7, 0x101, 2, 3)), {}, 0x04, {7, 1, 2, 3}},
    {"ALARM_NegativeSent", CALL(ALARM(addr, -1, 0, 0x10, 0x1FF)), {}, 0x04, {0xFF, 0, 0x10, 0xFF}},
    {"GetDeviceInfo", CALL(GetDeviceInfo(addr, b)), {}, 0x05, {}, fill({}, 24), B, fill({}, 22), exchange, 22},
    {"WriteDeviceNo", CALL(WriteDeviceNo(addr, 0x109)), {}, 0x06, {9}, {}, none, {}, exchange},
    {"ReadDeviceNo", CALL(ReadDeviceNo(addr, b)), {}, 0x07, {}, {9, 7}, B, {9}, exchange, 1},
    {"Read_DeviceTemp", CALL(Read_DeviceTemp(addr, b)), {}, 0x10, {}, {0x21}, B, {0x21}, exchange, 1},
    {"Set_Work_Param", CALL(Set_Work_Param(addr, a)), {1, 2, 3, 4, 5, 6, 7}, 0x11, {1, 2, 3, 4, 5, 6, 7}},
    {"Get_Work_Param", CALL(Get_Work_Param(addr, b)), {}, 0x12, {}, fill({}, 7), B, fill({}, 7), exchange, 7},
    {"Set_R2000_ON_OFF", CALL(Set_R2000_ON_OFF(addr, 0x101)), {}, 0x13, {1}, {}, none, {}, exchange},
    {"Set_CW_ON_OFF", CALL(Set_CW_ON_OFF(addr, 0x100)), {}, 0x14, {0}},
    // Three bytes copied, only byte 0 cleared: bytes 1-2 survive a failed exchange.
    {"Get_RF_Power", CALL(Get_RF_Power(addr, b)), {}, 0x15, {}, {1, 2, 3, 4}, B, {1, 2, 3}, exchange, 1},
    {"Set_Active_ANT", CALL(Set_Active_ANT(addr, 3)), {}, 0x17, {3}},
    {"Set_CH_Active", CALL(Set_CH_Active(addr, a)), {}, 0x18, fill({}, 9)},
    // Byte 0 goes out before the buffer is cleared; the reply then fills bytes 0-7.
    {"Get_CH_Active", CALL(Get_CH_Active(addr, a)), {2}, 0x19, {2}, fill({}, 10), A, fill({}, 8), exchange, 8},
    {"Set_Menjin_Param", CALL(Set_Menjin_Param(addr, a)), {0x10}, 0x1A, fill({0x10}, 5)},
    // Fewer bytes than the fixed copy takes: the rest reads 0, never an earlier reply's bytes.
    {"Get_Menjin_Param_ShortReply", CALL(Get_Menjin_Param(addr, b)), {}, 0x1B, {}, {1, 2}, B, {1, 2, 0, 0, 0}, exchange, 5},
};
COMMAND_TABLE(Admin, kAdmin);

}  // namespace
}  // namespace cmdtest
