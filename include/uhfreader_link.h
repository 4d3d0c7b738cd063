/**
 * \file
 * \brief Link handles: many readers in one process, over serial, USB or TCP.
 *
 * Included by uhfreader.h; include that header rather than this one.
 *
 * A link is one reader on one device, with its own exchange state. Calls on different links
 * may run in parallel threads and share no lock; calls on one link are serialised by the link
 * (a second thread waits for the first one's exchange to end). The library starts no threads
 * and allocates only in uhf_open (the link itself); no exchange allocates.
 *
 * \code
 * uhf_link *l;
 * int rc = uhf_open(&l, "/dev/ttyUSB0@115200", 0x01);   // or "usb:1-2", "tcp:10.0.0.7:4001"
 * if (rc != 0) { fprintf(stderr, "%s\n", uhf_strerror(rc, 0)); return 1; }
 * unsigned char info[22];
 * rc = uhf_GetDeviceInfo(l, 0x01, info);
 * if (rc != 0) fprintf(stderr, "%s\n", uhf_strerror(rc, uhf_detail(l)));
 * uhf_close(l);
 * \endcode
 *
 * Results of the link functions:
 *   - 0 on success;
 *   - a negative UHF_ERR_* code when the link itself failed (the device could not be opened,
 *     vanished, the connection was refused, ...);
 *   - an exchange code (1..254, as the designed interface returns them) when the reader did not
 *     give a valid reply; uhf_detail() then holds the detail code;
 *   - for the command twins that return the reader's status byte, that byte (1..255) after a
 *     valid reply, exactly as the designed function does.
 *
 * uhf_strerror() turns every one of these into words.
 */
#ifndef UHFREADER_LINK_H
#define UHFREADER_LINK_H

#ifndef UHFREADER_H
#error "include uhfreader.h, not uhfreader_link.h"
#endif

/** \defgroup link_api Link API
 *  Link handles, device strings, errors in words, tracing, device listing and the command
 *  catalogue.
 *  @{ */

/** Library version, as uhf_version() reports it at run time. */
#define UHF_VERSION_MAJOR 1
#define UHF_VERSION_MINOR 2  /**< \see UHF_VERSION_MAJOR */
#define UHF_VERSION_PATCH 0  /**< \see UHF_VERSION_MAJOR */

/** \name Link failures (negative; exchange codes are positive)
 *  @{ */
#define UHF_ERR_BAD_DEVICE (-1)     /**< the device string is malformed, or names a rate this library does not drive */
#define UHF_ERR_NOT_FOUND (-2)      /**< no such device node (or a link pointing nowhere) */
#define UHF_ERR_ACCESS (-3)         /**< permission denied: the dialout group, or the udev rule for USB */
#define UHF_ERR_BUSY (-4)           /**< another link or program holds the device */
#define UHF_ERR_NOT_TERMINAL (-5)   /**< the node is not a serial port (a file, directory, FIFO, /dev/null, ...) */
#define UHF_ERR_NO_USB_READER (-6)  /**< no USB reader (03EB:6125) matches the device string */
#define UHF_ERR_CONNECT (-7)        /**< TCP: the connection was refused or could not be made */
#define UHF_ERR_TIMEOUT (-8)        /**< TCP: the connection was not made within the connect timeout */
#define UHF_ERR_GONE (-9)           /**< the device vanished (unplugged, connection reset); uhf_reconnect() */
#define UHF_ERR_CLOSED (-10)        /**< no link: a NULL link handle */
#define UHF_ERR_NO_MEMORY (-11)     /**< the link could not be allocated */
#define UHF_ERR_INVALID (-12)       /**< an argument is out of range (a command code above 255, a negative length, ...) */
#define UHF_ERR_UNKNOWN_HOST (-13)  /**< TCP: the host name does not resolve */
#define UHF_ERR_USB (-14)           /**< USB: libusb failed (initialising, configuring or claiming the reader) */
#define UHF_ERR_IO (-15)            /**< the device could not be opened or set up for another reason */
#define UHF_ERR_CANCELLED (-16)     /**< uhf_cancel() ended the wait; the link stays usable */
/** @} */

/** Exchange code of a request refused because a request block pointer is NULL (detail 106):
 *  nothing is sent and the exchange state is left as for the over-long refusal (248 / 104). */
#define UHF_REFUSED_NULL_BLOCK 249

/** An open link to one reader. Opaque; made by uhf_open(), released by uhf_close(). */
typedef struct uhf_link uhf_link;

/**
 * Opens a device and proves that a reader answers at \p addr (the link handshake: command 0, no
 * data, tried up to three times).
 *
 * Device strings:
 *   - `/dev/ttyUSB0`, `serial:/dev/ttyUSB0` — a serial node, any terminal (a by-id name, a
 *     pseudo-terminal), optionally with `@BAUD`: 9600, 19200, 38400, 57600 or 115200 (default
 *     115200). The port is opened exclusively: a second open, here or in another program, fails
 *     with UHF_ERR_BUSY.
 *   - `usb` — the first USB reader; `usb:BUS.ADDRESS` (`usb:1.4`); `usb:BUS-PORT[.PORT...]` (the
 *     physical port path, `usb:1-2.3`, stable across replugging); `usb:serial=SERIAL`.
 *   - `tcp:HOST:PORT` — a reader behind a network serial server (`tcp:10.0.0.7:4001`,
 *     `tcp:[::1]:4001`); the connection follows the serial line's rules.
 *
 * \param out receives the link on success, NULL otherwise
 * \param device device string
 * \param addr reader address to prove (0xFF: any single reader)
 * \return 0; a negative UHF_ERR_* when the device could not be opened (UHF_ERR_BAD_DEVICE for a
 *         malformed string, never a guess); or the last handshake's exchange code.
 */
UHF_API int uhf_open(uhf_link **out, const char *device, int addr);

/** \name Trace directions
 *  @{ */
#define UHF_TRACE_SENT 0      /**< a request frame, as it went on the wire */
#define UHF_TRACE_RECEIVED 1  /**< bytes of a reply, as they came off the wire */
#define UHF_TRACE_DISCARDED 2 /**< stale bytes thrown away before a request (TCP and USB) */
/** @} */

/**
 * Called for every frame a link sends and receives.
 *
 * \param user the pointer given to uhf_set_trace()
 * \param direction UHF_TRACE_SENT, UHF_TRACE_RECEIVED or UHF_TRACE_DISCARDED
 * \param bytes the bytes as on the wire (DLE doubling included); valid during the call only
 * \param len how many
 * \param t_us CLOCK_MONOTONIC time in microseconds: when the first of the bytes moved
 */
typedef void (*uhf_trace_fn)(void *user, int direction, const unsigned char *bytes, int len,
                             unsigned long long t_us);

/** Options of a link; zero in any field means its default. */
typedef struct uhf_options {
    int handshake_attempts; /**< handshakes uhf_open() and uhf_reconnect() try (default 3) */
    int reply_timeout_ms;   /**< longest wait for a reply to begin (default: 2000 for the handshake,
                                 4000 for every other command, as the designed interface waits) */
    int connect_timeout_ms; /**< TCP connect bound (default 3000) */
    uhf_trace_fn trace;     /**< traces the link from its first frame (the handshake) on; NULL: off */
    void *trace_user;       /**< handed to \p trace */
} uhf_options;

/**
 * uhf_open() with options: how many handshakes, how long to wait for replies and connections.
 * The options stay with the link (uhf_reconnect() uses them too).
 *
 * \param out receives the link on success, NULL otherwise
 * \param device device string, as for uhf_open()
 * \param addr reader address to prove
 * \param options NULL for the defaults
 * \return as uhf_open(); UHF_ERR_INVALID for a negative option.
 */
UHF_API int uhf_open_with(uhf_link **out, const char *device, int addr, const uhf_options *options);

/**
 * Changes a link's options (zero fields: the defaults).
 * \return 0, UHF_ERR_CLOSED for a NULL link, UHF_ERR_INVALID for a negative option.
 */
UHF_API int uhf_set_options(uhf_link *l, const uhf_options *options);

/** Releases everything the link holds: its descriptor or socket, its USB device and libusb
 *  context, and the link itself. NULL is a no-op. No other call may be running on the link. */
UHF_API void uhf_close(uhf_link *l);

/**
 * Reopens the link's device string (after an unplug or a dropped connection) and proves the
 * reader again. Until it succeeds, exchanges on a link whose device vanished return UHF_ERR_GONE
 * at once.
 *
 * \return 0 or as uhf_open().
 */
UHF_API int uhf_reconnect(uhf_link *l);

/**
 * One raw exchange: a request to \p addr with command \p code and \p req_len bytes of data.
 *
 * \param l link
 * \param addr reader address, 0..255
 * \param code command code, 0..255
 * \param req request data (may be NULL when req_len is 0)
 * \param req_len 0..255
 * \param reply receives up to \p reply_cap bytes of the reply data (may be NULL)
 * \param reply_cap room in \p reply
 * \param reply_len receives the reply's whole data length (may be NULL); 0 after a failure
 * \return the exchange code (0: a valid reply, whose status byte uhf_status() gives), or a
 *         negative UHF_ERR_*: UHF_ERR_INVALID for an argument out of range (nothing is sent).
 */
UHF_API int uhf_exchange(uhf_link *l, int addr, int code, const unsigned char *req, int req_len,
                         unsigned char *reply, int reply_cap, int *reply_len);

/**
 * Ends the wait of an exchange on link \p l: the exchange (a command, uhf_exchange(), uhf_call(),
 * uhf_reconnect()'s connection and handshakes) returns UHF_ERR_CANCELLED within 10 ms, and the
 * link stays usable for the next exchange. Every wait of every transport watches for it: a
 * request being sent, a reply being waited for or read, a TCP connection being made (resolving
 * its host name is not cancelled), a USB transfer (which is cancelled on the device).
 *
 * Safe from any thread and from a signal handler (async-signal-safe: it writes to a descriptor
 * the link made when it was opened, and nothing else).
 *
 * A cancel is never lost: posted while no exchange waits, it stays pending, and the next wait on
 * the link returns UHF_ERR_CANCELLED at once and clears it; starting an exchange does not clear
 * it. So a thread that sets its own stop flag and then calls uhf_cancel() cannot miss the
 * exchange it means to stop, whenever that exchange begins. Several cancels before one wait
 * count as one. An exchange that ends cancelled took its reply (or the rest of it) with it: the
 * next exchange on the link throws away whatever arrives late, as after a timeout.
 *
 * The designed interface (LinkCom, the default link) is not affected and has no cancel.
 *
 * \param l a link from uhf_open(); it must not be closed while uhf_cancel() may run on it
 * \return 0, or UHF_ERR_CLOSED for a NULL link (there is no default link to cancel).
 */
UHF_API int uhf_cancel(uhf_link *l);

/** The status byte of the link's last reply whose status byte was read (UHF_ERR_CLOSED for a
 *  NULL link). */
UHF_API int uhf_status(const uhf_link *l);

/** The detail code of the link's last exchange: 0 or 101..118 as IcRetCode holds them
 *  (UHF_ERR_CLOSED for a NULL link). */
UHF_API int uhf_detail(const uhf_link *l);

/** The device string the link was opened with (a static "" for a NULL link). */
UHF_API const char *uhf_device(const uhf_link *l);

/**
 * Words for a result: an exchange code with its detail code, a UHF_ERR_* code, or
 * UHF_REFUSED_NULL_BLOCK; with the likely cause and what to try.
 *
 * \param code a link function's result
 * \param detail the detail code (uhf_detail()) for an exchange code; ignored otherwise
 * \return a static string, never NULL.
 */
UHF_API const char *uhf_strerror(int code, int detail);

/**
 * Switches tracing of a link on (\p fn) or off (NULL). Runs on the thread of the exchange; costs
 * nothing when off.
 * \return 0, or UHF_ERR_CLOSED for a NULL link.
 */
UHF_API int uhf_set_trace(uhf_link *l, uhf_trace_fn fn, void *user);

/** \name Device kinds
 *  @{ */
#define UHF_DEVICE_SERIAL 1 /**< a serial node */
#define UHF_DEVICE_USB 2    /**< a USB reader (03EB:6125) */
/** @} */

/** One candidate device found by uhf_list_devices(). Strings are NUL-terminated, "" when
 *  unknown. */
typedef struct uhf_device_info {
    int kind;                 /**< UHF_DEVICE_SERIAL or UHF_DEVICE_USB */
    char device[128];         /**< the device string for uhf_open() */
    char node[128];           /**< serial: the /dev node; USB: the usbfs node */
    char by_id[256];          /**< serial: its /dev/serial/by-id name */
    char driver[32];          /**< serial: the kernel driver (serial8250, ftdi_sio, cdc_acm, ...) */
    unsigned short vendor;    /**< USB vendor ID (of a USB serial adapter, or of the reader) */
    unsigned short product;   /**< USB product ID */
    char manufacturer[64];    /**< USB manufacturer string */
    char product_name[64];    /**< USB product string */
    char serial[64];          /**< USB serial number */
    int bus;                  /**< USB bus number, 0 when not on USB */
    int address;              /**< USB device address */
    char port_path[32];       /**< USB physical port path, e.g. "1-2.3" */
} uhf_device_info;

/**
 * Lists the candidate devices on this machine: serial nodes (built-in ttyS ports that exist as
 * real ports, ttyUSB and ttyACM nodes) and USB readers. Opens nothing.
 *
 * \param out receives up to \p cap entries (may be NULL when cap is 0)
 * \param cap room in \p out
 * \return how many were found (may exceed cap), or UHF_ERR_INVALID for a negative cap.
 */
UHF_API int uhf_list_devices(uhf_device_info *out, int cap);

/** The library's version, "MAJOR.MINOR.PATCH". */
UHF_API const char *uhf_version(void);

/** \name Command catalogue
 *  Every command as data: tools and bindings read it instead of restating the table.
 *  @{ */

/** Argument kinds (uhf_arg_info::kind). */
#define UHF_ARG_SCALAR8 1  /**< an int whose low 8 bits are sent */
#define UHF_ARG_SCALAR16 2 /**< an int whose low 16 bits are sent, high byte first */
#define UHF_ARG_BLOCK 3    /**< request bytes from a caller's buffer (uhf_arg_info::block says how many) */
#define UHF_ARG_REPLY 4    /**< a caller's buffer that receives the reply copy */
#define UHF_ARG_BLOCK_REPLY 5 /**< request bytes from a buffer that then receives the reply copy */

/** Block layouts (uhf_arg_info::block): how many bytes of a block are sent. */
#define UHF_BLOCK_FIXED 1     /**< exactly uhf_arg_info::size bytes */
#define UHF_BLOCK_SELECT 2    /**< byte 0 is the block's total length, itself included */
#define UHF_BLOCK_BITS 3      /**< byte 3 counts bits: 4 + ceil(bits / 8) bytes */
#define UHF_BLOCK_WORDS3 4    /**< byte 2 counts 16-bit words: 3 + 2w bytes */
#define UHF_BLOCK_WORDS4 5    /**< byte 3 counts 16-bit words: 4 + 2w bytes */
#define UHF_BLOCK_WORDS5 6    /**< bytes 3-4 count 16-bit words, big-endian: 5 + 2w bytes */
#define UHF_BLOCK_CUSTOM 7    /**< bytes 0-1 count bits, big-endian: 5 + ceil(bits / 8) bytes */
#define UHF_BLOCK_PREFIXED 8  /**< byte 0 counts the bytes after it: 1 + n bytes */
#define UHF_BLOCK_HASH 9      /**< byte 2 counts the body after a 3-byte header: 3 + n bytes */
#define UHF_BLOCK_CIPHER 10   /**< byte 4 counts the body after a 5-byte header: 5 + n bytes */

/** Reply-copy rules (uhf_command_info::copy). */
#define UHF_COPY_NONE 0         /**< nothing is copied */
#define UHF_COPY_COUNTED 1      /**< byte 0 = n; n + 1 bytes (at most 256) */
#define UHF_COPY_SELF_COUNTED 2 /**< byte 0 = n including itself; max(n, 1) bytes */
#define UHF_COPY_TOTAL_LENGTH 3 /**< bytes 0-1 = big-endian total t; 2..2048 bytes */
#define UHF_COPY_STATUS_ECHO 4  /**< reply byte 0 into byte 0 of the request block */
#define UHF_COPY_FIXED 5        /**< uhf_command_info::copy_size bytes */
#define UHF_COPY_TWO_BYTE 6     /**< bytes 0-1 = big-endian c; c + 2 bytes (at most 2048) */

/** Result rules (uhf_command_info::result). */
#define UHF_RESULT_STATUS 1   /**< the exchange code when non-zero, else the reader's status byte */
#define UHF_RESULT_EXCHANGE 2 /**< the exchange code alone */

/** Command families (uhf_command_info::family). */
#define UHF_FAMILY_ADMIN 1  /**< reader administration */
#define UHF_FAMILY_EPC 2    /**< EPC tags */
#define UHF_FAMILY_GB 3     /**< GB tags */
#define UHF_FAMILY_GJB 4    /**< GJB tags */
#define UHF_FAMILY_GB_FD 5  /**< FD extensions of GB tags */
#define UHF_FAMILY_GJB_FD 6 /**< FD extensions of GJB tags */
#define UHF_FAMILY_PSAM 7   /**< PSAM pass-through */
#define UHF_FAMILY_FM151M 8 /**< FM151M security chip */

/** One argument of a command, after the reader address. */
typedef struct uhf_arg_info {
    const char *name; /**< the parameter's name in the header ("req", "rate_code", ...) */
    int kind;         /**< UHF_ARG_* */
    int block;        /**< blocks: UHF_BLOCK_*; 0 otherwise */
    int size;         /**< UHF_BLOCK_FIXED: the bytes sent; counted blocks: the header size;
                           replies: the most the copy may write */
    long min;         /**< scalars: the smallest value a caller should pass */
    long max;         /**< scalars: the largest value a caller should pass */
} uhf_arg_info;

/** One command of the catalogue. */
typedef struct uhf_command_info {
    const char *name;     /**< the designed name, e.g. "EPC_Read_TAG"; the link twin is "uhf_" + name */
    int code;             /**< command code, 0..255 */
    int family;           /**< UHF_FAMILY_* */
    int arg_count;        /**< arguments after the reader address, 0..4 */
    uhf_arg_info args[4]; /**< the arguments, in order */
    int copy;             /**< UHF_COPY_* */
    int copy_size;        /**< UHF_COPY_FIXED: bytes copied */
    int copy_arg;         /**< index of the argument that receives the copy, or -1 */
    int clears;           /**< bytes of the copy's buffer cleared before the exchange (0: none) */
    int result;           /**< UHF_RESULT_* */
    const char *summary;  /**< one line: what the command does */
    int changes;          /**< 1 when the command may change the reader, a tag or a security module
                               (writes, kill, lock, passwords, address, line rate, settings, tag
                               selection, pass-through); 0 when it only reads */
} uhf_command_info;

/** How many commands the catalogue holds (98). */
UHF_API int uhf_command_count(void);

/** The i-th command (0 <= i < uhf_command_count()), or NULL. */
UHF_API const uhf_command_info *uhf_command_at(int i);

/** The command with this designed name (exact case), or NULL. */
UHF_API const uhf_command_info *uhf_command_find(const char *name);

/**
 * How many bytes of \p block argument \p arg of command \p cmd sends, worked out from the
 * block's count fields as the command itself works it out.
 *
 * \param cmd a catalogue entry
 * \param arg index of a UHF_ARG_BLOCK or UHF_ARG_BLOCK_REPLY argument
 * \param block the block's bytes
 * \param len how many bytes \p block holds
 * \return the length the command sends (may exceed 255: the command then refuses with 248),
 *         -1 when \p len is too short to hold the count fields, UHF_ERR_INVALID for a bad arg.
 */
UHF_API int uhf_block_length(const uhf_command_info *cmd, int arg, const unsigned char *block,
                             int len);

/**
 * How many bytes the command's copy rule wrote into \p copy after a valid reply (the count
 * fields read back from the copy, as the command read them from the reply).
 * \return the byte count, 0 for UHF_COPY_NONE, UHF_ERR_INVALID for a NULL argument.
 */
UHF_API int uhf_copy_length(const uhf_command_info *cmd, const unsigned char *copy);

/**
 * Runs any catalogue command on a link, as its link twin would run.
 *
 * \param l link
 * \param cmd a catalogue entry
 * \param addr reader address
 * \param scalars scalars[i] is argument i where argument i is a scalar (may be NULL when none is)
 * \param buffers buffers[i] is argument i where argument i is a block or reply buffer
 * \return the twin's result.
 */
UHF_API int uhf_call(uhf_link *l, const uhf_command_info *cmd, int addr, const int *scalars,
                     unsigned char *const *buffers);

/** @} */

/** @} */

/** \defgroup link_twins Link twins of the commands
 *  uhf_NAME(l, addr, ...) runs NAME(addr, ...) on link \p l: the same request layout, copy rule
 *  and result rule, with the link's own exchange state (uhf_status(), uhf_detail()). A NULL link
 *  gives UHF_ERR_CLOSED, a device that vanished UHF_ERR_GONE; a NULL request block is refused
 *  with UHF_REFUSED_NULL_BLOCK (detail 106) before anything is sent, as by the designed
 *  functions.
 *  @{ */

/* ---- Reader administration ---- */
/** DeviceRestore() on link \p l. */
UHF_API int uhf_DeviceRestore(uhf_link *l, int addr);
/** DeviceReset() on link \p l. */
UHF_API int uhf_DeviceReset(uhf_link *l, int addr);
/** Set_Baud_Rate() on link \p l. */
UHF_API int uhf_Set_Baud_Rate(uhf_link *l, int addr, int rate_code);
/** ALARM() on link \p l. */
UHF_API int uhf_ALARM(uhf_link *l, int addr, int a, int b, int c, int d);
/** GetDeviceInfo() on link \p l. */
UHF_API int uhf_GetDeviceInfo(uhf_link *l, int addr, unsigned char *info);
/** WriteDeviceNo() on link \p l. */
UHF_API int uhf_WriteDeviceNo(uhf_link *l, int addr, int new_addr);
/** ReadDeviceNo() on link \p l. */
UHF_API int uhf_ReadDeviceNo(uhf_link *l, int addr, unsigned char *no);
/** Read_DeviceTemp() on link \p l. */
UHF_API int uhf_Read_DeviceTemp(uhf_link *l, int addr, unsigned char *temp);
/** Set_Work_Param() on link \p l. */
UHF_API int uhf_Set_Work_Param(uhf_link *l, int addr, unsigned char *param);
/** Get_Work_Param() on link \p l. */
UHF_API int uhf_Get_Work_Param(uhf_link *l, int addr, unsigned char *param);
/** Set_R2000_ON_OFF() on link \p l. */
UHF_API int uhf_Set_R2000_ON_OFF(uhf_link *l, int addr, int on);
/** Set_CW_ON_OFF() on link \p l. */
UHF_API int uhf_Set_CW_ON_OFF(uhf_link *l, int addr, int on);
/** Get_RF_Power() on link \p l. */
UHF_API int uhf_Get_RF_Power(uhf_link *l, int addr, unsigned char *power);
/** Set_Active_ANT() on link \p l. */
UHF_API int uhf_Set_Active_ANT(uhf_link *l, int addr, int antenna);
/** Set_CH_Active() on link \p l. */
UHF_API int uhf_Set_CH_Active(uhf_link *l, int addr, unsigned char *table);
/** Get_CH_Active() on link \p l. */
UHF_API int uhf_Get_CH_Active(uhf_link *l, int addr, unsigned char *table);
/** Set_Menjin_Param() on link \p l. */
UHF_API int uhf_Set_Menjin_Param(uhf_link *l, int addr, unsigned char *param);
/** Get_Menjin_Param() on link \p l. */
UHF_API int uhf_Get_Menjin_Param(uhf_link *l, int addr, unsigned char *param);

/* ---- EPC tags (status result) ---- */
/** EPC_Read_Select_Para() on link \p l. */
UHF_API int uhf_EPC_Read_Select_Para(uhf_link *l, int addr, unsigned char *reply);
/** EPC_Write_Select_Para() on link \p l. */
UHF_API int uhf_EPC_Write_Select_Para(uhf_link *l, int addr, unsigned char *block);
/** EPC_Query_ON() on link \p l. */
UHF_API int uhf_EPC_Query_ON(uhf_link *l, int addr);
/** EPC_Read_Tag_List() on link \p l. */
UHF_API int uhf_EPC_Read_Tag_List(uhf_link *l, int addr, int a, int b, unsigned char *reply);
/** EPC_Set_Pwd() on link \p l. */
UHF_API int uhf_EPC_Set_Pwd(uhf_link *l, int addr, int a, unsigned char *pwd1, unsigned char *pwd2);
/** EPC_Wake_TAG() on link \p l. */
UHF_API int uhf_EPC_Wake_TAG(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);
/** EPC_Access_Proc() on link \p l. */
UHF_API int uhf_EPC_Access_Proc(uhf_link *l, int addr);
/** EPC_Read_TAG() on link \p l. */
UHF_API int uhf_EPC_Read_TAG(uhf_link *l, int addr, unsigned char *req, unsigned char *reply);
/** EPC_Write_TAG() on link \p l. */
UHF_API int uhf_EPC_Write_TAG(uhf_link *l, int addr, unsigned char *block);
/** EPC_Kill_TAG() on link \p l. */
UHF_API int uhf_EPC_Kill_TAG(uhf_link *l, int addr, unsigned char *block);
/** EPC_Lock_TAG() on link \p l. */
UHF_API int uhf_EPC_Lock_TAG(uhf_link *l, int addr, unsigned char *block);
/** EPC_Write_Block_TAG() on link \p l. */
UHF_API int uhf_EPC_Write_Block_TAG(uhf_link *l, int addr, unsigned char *block);
/** EPC_Write_Erase_TAG() on link \p l. */
UHF_API int uhf_EPC_Write_Erase_TAG(uhf_link *l, int addr, unsigned char *block);
/** EPC_Halt_TAG() on link \p l. */
UHF_API int uhf_EPC_Halt_TAG(uhf_link *l, int addr);
/** EPC_Edit_TAG_Pwd() on link \p l. */
UHF_API int uhf_EPC_Edit_TAG_Pwd(uhf_link *l, int addr, unsigned char *old_pwd, unsigned char *new_pwd);
/** EPC_TAG_Cust_Command() on link \p l. */
UHF_API int uhf_EPC_TAG_Cust_Command(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);

/* ---- GB tags (status result) ---- */
/** GB_Read_Select_Para() on link \p l. */
UHF_API int uhf_GB_Read_Select_Para(uhf_link *l, int addr, unsigned char *reply);
/** GB_Write_Select_Para() on link \p l. */
UHF_API int uhf_GB_Write_Select_Para(uhf_link *l, int addr, unsigned char *block);
/** GB_Query_ON() on link \p l. */
UHF_API int uhf_GB_Query_ON(uhf_link *l, int addr);
/** GB_Read_Tag_List() on link \p l. */
UHF_API int uhf_GB_Read_Tag_List(uhf_link *l, int addr, int a, int b, unsigned char *reply);
/** GB_Set_Pwd() on link \p l. */
UHF_API int uhf_GB_Set_Pwd(uhf_link *l, int addr, int a, int b, unsigned char *pwd1, unsigned char *pwd2);
/** GB_Wake_TAG() on link \p l. */
UHF_API int uhf_GB_Wake_TAG(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);
/** GB_Access_Proc() on link \p l. */
UHF_API int uhf_GB_Access_Proc(uhf_link *l, int addr, int a, int b);
/** GB_Read_TAG() on link \p l. */
UHF_API int uhf_GB_Read_TAG(uhf_link *l, int addr, unsigned char *req, unsigned char *reply);
/** GB_Write_TAG() on link \p l. */
UHF_API int uhf_GB_Write_TAG(uhf_link *l, int addr, unsigned char *block);
/** GB_Kill_TAG() on link \p l. */
UHF_API int uhf_GB_Kill_TAG(uhf_link *l, int addr, unsigned char *block);
/** GB_Lock_TAG() on link \p l. */
UHF_API int uhf_GB_Lock_TAG(uhf_link *l, int addr, unsigned char *block);
/** GB_Write_Block_TAG() on link \p l. */
UHF_API int uhf_GB_Write_Block_TAG(uhf_link *l, int addr, unsigned char *block);
/** GB_Erase_TAG() on link \p l. */
UHF_API int uhf_GB_Erase_TAG(uhf_link *l, int addr, unsigned char *block);
/** GB_Halt_TAG() on link \p l. */
UHF_API int uhf_GB_Halt_TAG(uhf_link *l, int addr);
/** GB_Edit_TAG_Pwd() on link \p l. */
UHF_API int uhf_GB_Edit_TAG_Pwd(uhf_link *l, int addr, unsigned char *block);
/** GB_Get_SecPara() on link \p l. */
UHF_API int uhf_GB_Get_SecPara(uhf_link *l, int addr, unsigned char *reply);
/** GB_Set_SecPara() on link \p l. */
UHF_API int uhf_GB_Set_SecPara(uhf_link *l, int addr, unsigned char *block);
/** GB_Set_Auth_Pwd() on link \p l. */
UHF_API int uhf_GB_Set_Auth_Pwd(uhf_link *l, int addr, unsigned char *block);
/** GB_T2R_XAuth() on link \p l. */
UHF_API int uhf_GB_T2R_XAuth(uhf_link *l, int addr);
/** GB_T2R_SAuth() on link \p l. */
UHF_API int uhf_GB_T2R_SAuth(uhf_link *l, int addr);
/** GB_R2T_XAuth() on link \p l. */
UHF_API int uhf_GB_R2T_XAuth(uhf_link *l, int addr);
/** GB_R2T_SAuth() on link \p l. */
UHF_API int uhf_GB_R2T_SAuth(uhf_link *l, int addr);
/** GB_Mul_XAuth() on link \p l. */
UHF_API int uhf_GB_Mul_XAuth(uhf_link *l, int addr);
/** GB_Mul_SAuth() on link \p l. */
UHF_API int uhf_GB_Mul_SAuth(uhf_link *l, int addr);
/** GB_Sec_Comm() on link \p l. */
UHF_API int uhf_GB_Sec_Comm(uhf_link *l, int addr);
/** GB_TAG_Cust_Command() on link \p l. */
UHF_API int uhf_GB_TAG_Cust_Command(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);

/* ---- GJB tags (status result) ---- */
/** GJB_Read_Select_Para() on link \p l. */
UHF_API int uhf_GJB_Read_Select_Para(uhf_link *l, int addr, unsigned char *reply);
/** GJB_Write_Select_Para() on link \p l. */
UHF_API int uhf_GJB_Write_Select_Para(uhf_link *l, int addr, unsigned char *block);
/** GJB_Query_ON() on link \p l. */
UHF_API int uhf_GJB_Query_ON(uhf_link *l, int addr);
/** GJB_Read_Tag_List() on link \p l. */
UHF_API int uhf_GJB_Read_Tag_List(uhf_link *l, int addr, int a, int b, unsigned char *reply);
/** GJB_Set_Pwd() on link \p l. */
UHF_API int uhf_GJB_Set_Pwd(uhf_link *l, int addr, int a, unsigned char *block);
/** GJB_Wake_TAG() on link \p l. */
UHF_API int uhf_GJB_Wake_TAG(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);
/** GJB_Access_Proc() on link \p l. */
UHF_API int uhf_GJB_Access_Proc(uhf_link *l, int addr, int a);
/** GJB_Read_TAG() on link \p l. */
UHF_API int uhf_GJB_Read_TAG(uhf_link *l, int addr, unsigned char *req, unsigned char *reply);
/** GJB_Write_TAG() on link \p l. */
UHF_API int uhf_GJB_Write_TAG(uhf_link *l, int addr, unsigned char *block);
/** GJB_Kill_TAG() on link \p l. */
UHF_API int uhf_GJB_Kill_TAG(uhf_link *l, int addr, unsigned char *block);
/** GJB_Lock_TAG() on link \p l. */
UHF_API int uhf_GJB_Lock_TAG(uhf_link *l, int addr, unsigned char *block);
/** GJB_Write_Block_TAG() on link \p l. */
UHF_API int uhf_GJB_Write_Block_TAG(uhf_link *l, int addr, unsigned char *block);
/** GJB_Erase_TAG() on link \p l. */
UHF_API int uhf_GJB_Erase_TAG(uhf_link *l, int addr, unsigned char *block);
/** GJB_Halt_TAG() on link \p l. */
UHF_API int uhf_GJB_Halt_TAG(uhf_link *l, int addr);
/** GJB_Edit_TAG_Pwd() on link \p l. */
UHF_API int uhf_GJB_Edit_TAG_Pwd(uhf_link *l, int addr, unsigned char *block);
/** GJB_Get_SecPara() on link \p l. */
UHF_API int uhf_GJB_Get_SecPara(uhf_link *l, int addr, unsigned char *reply);
/** GJB_TAG_Cust_Command() on link \p l. */
UHF_API int uhf_GJB_TAG_Cust_Command(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);

/* ---- FD extensions (status result) ---- */
/** GB_FD_Cust_Access() on link \p l. */
UHF_API int uhf_GB_FD_Cust_Access(uhf_link *l, int addr, unsigned char *block);
/** GB_FD_Cust_Pwd_Write() on link \p l. */
UHF_API int uhf_GB_FD_Cust_Pwd_Write(uhf_link *l, int addr, unsigned char *block);
/** GB_FD_Cust_Pwd_Lock() on link \p l. */
UHF_API int uhf_GB_FD_Cust_Pwd_Lock(uhf_link *l, int addr, unsigned char *block);
/** GB_FD_Cust_Init_End() on link \p l. */
UHF_API int uhf_GB_FD_Cust_Init_End(uhf_link *l, int addr, unsigned char *block);
/** GB_FD_Cust_Lock_Info() on link \p l. */
UHF_API int uhf_GB_FD_Cust_Lock_Info(uhf_link *l, int addr, unsigned char *reply);
/** GB_FD_Write_Auth_Pwd() on link \p l. */
UHF_API int uhf_GB_FD_Write_Auth_Pwd(uhf_link *l, int addr, unsigned char *block);
/** GB_FD_Dual_Auth() on link \p l. */
UHF_API int uhf_GB_FD_Dual_Auth(uhf_link *l, int addr, int a, int b);
/** GB_FD_Get_Diver_Key() on link \p l. */
UHF_API int uhf_GB_FD_Get_Diver_Key(uhf_link *l, int addr, int a, unsigned char *reply);
/** GJB_FD_Cust_Read_Block() on link \p l. */
UHF_API int uhf_GJB_FD_Cust_Read_Block(uhf_link *l, int addr, unsigned char *req, unsigned char *reply);
/** GJB_FD_Cust_Write_Block() on link \p l. */
UHF_API int uhf_GJB_FD_Cust_Write_Block(uhf_link *l, int addr, unsigned char *block);
/** GJB_FD_Cust_Erase_Block() on link \p l. */
UHF_API int uhf_GJB_FD_Cust_Erase_Block(uhf_link *l, int addr, unsigned char *block);
/** GJB_FD_Cust_Lock_Blck() on link \p l. */
UHF_API int uhf_GJB_FD_Cust_Lock_Blck(uhf_link *l, int addr, unsigned char *block);
/** GJB_FD_Cust_Lock_Info() on link \p l. */
UHF_API int uhf_GJB_FD_Cust_Lock_Info(uhf_link *l, int addr, unsigned char *reply);

/* ---- PSAM (status result; counted copy of the reply) ---- */
/** PSAM_POWER_ON() on link \p l. */
UHF_API int uhf_PSAM_POWER_ON(uhf_link *l, int addr, int a, int b, unsigned char *reply);
/** PSAM_Warm_Reset() on link \p l. */
UHF_API int uhf_PSAM_Warm_Reset(uhf_link *l, int addr, int a, unsigned char *reply);
/** PSAM_Command() on link \p l. */
UHF_API int uhf_PSAM_Command(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);
/** PSAM_FD_Issue() on link \p l. */
UHF_API int uhf_PSAM_FD_Issue(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);

/* ---- FM151M (status result) ---- */
/** FM151M_Get_ID() on link \p l. */
UHF_API int uhf_FM151M_Get_ID(uhf_link *l, int addr, unsigned char *reply);
/** FM151M_Get_RN() on link \p l. */
UHF_API int uhf_FM151M_Get_RN(uhf_link *l, int addr, int count, unsigned char *reply);
/** FM151M_Hash() on link \p l. */
UHF_API int uhf_FM151M_Hash(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);
/** FM151M_Cipher() on link \p l. */
UHF_API int uhf_FM151M_Cipher(uhf_link *l, int addr, unsigned char *block, unsigned char *reply);

/** @} */

/** \defgroup epc_api GS1 EPC identifiers
 *  Tag ids as the supply chain names them: the binary EPC encodings of the GS1 EPC Tag Data
 *  Standard (1.13 and later) turned into URIs and GS1 element strings, and tag URIs turned back
 *  into the bytes to write.
 *
 *  These functions are pure: they touch only the caller's buffers, allocate nothing, need no
 *  link and may run in any thread. An id that is not a valid encoding is refused with one of the
 *  UHF_EPC_ERR_* codes below (uhf_epc_strerror() says it in words); nothing is guessed.
 *
 *  \code
 *  uhf_epc e;
 *  const unsigned char id[12] = {0x30,0x74,0x25,0x7B,0xF7,0x19,0x4E,0x40,0x00,0x00,0x1A,0x85};
 *  if (uhf_epc_decode(id, sizeof id, &e) == 0)
 *      printf("%s %s %s\n", e.uri, e.tag_uri, e.gs1);
 *      // urn:epc:id:sgtin:0614141.812345.6789
 *      // urn:epc:tag:sgtin-96:3.0614141.812345.6789  (01)80614141123458(21)6789
 *  unsigned char out[UHF_EPC_BYTES_MAX];
 *  int n = uhf_epc_encode("urn:epc:tag:sscc-96:0.0614141.1234567890", out, sizeof out);
 *  if (n < 0) fprintf(stderr, "%s\n", uhf_epc_strerror(n));
 *  \endcode
 *  @{ */

/** \name Binary schemes (uhf_epc::scheme) */
/** @{ */
#define UHF_EPC_SGTIN_96 1   /**< serialised trade item (GTIN + numeric serial) */
#define UHF_EPC_SGTIN_198 2  /**< serialised trade item, alphanumeric serial */
#define UHF_EPC_SSCC_96 3    /**< serial shipping container code */
#define UHF_EPC_SGLN_96 4    /**< location (GLN + numeric extension) */
#define UHF_EPC_SGLN_195 5   /**< location, alphanumeric extension */
#define UHF_EPC_GRAI_96 6    /**< returnable asset, numeric serial */
#define UHF_EPC_GRAI_170 7   /**< returnable asset, alphanumeric serial */
#define UHF_EPC_GIAI_96 8    /**< individual asset, numeric reference */
#define UHF_EPC_GIAI_202 9   /**< individual asset, alphanumeric reference */
#define UHF_EPC_GSRN_96 10   /**< service relation, recipient */
#define UHF_EPC_GSRNP_96 11  /**< service relation, provider */
#define UHF_EPC_GDTI_96 12   /**< document type, numeric serial */
#define UHF_EPC_GDTI_174 13  /**< document type, alphanumeric serial */
#define UHF_EPC_CPI_96 14    /**< component / part, numeric reference */
#define UHF_EPC_CPI_VAR 15   /**< component / part, alphanumeric reference of variable length */
#define UHF_EPC_SGCN_96 16   /**< coupon, numeric serial whose leading zeros count */
#define UHF_EPC_ITIP_110 17  /**< trade item piece, numeric serial */
#define UHF_EPC_ITIP_212 18  /**< trade item piece, alphanumeric serial */
#define UHF_EPC_GID_96 19    /**< general identifier (no filter) */
#define UHF_EPC_USDOD_96 20  /**< US DoD identifier */
#define UHF_EPC_ADI_VAR 21   /**< aerospace and defence identifier, variable length */
/** @} */

/** \name Refusals (negative results of the uhf_epc_* functions) */
/** @{ */
#define UHF_EPC_ERR_ARGUMENT (-100)  /**< a NULL pointer or a negative length */
#define UHF_EPC_ERR_SPACE (-101)     /**< the caller's output buffer is too small */
#define UHF_EPC_ERR_HEADER (-102)    /**< the first byte is no EPC header this library decodes (not a GS1 id) */
#define UHF_EPC_ERR_SHORT (-103)     /**< the id ends before its scheme's last field (or a terminator) */
#define UHF_EPC_ERR_PARTITION (-104) /**< the partition value is 7 (no row of the table) */
#define UHF_EPC_ERR_RANGE (-105)     /**< a numeric field is too large for its digits or bits */
#define UHF_EPC_ERR_CHARACTER (-106) /**< a character the field does not allow (or a bad %-escape) */
#define UHF_EPC_ERR_PADDING (-107)   /**< bits that must be zero are not (after a string, reserved, after the id) */
#define UHF_EPC_ERR_URI (-108)       /**< not a URI of the expected form (prefix, dots, number of parts) */
#define UHF_EPC_ERR_SCHEME (-109)    /**< the URI names no scheme this library encodes */
#define UHF_EPC_ERR_LENGTH (-110)    /**< a part has the wrong number of digits, or is empty or too long */
#define UHF_EPC_ERR_LEADING_ZERO (-111) /**< an integer part written with a leading zero */
#define UHF_EPC_ERR_FILTER (-112)    /**< the filter value is out of range for the scheme */
#define UHF_EPC_ERR_PATTERN (-113)   /**< a pattern part that is not allowed there (a range on text, a value after '*') */
/** @} */

#define UHF_EPC_URI_MAX 256   /**< room for any URI uhf_epc_decode() writes, NUL included */
#define UHF_EPC_GS1_MAX 96    /**< room for any GS1 element string, NUL included */
#define UHF_EPC_FIELD_MAX 40  /**< room for any field's text, NUL included */
#define UHF_EPC_FIELDS 5      /**< most fields a scheme has (the filter aside) */
#define UHF_EPC_BYTES_MAX 56  /**< room for any encoding uhf_epc_encode() writes */

/** One field of a decoded id: its name and its text as the URI carries it, %-escapes undone. */
typedef struct uhf_epc_field {
    const char *name;               /**< "company_prefix", "item_reference", "serial", ... (static) */
    char value[UHF_EPC_FIELD_MAX];  /**< digits keep their leading zeros where they count */
} uhf_epc_field;

/** A decoded id. Every string is NUL-terminated; gs1 is empty where the scheme has none. */
typedef struct uhf_epc {
    int scheme;        /**< UHF_EPC_SGTIN_96, ... */
    const char *name;  /**< the scheme's name in a tag URI: "sgtin-96", "cpi-var", ... (static) */
    int bits;          /**< bits the encoding takes (the rest of the id is zero padding) */
    int filter;        /**< the filter value, or -1 for a scheme without one (GID-96) */
    int field_count;   /**< fields in use in \p field */
    uhf_epc_field field[UHF_EPC_FIELDS]; /**< in URI order */
    char uri[UHF_EPC_URI_MAX];      /**< pure identity URI: urn:epc:id:sgtin:0614141.812345.6789 */
    char tag_uri[UHF_EPC_URI_MAX];  /**< tag URI: urn:epc:tag:sgtin-96:3.0614141.812345.6789 */
    char gs1[UHF_EPC_GS1_MAX];      /**< GS1 element string: (01)80614141123458(21)6789 */
} uhf_epc;

/** Decodes the binary EPC \p epc (\p len bytes, the EPC bank after the PC word, most
 *  significant bit first). Bytes after the encoding must be zero.
 *  \return 0 with \p out filled, or a UHF_EPC_ERR_* code (\p out then holds nothing useful). */
UHF_API int uhf_epc_decode(const unsigned char *epc, int len, uhf_epc *out);

/** Encodes a tag URI (urn:epc:tag:SCHEME:FILTER.FIELDS..., as uhf_epc::tag_uri) into \p out,
 *  zero-padded to whole 16-bit words, ready to write to the EPC bank.
 *  \return the number of bytes written (even), or a UHF_EPC_ERR_* code. */
UHF_API int uhf_epc_encode(const char *tag_uri, unsigned char *out, int cap);

/** Words for a UHF_EPC_ERR_* code (or "unknown EPC refusal"); never NULL. */
UHF_API const char *uhf_epc_strerror(int code);

/** The scheme's name in a tag URI ("sgtin-96"), or NULL for a number that names none. */
UHF_API const char *uhf_epc_scheme_name(int scheme);

#define UHF_EPC_PATTERN_PARTS 6 /**< filter and fields of a pattern */

/** One part of a pattern: anything, one value, or an inclusive range of integers. */
typedef struct uhf_epc_pattern_part {
    int kind;                     /**< UHF_EPC_MATCH_ANY, _VALUE or _RANGE */
    unsigned long long lo;        /**< the range's first value (included) */
    unsigned long long hi;        /**< the range's last value (included) */
    char value[UHF_EPC_FIELD_MAX];/**< the text a field must equal (%-escapes undone) */
} uhf_epc_pattern_part;
#define UHF_EPC_MATCH_ANY 0   /**< "*" */
#define UHF_EPC_MATCH_VALUE 1 /**< a value */
#define UHF_EPC_MATCH_RANGE 2 /**< "[lo-hi]", allowed for the filter and integer fields */

/** A parsed pattern URI: urn:epc:pat:sgtin-96:3.0614141.*.* or
 *  urn:epc:pat:gid-96:95100000.[1-9].*. Once a field is "*" every later one must be too. */
typedef struct uhf_epc_pattern {
    int scheme;       /**< the binary scheme an id must be encoded in */
    int part_count;   /**< parts in use: the filter (part[0], ANY for GID-96) then the fields */
    uhf_epc_pattern_part part[UHF_EPC_PATTERN_PARTS]; /**< the filter, then the fields in URI order */
} uhf_epc_pattern;

/** Parses a pattern URI into \p out. \return 0, or a UHF_EPC_ERR_* code. */
UHF_API int uhf_epc_pattern_parse(const char *pattern, uhf_epc_pattern *out);

/** Whether the binary EPC matches \p pattern: 1 if it does, 0 if not (an id that does not
 *  decode matches nothing), UHF_EPC_ERR_ARGUMENT for NULL pointers. */
UHF_API int uhf_epc_pattern_match(const uhf_epc_pattern *pattern, const unsigned char *epc, int len);

/** @} */

#endif /* UHFREADER_LINK_H */
