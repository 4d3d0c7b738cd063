#include "http/event_stream.hpp"

#include "log.hpp"

namespace uhfd::http {

using namespace std::chrono_literals;

namespace {

// Proves the connection is still there (a write to a gone client fails) and keeps proxies from
// timing out an idle stream.
constexpr auto kKeepAlive = 15s;
// How often a stream looks at whether its client still reads, with or without news to send.
constexpr auto kLook = 1s;

struct Leave {
    Hub& hub;
    const std::shared_ptr<Mailbox>& m;
    ~Leave() { hub.leave(m); }
};

}  // namespace

std::string hello_message(Hub& hub, const Gateway& gw, const std::string& reader, bool trace) {
    Json tags = nullptr;
    if (!reader.empty())
        if (const auto w = gw.reader(reader)) tags = tags_view(reader, w->snapshot(true));
    return Hub::message("hello", {{"gateway", hub.gateway_json(gw)},
                                  {"readers", readers_view(gw, hub.rates())},
                                  {"reader", reader},
                                  {"trace", trace},
                                  {"tags", std::move(tags)}});
}

void run_event_stream(Hub& hub, GatewayRef& gateway, const std::shared_ptr<Mailbox>& m, StreamWriter& out) {
    const Leave leave{hub, m};
    if (!out.write("retry: 2000\n\n")) return;
    bool picture = true;
    auto last_write = std::chrono::steady_clock::now();
    auto next_look = last_write + kLook;
    for (;;) {
        std::deque<std::shared_ptr<const std::string>> items;
        {
            std::unique_lock lock(m->mu);
            if (!picture) m->cv.wait_until(lock, next_look, [&] { return m->closed || m->resync || !m->items.empty(); });
            if (m->closed) return;
            if (m->resync) {
                picture = true;
                m->resync = false;
            }
            items.swap(m->items);
            m->bytes = 0;
        }
        // The picture is taken after the queued events happened, so replaying them on top of it
        // changes nothing that is not already so (an arrival of a tag present, a departure of one gone).
        std::string text;
        if (picture) {
            const auto gw = gateway.lease();
            if (!gw) return;
            text = hello_message(hub, *gw, m->reader, m->trace);
            picture = false;
        }
        for (const auto& i : items) text += *i;
        const auto now = std::chrono::steady_clock::now();
        if (now >= next_look) {
            next_look = now + kLook;
            if (!out.keeping_up()) {
                if (out.client_left()) return;  // gone by itself: nothing to log or count
                log::info("console: dropped an event stream whose client " + out.verdict());
                hub.count_drop();
                return;
            }
        }
        if (text.empty() && now - last_write < kKeepAlive) continue;
        if (text.empty()) text = ": keep-alive\n\n";
        if (!out.write(text)) return;
        last_write = now;
    }
}

}  // namespace uhfd::http
