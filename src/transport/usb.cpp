// USB transport: a bulk device reached through libusb-1.0. Every transfer carries a timeout,
// so no call blocks without bound.
#include "transport/usb.hpp"

#include <libusb.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/mutex.hpp"
#include "transport/cancel.hpp"
#include "transport/stream_reader.hpp"
#include "uhfreader.h"

namespace uhf {
namespace {

// libusb reads a timeout of 0 as "wait forever".
unsigned int bounded(int timeout_ms) { return timeout_ms > 0 ? static_cast<unsigned>(timeout_ms) : 1u; }

Io io_status(int r) {
    switch (r) {
    case 0: return Io::ok;
    case LIBUSB_ERROR_TIMEOUT: return Io::timeout;
    case LIBUSB_ERROR_NO_DEVICE: return Io::gone;
    default: return Io::failed;
    }
}

// How long one slice of event handling may block. The cancel signal and libusb's descriptors
// (listed at open) wake a slice at once, and libusb's next timeout ends it; the slice only bounds
// what a descriptor libusb did not list at open could hold up.
constexpr int kSliceMs = 50;
// Event handling that keeps failing (it should not) is given up after this many slices.
constexpr int kFailedSlicesMax = 500;
// How long a cancelled transfer's completion is waited for before the next transfer (or the
// close): a device completes a cancelled transfer at once.
constexpr int kReapBoundMs = 1000;

// A finished transfer's status as libusb's synchronous call reports it.
int transfer_result(int status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return 0;
    case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
    case LIBUSB_TRANSFER_CANCELLED: return LIBUSB_ERROR_INTERRUPTED;
    default: return LIBUSB_ERROR_IO;
    }
}

void LIBUSB_CALL on_transfer_done(libusb_transfer *t) { *static_cast<int *>(t->user_data) = 1; }

int usb_open_error(int r) {
    switch (r) {
    case LIBUSB_ERROR_ACCESS: return UHF_ERR_ACCESS;
    case LIBUSB_ERROR_BUSY: return UHF_ERR_BUSY;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return UHF_ERR_NO_USB_READER;
    case LIBUSB_ERROR_NO_MEM: return UHF_ERR_NO_MEMORY;
    default: return UHF_ERR_USB;
    }
}

// The devices links of this process hold, by bus and address: a second link on one reader
// would take the first one's replies. Touched only while opening and closing.
class HeldDevices {
public:
    bool take(int bus, int address) {
        Lock lock(mu_);
        for (const Entry &e : held_)
            if (e.bus == bus && e.address == address) return false;
        for (Entry &e : held_)
            if (e.bus == 0) {
                e = {bus, address};
                return true;
            }
        return true;  // more links than slots: nothing to compare against, let the claim decide
    }
    void give_back(int bus, int address) {
        Lock lock(mu_);
        for (Entry &e : held_)
            if (e.bus == bus && e.address == address) e = {};
    }

private:
    struct Entry {
        int bus = 0;
        int address = 0;
    };
    Mutex mu_;
    Entry held_[64];
};

constinit HeldDevices g_held;

HeldDevices &held_devices() { return g_held; }

bool matches(libusb_device *dev, const libusb_device_descriptor &d, const UsbSelector &which) {
    if (d.idVendor != usb::kVendor || d.idProduct != usb::kProduct) return false;
    switch (which.by) {
    case UsbSelector::By::first: return true;
    case UsbSelector::By::bus_address:
        return libusb_get_bus_number(dev) == which.bus && libusb_get_device_address(dev) == which.address;
    case UsbSelector::By::port_path: {
        std::uint8_t ports[7] = {};
        const int n = libusb_get_port_numbers(dev, ports, 7);
        return libusb_get_bus_number(dev) == which.bus && n == which.port_count &&
               std::memcmp(ports, which.ports, static_cast<std::size_t>(n)) == 0;
    }
    case UsbSelector::By::serial: {
        char name[32];
        char serial[64];
        usb_port_name(dev, name, sizeof name);
        usb_sysfs_attribute(name, "serial", serial, sizeof serial);
        return serial[0] != '\0' && std::strcmp(serial, which.serial) == 0;
    }
    }
    return false;
}

}  // namespace

void usb_port_name(libusb_device *dev, char *out, std::size_t size) {
    std::uint8_t ports[7] = {};
    const int n = libusb_get_port_numbers(dev, ports, 7);
    if (size == 0) return;
    out[0] = '\0';
    if (n <= 0) return;
    int at = std::snprintf(out, size, "%d-%d", libusb_get_bus_number(dev), ports[0]);
    for (int i = 1; i < n && at > 0 && static_cast<std::size_t>(at) < size; ++i)
        at += std::snprintf(out + at, size - static_cast<std::size_t>(at), ".%d", ports[i]);
}

void usb_sysfs_attribute(const char *port_name, const char *attribute, char *out, std::size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (port_name[0] == '\0') return;
    char path[128];
    std::snprintf(path, sizeof path, "/sys/bus/usb/devices/%s/%s", port_name, attribute);
    std::FILE *f = std::fopen(path, "re");
    if (f == nullptr) return;
    if (std::fgets(out, static_cast<int>(size), f) == nullptr) out[0] = '\0';
    std::fclose(f);
    out[std::strcspn(out, "\r\n")] = '\0';
}

void UsbTransport::use_endpoints(int out, int in) {
    *bind_.endpoint_out = out;
    *bind_.endpoint_in = in;
}

void UsbTransport::close() {
    // A transfer the device never completed stays libusb's: freeing it would be worse than
    // losing it.
    if (transfer_ != nullptr && (!in_flight_ || reap_abandoned())) libusb_free_transfer(transfer_);
    transfer_ = nullptr;
    in_flight_ = false;
    if (claimed_) libusb_release_interface(handle_, usb::kInterface);
    claimed_ = false;
    if (handle_ != nullptr) libusb_close(handle_);
    handle_ = nullptr;
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
    list_ = nullptr;
    device_ = nullptr;
    if (context_) libusb_exit(ctx_);
    ctx_ = nullptr;
    context_ = false;
    if (held_bus_ != 0) held_devices().give_back(held_bus_, held_address_);
    held_bus_ = held_address_ = 0;
    reply_outstanding = false;
    if (bind_.devices != nullptr) *bind_.devices = nullptr;
    if (bind_.device != nullptr) *bind_.device = nullptr;
    if (bind_.handle != nullptr) *bind_.handle = nullptr;
}

OpenResult UsbTransport::open(const UsbSelector &which) {
    close();
    auto fail = [this](int code, int cause) {
        close();
        return OpenResult{code, cause};
    };
    int r = libusb_init(default_context_ ? nullptr : &ctx_);
    if (r < 0) return fail(UHF_ERR_USB, r);
    context_ = true;

    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    if (n < 0) return fail(UHF_ERR_USB, static_cast<int>(n));
    list_ = list;
    if (bind_.devices != nullptr) *bind_.devices = list;

    bool found = false;
    for (ssize_t i = 0; i < n && !found; ++i) {
        device_ = list[i];
        if (bind_.device != nullptr) *bind_.device = device_;
        libusb_device_descriptor d{};
        if ((r = libusb_get_device_descriptor(device_, &d)) < 0) return fail(UHF_ERR_USB, r);
        found = matches(device_, d, which);
    }
    if (!found) return fail(UHF_ERR_NO_USB_READER, 0);

    const int bus = libusb_get_bus_number(device_);
    const int address = libusb_get_device_address(device_);
    if (!held_devices().take(bus, address)) return fail(UHF_ERR_BUSY, LIBUSB_ERROR_BUSY);
    held_bus_ = bus;
    held_address_ = address;

    libusb_device_handle *handle = nullptr;
    if ((r = libusb_open(device_, &handle)) < 0) return fail(usb_open_error(r), r);
    handle_ = handle;
    if (bind_.handle != nullptr) *bind_.handle = handle;
    // A kernel driver bound to the interface would make the claim fail with "busy". Where the
    // platform cannot detach, the answer is "not supported" and nothing changes.
    libusb_set_auto_detach_kernel_driver(handle_, 1);
    libusb_reset_device(handle_);
    if ((r = libusb_set_configuration(handle_, usb::kConfiguration)) < 0) return fail(usb_open_error(r), r);
    if ((r = libusb_claim_interface(handle_, usb::kInterface)) < 0) return fail(usb_open_error(r), r);
    claimed_ = true;
    // A link's exchanges allocate nothing: the one transfer they use is made here.
    if (cancel_fd >= 0) {
        if ((transfer_ = libusb_alloc_transfer(0)) == nullptr) return fail(UHF_ERR_NO_MEMORY, LIBUSB_ERROR_NO_MEM);
        event_fd_count_ = 0;
        if (const libusb_pollfd **fds = libusb_get_pollfds(ctx_); fds != nullptr) {
            for (int i = 0; fds[i] != nullptr && event_fd_count_ < 7; ++i, ++event_fd_count_) {
                event_fds_[event_fd_count_] = fds[i]->fd;
                event_masks_[event_fd_count_] = fds[i]->events;
            }
            libusb_free_pollfds(fds);
        }
    }
    return {};
}

IoResult UsbTransport::bulk(int endpoint, std::uint8_t *data, std::size_t len, int timeout_ms) {
    if (transfer_ != nullptr) return cancellable_bulk(endpoint, data, len, timeout_ms);
    int moved = 0;
    const int r = libusb_bulk_transfer(handle_, static_cast<unsigned char>(endpoint), data, static_cast<int>(len),
                                       &moved, bounded(timeout_ms));
    return {io_status(r), static_cast<std::size_t>(moved > 0 ? moved : 0), r};
}

bool UsbTransport::handle_events_or_cancel(int *failed) {
    pollfd fds[8];
    fds[0] = {cancel_fd, POLLIN, 0};
    for (int i = 0; i < event_fd_count_; ++i) fds[i + 1] = {event_fds_[i], event_masks_[i], 0};
    int wait_ms = kSliceMs;
    timeval next{};
    if (libusb_get_next_timeout(ctx_, &next) == 1) {
        const long next_ms = next.tv_sec * 1000 + (next.tv_usec + 999) / 1000;
        if (next_ms < wait_ms) wait_ms = static_cast<int>(next_ms);
    }
    const int ready = ::poll(fds, static_cast<nfds_t>(event_fd_count_ + 1), wait_ms);
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) return true;
    timeval now{0, 0};
    const int r = libusb_handle_events_timeout_completed(ctx_, &now, &transfer_done_);
    if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED) *failed = r;
    return false;
}

bool UsbTransport::reap_abandoned() {
    const std::int64_t deadline = monotonic_ms() + kReapBoundMs;
    while (transfer_done_ == 0) {
        if (monotonic_ms() >= deadline) return false;
        timeval slice{0, kSliceMs * 1000};
        libusb_handle_events_timeout_completed(ctx_, &slice, &transfer_done_);
    }
    in_flight_ = false;
    return true;
}

// The transfer's own timeout bounds the wait; a raised cancel signal cuts it short within one
// slice. The transfer is then cancelled on the device and this returns at once: the device's
// completion of it is reaped by the next transfer, so a cancel never waits for the device.
IoResult UsbTransport::cancellable_bulk(int endpoint, std::uint8_t *data, std::size_t len, int timeout_ms) {
    if (in_flight_ && !reap_abandoned()) return {Io::failed, 0, LIBUSB_ERROR_BUSY};
    if (cancel_raised(cancel_fd)) return {Io::cancelled, 0, 0};
    if (len > sizeof staging_) len = sizeof staging_;
    const bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    if (!in && len > 0) std::memcpy(staging_, data, len);
    transfer_done_ = 0;
    libusb_fill_bulk_transfer(transfer_, handle_, static_cast<unsigned char>(endpoint), staging_,
                              static_cast<int>(len), on_transfer_done, &transfer_done_, bounded(timeout_ms));
    int r = libusb_submit_transfer(transfer_);
    if (r < 0) return {io_status(r), 0, r};
    in_flight_ = true;
    int failed_slices = 0;
    while (transfer_done_ == 0) {
        int failed = 0;
        const bool cancelled = handle_events_or_cancel(&failed);
        if (transfer_done_ != 0) break;
        r = failed;
        const bool failing = failed != 0 && ++failed_slices > kFailedSlicesMax;
        if (failing || cancelled) {
            libusb_cancel_transfer(transfer_);
            return failing ? IoResult{Io::failed, 0, r} : IoResult{Io::cancelled, 0, 0};
        }
    }
    in_flight_ = false;
    std::size_t moved = transfer_->actual_length > 0 ? static_cast<std::size_t>(transfer_->actual_length) : 0;
    if (moved > len) moved = len;
    if (in && moved > 0) std::memcpy(data, staging_, moved);
    r = transfer_result(transfer_->status);
    return {io_status(r), moved, r};
}

void UsbTransport::discard_stale_input(Trace &trace) {
    std::uint8_t buf[kReplyCapacity];
    for (int i = 0; i < usb::timing().drain_reads_max; ++i) {
        const IoResult r = bulk(*bind_.endpoint_in, buf, sizeof buf, usb::timing().drain_read_ms);
        if (r.status != Io::ok) break;
        trace.emit(UHF_TRACE_DISCARDED, {buf, r.bytes});
    }
}

IoResult UsbTransport::send(std::span<const std::uint8_t> bytes, int bound_ms) {
    if (!is_open()) return {Io::failed, 0, LIBUSB_ERROR_NO_DEVICE};
    return bulk(*bind_.endpoint_out, const_cast<std::uint8_t *>(bytes.data()), bytes.size(), bound_ms);
}

IoResult UsbTransport::receive(std::span<std::uint8_t> into, int timeout_ms) {
    if (!is_open()) return {Io::failed, 0, LIBUSB_ERROR_NO_DEVICE};
    return bulk(*bind_.endpoint_in, into.data(), into.size(), timeout_ms);
}

}  // namespace uhf

namespace uhf::usb {

Timing &timing() {
    static Timing t;
    return t;
}

}  // namespace uhf::usb
