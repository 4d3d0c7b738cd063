/*
 * uhfreader — host-side driver for a UHF RFID reader over a serial line or USB.
 *
 * Every operation is one exchange: a request frame to a reader address, one reply frame
 * back. The state of the link and of the last exchange lives in the exported variables
 * below; every function returns an int. Calls must not overlap (no locks inside).
 *
 * Wire frames (DLE = 0x10; every 0x10 between the start and end pairs travels doubled):
 *
 *   request:  10 01 | addr | cmd | len(1)          | data[len] | xor | 10 02
 *   reply:    10 01 | addr | cmd | status | len(2, big-endian) | data[len] | xor | 10 02
 *
 * The checksum is the XOR of the bytes from the address through the last data byte,
 * leaving out every byte equal to 0x10.
 *
 * Exchange codes (result of PcSendOrder and of every command whose exchange failed):
 *     0        success
 *     1        USB: no device open, or a piece of the request could not be sent
 *   225..233   serial: sending the request failed (225 also: no serial port open)
 *   234        serial: no reply at all                       (detail 109)
 *   235        no reply / first byte not 0x10        (serial 110; USB 108 or 110)
 *   236        second byte could not be read                  (detail 111)
 *   237        second byte not 0x01 (112); USB: echoed command differs (112)
 *   238..242   a field of the reply could not be read
 *              (address 111, command 112, status 112, length 113, data 114, checksum 115);
 *              241 / 113 also when the reply announces more than 2048 data bytes
 *   243        checksum mismatch                              (detail 116)
 *   244..247   end pair missing or wrong             (117 missing, 118 wrong)
 *   248        this library refused an over-long request before sending anything
 *              (detail 104): the length worked out from a caller's count field
 *              exceeds the 255 bytes a request can carry
 *   253        the reply came from another reader address     (detail unchanged)
 *   254        serial: the reply echoes another command code  (detail unchanged)
 *
 * Detail codes (left in IcRetCode): 0, 101..103, 105, 107 (sending), 108..118 (receiving),
 * 104 (this library's refusal of an over-long request). Link_Reader leaves the handshake's
 * exchange code in IcRetCode instead.
 *
 * Status byte: the reader's own verdict, left in ErrorCode and passed through unchanged.
 * "Status result" functions return it after a successful exchange; "exchange result"
 * functions return 0 after any successful exchange and leave it in ErrorCode only.
 *
 * This library's own additions: RS232_InitPort_Path and LinkCom_Path (any terminal node),
 * the refusal code 248 / 104, and these guarantees: every wait is bounded; queued input is
 * discarded before each request so no reply is taken for a later request; reply bytes past
 * the received data read 0.
 */
#ifndef UHFREADER_H
#define UHFREADER_H

#include <stdint.h>

#if defined(UHF_BUILDING_LIBRARY)
#define UHF_API __attribute__((visibility("default")))
#else
#define UHF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct libusb_device;
struct libusb_device_handle;

/* ---- Exchange state (all zero at load) ---- */
UHF_API extern unsigned char pc_id;              /* reader address of the current exchange; 0xFF broadcasts */
UHF_API extern unsigned char IcCmd;              /* command code of the current exchange */
UHF_API extern unsigned char BlkAAdrBeg[2048];   /* request data (USB: the frame pieces while sending) */
UHF_API extern unsigned char BlkALength;         /* request data length, 0..255 */
UHF_API extern unsigned char BlkBAdrBeg[2048];   /* reply data; bytes past BlkBLength read 0 after success */
UHF_API extern uint32_t BlkBLength;              /* reply data length (the reply's 16-bit length field) */
UHF_API extern unsigned char ErrorCode;          /* status byte of the last reply whose status was read */
UHF_API extern unsigned char IcRetCode;          /* detail code of the last exchange (0 on success) */
UHF_API extern unsigned char USB_Flag;           /* 1 while USB is the active transport, 0 for serial */

/* ---- Serial transport state ---- */
UHF_API extern int idComDev;                     /* descriptor of the last serial port opened */
UHF_API extern unsigned char qchar;              /* last byte received (and each request data byte sent) */
UHF_API extern unsigned char pc_id_buf;          /* reader address received in the last reply */
UHF_API extern unsigned char IcCmd_buf;          /* command code received in the last reply */
UHF_API extern int TRYNUM2S;                     /* poll budget base of the handshake (set to 10 per exchange) */
UHF_API extern int TRYNUM2L;                     /* poll budget base of other commands (set to 10 per exchange) */

/* ---- USB transport state ---- */
UHF_API extern struct libusb_device **usb_devs;           /* libusb device list held while linked */
UHF_API extern struct libusb_device *usb_dev;             /* the device examined / opened */
UHF_API extern struct libusb_device_handle *q_usb_handle; /* open handle used for all transfers */
UHF_API extern int EP_OUT;                       /* bulk OUT endpoint, 0x01 */
UHF_API extern int EP_IN;                        /* bulk IN endpoint, 0x82 */

/* ---- Link state ---- */
UHF_API extern int IcBaudRate;                   /* baud of the serial link (0 after a failed link) */

/* ---- Exchange ---- */
UHF_API int PcSendOrder(void);                   /* one exchange on the active transport; returns the exchange code */

/* ---- Serial transport ---- */
UHF_API int RS232_InitPort(int port, int baud);        /* open /dev/ttyS<port> (1..9, else 0); 0 ok, 1 failed */
UHF_API int RS232_InitPort_USB(int port, int baud);    /* open /dev/ttyUSB<port> (1..9, else 0); 0 ok, 1 failed */
UHF_API int RS232_InitPort_Path(const char *path, int baud); /* open any terminal node; 0 ok, 1 failed */
UHF_API int RS232_SendStr(const unsigned char *data, int len); /* write len bytes; 0 when all went out */
UHF_API int RS232_ReceStr(unsigned char *buf, int size);       /* one read of up to size bytes; 1 on read error */
UHF_API int RS232_SendChar(int c);               /* send the low byte of c; 0 ok, 1 failed */
UHF_API int RS232_QSendChar(int c);              /* send the low byte of c, twice when it is 0x10 */
UHF_API int RS232_ReceChar(void);                /* read one byte into qchar; 1 when none */
UHF_API int RS232_QReceChar(void);               /* read one byte into qchar undoing DLE doubling; 1 on failure */
UHF_API int RS232_PcSendOrder(void);             /* one serial exchange; returns the exchange code */
UHF_API int RS232_UnLinkCom(void);               /* close the serial port; returns 0 */

/* ---- USB transport ---- */
UHF_API int USB_Open(void);                      /* find, open and claim the reader (03EB:6125); 0 ok, 1 failed */
UHF_API int USB_QSendChar(int c);                /* append the low byte of c to BlkAAdrBeg (twice when 0x10) */
UHF_API int USB_SendStr(void);                   /* send BlkAAdrBeg/BlkALength in 64-byte pieces; 0 ok */
UHF_API int USB_SendStr_a(void);                 /* one bulk OUT transfer of BlkAAdrBeg/BlkALength; 0 ok */
UHF_API int USB_ReceStr(int timeout_ms);         /* one bulk IN transfer into BlkBAdrBeg; 1 ok, 0 failed */
UHF_API int USB_PcSendOrder(void);               /* one USB exchange; returns the exchange code */
UHF_API int USB_UnLinkCom(void);                 /* release the device and libusb; returns 0 */

/* ---- Link management ---- */
UHF_API int LinkCom(int addr, int port, int baud);   /* link (port 32 = USB, else serial node); up to 3 attempts */
UHF_API int LinkCom_A(int addr, int port, int baud); /* one link attempt: ttyS<port> then ttyUSB<port>, or USB */
UHF_API int LinkCom_Path(int addr, const char *path, int baud); /* as LinkCom, on one terminal node */
UHF_API int USB_LinkCom(int addr);               /* open USB and run the handshake */
UHF_API int Link_Reader(int addr);               /* run the handshake (twice at most) on the open transport */
UHF_API int UnLinkCom(void);                     /* close the active transport; returns 0 */

/* ---- Reader administration ---- */
UHF_API int DeviceRestore(int addr);                             /* 0x01; exchange result */
UHF_API int DeviceReset(int addr);                               /* 0x02; exchange result */
UHF_API int Set_Baud_Rate(int addr, int rate_code);              /* 0x03: one rate-code byte; exchange result */
UHF_API int ALARM(int addr, int a, int b, int c, int d);         /* 0x04: 4 bytes; 4 without sending when a > 7 */
UHF_API int GetDeviceInfo(int addr, unsigned char *info);        /* 0x05: 22 bytes copied (cleared first) */
UHF_API int WriteDeviceNo(int addr, int new_addr);               /* 0x06: new reader address; any replier accepted */
UHF_API int ReadDeviceNo(int addr, unsigned char *no);           /* 0x07: 1 byte copied (cleared first) */
UHF_API int Read_DeviceTemp(int addr, unsigned char *temp);      /* 0x10: 1 byte copied (cleared first) */
UHF_API int Set_Work_Param(int addr, unsigned char *param);      /* 0x11: sends 7 bytes; status result */
UHF_API int Get_Work_Param(int addr, unsigned char *param);      /* 0x12: 7 bytes copied (cleared first) */
UHF_API int Set_R2000_ON_OFF(int addr, int on);                  /* 0x13: switch byte; exchange result */
UHF_API int Set_CW_ON_OFF(int addr, int on);                     /* 0x14: switch byte; status result */
UHF_API int Get_RF_Power(int addr, unsigned char *power);        /* 0x15: 3 bytes copied (byte 0 cleared first) */
UHF_API int Set_Active_ANT(int addr, int antenna);               /* 0x17: antenna byte; status result */
UHF_API int Set_CH_Active(int addr, unsigned char *table);       /* 0x18: sends 9 bytes; status result */
UHF_API int Get_CH_Active(int addr, unsigned char *table);       /* 0x19: sends byte 0, 8 bytes copied */
UHF_API int Set_Menjin_Param(int addr, unsigned char *param);    /* 0x1A: sends 5 bytes; status result */
UHF_API int Get_Menjin_Param(int addr, unsigned char *param);    /* 0x1B: 5 bytes copied (cleared first) */

/* ---- EPC tags (status result) ---- */
UHF_API int EPC_Read_Select_Para(int addr, unsigned char *reply);                     /* 0x20: self-counted copy */
UHF_API int EPC_Write_Select_Para(int addr, unsigned char *block);                    /* 0x21: select block */
UHF_API int EPC_Query_ON(int addr);                                                   /* 0x22 */
UHF_API int EPC_Read_Tag_List(int addr, int a, int b, unsigned char *reply);          /* 0x23: total-length copy */
UHF_API int EPC_Set_Pwd(int addr, int a, unsigned char *pwd1, unsigned char *pwd2);   /* 0x25: 1 + 4 + 4 bytes */
UHF_API int EPC_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);       /* 0x26: bit-counted; counted copy */
UHF_API int EPC_Access_Proc(int addr);                                                /* 0x27 */
UHF_API int EPC_Read_TAG(int addr, unsigned char *req, unsigned char *reply);         /* 0x28: 4 bytes; counted copy */
UHF_API int EPC_Write_TAG(int addr, unsigned char *block);                            /* 0x29: word-counted (4-byte header); echo */
UHF_API int EPC_Kill_TAG(int addr, unsigned char *block);                             /* 0x2A: 4 bytes; echo */
UHF_API int EPC_Lock_TAG(int addr, unsigned char *block);                             /* 0x2B: 5 bytes; echo */
UHF_API int EPC_Write_Block_TAG(int addr, unsigned char *block);                      /* 0x2C: word-counted (4-byte header); echo */
UHF_API int EPC_Write_Erase_TAG(int addr, unsigned char *block);                      /* 0x2D: 4 bytes; echo */
UHF_API int EPC_Halt_TAG(int addr);                                                   /* 0x2E */
UHF_API int EPC_Edit_TAG_Pwd(int addr, unsigned char *old_pwd, unsigned char *new_pwd); /* 0x2F: 4 + 4 bytes */
UHF_API int EPC_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply); /* 0xE2: custom block; counted copy */

/* ---- GB tags (status result) ---- */
UHF_API int GB_Read_Select_Para(int addr, unsigned char *reply);                      /* 0x40: self-counted copy */
UHF_API int GB_Write_Select_Para(int addr, unsigned char *block);                     /* 0x41: select block */
UHF_API int GB_Query_ON(int addr);                                                    /* 0x42 */
UHF_API int GB_Read_Tag_List(int addr, int a, int b, unsigned char *reply);           /* 0x43: total-length copy */
UHF_API int GB_Set_Pwd(int addr, int a, int b, unsigned char *pwd1, unsigned char *pwd2); /* 0x45: 1 + 1 + 4 + 4 bytes */
UHF_API int GB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);        /* 0x46: bit-counted; counted copy */
UHF_API int GB_Access_Proc(int addr, int a, int b);                                   /* 0x47: 2 bytes */
UHF_API int GB_Read_TAG(int addr, unsigned char *req, unsigned char *reply);          /* 0x48: 5 bytes; counted copy */
UHF_API int GB_Write_TAG(int addr, unsigned char *block);                             /* 0x49: word-counted (5-byte header); echo */
UHF_API int GB_Kill_TAG(int addr, unsigned char *block);                              /* 0x4A: 4 bytes; echo */
UHF_API int GB_Lock_TAG(int addr, unsigned char *block);                              /* 0x4B: 3 bytes; echo */
UHF_API int GB_Write_Block_TAG(int addr, unsigned char *block);                       /* 0x4C: word-counted (3-byte header); echo */
UHF_API int GB_Erase_TAG(int addr, unsigned char *block);                             /* 0x4D: 5 bytes; echo */
UHF_API int GB_Halt_TAG(int addr);                                                    /* 0x4E */
UHF_API int GB_Edit_TAG_Pwd(int addr, unsigned char *block);                          /* 0x4F: 9 bytes; echo */
UHF_API int GB_Get_SecPara(int addr, unsigned char *reply);                           /* 0x50: counted copy */
UHF_API int GB_Set_SecPara(int addr, unsigned char *block);                           /* 0x51: 6 bytes; echo */
UHF_API int GB_Set_Auth_Pwd(int addr, unsigned char *block);                          /* 0x52: 16 bytes; echo */
UHF_API int GB_T2R_XAuth(int addr);                                                   /* 0x53 */
UHF_API int GB_T2R_SAuth(int addr);                                                   /* 0x54 */
UHF_API int GB_R2T_XAuth(int addr);                                                   /* 0x55 */
UHF_API int GB_R2T_SAuth(int addr);                                                   /* 0x56 */
UHF_API int GB_Mul_XAuth(int addr);                                                   /* 0x57 */
UHF_API int GB_Mul_SAuth(int addr);                                                   /* 0x58 */
UHF_API int GB_Sec_Comm(int addr);                                                    /* 0x59 */
UHF_API int GB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply); /* 0xE0: custom block; counted copy */

/* ---- GJB tags (status result) ---- */
UHF_API int GJB_Read_Select_Para(int addr, unsigned char *reply);                     /* 0x60: self-counted copy */
UHF_API int GJB_Write_Select_Para(int addr, unsigned char *block);                    /* 0x61: select block */
UHF_API int GJB_Query_ON(int addr);                                                   /* 0x62 */
UHF_API int GJB_Read_Tag_List(int addr, int a, int b, unsigned char *reply);          /* 0x63: total-length copy */
UHF_API int GJB_Set_Pwd(int addr, int a, unsigned char *block);                       /* 0x65: 1 + 16 bytes */
UHF_API int GJB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);       /* 0x66: bit-counted; counted copy */
UHF_API int GJB_Access_Proc(int addr, int a);                                         /* 0x67: 1 byte */
UHF_API int GJB_Read_TAG(int addr, unsigned char *req, unsigned char *reply);         /* 0x68: 5 bytes; counted copy */
UHF_API int GJB_Write_TAG(int addr, unsigned char *block);                            /* 0x69: word-counted (5-byte header); echo */
UHF_API int GJB_Kill_TAG(int addr, unsigned char *block);                             /* 0x6A: 4 bytes; echo */
UHF_API int GJB_Lock_TAG(int addr, unsigned char *block);                             /* 0x6B: 3 bytes; echo */
UHF_API int GJB_Write_Block_TAG(int addr, unsigned char *block);                      /* 0x6C: word-counted (3-byte header); echo */
UHF_API int GJB_Erase_TAG(int addr, unsigned char *block);                            /* 0x6D: 5 bytes; echo */
UHF_API int GJB_Halt_TAG(int addr);                                                   /* 0x6E */
UHF_API int GJB_Edit_TAG_Pwd(int addr, unsigned char *block);                         /* 0x6F: 16 bytes; echo */
UHF_API int GJB_Get_SecPara(int addr, unsigned char *reply);                          /* 0x70: counted copy */
UHF_API int GJB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply); /* 0xE1: custom block; counted copy */

/* ---- FD extensions (status result) ---- */
UHF_API int GB_FD_Cust_Access(int addr, unsigned char *block);                        /* 0xA0: 4 bytes; echo */
UHF_API int GB_FD_Cust_Pwd_Write(int addr, unsigned char *block);                     /* 0xA1: 4 bytes; echo */
UHF_API int GB_FD_Cust_Pwd_Lock(int addr, unsigned char *block);                      /* 0xA2: 1 byte; echo */
UHF_API int GB_FD_Cust_Init_End(int addr, unsigned char *block);                      /* 0xA3: 4 bytes; echo */
UHF_API int GB_FD_Cust_Lock_Info(int addr, unsigned char *reply);                     /* 0xA4: counted copy */
UHF_API int GB_FD_Write_Auth_Pwd(int addr, unsigned char *block);                     /* 0xA5: 16 bytes; echo */
UHF_API int GB_FD_Dual_Auth(int addr, int a, int b);                                  /* 0xA6: 2 bytes */
UHF_API int GB_FD_Get_Diver_Key(int addr, int a, unsigned char *reply);               /* 0xA7: 1 byte; 16 bytes copied */
UHF_API int GJB_FD_Cust_Read_Block(int addr, unsigned char *req, unsigned char *reply); /* 0xB0: 5 bytes; counted copy */
UHF_API int GJB_FD_Cust_Write_Block(int addr, unsigned char *block);                  /* 0xB1: word-counted (5-byte header); echo */
UHF_API int GJB_FD_Cust_Erase_Block(int addr, unsigned char *block);                  /* 0xB2: 5 bytes; echo */
UHF_API int GJB_FD_Cust_Lock_Blck(int addr, unsigned char *block);                    /* 0xB3: 3 bytes; echo */
UHF_API int GJB_FD_Cust_Lock_Info(int addr, unsigned char *reply);                    /* 0xB4: counted copy */

/* ---- PSAM (status result; counted copy of the reply) ---- */
UHF_API int PSAM_POWER_ON(int addr, int a, int b, unsigned char *reply);              /* 0xF0: 2 bytes */
UHF_API int PSAM_Warm_Reset(int addr, int a, unsigned char *reply);                   /* 0xF1: 1 byte */
UHF_API int PSAM_Command(int addr, unsigned char *block, unsigned char *reply);       /* 0xF2: count byte n + n bytes */
UHF_API int PSAM_FD_Issue(int addr, unsigned char *block, unsigned char *reply);      /* 0xF3: as PSAM_Command */

/* ---- FM151M (status result) ---- */
UHF_API int FM151M_Get_ID(int addr, unsigned char *reply);                            /* 0xD0: counted copy */
UHF_API int FM151M_Get_RN(int addr, int count, unsigned char *reply);                 /* 0xD1: low 16 bits, high first; two-byte counted copy */
UHF_API int FM151M_Hash(int addr, unsigned char *block, unsigned char *reply);        /* 0xD2: 3-byte header + n; counted copy */
UHF_API int FM151M_Cipher(int addr, unsigned char *block, unsigned char *reply);      /* 0xD3: 5-byte header + n; counted copy */

#ifdef __cplusplus
}
#endif

#endif /* UHFREADER_H */
