// The emulated reader's ioctl side: what it answers to each usbfs ioctl libusb issues, on
// umockdev's worker thread. Internal to the emulated USB bus.
#pragma once

#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/responder.hpp"
#include "sim/usb/descriptors.hpp"
#include "sim/usb/usb_reader.hpp"
#include "sim/wire.hpp"

namespace uhfsim::usbdetail {

using Clock = std::chrono::steady_clock;

struct Unref {
    void operator()(gpointer p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
template <class T>
using GRef = std::unique_ptr<T, Unref>;

template <class T>
GRef<T> take_ref(T* p) {
    return GRef<T>(static_cast<T*>(g_object_ref(p)));
}

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GString_ = std::unique_ptr<gchar, GFree>;

[[noreturn]] void fail(const std::string& what, GError* err);

struct Urb {
    GRef<UMockdevIoctlClient> client;
    GRef<UMockdevIoctlData> urb;  // the host's struct usbdevfs_urb, written back on reaping
    GRef<UMockdevIoctlData> buf;  // its buffer; none for an empty transfer
    bool held = false;

    usbdevfs_urb& view() const { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }
    bool is_in() const { return (view().endpoint & 0x80) != 0; }
};

struct Queued {
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
    Clock::time_point due;
};

struct Result {
    long value = 0;
    int error = 0;
};
inline constexpr Result ok{};
inline Result failed(int error) { return {-1, error}; }

class Topology;

}  // namespace uhfsim::usbdetail

namespace uhfsim {

struct UsbReader::State {
    // One plugging-in of the device: its node and the ioctl handler attached to it. A node
    // opened before an unplug keeps talking to its own plug's handler, which then answers
    // ENODEV.
    struct Plug {
        State* state = nullptr;
        int generation = 0;
        std::string node;
        usbdetail::GRef<UMockdevIoctlBase> handler;
    };

    // Fixed at creation.
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    usbdetail::ReaderStrings strings;
    std::string port_path;
    std::vector<std::uint8_t> ports;
    int bus = 1;
    usbdetail::Topology* topology = nullptr;
    Responder* responder = nullptr;

    // The current plug; changed only by the test's thread (plug and unplug).
    int address = 0;
    std::string node;
    std::string sysfs;
    std::vector<std::unique_ptr<Plug>> plugs;  // every plug so far, kept until the bus goes

    mutable std::mutex mu;
    mutable std::condition_variable changed;
    int generation = 0;   // of the plug that answers; older plugs are unplugged
    bool plugged = false;
    std::deque<usbdetail::Urb> submitted;
    std::deque<usbdetail::Urb> done;
    std::deque<usbdetail::Queued> replies;
    RequestDecoder decoder;
    std::deque<UrbFault> out_faults;
    std::deque<UrbFault> in_faults;
    std::vector<std::vector<std::uint8_t>> pieces;
    UsbCounters counters;
    int claim_error = 0;
    bool config_fails = false;
    bool has_driver = false;  // a kernel driver that a re-attach binds again
    bool node_missing = false;
    const UMockdevIoctlClient* claim_owner = nullptr;  // the open node holding interface 0
    std::vector<usbdetail::GRef<UMockdevIoctlClient>> open_clients;

    // Plugging, on the test's thread: a new plug with its handler, and the device's loss.
    Plug& new_plug();
    void on_unplugged();

    // Everything below runs on umockdev's worker thread unless said otherwise.
    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer plug);
    static void on_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer plug);
    static gboolean reap_retry(gpointer wait);

    void handle(UMockdevIoctlClient* client, int plug_generation);
    void queue_answer(const Action& action);

    // lock held
    void count_closes();
    void forget_urbs_of(UMockdevIoctlClient* gone);
    void pump();
    bool in_flight(UMockdevIoctlClient* client) const;
    bool try_reap(UMockdevIoctlClient* client, UMockdevIoctlData* data);
    bool gone(int plug_generation) const { return !plugged || plug_generation != generation; }
    usbdetail::Result control(gulong request, UMockdevIoctlData* arg, UMockdevIoctlData* data,
                              UMockdevIoctlClient* client);
    usbdetail::Result claim(UMockdevIoctlClient* client, unsigned interface, bool disconnect,
                            const char* driver, unsigned flags);
    usbdetail::Result interface_ioctl(const usbdevfs_ioctl& io);
    usbdetail::Result discard(UMockdevIoctlClient* client, gulong host_urb);
    usbdetail::Result endpoint_zero(usbdetail::Urb u);

    usbdetail::Result submit(UMockdevIoctlClient* client, UMockdevIoctlData* data);
    std::optional<usbdetail::Result> reap(UMockdevIoctlClient* client,
                                          usbdetail::GRef<UMockdevIoctlData> data, bool blocking,
                                          int plug_generation);
};

}  // namespace uhfsim
