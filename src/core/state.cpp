// The exchange state: process-wide, zero at load, part of the exported interface.
#include "uhfreader.h"

extern "C" {
UHF_API unsigned char pc_id = 0;
UHF_API unsigned char IcCmd = 0;
UHF_API unsigned char BlkAAdrBeg[2048] = {};
UHF_API unsigned char BlkALength = 0;
UHF_API unsigned char BlkBAdrBeg[2048] = {};
UHF_API uint32_t BlkBLength = 0;
UHF_API unsigned char ErrorCode = 0;
UHF_API unsigned char IcRetCode = 0;
UHF_API unsigned char USB_Flag = 0;
UHF_API int IcBaudRate = 0;
}
