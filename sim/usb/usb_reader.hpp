// An emulated USB reader for the real libusb-1.0.
//
// umockdev's preload library gives the process a private sysfs and /dev/bus/usb in which a
// UsbBus lists its devices; every usbfs ioctl that libusb issues on a device node is answered
// here, at run time, by that device's model. libusb itself is not replaced: it enumerates,
// opens, resets, configures, claims and moves bulk data exactly as it would on hardware.
//
//   uhfsim::UsbBus bus;                          // before libusb_init()
//   uhfsim::UsbReader& reader = bus.add_reader();
//   reader.script(uhfsim::Action::reply(5, 0, 0).delayed(50));
//   LinkCom(5, 32, 0);
//   ...
//   UnLinkCom();                                 // libusb_exit() before ~UsbBus
//
// The process must start under the preload (`umockdev-wrapper prog`); UsbBus::available()
// says whether it did.
//
// Topology: each device sits at a physical port path ("1-2", "1-3.1": bus 1, port 3 of the root
// hub, then port 1 of the hub there), which libusb reports through libusb_get_bus_number and
// libusb_get_port_numbers and sysfs as the device's name. A hub is added wherever a path needs
// one. A device may carry a serial number (and manufacturer and product strings): sysfs shows
// them as the "serial", "manufacturer" and "product" attributes, and the device descriptor's
// string indexes (1, 2, 3) lead to the same strings through GET_DESCRIPTOR control transfers.
//
// Unplugging removes the device from sysfs and /dev while the host may hold it open: its
// transfers under way complete with -ESHUTDOWN (libusb: LIBUSB_TRANSFER_NO_DEVICE, and
// LIBUSB_ERROR_NO_DEVICE from a synchronous transfer) and every later ioctl on that open node
// fails with ENODEV, as usbfs answers for a disconnected device; a "remove" uevent tells
// listeners. Replugging brings the device back at the same port path with the next free
// address, as hardware gets on re-enumeration, with nothing queued, nothing claimed and no
// configuration set; an "add" uevent tells listeners. The old node stays dead.
//
// Device model: configuration 1, interface 0 with bulk OUT 0x01 and bulk IN 0x82 (64-byte
// packets, full speed). Every bulk OUT transfer is accepted whole at once and fed to a
// request decoder; each decoded request is answered through a Responder (scripted actions
// first, then the handler). Each chunk of an answer completes at most one bulk IN transfer
// once it is due, like a device that ends every write with a short packet; a chunk longer
// than the host's buffer spills into the next transfer. An IN transfer with nothing due stays
// pending until the host's timeout discards it. A bus reset forgets queued answers and any
// partial request. Packets, zero-length packets and data toggles are not modelled.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/scripted_reader.hpp"

namespace uhfsim {

// What the next bulk transfer on an endpoint suffers instead of completing normally.
enum class UrbFault {
    none,       // completes normally (to let earlier transfers through)
    stall,      // completes at once with a stall, nothing moved
    error,      // completes at once with a protocol error, nothing moved
    rejected,   // the submission itself fails; the transfer never starts
    short_out,  // bulk OUT: completes with the last byte not taken (IN: ignored)
    held,       // never completes; only the host's timeout ends it
};

// What the host did to the device, counted since the device was added.
struct UsbCounters {
    int opens = 0;   // the device node opened
    int closes = 0;  // ... and closed again
    int resets = 0;
    int configurations_set = 0;
    int configuration = -1;  // last value set, -1 before any
    int claims = 0;          // interface 0 claimed successfully
    int releases = 0;        // interface 0 released by the host (not by closing)
    int driver_detaches = 0;
    int driver_attaches = 0;
    int out_transfers = 0;
    int in_transfers = 0;
    int discards = 0;  // transfers the host cancelled, mostly on its own timeout
    bool claimed = false;
    bool driver_bound = false;
    int control_transfers = 0;  // on endpoint 0 (string descriptors and the like)
    int unplugs = 0;
    int replugs = 0;
};

// What a device looks like on the bus. Empty strings are left out: no sysfs attribute and a
// zero string index in the descriptor.
struct UsbDeviceOptions {
    std::uint16_t vendor = 0x03EB;
    std::uint16_t product = 0x6125;
    std::string serial{};
    std::string manufacturer{};
    std::string product_name{};
    // "B-P[.P...]" (ports 1 to 255, at most 7 deep); empty: the lowest free root-hub port of
    // bus 1. Hubs on the way are added as needed.
    std::string port_path{};
};

class UsbBus;

// Answers as the serial reader does (ScriptedReader); the handler runs on umockdev's worker
// thread.
class UsbReader : public ScriptedReader {
public:
    ~UsbReader();

    std::uint16_t vendor() const;
    std::uint16_t product() const;
    // The node libusb opens, e.g. "/dev/bus/usb/001/002"; a replug gives a new one.
    const std::string& node() const;
    // Bus number and address, as libusb_get_bus_number / libusb_get_device_address report.
    int bus_number() const;
    int address() const;
    // The physical port path ("1-3.1"), also the device's sysfs name; the ports as
    // libusb_get_port_numbers lists them ({3, 1}).
    const std::string& port_path() const;
    std::vector<std::uint8_t> port_numbers() const;
    const std::string& serial() const;
    // The device's sysfs directory, e.g. "/sys/devices/usb1/1-3/1-3.1" inside the testbed.
    std::string sysfs_path() const;

    // Removes the device from the bus, as pulling its plug does (see above). Idempotent.
    void unplug();
    // Plugs it back in at its port path, at a new address. Idempotent while plugged.
    void replug();
    bool plugged() const;

    // Bytes the device offers at once, ahead of nothing: they complete the next IN transfer
    // after whatever is already queued.
    void send_now(std::vector<std::uint8_t> bytes);
    // Answer chunks queued and not yet handed to an IN transfer.
    std::size_t replies_queued() const;
    // True once every queued chunk is due (the device would hand it out now).
    bool wait_replies_due(std::chrono::milliseconds timeout) const;

    // Faults, each consumed by one transfer, in order.
    void fail_next_out(UrbFault fault, int count = 1);
    void fail_next_in(UrbFault fault, int count = 1);
    // While set, the device node is missing, so opening it fails.
    void fail_open(bool on);
    // While set, claiming interface 0 fails with this errno (e.g. EBUSY); 0 clears.
    void fail_claim(int error);
    // While set, selecting a configuration fails with EBUSY.
    void fail_set_configuration(bool on);
    // A kernel driver holds interface 0: a claim fails with "busy" until it is detached.
    void bind_kernel_driver(bool on);

    // What it saw.
    std::vector<std::vector<std::uint8_t>> pieces() const;  // bulk OUT data, one per transfer
    std::vector<std::size_t> piece_sizes() const;
    UsbCounters counters() const;
    // Waits until `done` holds for the counters (they change on umockdev's worker thread,
    // a close for instance shortly after the host's close() returned).
    bool wait_until(const std::function<bool(const UsbCounters&)>& done,
                    std::chrono::milliseconds timeout) const;
    // Also forgets the OUT transfers seen.
    void clear_log();

    struct State;  // the ioctl side, on umockdev's worker thread

private:
    friend class UsbBus;
    explicit UsbReader(std::unique_ptr<State> state);

    std::unique_ptr<State> state_;
};

class UsbBus {
public:
    // Creates the emulated bus with its root hub. Throws std::runtime_error when umockdev
    // cannot set it up.
    UsbBus();
    ~UsbBus();
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // Whether the process runs under umockdev's preload, without which nothing here is seen.
    static bool available();

    // Adds a device at the next address of its bus. Devices added later come later in the bus
    // order. Throws std::invalid_argument for a malformed or taken port path.
    UsbReader& add_reader(std::uint16_t vendor = 0x03EB, std::uint16_t product = 0x6125);
    UsbReader& add_reader(const UsbDeviceOptions& options);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace uhfsim
