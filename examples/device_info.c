/* Links to a reader and prints what it says about itself.
 *
 *   device_info /dev/ttyUSB0          a serial node (or a uhfsim pseudo-terminal)
 *   device_info --port 0 --baud 9600  /dev/ttyS0, then /dev/ttyUSB0
 *   device_info --usb                 the USB reader
 *
 * The reading commands here return 0 after any complete exchange and leave the reader's own
 * verdict in ErrorCode, so both are checked. */
#include "example_util.h"

static int show(const char *label, int result, const unsigned char *bytes, size_t n) {
    int status = report_exchange(label, result);
    if (status != 0) return status;
    printf("%-18s ", label);
    print_hex(bytes, n);
    if (ErrorCode != 0) printf("   (reader status 0x%02X)", ErrorCode);
    printf("\n");
    return ErrorCode != 0 ? EXIT_READER_STATUS : 0;
}

int main(int argc, char **argv) {
    struct reader_choice choice;
    unsigned char info[22], address[1], temperature[1], power[3], work[7];
    int status, worst = 0;

    if (take_reader_args(argc, argv, &choice) != 1) {
        fprintf(stderr, "usage: %s NODE | --port N | --usb [--addr A] [--baud B]\n", argv[0]);
        return EXIT_USAGE;
    }
    if ((status = link_reader(&choice)) != 0) return status;
    if (USB_Flag)
        printf("linked over USB to reader %d\n", choice.addr);
    else
        printf("linked to reader %d at %d baud\n", choice.addr, IcBaudRate);

    /* A failed exchange stops the walk: the next one would most likely fail the same way. */
    if ((status = show("device information", GetDeviceInfo(choice.addr, info), info, sizeof info)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("reader address", ReadDeviceNo(choice.addr, address), address, 1)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("temperature", Read_DeviceTemp(choice.addr, temperature), temperature, 1)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("RF power", Get_RF_Power(choice.addr, power), power, sizeof power)) > worst)
        worst = status;
    if (worst < EXIT_EXCHANGE &&
        (status = show("work parameters", Get_Work_Param(choice.addr, work), work, sizeof work)) > worst)
        worst = status;

    UnLinkCom();
    return worst;
}
