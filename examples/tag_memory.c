/* Writes a block of words to an EPC tag's memory and reads it back, showing how each kind of
 * failure looks: an exchange failure (exchange code and detail code), or the reader's refusal
 * (its status byte).
 *
 *   tag_memory DEVICE [--bank B] [--word W] HEX
 *   tag_memory /dev/ttyUSB0 --bank 3 --word 0 1234abcd
 *
 * The library fixes only where the counts sit in these blocks; what the other bytes mean is the
 * reader's. They are laid out here the way the virtual reader uhfsim takes them:
 *
 *   write (word-counted, 4-byte header):  [bank, word pointer, 0, word count, data...]
 *   read  (4 bytes):                      [bank, word pointer, word count, 0]
 *   read reply (counted):                 [byte count n, n data bytes]
 *
 * The tag is the one the reader has singled out (by a select, a wake or a query); the virtual
 * reader takes the first tag in its field. */
#include <ctype.h>

#include "example_util.h"

static int parse_hex(const char *text, unsigned char *out, size_t cap, size_t *len) {
    size_t n = 0;
    while (*text) {
        unsigned int byte;
        if (!isxdigit((unsigned char)text[0]) || !isxdigit((unsigned char)text[1])) return -1;
        if (n == cap || sscanf(text, "%2x", &byte) != 1) return -1;
        out[n++] = (unsigned char)byte;
        text += 2;
    }
    *len = n;
    return 0;
}

int main(int argc, char **argv) {
    struct reader_choice choice;
    uhf_link *link;
    unsigned char data[250], block[4 + sizeof data], request[4], reply[256];
    size_t len = 0;
    int bank = 3, word = 0, words, i, n, result, status;
    const char *hex = NULL;

    n = take_reader_args(argc, argv, &choice);
    for (i = 1; i < n; ++i) {
        if (strcmp(argv[i], "--bank") == 0 && i + 1 < n)
            bank = (int)strtol(argv[++i], NULL, 0);
        else if (strcmp(argv[i], "--word") == 0 && i + 1 < n)
            word = (int)strtol(argv[++i], NULL, 0);
        else if (hex == NULL && argv[i][0] != '-' && argv[i][0] != '\0')
            hex = argv[i];
        else
            hex = "";
    }
    if (hex == NULL || parse_hex(hex, data, sizeof data, &len) != 0 || len == 0 || len % 2 != 0) {
        fprintf(stderr,
                "usage: %s DEVICE | --usb [--addr A] [--baud B] [--bank B] [--word W] HEX\n"
                "HEX: whole 16-bit words, 1 to 125 of them, e.g. 1234abcd\n",
                argv[0]);
        return EXIT_USAGE;
    }
    words = (int)(len / 2);

    if ((status = link_reader(&choice, &link)) != 0) return status;

    block[0] = (unsigned char)bank;
    block[1] = (unsigned char)word;
    block[2] = 0;
    block[3] = (unsigned char)words; /* the library sends 4 + 2 * words bytes of the block */
    memcpy(block + 4, data, len);
    result = uhf_EPC_Write_TAG(link, choice.addr, block);
    if ((status = report(link, "write", result)) != 0) {
        uhf_close(link);
        return status;
    }
    /* The reader's first reply byte comes back in byte 0 of the block we sent. */
    printf("wrote %d words at bank %d word %d (reader echoed 0x%02X)\n", words, bank, word, block[0]);

    request[0] = (unsigned char)bank;
    request[1] = (unsigned char)word;
    request[2] = (unsigned char)words;
    request[3] = 0;
    result = uhf_EPC_Read_TAG(link, choice.addr, request, reply);
    status = report(link, "read", result);
    uhf_close(link);
    if (status != 0) return status;

    printf("read back: ");
    print_hex(reply + 1, reply[0]);
    printf("\n");
    if (reply[0] != len || memcmp(reply + 1, data, len) != 0) {
        fprintf(stderr, "read back differs from what was written\n");
        return EXIT_READER_STATUS;
    }
    printf("read back matches\n");
    return 0;
}
