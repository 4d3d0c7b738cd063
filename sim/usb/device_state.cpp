#include "sim/usb/device_state.hpp"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace uhfsim::usbdetail {

void fail(const std::string& what, GError* err) {
    std::string msg = "emulated USB bus: " + what;
    if (err != nullptr) {
        msg += ": ";
        msg += err->message;
        g_error_free(err);
    }
    throw std::runtime_error(msg);
}

}  // namespace uhfsim::usbdetail

namespace uhfsim {

using namespace usbdetail;

namespace {

constexpr const char* kKernelDriver = "reader_kdrv";

// libusb polls the usbfs descriptor for "ready", which an emulated node (a plain file)
// always is, so it asks for completed transfers in a tight loop. Answering "nothing yet"
// after a short pause instead of at once keeps that loop cheap and costs at most this much
// latency.
constexpr int kReapRetryMs = 1;

struct ReapWait {
    UsbReader::State* state;
    GRef<UMockdevIoctlClient> client;
    GRef<UMockdevIoctlData> data;
    bool blocking;
    int generation;
};

}  // namespace

UsbReader::State::Plug& UsbReader::State::new_plug() {
    auto plug = std::make_unique<Plug>();
    plug->state = this;
    plug->node = node;
    plug->handler.reset(umockdev_ioctl_base_new());
    {
        std::lock_guard lock(mu);
        plug->generation = ++generation;
    }
    g_signal_connect(plug->handler.get(), "handle-ioctl", G_CALLBACK(&State::on_ioctl), plug.get());
    g_signal_connect(plug->handler.get(), "client-connected", G_CALLBACK(&State::on_connected), plug.get());
    plugs.push_back(std::move(plug));
    return *plugs.back();
}

void UsbReader::State::on_unplugged() {
    {
        std::lock_guard lock(mu);
        plugged = false;
        // The kernel kills every transfer of a vanished device; libusb reaps them as "no
        // device". Nothing further is submitted: every ioctl but a reap now fails.
        for (Urb& u : submitted) {
            u.view().status = -ESHUTDOWN;
            u.view().actual_length = 0;
            done.push_back(std::move(u));
        }
        submitted.clear();
        replies.clear();
        decoder.reset();
        claim_owner = nullptr;
        counters.claimed = false;
        counters.driver_bound = false;
        ++counters.unplugs;
    }
    changed.notify_all();
}

gboolean UsbReader::State::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer p) {
    auto* plug = static_cast<Plug*>(p);
    plug->state->handle(client, plug->generation);
    return TRUE;
}

void UsbReader::State::on_connected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer p) {
    State* s = static_cast<Plug*>(p)->state;
    {
        std::lock_guard lock(s->mu);
        ++s->counters.opens;
        s->open_clients.push_back(take_ref(client));
    }
    s->changed.notify_all();
}

// lock held. umockdev reports a closed node through no signal, only through the client's
// "connected" state, so closes are counted whenever someone looks.
void UsbReader::State::count_closes() {
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

gboolean UsbReader::State::reap_retry(gpointer p) {
    auto* w = static_cast<ReapWait*>(p);
    bool got = false;
    bool dead = false;
    {
        std::lock_guard lock(w->state->mu);
        got = w->state->try_reap(w->client.get(), w->data.get());
        dead = w->state->gone(w->generation);
    }
    if (!got && !dead && w->blocking && umockdev_ioctl_client_get_connected(w->client.get()))
        return G_SOURCE_CONTINUE;
    umockdev_ioctl_client_complete(w->client.get(), got ? 0 : -1, got ? 0 : dead ? ENODEV : EAGAIN);
    return G_SOURCE_REMOVE;
}

// lock held
void UsbReader::State::forget_urbs_of(UMockdevIoctlClient* gone_client) {
    for (std::deque<Urb>* q : {&submitted, &done})
        std::erase_if(*q, [&](const Urb& u) { return u.client.get() == gone_client; });
}

// lock held. Hands due answer chunks to pending IN transfers, oldest first.
void UsbReader::State::pump() {
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
bool UsbReader::State::in_flight(UMockdevIoctlClient* client) const {
    const auto mine = [&](const Urb& u) { return u.client.get() == client; };
    return std::any_of(submitted.begin(), submitted.end(), mine) ||
           std::any_of(done.begin(), done.end(), mine);
}

// lock held. Points the host's reap argument at a finished transfer of this client.
bool UsbReader::State::try_reap(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
    pump();
    for (auto it = done.begin(); it != done.end(); ++it) {
        if (it->client.get() != client) continue;
        umockdev_ioctl_data_set_ptr(data, 0, it->urb.get());
        done.erase(it);
        return true;
    }
    return false;
}

void UsbReader::State::queue_answer(const Action& action) {
    Clock::time_point due = Clock::now();
    std::lock_guard lock(mu);
    for (Chunk& c : action.chunks()) {
        due += std::chrono::milliseconds(c.delay_ms);
        if (!c.bytes.empty()) replies.push_back({std::move(c.bytes), 0, due});
    }
}

void UsbReader::State::handle(UMockdevIoctlClient* client, int plug_generation) {
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

    const bool reaping = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    {
        std::lock_guard lock(mu);
        // A node closed since is no longer in the way of this one.
        count_closes();
        if (gone(plug_generation)) {
            // usbfs on a disconnected device: the transfers it killed can still be reaped,
            // everything else is ENODEV.
            const bool got = reaping && try_reap(client, data.get());
            umockdev_ioctl_client_complete(client, got ? 0 : -1, got ? 0 : ENODEV);
            return;
        }
    }
    std::optional<Result> result;
    switch (request) {
    case USBDEVFS_SUBMITURB:
        result = submit(client, data.get());
        break;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        result = reap(client, std::move(data), request == USBDEVFS_REAPURB, plug_generation);
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
Result UsbReader::State::control(gulong request, UMockdevIoctlData* arg, UMockdevIoctlData* data,
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

// lock held. Plain claims find a bound driver in the way; disconnect-and-claim removes it
// first unless its flags spare it. Another open node holding the interface makes it busy.
Result UsbReader::State::claim(UMockdevIoctlClient* client, unsigned interface, bool disconnect,
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
Result UsbReader::State::interface_ioctl(const usbdevfs_ioctl& io) {
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

// lock held. The kernel completes a cancelled transfer with -ENOENT; libusb waits to reap it,
// so it must be completed, never dropped.
Result UsbReader::State::discard(UMockdevIoctlClient* client, gulong host_urb) {
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

// lock held. Standard requests on endpoint 0: GET_DESCRIPTOR for the device, configuration
// and string descriptors; anything else stalls. The data stage follows the 8 setup bytes in
// the transfer's buffer, as usbfs lays it out.
Result UsbReader::State::endpoint_zero(Urb u) {
    usbdevfs_urb& urb = u.view();
    ++counters.control_transfers;
    if (!u.buf || urb.buffer_length < 8) return failed(EINVAL);
    const std::uint8_t* setup = u.buf->data;
    const unsigned value = setup[2] | (setup[3] << 8);
    const std::size_t length = setup[6] | (setup[7] << 8);
    std::optional<std::vector<std::uint8_t>> answer;
    if (setup[0] == 0x80 && setup[1] == 0x06) {  // GET_DESCRIPTOR, device to host
        const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(value);
        const std::vector<std::uint8_t> all = reader_descriptors(vendor, product, strings);
        if (type == 1 && index == 0) answer.emplace(all.begin(), all.begin() + 18);
        else if (type == 2 && index == 0) answer.emplace(all.begin() + 18, all.end());
        else if (type == 3) answer = string_descriptor(strings, index);
    }
    if (!answer) {
        urb.status = -EPIPE;
        urb.actual_length = 0;
    } else {
        const std::size_t n = std::min({answer->size(), length, static_cast<std::size_t>(urb.buffer_length - 8)});
        std::memcpy(u.buf->data + 8, answer->data(), n);
        urb.status = 0;
        urb.actual_length = static_cast<int>(n);
    }
    done.push_back(std::move(u));
    return ok;
}

Result UsbReader::State::submit(UMockdevIoctlClient* client, UMockdevIoctlData* data) {
    auto& urb = *reinterpret_cast<usbdevfs_urb*>(data->data);
    const bool control_urb = urb.type == USBDEVFS_URB_TYPE_CONTROL && urb.endpoint == 0;
    if (!control_urb && (urb.type != USBDEVFS_URB_TYPE_BULK ||
                         (urb.endpoint != kEndpointOut && urb.endpoint != kEndpointIn)))
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
        if (control_urb) return endpoint_zero(std::move(u));
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

// Answers a reap at once when something finished; otherwise again after a short pause, and
// for the blocking form until something does.
std::optional<Result> UsbReader::State::reap(UMockdevIoctlClient* client, GRef<UMockdevIoctlData> data,
                                             bool blocking, int plug_generation) {
    {
        std::lock_guard lock(mu);
        if (try_reap(client, data.get())) return ok;
        // With nothing in flight there is nothing to wait for, and libusb asks once more
        // after every reaped transfer.
        if (!blocking && !in_flight(client)) return failed(EAGAIN);
    }
    auto* w = new ReapWait{this, take_ref(client), std::move(data), blocking, plug_generation};
    GSource* src = g_timeout_source_new(kReapRetryMs);
    g_source_set_callback(src, &State::reap_retry, w, [](gpointer p) { delete static_cast<ReapWait*>(p); });
    g_source_attach(src, g_main_context_get_thread_default());
    g_source_unref(src);
    return std::nullopt;
}

}  // namespace uhfsim
