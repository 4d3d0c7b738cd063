// Every result in words, with the likely cause and what to try: the one place front ends take
// their error messages from.
#include <iterator>

#include "uhfreader.h"

namespace {

struct Words {
    int code;
    int detail;  // -1: any detail
    const char *text;
};

constexpr Words kExchange[] = {
    {0, -1, "success"},
    {1, -1,
     "USB: the request could not be sent (no reader open, or a transfer failed): check the cable and that the "
     "reader is powered, then replug it"},
    {225, 101,
     "the request could not be sent: no serial port is open (link first), or the line refused its first byte"},
    {226, -1, "the line stopped taking the request part-way: the adapter may have been unplugged"},
    {227, -1, "the line stopped taking the request at its address byte: the adapter may have been unplugged"},
    {228, -1, "the line stopped taking the request at its command byte: the adapter may have been unplugged"},
    {229, -1, "the line stopped taking the request at its length byte: the adapter may have been unplugged"},
    {230, -1, "the line stopped taking the request in its data: the adapter may have been unplugged"},
    {231, -1, "the line stopped taking the request at its checksum: the adapter may have been unplugged"},
    {232, -1, "the line stopped taking the request at its end pair: the adapter may have been unplugged"},
    {233, -1, "the line stopped taking the request at its last byte: the adapter may have been unplugged"},
    {234, -1,
     "no reply at all: no reader answers at this address and line rate; check the reader address, the baud "
     "rate, the cable (transmit and receive crossed?) and that the reader is powered"},
    {235, 108,
     "USB: no reply within the wait: the reader did not answer; check the reader address, then replug the reader"},
    {235, -1,
     "the reply did not begin with 0x10: line noise, or the reader talks at another baud rate"},
    {236, -1, "the reply stopped after its first byte: line noise, or a reader at another baud rate"},
    {237, -1,
     "the reply's second byte was not 0x01 (USB: or the reply answers another command): noise, a wrong baud "
     "rate, or another device talking on the line"},
    {238, -1, "the reply stopped before its address byte: the reader went quiet mid-reply (cable? baud rate?)"},
    {239, -1, "the reply stopped before its command byte: the reader went quiet mid-reply (cable? baud rate?)"},
    {240, -1, "the reply stopped before its status byte: the reader went quiet mid-reply (cable? baud rate?)"},
    {241, 113,
     "the reply's length field is missing or announces more than 2048 bytes: a corrupted reply (cable, baud "
     "rate)"},
    {241, -1,
     "the reply stopped inside its data: the reader went quiet mid-reply (a loose cable, a baud rate mismatch, or "
     "a reader that was switched off)"},
    {242, -1, "the reply stopped before its checksum: the reader went quiet mid-reply (cable? baud rate?)"},
    {243, -1,
     "the reply's checksum is wrong: bytes were corrupted on the way; check the cable, its length and shielding, "
     "and the baud rate"},
    {244, -1, "the reply stopped before its end pair: the reader went quiet mid-reply (cable? baud rate?)"},
    {245, -1, "the reply's end pair is wrong: a corrupted reply, or two devices talking on one line"},
    {246, -1, "the reply stopped before its last byte: the reader went quiet mid-reply (cable? baud rate?)"},
    {247, -1, "the reply's end pair is wrong: a corrupted reply, or two devices talking on one line"},
    {248, -1,
     "refused before sending: the block's count fields ask for more than the 255 bytes one request carries; "
     "nothing was sent"},
    {UHF_REFUSED_NULL_BLOCK, -1, "refused before sending: a request block is missing (a NULL pointer); nothing was sent"},
    {253, -1,
     "the reply came from another reader address: several readers share the line, or the address given is "
     "wrong (0xFF links to any single reader)"},
    {254, -1,
     "the reply answers another command: a late reply to an earlier request, or another program using the "
     "same line"},
};

constexpr Words kLink[] = {
    {UHF_ERR_BAD_DEVICE, -1,
     "malformed device string: use /dev/ttyUSB0[@BAUD], serial:PATH[@BAUD], usb, usb:BUS.ADDRESS, "
     "usb:BUS-PORT[.PORT...], usb:serial=SERIAL or tcp:HOST:PORT; rates are 9600, 19200, 38400, 57600 and "
     "115200"},
    {UHF_ERR_NOT_FOUND, -1,
     "no such device: check the path and that the adapter is plugged in (ls /dev/ttyUSB* /dev/ttyACM* "
     "/dev/serial/by-id; 'uhfctl scan' lists the candidates)"},
    {UHF_ERR_ACCESS, -1,
     "permission denied: for a serial port join the dialout group (sudo usermod -aG dialout $USER, then log in "
     "again); for the USB reader install the udev rule 60-uhfreader.rules (or join plugdev) and replug it"},
    {UHF_ERR_BUSY, -1,
     "the device is in use: another program or link holds it (a terminal program, another uhfctl or uhfd); "
     "only one may talk to a reader at a time, so close the other one"},
    {UHF_ERR_NOT_TERMINAL, -1,
     "not a serial port: the path names a file, a directory, a FIFO or another kind of device; name the "
     "reader's terminal node, e.g. /dev/ttyUSB0"},
    {UHF_ERR_NO_USB_READER, -1,
     "no USB reader (03EB:6125) matches: check the cable and 'lsusb', and the port path or serial number given"},
    {UHF_ERR_CONNECT, -1,
     "TCP connection refused or unreachable: check the host and port, and that the network serial server is "
     "running and listening there"},
    {UHF_ERR_TIMEOUT, -1,
     "TCP connection not made in time: the host does not answer (switched off, wrong address, or a firewall "
     "dropping the connection)"},
    {UHF_ERR_GONE, -1,
     "the device went away (unplugged, switched off, or the connection was reset or closed): bring it back, "
     "then reconnect"},
    {UHF_ERR_CLOSED, -1, "no link: open one first (the link handle is NULL)"},
    {UHF_ERR_NO_MEMORY, -1, "out of memory while allocating the link"},
    {UHF_ERR_INVALID, -1,
     "an argument is out of range (reader address and command code 0..255, request data at most 255 bytes, "
     "options not negative)"},
    {UHF_ERR_UNKNOWN_HOST, -1, "the host name does not resolve: check its spelling and the name service"},
    {UHF_ERR_USB, -1,
     "libusb could not initialise, configure or claim the reader: replug it; a kernel driver bound to it is "
     "detached automatically where the system allows"},
    {UHF_ERR_IO, -1, "the device could not be opened or set up: the system log (dmesg) may say why"},
    {UHF_ERR_CANCELLED, -1,
     "cancelled: uhf_cancel() ended the wait (the link stays usable; a late reply is discarded by the next "
     "exchange)"},
};

const char *find(const Words *table, int n, int code, int detail) {
    const char *any = nullptr;
    for (int i = 0; i < n; ++i) {
        if (table[i].code != code) continue;
        if (table[i].detail == detail) return table[i].text;
        if (table[i].detail == -1 && any == nullptr) any = table[i].text;
    }
    return any;
}

}  // namespace

extern "C" UHF_API const char *uhf_strerror(int code, int detail) {
    const char *text = code < 0 ? find(kLink, static_cast<int>(std::size(kLink)), code, detail)
                                : find(kExchange, static_cast<int>(std::size(kExchange)), code, detail);
    if (text != nullptr) return text;
    if (code > 0 && code < 256)
        return "the reader answered with a non-zero status byte (its meaning is the reader's; the command's own "
               "description or the reader's manual says what it means)";
    return "unknown result code";
}
