#include "sim/usb/usb_reader.hpp"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace uhfsim {

namespace {

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

constexpr std::uint8_t kEndpointOut = 0x01;
constexpr std::uint8_t kEndpointIn = 0x82;
constexpr unsigned kInterface = 0;
constexpr const char* kKernelDriver = "reader_kdrv";
constexpr const char* kHubNode = "/dev/bus/usb/001/001";

// libusb polls the usbfs descriptor for "ready", which an emulated node (a plain file)
// always is, so it asks for completed transfers in a tight loop. Answering "nothing yet"
// after a short pause instead of at once keeps that loop cheap and costs at most this much
// latency.
constexpr int kReapRetryMs = 1;

// Device descriptor, then configuration 1 with interface 0 and its two bulk endpoints, as
// the sysfs "descriptors" attribute holds them.
std::vector<std::uint8_t> reader_descriptors(std::uint16_t vendor, std::uint16_t product) {
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {
        // device: USB 2.0, class per interface, control packets of 64, one configuration
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, lo(vendor), hi(vendor), lo(product),
        hi(product), 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
        // configuration 1: 32 bytes in all, one interface, bus powered, 100 mA
        0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
        // interface 0: two endpoints, vendor class
        0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
        // bulk OUT 0x01 and bulk IN 0x82, 64-byte packets
        0x07, 0x05, kEndpointOut, 0x02, 0x40, 0x00, 0x00,
        0x07, 0x05, kEndpointIn, 0x02, 0x40, 0x00, 0x00};
}

std::vector<std::uint8_t> hub_descriptors() {
    return {0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x01,
            0x00, 0x00, 0x00, 0x01, 0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00,
            0x09, 0x04, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03,
            0x04, 0x00, 0x0C};
}

[[noreturn]] void fail(const std::string& what, GError* err) {
    std::string msg = "emulated USB bus: " + what;
    if (err != nullptr) {
        msg += ": ";
        msg += err->message;
        g_error_free(err);
    }
    throw std::runtime_error(msg);
}

bool write_file(const std::string& path, bool make_dirs) {
    if (make_dirs) {
        GString_ dir(g_path_get_dirname(path.c_str()));
        if (g_mkdir_with_parents(dir.get(), 0755) != 0) return false;
    }
    return g_file_set_contents(path.c_str(), "", 0, nullptr) != FALSE;
}

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
constexpr Result ok{};
Result failed(int error) { return {-1, error}; }

}  // namespace

struct UsbReader::State {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    int address = 0;
    std::string node;
    std::string node_file;  // where the node lives inside the testbed
    UMockdevTestbed* testbed = nullptr;
    Responder* responder = nullptr;
    GRef<UMockdevIoctlBase> handler;

    mutable std::mutex mu;
    mutable std::condition_variable changed;
    std::deque<Urb> submitted;
    std::deque<Urb> done;
    std::deque<Queued> replies;
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
    std::vector<GRef<UMockdevIoctlClient>> open_clients;

    struct ReapWait {
        State* state;
        GRef<UMockdevIoctlClient> client;
        GRef<UMockdevIoctlData> data;
        bool blocking;
    };

    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        static_cast<State*>(self)->handle(client);
        return TRUE;
    }

    static void on_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto* s = static_cast<State*>(self);
        {
            std::lock_guard lock(s->mu);
            ++s->counters.opens;
            s->open_clients.push_back(take_ref(client));
        }
        s->changed.notify_all();
    }

    // lock held. umockdev reports a closed node through no signal, only through the client's
    // "connected" state, so closes are counted whenever someone looks.
    void count_closes() {
        std::erase_if(open_clients, [&](const GRef<UMockdevIoctlClient>& c) {
            if (umockdev_ioctl_client_get_connected(c.get())) return false;
            ++counters.closes;
            // Closing the node gives up its claim, as the kernel does.
            if (claim_owner == c.get()) {
                claim_owner = nullptr;
                counters.claimed = false;
            }
            forget_urbs_of(c.get());
            return true;
        });
    }

    static gboolean reap_retry(gpointer p) {
        auto* w = static_cast<ReapWait*>(p);
        bool got = false;
        {
            std::lock_guard lock(w->state->mu);
            got = w->state->try_reap(w->client.get(), w->data.get());
        }
        if (!got && w->blocking && umockdev_ioctl_client_get_connected(w->client.get()))
            return G_SOURCE_CONTINUE;
        umockdev_ioctl_client_complete(w->client.get(), got ? 0 : -1, got ? 0 : EAGAIN);
        return G_SOURCE_REMOVE;
    }

    // lock held
    void forget_urbs_of(UMockdevIoctlClient* gone) {
        for (std::deque<Urb>* q : {&submitted, &done})
            std::erase_if(*q, [&](const Urb& u) { return u.client.get() == gone; });
    }

    // lock held. Hands due answer chunks to pending IN transfers, oldest first.
    void pump() {
        const Clock::time_point now = Clock::now();
        for (auto it = submitted.begin(); it != submitted.end();) {
            if (it->held || !it->is_in()) {
                ++it;
                continue;
            }
            if (replies.empty() || replies.front().due > now) break;
            Queued& q = replies.front();
            usbdevfs_urb& urb = it->view();
            const std::size_t n = std::min(q.bytes.size() - q.taken,
                                           static_cast<std::size_t>(std::max(urb.buffer_length, 0)));
            if (n > 0) std::memcpy(it->buf->data, q.bytes.data() + q.taken, n);
            q.taken += n;
            if (q.taken == q.bytes.size()) replies.pop_front();
            urb.status = 0;
            urb.actual_length = static_cast<int>(n);
            done.push_back(std::move(*it));
            it = submitted.erase(it);
        }
    }

    // lock held
    bool in_flight(UMockdevIoctlClient* client) const {
        const auto mine = [&](const Urb& u) { return u.client.get() == client; };
        return std::any_of(submitted.begin(), submitted.end(), mine) ||
               std::any_of(done.begin(), done.end(), mine);
    }

    // lock held. Points the host's reap argument at a finished transfer of this client.
    bool try_reap(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
        pump();
        for (auto it = done.begin(); it != done.end(); ++it) {
            if (it->client.get() != client) continue;
            umockdev_ioctl_data_set_ptr(data, 0, it->urb.get());
            done.erase(it);
            return true;
        }
        return false;
    }

    void queue_answer(const Action& action) {
        Clock::time_point due = Clock::now();
        std::lock_guard lock(mu);
        for (Chunk& c : action.chunks()) {
            due += std::chrono::milliseconds(c.delay_ms);
            if (!c.bytes.empty()) replies.push_back({std::move(c.bytes), 0, due});
        }
    }

    void handle(UMockdevIoctlClient* client) {
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        GRef<UMockdevIoctlData> data;
        if (const gsize size = _IOC_SIZE(request); size > 0) {
            GError* err = nullptr;
            data.reset(umockdev_ioctl_data_resolve(arg, 0, size, &err));
            if (!data) {
                if (err != nullptr) g_error_free(err);
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return;
            }
        }

        {
            // A node closed since is no longer in the way of this one.
            std::lock_guard lock(mu);
            count_closes();
        }
        std::optional<Result> result;
        switch (request) {
        case USBDEVFS_SUBMITURB:
            result = submit(client, data.get());
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            result = reap(client, std::move(data), request == USBDEVFS_REAPURB);
            break;
        default: {
            std::lock_guard lock(mu);
            result = control(request, arg, data.get(), client);
        }
        }
        changed.notify_all();
        if (result) umockdev_ioctl_client_complete(client, result->value, result->error);
    }

    // lock held
    Result control(gulong request, UMockdevIoctlData* arg, UMockdevIoctlData* data,
                   UMockdevIoctlClient* client) {
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            // A whole transfer travels as one URB, as on a modern host controller.
            *reinterpret_cast<std::uint32_t*>(data->data) =
                USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_ZERO_PACKET |
                USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            return ok;
        case USBDEVFS_RESET:
            // A reset device has forgotten what it was about to say and what it was hearing.
            ++counters.resets;
            replies.clear();
            decoder.reset();
            return ok;
        case USBDEVFS_SETCONFIGURATION: {
            const int value = *reinterpret_cast<int*>(data->data);
            ++counters.configurations_set;
            if (config_fails) return failed(EBUSY);
            if (value != 1 && value != 0 && value != -1) return failed(EINVAL);
            counters.configuration = value;
            return ok;
        }
        case USBDEVFS_CLAIMINTERFACE:
            return claim(client, *reinterpret_cast<unsigned*>(data->data), false, nullptr, 0);
        case USBDEVFS_DISCONNECT_CLAIM: {
            const auto& dc = *reinterpret_cast<usbdevfs_disconnect_claim*>(data->data);
            return claim(client, dc.interface, true, dc.driver, dc.flags);
        }
        case USBDEVFS_RELEASEINTERFACE:
            if (*reinterpret_cast<unsigned*>(data->data) != kInterface) return failed(ENOENT);
            if (claim_owner != client) return failed(EINVAL);
            claim_owner = nullptr;
            counters.claimed = false;
            ++counters.releases;
            return ok;
        case USBDEVFS_GETDRIVER: {
            auto& gd = *reinterpret_cast<usbdevfs_getdriver*>(data->data);
            if (gd.interface != kInterface || !counters.driver_bound) return failed(ENODATA);
            std::snprintf(gd.driver, sizeof gd.driver, "%s", kKernelDriver);
            return ok;
        }
        case USBDEVFS_IOCTL:
            return interface_ioctl(*reinterpret_cast<usbdevfs_ioctl*>(data->data));
        case USBDEVFS_DISCARDURB:
            return discard(client, *reinterpret_cast<gulong*>(arg->data));
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return ok;
        default:
            return failed(ENOTTY);
        }
    }

    // lock held. Plain claims find a bound driver in the way; disconnect-and-claim removes
    // it first unless its flags spare it.
    Result claim(UMockdevIoctlClient* client, unsigned interface, bool disconnect,
                 const char* driver, unsigned flags) {
        if (interface != kInterface) return failed(ENOENT);
        if (claim_error != 0) return failed(claim_error);
        if (counters.driver_bound) {
            bool detach = disconnect;
            const bool same = std::strcmp(driver != nullptr ? driver : "", kKernelDriver) == 0;
            if ((flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 && !same) detach = false;
            if ((flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 && same) detach = false;
            if (!detach) return failed(EBUSY);
            counters.driver_bound = false;
            ++counters.driver_detaches;
        }
        if (claim_owner == client) return ok;
        if (claim_owner != nullptr) return failed(EBUSY);
        claim_owner = client;
        counters.claimed = true;
        ++counters.claims;
        return ok;
    }

    // lock held
    Result interface_ioctl(const usbdevfs_ioctl& io) {
        if (io.ifno != static_cast<int>(kInterface)) return failed(EINVAL);
        if (io.ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
            if (!counters.driver_bound) return failed(ENODATA);
            counters.driver_bound = false;
            ++counters.driver_detaches;
            return ok;
        }
        if (io.ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
            if (counters.claimed || counters.driver_bound) return failed(EBUSY);
            if (!has_driver) return ok;
            counters.driver_bound = true;
            ++counters.driver_attaches;
            return {1, 0};
        }
        return failed(ENOTTY);
    }

    // lock held. The kernel completes a cancelled transfer with -ENOENT; libusb waits to
    // reap it, so it must be completed, never dropped.
    Result discard(UMockdevIoctlClient* client, gulong host_urb) {
        for (auto it = submitted.begin(); it != submitted.end(); ++it) {
            if (it->urb->client_addr != host_urb || it->client.get() != client) continue;
            it->view().status = -ENOENT;
            it->view().actual_length = 0;
            ++counters.discards;
            done.push_back(std::move(*it));
            submitted.erase(it);
            return ok;
        }
        return failed(EINVAL);
    }

    Result submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
        auto& urb = *reinterpret_cast<usbdevfs_urb*>(data->data);
        if (urb.type != USBDEVFS_URB_TYPE_BULK ||
            (urb.endpoint != kEndpointOut && urb.endpoint != kEndpointIn))
            return failed(ENOENT);

        Urb u;
        u.client = take_ref(client);
        u.urb = take_ref(data);
        if (urb.buffer_length > 0) {
            GError* err = nullptr;
            u.buf.reset(umockdev_ioctl_data_resolve(
                data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb.buffer_length), &err));
            if (!u.buf) {
                if (err != nullptr) g_error_free(err);
                return failed(EFAULT);
            }
        }

        std::vector<Request> heard;
        std::vector<std::string> garbled;
        {
            std::lock_guard lock(mu);
            const bool in = u.is_in();
            ++(in ? counters.in_transfers : counters.out_transfers);
            std::deque<UrbFault>& faults = in ? in_faults : out_faults;
            UrbFault fault = UrbFault::none;
            if (!faults.empty()) {
                fault = faults.front();
                faults.pop_front();
            }
            if (fault == UrbFault::rejected) return failed(EIO);
            if (fault == UrbFault::stall || fault == UrbFault::error) {
                urb.status = fault == UrbFault::stall ? -EPIPE : -EPROTO;
                urb.actual_length = 0;
                done.push_back(std::move(u));
                return ok;
            }
            if (fault == UrbFault::held) {
                u.held = true;
                submitted.push_back(std::move(u));
                return ok;
            }
            if (in) {
                submitted.push_back(std::move(u));
                return ok;
            }
            std::size_t n = static_cast<std::size_t>(std::max(urb.buffer_length, 0));
            if (fault == UrbFault::short_out && n > 0) --n;
            const std::uint8_t* bytes = u.buf ? u.buf->data : nullptr;
            pieces.emplace_back(bytes, bytes + n);
            for (std::size_t i = 0; i < n; ++i) {
                switch (decoder.feed(bytes[i])) {
                case RequestDecoder::Status::request: heard.push_back(decoder.request()); break;
                case RequestDecoder::Status::malformed: garbled.push_back(decoder.reason()); break;
                case RequestDecoder::Status::incomplete: break;
                }
            }
            urb.status = 0;
            urb.actual_length = static_cast<int>(n);
            done.push_back(std::move(u));
        }
        // The handler may take its time or call back into the reader: no lock held here.
        for (std::string& why : garbled) responder->note_malformed(std::move(why));
        for (const Request& req : heard) {
            if (std::optional<Action> a = responder->respond(req)) queue_answer(*a);
        }
        return ok;
    }

    // Answers a reap at once when something finished; otherwise again after a short pause,
    // and for the blocking form until something does.
    std::optional<Result> reap(UMockdevIoctlClient* client, GRef<UMockdevIoctlData> data,
                               bool blocking) {
        {
            std::lock_guard lock(mu);
            if (try_reap(client, data.get())) return ok;
            // With nothing in flight there is nothing to wait for, and libusb asks once more
            // after every reaped transfer.
            if (!blocking && !in_flight(client)) return failed(EAGAIN);
        }
        auto* w = new ReapWait{this, take_ref(client), std::move(data), blocking};
        GSource* src = g_timeout_source_new(kReapRetryMs);
        g_source_set_callback(src, &State::reap_retry, w,
                              [](gpointer p) { delete static_cast<ReapWait*>(p); });
        g_source_attach(src, g_main_context_get_thread_default());
        g_source_unref(src);
        return std::nullopt;
    }
};

UsbReader::UsbReader(std::unique_ptr<State> state) : state_(std::move(state)) {
    state_->responder = &responder_;
}

UsbReader::~UsbReader() = default;

std::uint16_t UsbReader::vendor() const { return state_->vendor; }
std::uint16_t UsbReader::product() const { return state_->product; }
const std::string& UsbReader::node() const { return state_->node; }
int UsbReader::address() const { return state_->address; }

void UsbReader::send_now(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(state_->mu);
    state_->replies.push_back({std::move(bytes), 0, Clock::now()});
}

std::size_t UsbReader::replies_queued() const {
    std::lock_guard lock(state_->mu);
    return state_->replies.size();
}

bool UsbReader::wait_replies_due(std::chrono::milliseconds timeout) const {
    Clock::time_point latest = Clock::now();
    {
        std::lock_guard lock(state_->mu);
        for (const Queued& q : state_->replies) latest = std::max(latest, q.due);
    }
    if (latest > Clock::now() + timeout) return false;
    std::this_thread::sleep_until(latest);
    return true;
}

void UsbReader::fail_next_out(UrbFault fault, int count) {
    std::lock_guard lock(state_->mu);
    for (int i = 0; i < count; ++i) state_->out_faults.push_back(fault);
}

void UsbReader::fail_next_in(UrbFault fault, int count) {
    std::lock_guard lock(state_->mu);
    for (int i = 0; i < count; ++i) state_->in_faults.push_back(fault);
}

void UsbReader::fail_open(bool on) {
    {
        std::lock_guard lock(state_->mu);
        if (state_->node_missing == on) return;
        state_->node_missing = on;
    }
    // Without its file the node cannot be opened, and without the handler the device hears
    // nothing of the attempt. (umockdev's preload still leaves two sockets of its own open
    // after each failed open.)
    GError* err = nullptr;
    if (on) {
        ::unlink(state_->node_file.c_str());
        if (!umockdev_testbed_detach_ioctl(state_->testbed, state_->node.c_str(), &err))
            fail("cannot detach from " + state_->node, err);
        return;
    }
    if (!write_file(state_->node_file, false)) fail("cannot restore " + state_->node, nullptr);
    if (!umockdev_testbed_attach_ioctl(state_->testbed, state_->node.c_str(), state_->handler.get(),
                                       &err))
        fail("cannot attach to " + state_->node, err);
}

void UsbReader::fail_claim(int error) {
    std::lock_guard lock(state_->mu);
    state_->claim_error = error;
}

void UsbReader::fail_set_configuration(bool on) {
    std::lock_guard lock(state_->mu);
    state_->config_fails = on;
}

void UsbReader::bind_kernel_driver(bool on) {
    std::lock_guard lock(state_->mu);
    state_->has_driver = on;
    state_->counters.driver_bound = on;
}

std::vector<std::vector<std::uint8_t>> UsbReader::pieces() const {
    std::lock_guard lock(state_->mu);
    return state_->pieces;
}

std::vector<std::size_t> UsbReader::piece_sizes() const {
    std::lock_guard lock(state_->mu);
    std::vector<std::size_t> sizes;
    for (const auto& p : state_->pieces) sizes.push_back(p.size());
    return sizes;
}

UsbCounters UsbReader::counters() const {
    std::lock_guard lock(state_->mu);
    state_->count_closes();
    return state_->counters;
}

bool UsbReader::wait_until(const std::function<bool(const UsbCounters&)>& done,
                           std::chrono::milliseconds timeout) const {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(state_->mu);
    for (;;) {
        state_->count_closes();
        if (done(state_->counters)) return true;
        if (Clock::now() >= deadline) return false;
        // Closes come with no notice: look again shortly.
        state_->changed.wait_for(lock, std::chrono::milliseconds(2));
    }
}

void UsbReader::clear_log() {
    responder_.clear_log();
    std::lock_guard lock(state_->mu);
    state_->pieces.clear();
}

struct UsbBus::Impl {
    GRef<UMockdevTestbed> testbed;
    std::string root;
    std::string hub;  // sysfs path of the root hub
    int next_address = 2;
    std::vector<std::unique_ptr<UsbReader>> readers;
};

bool UsbBus::available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UsbBus::UsbBus() : impl_(std::make_unique<Impl>()) {
    impl_->testbed.reset(umockdev_testbed_new());
    if (!impl_->testbed) fail("no testbed", nullptr);
    GString_ root(umockdev_testbed_get_root_dir(impl_->testbed.get()));
    impl_->root = root.get();

    // Kernel sysfs attributes end in a newline; libusb warns about values that do not.
    GString_ hub(umockdev_testbed_add_device(
        impl_->testbed.get(), "usb", "usb1", nullptr, "busnum", "1\n", "devnum", "1\n", "speed",
        "480\n", "bConfigurationValue", "1\n", "idVendor", "1d6b\n", "idProduct", "0002\n", "dev",
        "189:0\n", nullptr, "DEVTYPE", "usb_device", "DEVNAME", kHubNode, "BUSNUM", "001", "DEVNUM",
        "001", nullptr));
    if (!hub) fail("cannot add the root hub", nullptr);
    impl_->hub = hub.get();
    std::vector<std::uint8_t> desc = hub_descriptors();
    umockdev_testbed_set_attribute_binary(impl_->testbed.get(), hub.get(), "descriptors",
                                          desc.data(), desc.size());
    if (!write_file(impl_->root + kHubNode, true)) fail("cannot create the hub node", nullptr);
}

UsbBus::~UsbBus() {
    for (const auto& r : impl_->readers) {
        GError* err = nullptr;
        if (!umockdev_testbed_detach_ioctl(impl_->testbed.get(), r->node().c_str(), &err) &&
            err != nullptr)
            g_error_free(err);
    }
    impl_->readers.clear();
}

UsbReader& UsbBus::add_reader(std::uint16_t vendor, std::uint16_t product) {
    auto state = std::make_unique<UsbReader::State>();
    const int address = impl_->next_address++;
    char node[64];
    char name[32];
    char devnum[32];
    char dev[32];
    char vid[16];
    char pid[16];
    char devnum_prop[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address);
    std::snprintf(name, sizeof name, "1-%d", address - 1);
    std::snprintf(devnum, sizeof devnum, "%d\n", address);
    std::snprintf(dev, sizeof dev, "189:%d\n", address - 1);
    std::snprintf(vid, sizeof vid, "%04x\n", vendor);
    std::snprintf(pid, sizeof pid, "%04x\n", product);
    std::snprintf(devnum_prop, sizeof devnum_prop, "%03d", address);

    GString_ sys(umockdev_testbed_add_device(
        impl_->testbed.get(), "usb", name, impl_->hub.c_str(), "busnum", "1\n", "devnum", devnum,
        "speed", "12\n", "bConfigurationValue", "1\n", "idVendor", vid, "idProduct", pid, "dev",
        dev, nullptr, "DEVTYPE", "usb_device", "DEVNAME", node, "BUSNUM", "001", "DEVNUM",
        devnum_prop, nullptr));
    if (!sys) fail(std::string("cannot add ") + name, nullptr);
    std::vector<std::uint8_t> desc = reader_descriptors(vendor, product);
    umockdev_testbed_set_attribute_binary(impl_->testbed.get(), sys.get(), "descriptors",
                                          desc.data(), desc.size());

    state->vendor = vendor;
    state->product = product;
    state->address = address;
    state->node = node;
    state->node_file = impl_->root + node;
    state->testbed = impl_->testbed.get();
    if (!write_file(state->node_file, true)) fail(std::string("cannot create ") + node, nullptr);

    state->handler.reset(umockdev_ioctl_base_new());
    UsbReader::State* s = state.get();
    g_signal_connect(state->handler.get(), "handle-ioctl", G_CALLBACK(&UsbReader::State::on_ioctl), s);
    g_signal_connect(state->handler.get(), "client-connected",
                     G_CALLBACK(&UsbReader::State::on_connected), s);
    GError* err = nullptr;
    if (!umockdev_testbed_attach_ioctl(impl_->testbed.get(), node, state->handler.get(), &err))
        fail(std::string("cannot attach to ") + node, err);

    impl_->readers.push_back(std::unique_ptr<UsbReader>(new UsbReader(std::move(state))));
    return *impl_->readers.back();
}

}  // namespace uhfsim
