/* An outside program built against an installed uhfreader: links to the reader on the node
 * given as its argument and prints the device information. */
#include <stdio.h>
#include <uhfreader.h>

int main(int argc, char **argv) {
    unsigned char info[22];
    int rc, i;
    if (argc != 2) {
        fprintf(stderr, "usage: %s NODE\n", argv[0]);
        return 2;
    }
    rc = LinkCom_Path(1, argv[1], 115200);
    if (rc != 0) {
        fprintf(stderr, "link failed (exchange %d, detail %d)\n", rc, IcRetCode);
        return 3;
    }
    rc = GetDeviceInfo(1, info);
    UnLinkCom();
    if (rc != 0) {
        fprintf(stderr, "device information failed (exchange %d, detail %d)\n", rc, IcRetCode);
        return 3;
    }
    printf("info");
    for (i = 0; i < 22; ++i) printf(" %02X", info[i]);
    printf("\n");
    return 0;
}
