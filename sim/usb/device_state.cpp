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
