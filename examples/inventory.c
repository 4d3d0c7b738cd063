/* Runs inventory rounds until Ctrl-C, printing each tag the first time it is seen and a
 * summary at the end.
 *
 *   inventory DEVICE [--family epc|gb|gjb] [--rounds N] [--interval MS]
 *
 * DEVICE is a device string: /dev/ttyUSB0[@BAUD], usb, usb:1-2, tcp:HOST:PORT, ...
 *
 * Each round asks the reader to query the field (Query_ON) and then fetches its tag list
 * (Read_Tag_List). The list is a total-length block: bytes 0-1 count the whole block. What the
 * entries inside look like is the reader's own format; this example reads them the way the
 * virtual reader uhfsim lays them out:
 *
 *   [total hi, total lo, in list hi, in list lo, entries here, entry...]
 *   entry: [n, tag id (n-3 bytes), rssi (signed dBm), antenna, reads]
 *
 * Ctrl-C only sets a flag: the exchange under way finishes (every wait in the library is
 * bounded), the loop ends, and the link is closed as usual. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <time.h>

#include "example_util.h"

#define MAX_TAGS 256
#define MAX_ID 64

struct family {
    const char *name;
    int (*query)(uhf_link *link, int addr);
    int (*list)(uhf_link *link, int addr, int first, int max, unsigned char *reply);
};

static const struct family families[] = {
    {"epc", uhf_EPC_Query_ON, uhf_EPC_Read_Tag_List},
    {"gb", uhf_GB_Query_ON, uhf_GB_Read_Tag_List},
    {"gjb", uhf_GJB_Query_ON, uhf_GJB_Read_Tag_List},
};

struct seen_tag {
    unsigned char id[MAX_ID];
    size_t id_len;
    unsigned long reads;
};

static volatile sig_atomic_t interrupted = 0;

static void on_interrupt(int sig) {
    (void)sig;
    interrupted = 1;
}

static struct seen_tag seen[MAX_TAGS];
static size_t seen_count = 0;

static struct seen_tag *remember(const unsigned char *id, size_t len, int *is_new) {
    size_t i;
    *is_new = 0;
    for (i = 0; i < seen_count; ++i)
        if (seen[i].id_len == len && memcmp(seen[i].id, id, len) == 0) return &seen[i];
    if (seen_count == MAX_TAGS) return NULL;
    memcpy(seen[seen_count].id, id, len);
    seen[seen_count].id_len = len;
    seen[seen_count].reads = 0;
    *is_new = 1;
    return &seen[seen_count++];
}

/* Walks one tag list; returns the number of entries read, or -1 when it does not parse. */
static int take_list(const unsigned char *list, unsigned long round) {
    size_t total = ((size_t)list[0] << 8) | list[1];
    size_t at = 5;
    int entries = 0;
    if (total < 5) return total == 0 || total == 2 ? 0 : -1;
    while (at < total) {
        size_t n = list[at];
        const unsigned char *id = list + at + 1;
        size_t id_len;
        int is_new;
        struct seen_tag *tag;
        if (n < 3 || at + 1 + n > total || n - 3 > MAX_ID) return -1;
        id_len = n - 3;
        tag = remember(id, id_len, &is_new);
        if (tag != NULL) {
            tag->reads += list[at + n];
            if (is_new) {
                printf("round %lu: new tag ", round);
                print_hex(id, id_len);
                printf("  rssi %d dBm, antenna %u\n", (signed char)list[at + n - 2], list[at + n - 1]);
                fflush(stdout);
            }
        }
        at += 1 + n;
        ++entries;
    }
    return entries;
}

static void pause_ms(long ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&ts, NULL); /* Ctrl-C cuts it short, which is what we want */
}

int main(int argc, char **argv) {
    static unsigned char list[2048]; /* a total-length copy may fill the whole reply */
    struct reader_choice choice;
    uhf_link *link;
    const struct family *fam = &families[0];
    unsigned long rounds = 0, max_rounds = 0;
    long interval_ms = 100;
    struct sigaction sa;
    int i, n, status = 0;

    n = take_reader_args(argc, argv, &choice);
    for (i = 1; i < n; ++i) {
        if (strcmp(argv[i], "--family") == 0 && i + 1 < n) {
            size_t f;
            ++i;
            for (f = 0; f < sizeof families / sizeof families[0]; ++f)
                if (strcmp(argv[i], families[f].name) == 0) fam = &families[f];
            if (strcmp(argv[i], fam->name) != 0) {
                fprintf(stderr, "unknown family '%s' (epc, gb or gjb)\n", argv[i]);
                return EXIT_USAGE;
            }
        } else if (strcmp(argv[i], "--rounds") == 0 && i + 1 < n) {
            max_rounds = strtoul(argv[++i], NULL, 0);
        } else if (strcmp(argv[i], "--interval") == 0 && i + 1 < n) {
            interval_ms = strtol(argv[++i], NULL, 0);
        } else {
            fprintf(stderr,
                    "usage: %s DEVICE | --usb [--addr A] [--baud B]\n"
                    "       [--family epc|gb|gjb] [--rounds N] [--interval MS]\n",
                    argv[0]);
            return EXIT_USAGE;
        }
    }

    /* No SA_RESTART: a pause between rounds should end at once on Ctrl-C. */
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);

    if ((status = link_reader(&choice, &link)) != 0) return status;
    printf("inventory of %s tags; Ctrl-C stops\n", fam->name);
    fflush(stdout);

    while (!interrupted && (max_rounds == 0 || rounds < max_rounds)) {
        int result;
        ++rounds;
        result = fam->query(link, choice.addr);
        /* A reader may answer a round without tags with a status of its own: not a failure. */
        if (result != 0 && (status = report(link, "query", result)) == EXIT_EXCHANGE) break;
        status = 0;
        result = fam->list(link, choice.addr, 0, 0, list);
        if (result != 0) {
            if ((status = report(link, "tag list", result)) == EXIT_EXCHANGE) break;
            status = 0;
        } else if (take_list(list, rounds) < 0) {
            printf("round %lu: tag list in a form this example does not know: ", rounds);
            print_hex(list, 2);
            printf(" ...\n");
        }
        if (!interrupted && (max_rounds == 0 || rounds < max_rounds)) pause_ms(interval_ms);
    }

    uhf_close(link);
    printf("%s after %lu rounds: %lu distinct tags\n", interrupted ? "stopped" : "done", rounds,
           (unsigned long)seen_count);
    for (i = 0; (size_t)i < seen_count; ++i) {
        printf("  ");
        print_hex(seen[i].id, seen[i].id_len);
        printf("  %lu reads\n", seen[i].reads);
    }
    return status;
}
