// USB transport: a bulk device reached through libusb-1.0.
#pragma once

#include <cstdint>

#include "transport/transport.hpp"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

namespace uhf {

// Which USB reader a link wants.
struct UsbSelector {
    enum class By { first, bus_address, port_path, serial };
    By by = By::first;
    int bus = 0;
    int address = 0;
    std::uint8_t ports[7] = {};  // the port path below the bus's root hub
    int port_count = 0;
    char serial[64] = {};
};

// Where the designed interface shows the transport's objects (usb_devs, usb_dev,
// q_usb_handle, EP_OUT, EP_IN); a link handle keeps them to itself.
struct UsbBinding {
    libusb_device ***devices = nullptr;
    libusb_device **device = nullptr;
    libusb_device_handle **handle = nullptr;
    int *endpoint_out = nullptr;
    int *endpoint_in = nullptr;
};

class UsbTransport final : public Transport {
public:
    // `default_context`: libusb's default context, as the designed interface uses it; a link
    // handle has a context of its own, so links never share libusb state.
    constexpr UsbTransport(bool default_context, UsbBinding binding)
        : default_context_(default_context), bind_(binding) {
        if (bind_.endpoint_out == nullptr) bind_.endpoint_out = &own_out_;
        if (bind_.endpoint_in == nullptr) bind_.endpoint_in = &own_in_;
    }
    UsbTransport(const UsbTransport &) = delete;
    UsbTransport &operator=(const UsbTransport &) = delete;

    // Whoever holds a transport closes it (nothing is released on destruction, so the default
    // link can be built at compile time and outlive every other object).
    // Finds, opens and claims the reader; releases whatever this transport held first. A
    // device another link of this process holds is UHF_ERR_BUSY.
    OpenResult open(const UsbSelector &which);
    // Sets the endpoints a link uses (the designed link sets them after opening).
    void use_endpoints(int out, int in);
    libusb_device_handle *handle() const { return handle_; }

    Wire wire() const override { return Wire::usb; }
    bool is_open() const override { return claimed_ && handle_ != nullptr; }
    // Reads until the endpoint stays quiet for one short timeout, discarding what arrives.
    void discard_stale_input(Trace &trace) override;
    // One bulk OUT transfer to the OUT endpoint.
    IoResult send(std::span<const std::uint8_t> bytes, int bound_ms) override;
    // One bulk IN transfer from the IN endpoint.
    IoResult receive(std::span<std::uint8_t> into, int timeout_ms) override;
    void close() override;

private:
    // One bulk transfer: libusb's synchronous call for the designed interface, or with a
    // cancel signal the transfer made at open, watched in short slices (cancelled on the
    // device when the signal is raised).
    IoResult bulk(int endpoint, std::uint8_t *data, std::size_t len, int timeout_ms);
    IoResult cancellable_bulk(int endpoint, std::uint8_t *data, std::size_t len, int timeout_ms);
    // Waits, within a bound, for the completion of a transfer a cancel left to the device.
    bool reap_abandoned();
    // Handles libusb's events for at most one slice, waking at once when the cancel signal is
    // raised: true when it was.
    bool handle_events_or_cancel(int *failed);

    bool default_context_;
    UsbBinding bind_;
    int own_out_ = 0;
    int own_in_ = 0;
    libusb_context *ctx_ = nullptr;
    bool context_ = false;
    libusb_device **list_ = nullptr;
    libusb_device *device_ = nullptr;
    libusb_device_handle *handle_ = nullptr;
    bool claimed_ = false;
    libusb_transfer *transfer_ = nullptr;  // a link's transfer, made once at open
    int transfer_done_ = 0;                 // set by its completion callback
    bool in_flight_ = false;                // submitted and not yet reaped
    // libusb's descriptors for this context, read once at open, polled beside the cancel signal.
    int event_fd_count_ = 0;
    int event_fds_[7] = {};
    short event_masks_[7] = {};
    // The transfer's data: the device may still write into it after a cancel has returned, so
    // it lives as long as the transport, never in a caller's frame.
    std::uint8_t staging_[kReplyCapacity] = {};
    int held_bus_ = 0;
    int held_address_ = 0;
};

// The sysfs name of a USB device ("1-2.3"), from its bus and port path; "" when it has none.
void usb_port_name(libusb_device *dev, char *out, std::size_t size);

// A device's sysfs attribute (serial, manufacturer, product), trailing newline removed; ""
// when it has none.
void usb_sysfs_attribute(const char *port_name, const char *attribute, char *out, std::size_t size);

}  // namespace uhf

namespace uhf::usb {

inline constexpr std::uint16_t kVendor = 0x03EB;
inline constexpr std::uint16_t kProduct = 0x6125;
inline constexpr int kConfiguration = 1;
inline constexpr int kInterface = 0;
inline constexpr int kEndpointOut = 0x01;
inline constexpr int kEndpointIn = 0x82;
inline constexpr int kPieceSize = 64;

// Every bound of a USB exchange, in one place.
struct Timing {
    int handshake_reply_ms = 100;  // the reply transfer of the link handshake
    int reply_ms = 2000;           // the reply transfer of every other command
    int piece_send_ms = 2000;      // each bulk OUT piece of a request
    int drain_read_ms = 10;        // one read of a stale reply left by a failed exchange
    int drain_reads_max = 16;      // a device that keeps talking cannot hold the drain open
};
Timing &timing();

// Whether the default link has a device open and claimed (what an exchange needs).
bool device_open();

}  // namespace uhf::usb
