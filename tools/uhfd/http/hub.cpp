#include "http/hub.hpp"

#include <pthread.h>

#include "event_json.hpp"
#include "log.hpp"

namespace uhfd::http {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Hub::Hub(GatewayRef& gateway, std::string gateway_id, ConsoleFacts facts)
    : gateway_(gateway), gateway_id_(std::move(gateway_id)), facts_(std::move(facts)) {}

Hub::~Hub() { stop(); }

void Hub::start() { thread_ = std::thread([this] { run(); }); }

void Hub::stop() {
    std::vector<std::shared_ptr<Mailbox>> clients;
    {
        std::lock_guard lock(mu_);
        stop_ = true;
        clients = clients_;
    }
    wake_.notify_all();
    for (const auto& m : clients) {
        std::lock_guard lock(m->mu);
        m->closed = true;
        m->cv.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    // Outside mu_: unsubscribing waits for a reader thread that may be inside on_event().
    for (auto& [name, w] : watches_) {
        if (w.events) w.worker->unsubscribe(w.events);
        if (w.frames) w.worker->unsubscribe_frames(w.frames);
    }
    watches_.clear();
}

std::string Hub::message(const char* event, const Json& data) {
    return std::string("event: ") + event + "\ndata: " + data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
}

Json Hub::gateway_json(const Gateway& gw) const {
    ConsoleFacts f = facts_;
    f.streams = count_;
    return gateway_view(gw, f);
}

std::shared_ptr<Mailbox> Hub::join(const std::string& reader, bool trace, std::size_t max) {
    auto m = std::make_shared<Mailbox>(reader, trace);
    {
        std::lock_guard lock(mu_);
        if (stop_ || clients_.size() >= max) return nullptr;
        clients_.push_back(m);
        count_ = clients_.size();
        changed_ = changed_ || trace;
    }
    if (trace) wake_.notify_all();
    return m;
}

void Hub::leave(const std::shared_ptr<Mailbox>& m) {
    {
        std::lock_guard lock(mu_);
        std::erase(clients_, m);
        count_ = clients_.size();
        changed_ = changed_ || m->trace;
    }
    if (m->trace) wake_.notify_all();
}

std::size_t Hub::clients() const { return count_; }

std::map<std::string, Rates> Hub::rates() const {
    std::lock_guard lock(mu_);
    return rates_;
}

Rates Hub::rates(const std::string& reader) const {
    std::lock_guard lock(mu_);
    const auto it = rates_.find(reader);
    return it == rates_.end() ? Rates{} : it->second;
}

void Hub::run() {
    pthread_setname_np(pthread_self(), "uhfd-console");
    auto next = Clock::now();
    std::unique_lock lock(mu_);
    while (!stop_) {
        changed_ = false;
        lock.unlock();
        try {
            follow_readers();
            if (Clock::now() >= next) {
                post_statuses();
                next += 1s;
                if (next < Clock::now()) next = Clock::now() + 1s;
            }
        } catch (const std::exception& e) {
            failed(e.what());
            next = Clock::now() + 1s;
        } catch (...) {
            failed("an unknown exception");
            next = Clock::now() + 1s;
        }
        lock.lock();
        wake_.wait_until(lock, next, [this] { return stop_ || changed_; });
    }
}

void Hub::failed(const std::string& what) {
    ++failures_;
    log::error("console: the hub failed (" + what + "); the streams carry on and it tries again in a second");
}

void Hub::follow_readers() {
    std::map<std::string, std::shared_ptr<ReaderWorker>> workers;
    {
        const auto gw = gateway_.lease();
        if (!gw) return;
        for (const std::string& name : gw->reader_names())
            if (auto w = gw->reader(name)) workers[name] = std::move(w);
    }
    std::set<std::string> traced;
    {
        std::lock_guard lock(mu_);
        for (const auto& m : clients_)
            if (m->trace && !m->reader.empty()) traced.insert(m->reader);
    }
    bool replaced = false;
    for (auto it = watches_.begin(); it != watches_.end();) {
        const auto now = workers.find(it->first);
        if (now != workers.end() && now->second == it->second.worker) {
            ++it;
            continue;
        }
        // Removed or restarted by a reload.
        if (it->second.events) it->second.worker->unsubscribe(it->second.events);
        if (it->second.frames) it->second.worker->unsubscribe_frames(it->second.frames);
        it = watches_.erase(it);
        replaced = true;
    }
    for (const auto& [name, worker] : workers) {
        auto [it, fresh] = watches_.try_emplace(name);
        Watch& w = it->second;
        if (fresh) {
            w.worker = worker;
            w.events = worker->subscribe([this, reader = name](const ReaderEvent& e) { on_event(reader, e); });
            w.last_reads = worker->snapshot(false).counters.reads_by_antenna;
            w.last_tick = Clock::now();
            replaced = true;
        }
        const bool want = traced.count(name) > 0;
        if (want && !w.frames) {
            w.frames = worker->subscribe_frames([this, reader = name](int d, std::span<const std::uint8_t> b, unsigned long long t) {
                on_frame(reader, d, b, t);
            });
        } else if (!want && w.frames) {
            worker->unsubscribe_frames(w.frames);
            w.frames = 0;
        }
    }
    // Events of a reader not yet followed were missed: everyone gets a whole picture.
    if (replaced) {
        std::lock_guard lock(mu_);
        for (const auto& m : clients_) {
            std::lock_guard l(m->mu);
            m->resync = true;
            m->items.clear();
            m->bytes = 0;
            m->cv.notify_all();
        }
    }
}

void Hub::post_statuses() {
    std::map<std::string, Rates> rates;
    std::map<std::string, ReaderSnapshot> followed;
    std::set<std::string> wanted;
    {
        std::lock_guard lock(mu_);
        for (const auto& m : clients_)
            if (!m->reader.empty()) wanted.insert(m->reader);
    }
    const auto now = Clock::now();
    for (auto& [name, w] : watches_) {
        ReaderSnapshot s = w.worker->snapshot(wanted.count(name) > 0);
        const double seconds = std::chrono::duration<double>(now - w.last_tick).count();
        Rates& r = rates[name];
        for (const auto& [antenna, total] : s.counters.reads_by_antenna) {
            const auto before = w.last_reads.find(antenna);
            const std::uint64_t then = before == w.last_reads.end() ? 0 : before->second;
            r[antenna] = seconds > 0 ? static_cast<double>(total - then) / seconds : 0.0;
        }
        w.last_reads = s.counters.reads_by_antenna;
        w.last_tick = now;
        if (wanted.count(name)) followed[name] = std::move(s);
    }
    {
        std::lock_guard lock(mu_);
        rates_ = rates;
    }
    if (count_ == 0) return;
    Json status;
    {
        const auto gw = gateway_.lease();
        if (!gw) return;
        status = {{"gateway", gateway_json(*gw)}, {"readers", readers_view(*gw, rates)}};
    }
    deliver(std::make_shared<const std::string>(message("status", status)), [](const Mailbox&) { return true; });
    // Reads, signal and last-seen times change every round; arrivals and departures come as they happen.
    for (const auto& [reader, s] : followed) {
        const std::string& name = reader;  // clang 14 cannot capture a structured binding
        deliver(std::make_shared<const std::string>(message("tags", tags_view(name, s))),
                [&name](const Mailbox& m) { return m.reader == name; });
    }
}

void Hub::on_event(const std::string& reader, const ReaderEvent& e) {
    if (count_ == 0) return;
    try {
        post_event(reader, e);
    } catch (const std::exception& x) {
        failed(x.what());
    }
}

void Hub::post_event(const std::string& reader, const ReaderEvent& e) {
    if (const auto* t = std::get_if<TagChanged>(&e)) {
        const bool arrived = t->event.kind == inventory::TagEvent::Kind::arrived;
        const Json j{{"reader", reader},
                     {"type", arrived ? "arrived" : "departed"},
                     {"time", iso8601(std::chrono::system_clock::now())},
                     {"tag", tag_json(t->event.tag, true)}};
        deliver(std::make_shared<const std::string>(message("tag", j)), [&reader](const Mailbox& m) { return m.reader == reader; });
    } else if (const auto* m = std::get_if<TagMoved>(&e)) {
        const Json j{{"reader", reader},
                     {"type", "moved"},
                     {"time", iso8601(m->time.wall)},
                     {"from", m->from},
                     {"to", m->to},
                     {"tag", tag_json(m->tag, true)}};
        deliver(std::make_shared<const std::string>(message("tag", j)), [&reader](const Mailbox& mb) { return mb.reader == reader; });
    } else if (const auto* s = std::get_if<StateChanged>(&e)) {
        Json j = reader_status_json(gateway_id_, s->snapshot, 0);
        j.erase("gateway");
        j.erase("counters");  // the statuses each second carry them, with the drops
        deliver(std::make_shared<const std::string>(message("state", j)), [](const Mailbox&) { return true; });
    }
}

void Hub::on_frame(const std::string& reader, int direction, std::span<const std::uint8_t> bytes, unsigned long long t_us) {
    if (count_ == 0) return;
    static const char* const kDirections[] = {"sent", "received", "discarded"};
    const Json j{{"reader", reader},
                 {"dir", direction >= 0 && direction <= 2 ? kDirections[direction] : "?"},
                 {"t_us", t_us},
                 {"time", iso8601(std::chrono::system_clock::now())},
                 {"bytes", bytes.size()},
                 {"hex", hex(bytes)}};
    deliver(std::make_shared<const std::string>(message("frame", j)),
            [&reader](const Mailbox& m) { return m.trace && m.reader == reader; });
}

template <class Pred>
void Hub::deliver(const std::shared_ptr<const std::string>& msg, Pred to) {
    std::lock_guard lock(mu_);
    for (const auto& m : clients_)
        if (to(*m)) push(*m, msg);
}

void Hub::push(Mailbox& m, const std::shared_ptr<const std::string>& msg) {
    std::lock_guard lock(m.mu);
    // A whole picture is on its way, newer than anything that could be queued now.
    if (m.closed || m.resync) return;
    if (m.bytes + msg->size() > kMaxBehind) {
        m.items.clear();
        m.bytes = 0;
        m.resync = true;
        ++overflows_;
    } else {
        m.items.push_back(msg);
        m.bytes += msg->size();
    }
    m.cv.notify_all();
}

}  // namespace uhfd::http
