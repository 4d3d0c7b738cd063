// USB transport: a bulk device reached through libusb-1.0's default context.
//
// A request leaves in pieces of at most 64 bytes on bulk OUT; the reply comes back in one
// bulk IN transfer and is decoded from memory. Every transfer carries a timeout, so no
// call blocks without bound.
#include "transport/usb.hpp"

#include <libusb.h>

#include <algorithm>
#include <cstring>

#include "core/exchange.hpp"
#include "core/frame.hpp"
#include "uhfreader.h"

extern "C" {
UHF_API struct libusb_device **usb_devs = nullptr;
UHF_API struct libusb_device *usb_dev = nullptr;
UHF_API struct libusb_device_handle *q_usb_handle = nullptr;
UHF_API int EP_OUT = 0;
UHF_API int EP_IN = 0;
}

namespace uhf::usb {
namespace {

// What this library acquired and must give back; the exported pointers alone cannot say
// whether the context is initialised or the interface claimed.
bool g_context = false;
bool g_claimed = false;

// Set when an exchange failed after its request may have gone out: the reader's answer can
// still arrive and must not be taken for the next request's.
bool g_stale = false;

// The request frame as encoded, with room for the two filler bytes a frame whose size is a
// multiple of the piece size is followed by.
std::uint8_t g_frame[kMaxRequestFrame + 2];

// The last reply transfer exactly as received: the decoder never sees bytes past it.
std::uint8_t g_rx[kReplyCapacity];
std::size_t g_rx_len = 0;

unsigned char endpoint(int ep) { return static_cast<unsigned char>(ep); }

// libusb reads a timeout of 0 as "wait forever".
unsigned int bounded(int timeout_ms) { return timeout_ms > 0 ? static_cast<unsigned>(timeout_ms) : 1u; }

void release_device() {
    if (g_claimed) libusb_release_interface(q_usb_handle, kInterface);
    g_claimed = false;
    if (q_usb_handle != nullptr) libusb_close(q_usb_handle);
    q_usb_handle = nullptr;
    if (usb_devs != nullptr) libusb_free_device_list(usb_devs, 1);
    usb_devs = nullptr;
    usb_dev = nullptr;
    if (g_context) libusb_exit(nullptr);
    g_context = false;
    g_stale = false;
}

int open_failed() {
    release_device();
    return 1;
}

// The frame's pieces pass through BlkAAdrBeg one at a time, so afterwards it holds the
// last piece and BlkALength its size. The count itself is wider than BlkALength: a request
// with many 0x10 data bytes doubles past 255 bytes.
bool send_pieces(std::size_t len) {
    std::size_t total = len;
    if (total % kPieceSize == 0) {
        g_frame[len] = 0;
        g_frame[len + 1] = 0;
        total += 2;
    }
    for (std::size_t at = 0; at < total;) {
        const std::size_t n = std::min<std::size_t>(kPieceSize, total - at);
        std::memcpy(BlkAAdrBeg, g_frame + at, n);
        BlkALength = static_cast<unsigned char>(n);
        if (USB_SendStr_a() != 0) return false;
        at += n;
    }
    return true;
}

// Reads until the endpoint stays quiet for one short timeout, discarding what arrives.
void drain_stale_input() {
    for (int i = 0; i < timing().drain_reads_max; ++i) {
        int got = 0;
        if (libusb_bulk_transfer(q_usb_handle, endpoint(EP_IN), g_rx, sizeof g_rx, &got,
                                 bounded(timing().drain_read_ms)) != 0)
            break;
    }
    g_rx_len = 0;
}

Outcome exchange() {
    if (!device_open()) return code::usb_send;

    const std::size_t len = encode_request(
        pc_id, IcCmd, {BlkAAdrBeg, BlkALength},
        std::span<std::uint8_t, kMaxRequestFrame>(g_frame, kMaxRequestFrame));
    if (g_stale) drain_stale_input();
    g_stale = true;

    if (!send_pieces(len)) return code::usb_send;
    const int wait = IcCmd == kHandshake ? timing().handshake_reply_ms : timing().reply_ms;
    if (USB_ReceStr(wait) != 1) return code::usb_no_reply;

    ReplyFields f;
    const Outcome o = decode_usb_reply({g_rx, g_rx_len}, current_expectation(), f, reply_area());
    if (f.have_status) ErrorCode = f.status;
    // An announced length past the reply area is never left where a caller could index with it.
    if (f.have_length) BlkBLength = f.length <= kReplyCapacity ? f.length : 0;
    if (o.code != 0) return o;
    g_stale = false;
    zero_reply_tail(f.length);
    return o;
}

}  // namespace

Timing &timing() {
    static Timing t;
    return t;
}

bool device_open() { return g_claimed && q_usb_handle != nullptr; }

}  // namespace uhf::usb

using namespace uhf;

extern "C" {

UHF_API int USB_Open(void) {
    usb::release_device();
    if (libusb_init(nullptr) < 0) return 1;
    usb::g_context = true;

    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(nullptr, &list);
    if (n < 0) return usb::open_failed();
    usb_devs = list;

    bool found = false;
    for (ssize_t i = 0; i < n && !found; ++i) {
        usb_dev = list[i];
        libusb_device_descriptor d{};
        if (libusb_get_device_descriptor(usb_dev, &d) < 0) return usb::open_failed();
        found = d.idVendor == usb::kVendor && d.idProduct == usb::kProduct;
    }
    if (!found) return usb::open_failed();

    libusb_device_handle *handle = nullptr;
    if (libusb_open(usb_dev, &handle) < 0) return usb::open_failed();
    q_usb_handle = handle;
    // A kernel driver bound to the interface would make the claim fail with "busy". Where
    // the platform cannot detach, the answer is "not supported" and nothing changes.
    libusb_set_auto_detach_kernel_driver(q_usb_handle, 1);
    libusb_reset_device(q_usb_handle);
    if (libusb_set_configuration(q_usb_handle, usb::kConfiguration) < 0) return usb::open_failed();
    if (libusb_claim_interface(q_usb_handle, usb::kInterface) < 0) return usb::open_failed();
    usb::g_claimed = true;
    return 0;
}

UHF_API int USB_QSendChar(int c) {
    const auto b = static_cast<unsigned char>(c);
    BlkAAdrBeg[BlkALength++] = b;
    if (b == kDle) BlkAAdrBeg[BlkALength++] = b;
    return 0;
}

UHF_API int USB_SendStr(void) {
    if (!usb::device_open()) return 1;
    std::memcpy(usb::g_frame, BlkAAdrBeg, BlkALength);
    return usb::send_pieces(BlkALength) ? 0 : 1;
}

UHF_API int USB_SendStr_a(void) {
    if (!usb::device_open()) return 1;
    int moved = 0;
    const int r = libusb_bulk_transfer(q_usb_handle, usb::endpoint(EP_OUT), BlkAAdrBeg, BlkALength,
                                       &moved, usb::bounded(usb::timing().piece_send_ms));
    // A piece libusb reports as failed (timed out, stalled) is not known to have arrived
    // whole, whatever count it reports.
    return r == 0 && moved == BlkALength ? 0 : 1;
}

UHF_API int USB_ReceStr(int timeout_ms) {
    std::memset(BlkBAdrBeg, 0, kReplyCapacity);
    usb::g_rx_len = 0;
    if (!usb::device_open()) return 0;
    int got = 0;
    if (libusb_bulk_transfer(q_usb_handle, usb::endpoint(EP_IN), usb::g_rx, sizeof usb::g_rx, &got,
                             usb::bounded(timeout_ms)) != 0)
        return 0;
    usb::g_rx_len = static_cast<std::size_t>(got);
    std::memcpy(BlkBAdrBeg, usb::g_rx, usb::g_rx_len);
    return 1;
}

UHF_API int USB_PcSendOrder(void) {
    IcRetCode = 0;
    return finish(usb::exchange());
}

UHF_API int USB_UnLinkCom(void) {
    usb::release_device();
    return 0;
}

UHF_API int USB_LinkCom(int addr) {
    if (USB_Open() != 0) {
        USB_Flag = 0;
        return 1;
    }
    USB_Flag = 1;
    EP_OUT = usb::kEndpointOut;
    EP_IN = usb::kEndpointIn;
    const int rc = Link_Reader(addr);
    if (rc != 0) USB_Flag = 0;
    return rc;
}

}  // extern "C"
