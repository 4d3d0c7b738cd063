/* Links to a reader and prints what it says about itself.
 *
 *   device_info /dev/ttyUSB0          a serial node (or a uhfsim pseudo-terminal)
 *   device_info /dev/ttyS0 --baud 9600
 *   device_info usb:1-2               the USB reader on that port (--usb: the first one)
 *   device_info tcp:10.0.0.7:4001     a reader behind a network serial server
 *
 * The reading commands here return 0 after any complete exchange and leave the reader's own
 * verdict in uhf_status(), so both are checked. */
#include "example_util.h"

static uhf_link *link_;

static int show(const char *label, int result, const unsigned char *bytes, size_t n) {
    int status = report_exchange(link_, label, result);
    if (status != 0) return status;
    printf("%-18s ", label);
    print_hex(bytes, n);
    if (uhf_status(link_) != 0) printf("   (reader status 0x%02X)", uhf_status(link_));
    printf("\n");
    return uhf_status(link_) != 0 ? EXIT_READER_STATUS : 0;
}

int main(int argc, char **argv) {
    struct reader_choice choice;
    unsigned char info[22], address[1], temperature[1], power[3], work[7];
    int status, worst = 0;

    if (take_reader_args(argc, argv, &choice) != 1) {
        fprintf(stderr, "usage: %s DEVICE | --usb [--addr A] [--baud B]\n", argv[0]);
        return EXIT_USAGE;
    }
    if ((status = link_reader(&choice, &link_)) != 0) return status;
    printf("linked to reader %d on %s\n", choice.addr, uhf_device(link_));

    /* A failed exchange stops the walk: the next one would most likely fail the same way. */
    if ((status = show("device information", uhf_GetDeviceInfo(link_, choice.addr, info), info, sizeof info)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("reader address", uhf_ReadDeviceNo(link_, choice.addr, address), address, 1)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("temperature", uhf_Read_DeviceTemp(link_, choice.addr, temperature), temperature, 1)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("RF power", uhf_Get_RF_Power(link_, choice.addr, power), power, sizeof power)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("work parameters", uhf_Get_Work_Param(link_, choice.addr, work), work, sizeof work)) > worst)
        worst = status;

    uhf_close(link_);
    return worst;
}
