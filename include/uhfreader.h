/**
 * \file
 * \brief Host-side driver for a UHF RFID reader over a serial line or USB.
 *
 * Every operation is one exchange: a request frame to a reader address, one reply frame
 * back. The state of the link and of the last exchange lives in the exported variables
 * below; every function returns an int. Calls must not overlap (no locks inside).
 *
 * Wire frames (DLE = 0x10; every 0x10 between the start and end pairs travels doubled):
 *
 * \verbatim
 *   request:  10 01 | addr | cmd | len(1)          | data[len] | xor | 10 02
 *   reply:    10 01 | addr | cmd | status | len(2, big-endian) | data[len] | xor | 10 02
 * \endverbatim
 *
 * The checksum is the XOR of the bytes from the address through the last data byte,
 * leaving out every byte equal to 0x10.
 *
 * Exchange codes, detail codes and the status byte: \ref exchange_codes.
 *
 * Status byte: the reader's own verdict, left in ErrorCode and passed through unchanged.
 * "Status result" functions return it after a successful exchange; "exchange result"
 * functions return 0 after any successful exchange and leave it in ErrorCode only.
 *
 * Address rule: a reply is accepted from the address the request went to, from any address for
 * WriteDeviceNo (command 6) or a request sent to 0xFF, and on the serial line also from 0xFF.
 *
 * Request and reply buffers: a command refuses a NULL request block with 249 / 106 before anything
 * is sent (pc_id, IcCmd and IcRetCode are set; BlkAAdrBeg and BlkALength are untouched, as for the
 * refusal 248). A NULL reply buffer is allowed: the exchange runs and nothing is copied.
 *
 * This library's own additions: RS232_InitPort_Path and LinkCom_Path (any terminal node, or
 * "tcp:HOST:PORT" for a reader behind a network serial server), the refusal codes 248 / 104 and
 * 249 / 106, the link API of uhfreader_link.h (several readers at once, each on a link handle),
 * and these guarantees: every wait is bounded; queued input is discarded before each request so
 * no reply is taken for a later request; reply bytes past the received data read 0; a serial
 * port is held exclusively (an advisory lock and TIOCEXCL), so a port another program or link
 * holds fails to open instead of sharing its replies; line noise before a reply costs one
 * first-byte attempt a byte however it is paced; the time allowed to read a reply follows the
 * line rate (at least 4 s; the longest reply at 9600 baud gets the 6.4 s it needs).
 */
#ifndef UHFREADER_H
#define UHFREADER_H

#include <stdint.h>

/** Marks the exported names: default visibility while the library is built, nothing for its
 *  users. */
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

/** \defgroup exchange_codes Exchange codes
 *  What every designed function and link function returns when an exchange fails, the detail
 *  codes beside them, and the reader's status byte.
 *
 *  \verbatim
 *  Exchange codes (result of PcSendOrder and of every command whose exchange failed):
 *      0        success
 *      1        USB: no device open, or a piece of the request could not be sent
 *    225..233   serial: sending the request failed (225 also: no serial port open)
 *    234        serial: no reply at all                       (detail 109)
 *    235        no reply / first byte not 0x10        (serial 110; USB 108 or 110)
 *    236        second byte could not be read                  (detail 111)
 *    237        second byte not 0x01 (112); USB: echoed command differs (112)
 *    238..242   a field of the reply could not be read
 *               (address 111, command 112, status 112, length 113, data 114, checksum 115);
 *               241 / 113 also when the reply announces more than 2048 data bytes
 *    243        checksum mismatch                              (detail 116)
 *    244..247   end pair missing or wrong             (117 missing, 118 wrong)
 *    248        this library refused an over-long request before sending anything
 *               (detail 104): the length worked out from a caller's count field
 *               exceeds the 255 bytes a request can carry
 *    249        this library refused a request whose block pointer is NULL before
 *               sending anything (detail 106; UHF_REFUSED_NULL_BLOCK)
 *    253        the reply came from another reader address     (detail 0)
 *    254        serial: the reply echoes another command code  (detail 0)
 *  \endverbatim
 *
 *  Detail codes (left in IcRetCode): 0, 101..103, 105, 107 (sending), 108..118 (receiving),
 *  104 and 106 (this library's refusals of an over-long request and of a missing block). Every
 *  exchange sets IcRetCode to 0 first, so after 1, 253 and 254 it reads 0. Link_Reader leaves the
 *  handshake's exchange code in IcRetCode instead.
 *
 */

/** \defgroup designed Designed interface
 *  One reader per process through exported state; a function per command, grouped by family.
 */

/** \defgroup designed_state Exchange and link state
 *  \ingroup designed
 *  The exported variables every designed function reads and leaves: the current exchange, the transports and the link.
 *  @{ */
/* ---- Exchange state (all zero at load) ---- */
UHF_API extern unsigned char pc_id;              /**< reader address of the current exchange; 0xFF broadcasts */
UHF_API extern unsigned char IcCmd;              /**< command code of the current exchange */
UHF_API extern unsigned char BlkAAdrBeg[2048];   /**< request data (USB: the frame pieces while sending) */
UHF_API extern unsigned char BlkALength;         /**< request data length, 0..255 */
UHF_API extern unsigned char BlkBAdrBeg[2048];   /**< reply data; bytes past BlkBLength read 0 after success */
UHF_API extern uint32_t BlkBLength;              /**< reply data length (the reply's 16-bit length field) */
UHF_API extern unsigned char ErrorCode;          /**< status byte of the last reply whose status was read */
UHF_API extern unsigned char IcRetCode;          /**< detail code of the last exchange (0 on success) */
UHF_API extern unsigned char USB_Flag;           /**< 1 while USB is the active transport, 0 for serial */

/* ---- Serial transport state ---- */
UHF_API extern int idComDev;                     /**< descriptor of the last serial port opened */
UHF_API extern unsigned char qchar;              /**< last byte received (and each request data byte sent) */
UHF_API extern unsigned char pc_id_buf;          /**< reader address received in the last reply */
UHF_API extern unsigned char IcCmd_buf;          /**< command code received in the last reply */
UHF_API extern int TRYNUM2S;                     /**< poll budget base of the handshake (set to 10 per exchange) */
UHF_API extern int TRYNUM2L;                     /**< poll budget base of other commands (set to 10 per exchange) */

/* ---- USB transport state ---- */
UHF_API extern struct libusb_device **usb_devs;           /**< libusb device list held while linked */
UHF_API extern struct libusb_device *usb_dev;             /**< the device examined / opened */
UHF_API extern struct libusb_device_handle *q_usb_handle; /**< open handle used for all transfers */
UHF_API extern int EP_OUT;                       /**< bulk OUT endpoint, 0x01 */
UHF_API extern int EP_IN;                        /**< bulk IN endpoint, 0x82 */

/* ---- Link state ---- */
UHF_API extern int IcBaudRate;                   /**< the baud argument of the serial link (0 after a failed link);
                                                      the argument itself, also where the line was set to
                                                      9600 for a rate it does not take */

/** @} */

/** \defgroup designed_exchange Exchange
 *  \ingroup designed
 *  One request and its reply, from the exchange state.
 *  @{ */
/* ---- Exchange ---- */
/**
 * Runs one exchange on the active transport (USB when USB_Flag is set, else serial).
 *
 * Before the call pc_id, IcCmd, BlkAAdrBeg and BlkALength describe the request; afterwards
 * ErrorCode, IcRetCode, BlkBAdrBeg and BlkBLength describe the outcome. Input left queued by an
 * earlier exchange is discarded before the request goes out.
 *
 * \return the exchange code: 0, or one of the codes listed at the top of this file.
 */
UHF_API int PcSendOrder(void);

/** @} */

/** \defgroup designed_serial Serial transport
 *  \ingroup designed
 *  Opening and driving a serial line (or a network serial server).
 *  @{ */
/* ---- Serial transport ---- */
/**
 * Opens /dev/ttyS\<port\> raw at 8N1 and makes it the serial port in use.
 *
 * Ports 1-9 name their node; every other value means node 0. Rates other than 19200, 38400, 57600
 * and 115200 give 9600. Pending input is discarded. A port (or TCP line) this library still holds
 * is closed first, so re-opening never strands a descriptor. The port is held exclusively: one
 * that another program or link holds fails to open (1) and is left as it was.
 *
 * \param port serial node number
 * \param baud line rate
 * \return 0 when the port is open and configured (descriptor in idComDev), 1 otherwise.
 */
UHF_API int RS232_InitPort(int port, int baud);

/**
 * Opens /dev/ttyUSB\<port\> as RS232_InitPort opens /dev/ttyS\<port\>.
 *
 * \param port USB-serial node number (1-9, else 0)
 * \param baud line rate
 * \return 0 when the port is open and configured, 1 otherwise.
 */
UHF_API int RS232_InitPort_USB(int port, int baud);

/**
 * Opens any terminal node, such as a /dev/serial/by-id/ name or a pseudo-terminal, as
 * RS232_InitPort does (closing the port held before). Anything but a terminal node fails.
 *
 * \param path the node to open
 * \param baud line rate
 * \return 0 when the port is open and configured, 1 otherwise.
 */
UHF_API int RS232_InitPort_Path(const char *path, int baud);

/**
 * Writes bytes to the open serial port.
 *
 * \param data the bytes to write
 * \param len how many
 * \return 0 when all len bytes were written, 1 otherwise.
 */
UHF_API int RS232_SendStr(const unsigned char *data, int len);

/**
 * One read of whatever the serial port holds, up to size bytes.
 *
 * \param buf receives the bytes
 * \param size room in buf
 * \return 1 when the read reports an error, 0 otherwise (also when fewer bytes came).
 */
UHF_API int RS232_ReceStr(unsigned char *buf, int size);

/**
 * Sends one byte on the serial port.
 *
 * \param c its low 8 bits are sent
 * \return 0 on success, 1 on failure.
 */
UHF_API int RS232_SendChar(int c);

/**
 * Sends one byte on the serial port, twice when it is 0x10 (DLE doubling).
 *
 * \param c its low 8 bits are sent
 * \return 0 on success, 1 when a write failed.
 */
UHF_API int RS232_QSendChar(int c);

/**
 * Reads one byte from the serial port into qchar.
 *
 * A failed read leaves qchar unchanged.
 *
 * \return 0 on success, 1 when no byte could be read.
 */
UHF_API int RS232_ReceChar(void);

/**
 * Reads one byte into qchar, undoing DLE doubling.
 *
 * A 0x10 must be followed by a second 0x10.
 *
 * \return 0 on success, 1 when a read failed or a 0x10 had another partner.
 */
UHF_API int RS232_QReceChar(void);

/**
 * Runs one exchange on the serial port.
 *
 * Sends the request frame, waits for the reply on a deadline (about 2 s for the link handshake, 4
 * s for other commands) and checks it field by field. Also leaves the reply's address in pc_id_buf
 * and its command code in IcCmd_buf.
 *
 * \return the exchange code (see the list at the top of this file).
 */
UHF_API int RS232_PcSendOrder(void);

/**
 * Closes the serial port.
 *
 * idComDev keeps its value; exchanges fail afterwards.
 *
 * \return 0.
 */
UHF_API int RS232_UnLinkCom(void);

/** @} */

/** \defgroup designed_usb USB transport
 *  \ingroup designed
 *  Opening and driving the USB reader (03EB:6125).
 *  @{ */
/* ---- USB transport ---- */
/**
 * Finds the first reader (03EB:6125) in libusb's device list, opens it, selects configuration 1
 * and claims interface 0.
 *
 * Resources taken by a failed attempt are released again.
 *
 * \return 0 on success, 1 on any failure (no device, no permission, busy).
 */
UHF_API int USB_Open(void);

/**
 * Appends one byte to the frame being assembled in BlkAAdrBeg, twice when it is 0x10.
 *
 * BlkALength counts the bytes.
 *
 * \param c its low 8 bits are appended
 * \return 0.
 */
UHF_API int USB_QSendChar(int c);

/**
 * Sends the frame in BlkAAdrBeg/BlkALength in pieces of at most 64 bytes.
 *
 * A frame whose length is a multiple of 64 is followed by two filler bytes.
 *
 * \return 0 when every piece went out, 1 otherwise.
 */
UHF_API int USB_SendStr(void);

/**
 * One bulk OUT transfer of BlkALength bytes of BlkAAdrBeg to EP_OUT.
 *
 * \return 0 when libusb reports all bytes transferred, 1 otherwise.
 */
UHF_API int USB_SendStr_a(void);

/**
 * One bulk IN transfer of up to 2048 bytes into BlkBAdrBeg (cleared first).
 *
 * \param timeout_ms how long to wait for it
 * \return 1 on success, 0 on failure or time-out (the reverse of the other functions).
 */
UHF_API int USB_ReceStr(int timeout_ms);

/**
 * Runs one exchange on the USB device.
 *
 * Assembles the frame in BlkAAdrBeg, sends it in 64-byte pieces, takes the reply in one transfer
 * (100 ms for the link handshake, 2000 ms otherwise) and checks it.
 *
 * \return the exchange code (see the list at the top of this file).
 */
UHF_API int USB_PcSendOrder(void);

/**
 * Releases the USB device and ends the libusb context.
 *
 * \return 0.
 */
UHF_API int USB_UnLinkCom(void);

/** @} */

/** \defgroup designed_link Link management
 *  \ingroup designed
 *  LinkCom and its kin: one reader per process through the global state.
 *  @{ */
/* ---- Link management ---- */
/**
 * Links to a reader: up to three attempts of LinkCom_A.
 *
 * Closes whatever link is open first (serial, TCP or USB), so a failed link leaves none open.
 * After three failures IcBaudRate is 0.
 *
 * \param addr reader address to prove (0xFF: any single reader)
 * \param port 32 for USB, else a serial node number tried as /dev/ttyS\<port\> then
 *        /dev/ttyUSB\<port\>
 * \param baud serial line rate
 * \return 0 when a reader answered; else the last attempt's result (1 on the serial path; on USB 1
 *        when the device could not be opened, else the handshake's exchange code). IcRetCode holds
 *        the last handshake's exchange code.
 */
UHF_API int LinkCom(int addr, int port, int baud);

/**
 * One link attempt: USB for port 32, else /dev/ttyS\<port\> and then /dev/ttyUSB\<port\>, each proved
 * by Link_Reader.
 *
 * \param addr reader address
 * \param port 32 for USB, else a serial node number
 * \param baud serial line rate
 * \return 0 on success; 1 when no serial node answered; on USB the result of USB_LinkCom.
 */
UHF_API int LinkCom_A(int addr, int port, int baud);

/**
 * Links as LinkCom does, on one terminal node or, given "tcp:HOST:PORT", on a TCP connection to a
 * network serial server (connected within 3 s); the serial functions then use that connection.
 *
 * Closes whatever link is open first, so a failed link leaves none open.
 *
 * \param addr reader address
 * \param path the node, e.g. a /dev/serial/by-id/ name, a socat pseudo-terminal or a uhfsim node;
 *        or "tcp:HOST:PORT"
 * \param baud serial line rate (reported in IcBaudRate; on TCP the server's line keeps its own)
 * \return 0 when a reader answered, else 1; IcRetCode holds the last handshake's exchange code.
 */
UHF_API int LinkCom_Path(int addr, const char *path, int baud);

/**
 * Opens the USB reader and runs the link handshake.
 *
 * Sets USB_Flag, EP_OUT (0x01) and EP_IN (0x82); clears USB_Flag again when the handshake fails.
 *
 * \param addr reader address
 * \return 0 on success, 1 when the device could not be opened, else the handshake's exchange code.
 */
UHF_API int USB_LinkCom(int addr);

/**
 * Runs the link handshake (command 0, no data) on the open transport, a second time when the first
 * fails.
 *
 * Leaves the handshake's exchange code in IcRetCode and closes the link when both attempts fail.
 *
 * \param addr reader address
 * \return 0 on success, else the second attempt's exchange code.
 */
UHF_API int Link_Reader(int addr);

/**
 * Closes the active transport.
 *
 * Exchanges fail afterwards until the next link. USB_Flag keeps its value.
 *
 * \return 0.
 */
UHF_API int UnLinkCom(void);

/** @} */

/** \defgroup designed_admin Reader administration
 *  \ingroup designed
 *  Commands that act on the reader itself.
 *  @{ */
/* ---- Reader administration ---- */
/**
 * Restores the reader to its factory settings. Command 0x01.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int DeviceRestore(int addr);

/**
 * Resets the reader. Command 0x02.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int DeviceReset(int addr);

/**
 * Sets the reader's line rate by the reader's own rate code; the host's line and IcBaudRate stay
 * as linked until the next link. Command 0x03.
 *
 * Sends the low 8 bits of \p rate_code.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param rate_code sent as one byte (low 8 bits)
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Set_Baud_Rate(int addr, int rate_code);

/**
 * Drives the reader's alarm. Command 0x04.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b; then the low 8 bits of \p c; then the
 * low 8 bits of \p d.
 * Refuses when \p a (as a signed int) is greater than 7: returns 4 without sending, which a caller
 * cannot tell by value from status byte 4.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param c sent as one byte (low 8 bits)
 * \param d sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int ALARM(int addr, int a, int b, int c, int d);

/**
 * Reads the reader's device information block. Command 0x05.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 21 (22 bytes, whatever the reply length; bytes past the data received
 * read 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param info receives the copy; room for 22 bytes; cleared before the exchange, so a failure
 *        leaves zeros
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int GetDeviceInfo(int addr, unsigned char *info);

/**
 * Gives the reader a new address. The reply is accepted from any address, since the reader may
 * already answer from the new one; later calls pass the new address themselves. Command 0x06.
 *
 * Sends the low 8 bits of \p new_addr.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param new_addr sent as one byte (low 8 bits)
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int WriteDeviceNo(int addr, int new_addr);

/**
 * Reads the reader's address. Command 0x07.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 0 (1 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param no receives the copy; room for 1 bytes; cleared before the exchange, so a failure leaves
 *        zeros
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int ReadDeviceNo(int addr, unsigned char *no);

/**
 * Reads the reader's temperature. Its command code 0x10 always travels doubled. Command 0x10.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 0 (1 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param temp receives the copy; room for 1 bytes; cleared before the exchange, so a failure
 *        leaves zeros
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Read_DeviceTemp(int addr, unsigned char *temp);

/**
 * Writes the work parameter block. Command 0x11.
 *
 * Sends bytes 0-6 of \p param.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param param 7 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int Set_Work_Param(int addr, unsigned char *param);

/**
 * Reads the work parameter block. Command 0x12.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 6 (7 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param param receives the copy; room for 7 bytes; cleared before the exchange, so a failure
 *        leaves zeros
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Get_Work_Param(int addr, unsigned char *param);

/**
 * Switches the R2000 on or off. Command 0x13.
 *
 * Sends the low 8 bits of \p on.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param on sent as one byte (low 8 bits)
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Set_R2000_ON_OFF(int addr, int on);

/**
 * Switches the carrier (CW) on or off. Command 0x14.
 *
 * Sends the low 8 bits of \p on.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param on sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int Set_CW_ON_OFF(int addr, int on);

/**
 * Reads the RF power. Command 0x15.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 2 (3 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param power receives the copy; room for 3 bytes; only byte 0 is cleared before the exchange
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Get_RF_Power(int addr, unsigned char *power);

/**
 * Chooses the active antenna. Command 0x17.
 *
 * Sends the low 8 bits of \p antenna.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param antenna sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int Set_Active_ANT(int addr, int antenna);

/**
 * Writes the channel table. Command 0x18.
 *
 * Sends bytes 0-8 of \p table.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param table 9 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int Set_CH_Active(int addr, unsigned char *table);

/**
 * Reads the channel table. Command 0x19.
 *
 * Sends byte 0 of \p table.
 * Copies reply bytes 0 .. 7 (8 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param table byte 0 is sent; then cleared (bytes 0-7) before the exchange and filled with reply
 *        bytes 0-7 after it; room for 8 bytes
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Get_CH_Active(int addr, unsigned char *table);

/**
 * Writes the Menjin (access-control) parameter block. Command 0x1A.
 *
 * Sends bytes 0-4 of \p param.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param param 5 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int Set_Menjin_Param(int addr, unsigned char *param);

/**
 * Reads the Menjin (access-control) parameter block. Command 0x1B.
 *
 * Sends no data.
 * Copies reply bytes 0 .. 4 (5 bytes, whatever the reply length; bytes past the data received read
 * 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param param receives the copy; room for 5 bytes; cleared before the exchange, so a failure
 *        leaves zeros
 * \return 0 after any complete exchange, whatever the status byte (left in ErrorCode); else the
 *        exchange code.
 */
UHF_API int Get_Menjin_Param(int addr, unsigned char *param);

/** @} */

/** \defgroup designed_epc EPC tags
 *  \ingroup designed
 *  EPC tag commands (status result).
 *  @{ */
/* ---- EPC tags (status result) ---- */
/**
 * EPC: Reads the select parameters. The block comes back in the select block form, so it can be
 * written back unchanged. Command 0x20.
 *
 * Sends no data.
 * Copies the reply by its own count, which includes itself: reply byte 0 = n, reply bytes 0 .. n-1
 * (at least byte 0, at most 255 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 255 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Read_Select_Para(int addr, unsigned char *reply);

/**
 * EPC: Writes the select parameters. Command 0x21.
 *
 * Sends \p block, a select block whose byte 0 is its own total length L: bytes 0 .. L-1 (nothing
 * when L is 0).
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Write_Select_Para(int addr, unsigned char *block);

/**
 * EPC: Starts an inventory round. Command 0x22.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Query_ON(int addr);

/**
 * EPC: Fetches the tag list of the last inventory round; the two ints are passed to the reader
 * (low bytes) as its list position arguments. Command 0x23.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies the reply by its own total: reply bytes 0-1 (high byte first) = t, reply bytes 0 .. t-1
 * (at least 2, at most 2048 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 2048 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Read_Tag_List(int addr, int a, int b, unsigned char *reply);

/**
 * EPC: Gives the reader the passwords to use with tags. Command 0x25.
 *
 * Sends the low 8 bits of \p a; then bytes 0-3 of \p pwd1; then bytes 0-3 of \p pwd2.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param pwd1 4 bytes, read only
 * \param pwd2 4 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Set_Pwd(int addr, int a, unsigned char *pwd1, unsigned char *pwd2);

/**
 * EPC: Singles out a tag by a bit mask. Command 0x26.
 *
 * Sends \p block, a bit-counted block whose byte 3 counts bits b: 4 + ceil(b/8) bytes.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);

/**
 * EPC: Proves the access password to the singled-out tag. Command 0x27.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Access_Proc(int addr);

/**
 * EPC: Reads tag memory. Command 0x28.
 *
 * Sends bytes 0-3 of \p req.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param req 4 bytes, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Read_TAG(int addr, unsigned char *req, unsigned char *reply);

/**
 * EPC: Writes tag memory. Command 0x29.
 *
 * Sends \p block, a word-counted block whose byte 3 counts 16-bit words w: 4 + 2w bytes (w at most
 * 125).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Write_TAG(int addr, unsigned char *block);

/**
 * EPC: Kills a tag. Command 0x2A.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Kill_TAG(int addr, unsigned char *block);

/**
 * EPC: Locks tag memory. Command 0x2B.
 *
 * Sends bytes 0-4 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Lock_TAG(int addr, unsigned char *block);

/**
 * EPC: Writes tag memory as one block. Command 0x2C.
 *
 * Sends \p block, a word-counted block whose byte 3 counts 16-bit words w: 4 + 2w bytes (w at most
 * 125).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Write_Block_TAG(int addr, unsigned char *block);

/**
 * EPC: Erases tag memory. Command 0x2D.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_Write_Erase_TAG(int addr, unsigned char *block);

/**
 * EPC: Halts the singled-out tag. Command 0x2E.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Halt_TAG(int addr);

/**
 * EPC: Changes a tag password. Command 0x2F.
 *
 * Sends bytes 0-3 of \p old_pwd; then bytes 0-3 of \p new_pwd.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param old_pwd 4 bytes, read only
 * \param new_pwd 4 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int EPC_Edit_TAG_Pwd(int addr, unsigned char *old_pwd, unsigned char *new_pwd);

/**
 * EPC: Sends a raw tag command of any bit length. Command 0xE2.
 *
 * Sends \p block, a custom command block whose bytes 0-1 (high byte first) count bits B: 5 +
 * ceil(B/8) bytes (B at most 2000).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int EPC_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply);

/** @} */

/** \defgroup designed_gb GB tags
 *  \ingroup designed
 *  GB tag commands (status result).
 *  @{ */
/* ---- GB tags (status result) ---- */
/**
 * GB: Reads the select parameters. The block comes back in the select block form, so it can be
 * written back unchanged. Command 0x40.
 *
 * Sends no data.
 * Copies the reply by its own count, which includes itself: reply byte 0 = n, reply bytes 0 .. n-1
 * (at least byte 0, at most 255 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 255 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Read_Select_Para(int addr, unsigned char *reply);

/**
 * GB: Writes the select parameters. Command 0x41.
 *
 * Sends \p block, a select block whose byte 0 is its own total length L: bytes 0 .. L-1 (nothing
 * when L is 0).
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Write_Select_Para(int addr, unsigned char *block);

/**
 * GB: Starts an inventory round. Command 0x42.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Query_ON(int addr);

/**
 * GB: Fetches the tag list of the last inventory round; the two ints are passed to the reader (low
 * bytes) as its list position arguments. Command 0x43.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies the reply by its own total: reply bytes 0-1 (high byte first) = t, reply bytes 0 .. t-1
 * (at least 2, at most 2048 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 2048 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Read_Tag_List(int addr, int a, int b, unsigned char *reply);

/**
 * GB: Gives the reader the passwords to use with tags. Command 0x45.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b; then bytes 0-3 of \p pwd1; then bytes
 * 0-3 of \p pwd2.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param pwd1 4 bytes, read only
 * \param pwd2 4 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Set_Pwd(int addr, int a, int b, unsigned char *pwd1, unsigned char *pwd2);

/**
 * GB: Singles out a tag by a bit mask. Command 0x46.
 *
 * Sends \p block, a bit-counted block whose byte 3 counts bits b: 4 + ceil(b/8) bytes.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);

/**
 * GB: Proves the access password to the singled-out tag. Command 0x47.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Access_Proc(int addr, int a, int b);

/**
 * GB: Reads tag memory. Command 0x48.
 *
 * Sends bytes 0-4 of \p req.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param req 5 bytes, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Read_TAG(int addr, unsigned char *req, unsigned char *reply);

/**
 * GB: Writes tag memory. Command 0x49.
 *
 * Sends \p block, a word-counted block whose bytes 3-4 (high byte first) count 16-bit words w: 5 +
 * 2w bytes (w at most 125).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Write_TAG(int addr, unsigned char *block);

/**
 * GB: Kills a tag. Command 0x4A.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Kill_TAG(int addr, unsigned char *block);

/**
 * GB: Locks tag memory. Command 0x4B.
 *
 * Sends bytes 0-2 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Lock_TAG(int addr, unsigned char *block);

/**
 * GB: Writes tag memory as one block. Command 0x4C.
 *
 * Sends \p block, a word-counted block whose byte 2 counts 16-bit words w: 3 + 2w bytes (w at most
 * 126).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Write_Block_TAG(int addr, unsigned char *block);

/**
 * GB: Erases tag memory. Command 0x4D.
 *
 * Sends bytes 0-4 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Erase_TAG(int addr, unsigned char *block);

/**
 * GB: Halts the singled-out tag. Command 0x4E.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Halt_TAG(int addr);

/**
 * GB: Changes a tag password. Command 0x4F.
 *
 * Sends bytes 0-8 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Edit_TAG_Pwd(int addr, unsigned char *block);

/**
 * GB: Reads the security parameters. Command 0x50.
 *
 * Sends no data.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Get_SecPara(int addr, unsigned char *reply);

/**
 * GB: Writes the security parameters. Command 0x51.
 *
 * Sends bytes 0-5 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Set_SecPara(int addr, unsigned char *block);

/**
 * GB: Writes the authentication password. Command 0x52.
 *
 * Sends bytes 0-15 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_Set_Auth_Pwd(int addr, unsigned char *block);

/**
 * GB: Authentication step (tag to reader, X). Command 0x53.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_T2R_XAuth(int addr);

/**
 * GB: Authentication step (tag to reader, S). Command 0x54.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_T2R_SAuth(int addr);

/**
 * GB: Authentication step (reader to tag, X). Command 0x55.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_R2T_XAuth(int addr);

/**
 * GB: Authentication step (reader to tag, S). Command 0x56.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_R2T_SAuth(int addr);

/**
 * GB: Authentication step (mutual, X). Command 0x57.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Mul_XAuth(int addr);

/**
 * GB: Authentication step (mutual, S). Command 0x58.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Mul_SAuth(int addr);

/**
 * GB: Secure communication step. Command 0x59.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_Sec_Comm(int addr);

/**
 * GB: Sends a raw tag command of any bit length. Command 0xE0.
 *
 * Sends \p block, a custom command block whose bytes 0-1 (high byte first) count bits B: 5 +
 * ceil(B/8) bytes (B at most 2000).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply);

/** @} */

/** \defgroup designed_gjb GJB tags
 *  \ingroup designed
 *  GJB tag commands (status result).
 *  @{ */
/* ---- GJB tags (status result) ---- */
/**
 * GJB: Reads the select parameters. The block comes back in the select block form, so it can be
 * written back unchanged. Command 0x60.
 *
 * Sends no data.
 * Copies the reply by its own count, which includes itself: reply byte 0 = n, reply bytes 0 .. n-1
 * (at least byte 0, at most 255 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 255 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Read_Select_Para(int addr, unsigned char *reply);

/**
 * GJB: Writes the select parameters. Command 0x61.
 *
 * Sends \p block, a select block whose byte 0 is its own total length L: bytes 0 .. L-1 (nothing
 * when L is 0).
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GJB_Write_Select_Para(int addr, unsigned char *block);

/**
 * GJB: Starts an inventory round. Command 0x62.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GJB_Query_ON(int addr);

/**
 * GJB: Fetches the tag list of the last inventory round; the two ints are passed to the reader
 * (low bytes) as its list position arguments. Command 0x63.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies the reply by its own total: reply bytes 0-1 (high byte first) = t, reply bytes 0 .. t-1
 * (at least 2, at most 2048 bytes).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 2048 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Read_Tag_List(int addr, int a, int b, unsigned char *reply);

/**
 * GJB: Gives the reader the passwords to use with tags. Command 0x65.
 *
 * Sends the low 8 bits of \p a; then bytes 0-15 of \p block.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param block 16 bytes, read only
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GJB_Set_Pwd(int addr, int a, unsigned char *block);

/**
 * GJB: Singles out a tag by a bit mask. Command 0x66.
 *
 * Sends \p block, a bit-counted block whose byte 3 counts bits b: 4 + ceil(b/8) bytes.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Wake_TAG(int addr, unsigned char *block, unsigned char *reply);

/**
 * GJB: Proves the access password to the singled-out tag. Command 0x67.
 *
 * Sends the low 8 bits of \p a.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GJB_Access_Proc(int addr, int a);

/**
 * GJB: Reads tag memory. Command 0x68.
 *
 * Sends bytes 0-4 of \p req.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param req 5 bytes, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Read_TAG(int addr, unsigned char *req, unsigned char *reply);

/**
 * GJB: Writes tag memory. Command 0x69.
 *
 * Sends \p block, a word-counted block whose bytes 3-4 (high byte first) count 16-bit words w: 5 +
 * 2w bytes (w at most 125).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Write_TAG(int addr, unsigned char *block);

/**
 * GJB: Kills a tag. Command 0x6A.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Kill_TAG(int addr, unsigned char *block);

/**
 * GJB: Locks tag memory. Command 0x6B.
 *
 * Sends bytes 0-2 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Lock_TAG(int addr, unsigned char *block);

/**
 * GJB: Writes tag memory as one block. Command 0x6C.
 *
 * Sends \p block, a word-counted block whose byte 2 counts 16-bit words w: 3 + 2w bytes (w at most
 * 126).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Write_Block_TAG(int addr, unsigned char *block);

/**
 * GJB: Erases tag memory. Command 0x6D.
 *
 * Sends bytes 0-4 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Erase_TAG(int addr, unsigned char *block);

/**
 * GJB: Halts the singled-out tag. Command 0x6E.
 *
 * Sends no data.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GJB_Halt_TAG(int addr);

/**
 * GJB: Changes a tag password. Command 0x6F.
 *
 * Sends bytes 0-15 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Edit_TAG_Pwd(int addr, unsigned char *block);

/**
 * GJB: Reads the security parameters. Command 0x70.
 *
 * Sends no data.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_Get_SecPara(int addr, unsigned char *reply);

/**
 * GJB: Sends a raw tag command of any bit length. Command 0xE1.
 *
 * Sends \p block, a custom command block whose bytes 0-1 (high byte first) count bits B: 5 +
 * ceil(B/8) bytes (B at most 2000).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_TAG_Cust_Command(int addr, unsigned char *block, unsigned char *reply);

/** @} */

/** \defgroup designed_fd FD extensions
 *  \ingroup designed
 *  FD extensions of GB and GJB tags (status result).
 *  @{ */
/* ---- FD extensions (status result) ---- */
/**
 * GB FD: Opens the custom area with its password. Command 0xA0.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Cust_Access(int addr, unsigned char *block);

/**
 * GB FD: Writes the custom-area password. Command 0xA1.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Cust_Pwd_Write(int addr, unsigned char *block);

/**
 * GB FD: Locks the custom-area password. Command 0xA2.
 *
 * Sends byte 0 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Cust_Pwd_Lock(int addr, unsigned char *block);

/**
 * GB FD: Ends the initialisation of the custom area. Command 0xA3.
 *
 * Sends bytes 0-3 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Cust_Init_End(int addr, unsigned char *block);

/**
 * GB FD: Reads the lock information. Command 0xA4.
 *
 * Sends no data.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Cust_Lock_Info(int addr, unsigned char *reply);

/**
 * GB FD: Writes the authentication password. Command 0xA5.
 *
 * Sends bytes 0-15 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Write_Auth_Pwd(int addr, unsigned char *block);

/**
 * GB FD: Runs the dual authentication. Command 0xA6.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies nothing back.
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \return the exchange code when the exchange failed, else the reader's status byte (0: done).
 */
UHF_API int GB_FD_Dual_Auth(int addr, int a, int b);

/**
 * GB FD: Fetches a diversified key. Command 0xA7.
 *
 * Sends the low 8 bits of \p a.
 * Copies reply bytes 0 .. 15 (16 bytes, whatever the reply length; bytes past the data received
 * read 0).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 16 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GB_FD_Get_Diver_Key(int addr, int a, unsigned char *reply);

/**
 * GJB FD: Reads a custom block. Command 0xB0.
 *
 * Sends bytes 0-4 of \p req.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param req 5 bytes, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_FD_Cust_Read_Block(int addr, unsigned char *req, unsigned char *reply);

/**
 * GJB FD: Writes a custom block. Command 0xB1.
 *
 * Sends \p block, a word-counted block whose bytes 3-4 (high byte first) count 16-bit words w: 5 +
 * 2w bytes (w at most 125).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_FD_Cust_Write_Block(int addr, unsigned char *block);

/**
 * GJB FD: Erases a custom block. Command 0xB2.
 *
 * Sends bytes 0-4 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_FD_Cust_Erase_Block(int addr, unsigned char *block);

/**
 * GJB FD: Locks a custom block. Command 0xB3.
 *
 * Sends bytes 0-2 of \p block.
 * Copies reply byte 0 into byte 0 of the block it sent; the rest of the block is untouched.
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block; byte 0 receives reply byte 0 after a complete exchange
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_FD_Cust_Lock_Blck(int addr, unsigned char *block);

/**
 * GJB FD: Reads the lock information. Command 0xB4.
 *
 * Sends no data.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int GJB_FD_Cust_Lock_Info(int addr, unsigned char *reply);

/** @} */

/** \defgroup designed_psam PSAM
 *  \ingroup designed
 *  PSAM pass-through (status result; counted copy of the reply).
 *  @{ */
/* ---- PSAM (status result; counted copy of the reply) ---- */
/**
 * PSAM: Powers the PSAM on. Command 0xF0.
 *
 * Sends the low 8 bits of \p a; then the low 8 bits of \p b.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param b sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int PSAM_POWER_ON(int addr, int a, int b, unsigned char *reply);

/**
 * PSAM: Warm-resets the PSAM. Command 0xF1.
 *
 * Sends the low 8 bits of \p a.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param a sent as one byte (low 8 bits)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int PSAM_Warm_Reset(int addr, int a, unsigned char *reply);

/**
 * PSAM: Passes a command block to the PSAM. Command 0xF2.
 *
 * Sends \p block, a command block whose byte 0 counts the n bytes after it: n + 1 bytes (n at most
 * 254).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int PSAM_Command(int addr, unsigned char *block, unsigned char *reply);

/**
 * PSAM: Passes a command block to the PSAM under the FD issue code. Command 0xF3.
 *
 * Sends \p block, a command block whose byte 0 counts the n bytes after it: n + 1 bytes (n at most
 * 254).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int PSAM_FD_Issue(int addr, unsigned char *block, unsigned char *reply);

/** @} */

/** \defgroup designed_fm151m FM151M
 *  \ingroup designed
 *  The FM151M security chip (status result).
 *  @{ */
/* ---- FM151M (status result) ---- */
/**
 * FM151M: Reads the FM151M's ID. Command 0xD0.
 *
 * Sends no data.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int FM151M_Get_ID(int addr, unsigned char *reply);

/**
 * FM151M: Asks the FM151M for random numbers. Command 0xD1.
 *
 * Sends the low 16 bits of \p count, high byte first.
 * Copies the reply by its two-byte count: reply bytes 0-1 (high byte first) = c, then c bytes (c +
 * 2 in all, c at most 2046).
 *
 * \param addr reader address (low 8 bits sent)
 * \param count number the random-number request carries (low 16 bits sent)
 * \param reply receives the copy; room for 2048 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int FM151M_Get_RN(int addr, int count, unsigned char *reply);

/**
 * FM151M: Has the FM151M hash the body of the block. Command 0xD2.
 *
 * Sends \p block, a hash block whose byte 2 counts the n body bytes after its 3-byte header: n + 3
 * bytes (n at most 252).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int FM151M_Hash(int addr, unsigned char *block, unsigned char *reply);

/**
 * FM151M: Has the FM151M cipher the body of the block. Command 0xD3.
 *
 * Sends \p block, a cipher block whose byte 4 counts the n body bytes after its 5-byte header: n +
 * 5 bytes (n at most 250).
 * A request longer than the 255 bytes a frame carries is refused with exchange code 248 (detail
 * 104) before anything is sent.
 * Copies the reply by its own count: reply byte 0 = n, then n bytes (n + 1 in all, at most 256).
 *
 * \param addr reader address (low 8 bits sent)
 * \param block request block, read only
 * \param reply receives the copy; room for 256 bytes
 * \return the exchange code when the exchange failed (nothing copied then), else the reader's
 *        status byte (0: done); the copy happens whatever the status byte says.
 */
UHF_API int FM151M_Cipher(int addr, unsigned char *block, unsigned char *reply);

/** @} */

/* ---- Link handles: the link API, its errors, the catalogue and the command twins ---- */
#include "uhfreader_link.h"

#ifdef __cplusplus
}
#endif

#endif /* UHFREADER_H */
