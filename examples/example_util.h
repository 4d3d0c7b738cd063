/* Shared by the examples: choosing a reader from the command line, opening a link to it, and
 * saying in the library's words why a call failed. Plain C99 on the public header only. */
#ifndef UHF_EXAMPLE_UTIL_H
#define UHF_EXAMPLE_UTIL_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <uhfreader.h>

/* Exit statuses shared by every example (and by uhfctl). */
enum { EXIT_READER_STATUS = 1, EXIT_USAGE = 2, EXIT_EXCHANGE = 3 };

struct reader_choice {
    const char *device; /* a device string: a node, "usb", "usb:1-2", "tcp:HOST:PORT", ... */
    char with_rate[300];
    int addr;
    int baud; /* 0: the device string's own */
};

/* Takes "--usb", "--addr A", "--baud B", "--device DEV" and one device string (a path, usb...,
 * tcp:..., serial:...) out of argv; other arguments stay for the caller (compacted to the front,
 * count returned). */
static inline int take_reader_args(int argc, char **argv, struct reader_choice *rc) {
    int i, kept = 1;
    rc->device = NULL;
    rc->addr = 1;
    rc->baud = 0;
    for (i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (strcmp(a, "--usb") == 0) {
            rc->device = "usb";
        } else if (strcmp(a, "--device") == 0 && i + 1 < argc) {
            rc->device = argv[++i];
        } else if (strcmp(a, "--addr") == 0 && i + 1 < argc) {
            rc->addr = (int)strtol(argv[++i], NULL, 0);
        } else if (strcmp(a, "--baud") == 0 && i + 1 < argc) {
            rc->baud = (int)strtol(argv[++i], NULL, 0);
        } else if (rc->device == NULL && (a[0] == '/' || strncmp(a, "usb", 3) == 0 || strncmp(a, "tcp:", 4) == 0 ||
                                          strncmp(a, "serial:", 7) == 0)) {
            rc->device = a;
        } else {
            argv[kept++] = argv[i];
        }
    }
    return kept;
}

/* Opens the link chosen; on failure prints why (the library's words) and returns the exit status. */
static inline int link_reader(struct reader_choice *rc, uhf_link **link) {
    const char *device = rc->device;
    int result;
    *link = NULL;
    if (device == NULL) {
        fprintf(stderr, "name a reader: a device such as /dev/ttyUSB0, usb or tcp:HOST:PORT\n");
        return EXIT_USAGE;
    }
    /* --baud goes onto a serial node named without a rate. */
    if (rc->baud > 0 && strncmp(device, "usb", 3) != 0 && strncmp(device, "tcp:", 4) != 0 && !strchr(device, '@')) {
        snprintf(rc->with_rate, sizeof rc->with_rate, "%s@%d", device, rc->baud);
        device = rc->with_rate;
    }
    result = uhf_open(link, device, rc->addr);
    if (result != 0) {
        fprintf(stderr, "no reader with address %d answers on %s: %s\n", rc->addr, device, uhf_strerror(result, 0));
        return result == UHF_ERR_BAD_DEVICE ? EXIT_USAGE : EXIT_EXCHANGE;
    }
    return 0;
}

/* What a call's result means. Commands with the status result rule return the reader's status
 * byte after a valid reply and the exchange code after a failed one, and the two ranges overlap;
 * a valid reply leaves no detail code and its status byte is the result. Prints a failure and
 * returns the exit status it deserves (0 when result is 0). */
static inline int report(uhf_link *link, const char *what, int result) {
    if (result == 0) return 0;
    if (result > 0 && uhf_detail(link) == 0 && result == uhf_status(link)) {
        fprintf(stderr, "%s: the reader refused (status byte 0x%02X)\n", what, result);
        return EXIT_READER_STATUS;
    }
    fprintf(stderr, "%s: %s (result %d, detail %d)\n", what, uhf_strerror(result, uhf_detail(link)), result,
            uhf_detail(link));
    return EXIT_EXCHANGE;
}

/* For commands whose result is the exchange code alone (the status byte is in uhf_status). */
static inline int report_exchange(uhf_link *link, const char *what, int result) {
    if (result == 0) return 0;
    fprintf(stderr, "%s: %s (result %d, detail %d)\n", what, uhf_strerror(result, uhf_detail(link)), result,
            uhf_detail(link));
    return EXIT_EXCHANGE;
}

static inline void print_hex(const unsigned char *bytes, size_t n) {
    size_t i;
    for (i = 0; i < n; ++i) printf("%s%02X", i ? " " : "", bytes[i]);
}

#endif
