/* Shared by the examples: choosing a reader from the command line, and saying in words why a
 * call failed. Plain C99 on the public header only. */
#ifndef UHF_EXAMPLE_UTIL_H
#define UHF_EXAMPLE_UTIL_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <uhfreader.h>

/* Exit statuses shared by every example (and by uhfctl). */
enum { EXIT_READER_STATUS = 1, EXIT_USAGE = 2, EXIT_EXCHANGE = 3 };

struct reader_choice {
    const char *node; /* a terminal node, or NULL */
    int port;         /* LinkCom port when node is NULL: 32 is USB */
    int addr;
    int baud;
};

/* Takes "--usb", "--port N", "--addr A", "--baud B" and one node path out of argv; other
 * arguments stay for the caller (compacted to the front, count returned). */
static inline int take_reader_args(int argc, char **argv, struct reader_choice *rc) {
    int i, kept = 1;
    rc->node = NULL;
    rc->port = -1;
    rc->addr = 1;
    rc->baud = 115200;
    for (i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--usb") == 0) {
            rc->port = 32;
        } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            rc->port = (int)strtol(argv[++i], NULL, 0);
        } else if (strcmp(argv[i], "--addr") == 0 && i + 1 < argc) {
            rc->addr = (int)strtol(argv[++i], NULL, 0);
        } else if (strcmp(argv[i], "--baud") == 0 && i + 1 < argc) {
            rc->baud = (int)strtol(argv[++i], NULL, 0);
        } else if (argv[i][0] == '/' && rc->node == NULL) {
            rc->node = argv[i];
        } else {
            argv[kept++] = argv[i];
        }
    }
    return kept;
}

/* What an exchange code means, in a few words. */
static inline const char *exchange_words(int code) {
    if (code == 1) return "USB: no device open, or the request could not be sent";
    if (code >= 225 && code <= 233) return "sending the request failed";
    if (code == 234) return "no reply from the reader";
    if (code == 235) return "no reply, or it did not start like a frame";
    if (code >= 236 && code <= 242) return "the reply was cut short or malformed";
    if (code == 243) return "the reply's checksum is wrong";
    if (code >= 244 && code <= 247) return "the reply's end pair is missing or wrong";
    if (code == 248) return "the request is too long for one frame";
    if (code == 253) return "the reply came from another reader address";
    if (code == 254) return "the reply answers another command";
    return "unknown exchange code";
}

/* Links as chosen; on failure prints why and returns non-zero. */
static inline int link_reader(const struct reader_choice *rc) {
    int result;
    if (rc->node != NULL) {
        result = LinkCom_Path(rc->addr, rc->node, rc->baud);
    } else if (rc->port >= 0) {
        result = LinkCom(rc->addr, rc->port, rc->baud);
    } else {
        fprintf(stderr, "name a reader: a node such as /dev/ttyUSB0, --port N or --usb\n");
        return EXIT_USAGE;
    }
    if (result != 0) {
        /* A failed link leaves the last handshake's exchange code in IcRetCode. */
        fprintf(stderr, "no reader with address %d answers (link %d, last handshake %d: %s)\n",
                rc->addr, result, IcRetCode, exchange_words(IcRetCode));
        if (rc->port == 32 && result == 1)
            fprintf(stderr, "is the reader plugged in, and may you open it? See udev/60-uhfreader.rules\n");
        return EXIT_EXCHANGE;
    }
    return 0;
}

/* A status-result command returns the exchange code or the reader's status byte, and the two
 * ranges overlap; clearing ErrorCode before the call tells them apart afterwards: an exchange
 * failure leaves a detail code, or never reaches (or differs from) the status byte. */
static inline void before_call(void) { ErrorCode = 0; }

/* For commands whose result is the exchange code alone: prints a failure and returns the exit
 * status it deserves (0 when result is 0). */
static inline int report_exchange(const char *what, int result) {
    if (result == 0) return 0;
    fprintf(stderr, "%s: %s (exchange %d, detail %d, status byte 0x%02X)\n", what,
            exchange_words(result), result, IcRetCode, ErrorCode);
    return EXIT_EXCHANGE;
}

/* For commands whose result is the status byte after a complete exchange (call before_call()
 * first): prints the exchange code, detail code and status byte of a failure and returns the
 * exit status it deserves (0 when result is 0). */
static inline int report(const char *what, int result) {
    if (result == 0) return 0;
    if (IcRetCode == 0 && result == ErrorCode) {
        fprintf(stderr, "%s: the reader refused (status byte 0x%02X)\n", what, ErrorCode);
        return EXIT_READER_STATUS;
    }
    fprintf(stderr, "%s: %s (exchange %d, detail %d, status byte 0x%02X)\n", what,
            exchange_words(result), result, IcRetCode, ErrorCode);
    return EXIT_EXCHANGE;
}

static inline void print_hex(const unsigned char *bytes, size_t n) {
    size_t i;
    for (i = 0; i < n; ++i) printf("%s%02X", i ? " " : "", bytes[i]);
}

#endif
