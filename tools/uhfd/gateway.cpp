#include "gateway.hpp"

#include "event_json.hpp"
#include "llrp_face.hpp"
#include "log.hpp"
#include "presence_store.hpp"

namespace uhfd {

using std::chrono::milliseconds;

Gateway::Gateway(Config config)
    : config_(std::move(config)), topics_(config_.broker.topic_prefix, config_.gateway_id) {
    queue_ = std::make_unique<DiskQueue>(config_.queue_dir, config_.queue_max_events);
    Publisher::Options o;
    o.broker = config_.broker;
    o.will = {topics_.gateway_status(), gateway_status(false, "connection lost").dump()};
    o.subscriptions = {topics_.command_pattern()};
    o.reconnect_min = config_.reconnect_min;
    o.reconnect_max = config_.reconnect_max;
    publisher_ = std::make_unique<Publisher>(std::move(o), *queue_);
    publisher_->set_message_handler([this](const IncomingMessage& m) { on_command(m); });
    policy_ = config_.commands;
}

Gateway::~Gateway() { stop(); }

void Gateway::start() {
    publisher_->set_retained(topics_.gateway_status(), gateway_status(true).dump());
    publisher_->start();
    std::lock_guard lock(mu_);
    for (const ReaderConfig& rc : config_.readers) readers_[rc.name] = launch(rc);
}

Gateway::Entry Gateway::launch(const ReaderConfig& rc, const std::vector<inventory::TagState>* handed_over) {
    Entry e;
    e.worker = std::make_shared<ReaderWorker>(rc, Backoff{config_.reconnect_min, config_.reconnect_max});
    const std::string file = presence_path(config_.queue_dir, rc.name);
    e.worker->keep_presence(handed_over ? *handed_over : load_presence(file, inventory::Stamp::now()), file);
    const std::string name = rc.name;
    e.subscription = e.worker->subscribe([this, name](const ReaderEvent& ev) { on_event(name, ev); });
    publish_reader_status(e.worker->snapshot(false));
    e.worker->start();
    if (rc.llrp) {
        // A face that cannot listen leaves the reader running without it.
        auto face = std::make_shared<LlrpFace>(e.worker, *rc.llrp);
        std::string why;
        if (face->start(why)) {
            e.llrp = std::move(face);
            log::info("reader " + rc.name + ": LLRP on " + rc.llrp->host + ":" + std::to_string(e.llrp->port()));
        } else {
            log::error("reader " + rc.name + ": no LLRP: " + why);
        }
    }
    return e;
}

// Unsubscribes first: whatever the worker says from now on (its final "stopped" above all) must
// not overwrite its successor's status nor re-create a status topic a removal cleared.
void Gateway::retire(Entry& e, milliseconds within) {
    if (e.llrp) e.llrp->stop();
    e.worker->unsubscribe(e.subscription);
    e.worker->request_stop();
    if (!e.worker->wait_stopped(within)) {
        log::warning("reader " + e.worker->config().name + " did not stop within " + std::to_string(within.count()) +
                     " ms; left to end by itself");
        std::lock_guard lock(mu_);
        stragglers_.push_back(e.worker);
    }
}

void Gateway::reap() {
    std::vector<std::shared_ptr<ReaderWorker>> ended;
    {
        std::lock_guard lock(mu_);
        for (auto it = stragglers_.begin(); it != stragglers_.end();) {
            if ((*it)->wait_stopped(milliseconds(0))) {
                ended.push_back(std::move(*it));
                it = stragglers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Joined here, outside the lock; the thread has ended, so this does not wait.
    ended.clear();
}

std::size_t Gateway::stragglers() const {
    std::lock_guard lock(mu_);
    return stragglers_.size();
}

void Gateway::on_event(const std::string& reader, const ReaderEvent& e) {
    if (const auto* s = std::get_if<StateChanged>(&e)) {
        publish_reader_status(s->snapshot);
        return;
    }
    const EventSource src{config_.gateway_id, reader};
    queue_->append(reader, topics_.events(reader), [&](const DiskQueue::Sequence& seq) { return event_json(src, seq, e).dump(); });
}

void Gateway::publish_reader_status(const ReaderSnapshot& s) {
    const auto dropped = queue_->dropped_by_key();
    const auto it = dropped.find(s.name);
    publisher_->set_retained(topics_.reader_status(s.name),
                             reader_status_json(config_.gateway_id, s, it == dropped.end() ? 0 : it->second).dump());
}

void Gateway::on_command(const IncomingMessage& m) {
    const auto name = topics_.command_reader(m.topic);
    if (!name) return;
    // A response topic inside this gateway's own tree could pose as its events or status.
    std::string reply_topic = topics_.reply(*name);
    if (m.response_topic && !m.response_topic->empty() && m.response_topic->rfind(topics_.base + "/", 0) != 0)
        reply_topic = *m.response_topic;
    CommandPolicy policy;
    std::shared_ptr<ReaderWorker> worker;
    {
        std::lock_guard lock(mu_);
        policy = policy_;
        if (auto it = readers_.find(*name); it != readers_.end()) worker = it->second.worker;
    }
    Request req = parse_request(m.payload, policy);
    if (req.refusal.empty() && !worker) req.refusal = "no reader '" + *name + "' on this gateway";
    if (!req.refusal.empty()) {
        log::info("command for reader " + *name + " refused: " + req.refusal);
        publisher_->send(reply_topic, reply_json(config_.gateway_id, *name, req, nullptr).dump(), m.correlation);
        return;
    }
    log::info("command " + req.command + " for reader " + *name);
    PreparedCall call = std::move(req.call);
    req.call = {};
    worker->submit(std::move(call), [this, reader = *name, reply_topic, correlation = m.correlation, req](CommandResult r) {
        publisher_->send(reply_topic, reply_json(config_.gateway_id, reader, req, &r).dump(), correlation);
    });
}

void Gateway::tick() {
    reap();
    std::vector<std::shared_ptr<ReaderWorker>> workers;
    {
        std::lock_guard lock(mu_);
        for (auto& [name, e] : readers_) workers.push_back(e.worker);
    }
    for (auto& w : workers) publish_reader_status(w->snapshot(false));
    publisher_->set_retained(topics_.gateway_status(), gateway_status(true).dump());
}

void Gateway::reload(const Config& fresh) {
    if (fresh.gateway_id != config_.gateway_id || !(fresh.broker == config_.broker) || fresh.queue_dir != config_.queue_dir ||
        fresh.queue_max_events != config_.queue_max_events)
        log::warning("reload: gateway, broker and queue settings take effect at the next start; readers reloaded");
    std::vector<Entry> leaving;
    std::vector<std::string> gone;
    {
        std::lock_guard lock(mu_);
        policy_ = fresh.commands;
        std::map<std::string, const ReaderConfig*> wanted;
        for (const ReaderConfig& rc : fresh.readers) wanted[rc.name] = &rc;
        for (auto it = readers_.begin(); it != readers_.end();) {
            auto w = wanted.find(it->first);
            if (w == wanted.end() || !(*w->second == it->second.worker->config())) {
                if (w == wanted.end()) gone.push_back(it->first);
                leaving.push_back(std::move(it->second));
                it = readers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Readers stop together, so a reload takes one budget however many readers change.
    for (Entry& e : leaving) {
        if (e.llrp) e.llrp->stop();
        e.worker->unsubscribe(e.subscription);
        e.worker->request_stop();
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopBudget;
    std::map<std::string, std::vector<inventory::TagState>> present;
    for (Entry& e : leaving) {
        retire(e, std::max(std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()), milliseconds(0)));
        present[e.worker->config().name] = e.worker->snapshot(true).tags;
    }
    for (const std::string& name : gone) publisher_->set_retained(topics_.reader_status(name), "");  // clears it
    {
        std::lock_guard lock(mu_);
        for (const ReaderConfig& rc : fresh.readers) {
            if (readers_.count(rc.name)) continue;
            const auto handed = present.find(rc.name);
            readers_[rc.name] = launch(rc, handed == present.end() ? nullptr : &handed->second);
        }
        config_.readers = fresh.readers;
        config_.commands = fresh.commands;
    }
    log::info("reload: " + std::to_string(fresh.readers.size()) + " readers; " + std::to_string(leaving.size()) +
              " stopped or restarted, " + std::to_string(gone.size()) + " removed");
    tick();
}

Gateway::StopResult Gateway::stop(milliseconds within) {
    if (!publisher_ || stopped_) return StopResult::clean;
    stopped_ = true;
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::map<std::string, Entry> leaving;
    {
        std::lock_guard lock(mu_);
        leaving.swap(readers_);
    }
    for (auto& [name, e] : leaving) {
        if (e.llrp) e.llrp->stop();
        e.worker->request_stop();
    }
    // The readers are cancelled, so they end in milliseconds; the publisher keeps the rest.
    const auto readers_deadline = deadline - within / 3;
    for (auto& [name, e] : leaving) {
        const auto left = std::chrono::duration_cast<milliseconds>(readers_deadline - std::chrono::steady_clock::now());
        if (!e.worker->wait_stopped(std::max(left, milliseconds(0)))) {
            log::warning("reader " + name + " did not stop in time at shutdown");
            std::lock_guard lock(mu_);
            stragglers_.push_back(e.worker);
        }
        e.worker->unsubscribe(e.subscription);
    }
    reap();
    publisher_->set_retained(topics_.gateway_status(), status_json(false, "stopped", leaving).dump());
    const bool goodbye = publisher_->stop_by(std::max(deadline, std::chrono::steady_clock::now() + milliseconds(100)));
    queue_->flush(true);
    const bool readers_ended = stragglers() == 0;
    if (!goodbye) log::warning("the broker did not take the goodbye before the deadline");
    return readers_ended && goodbye ? StopResult::clean : StopResult::abandoned;
}

std::vector<std::string> Gateway::reader_names() const {
    std::lock_guard lock(mu_);
    std::vector<std::string> out;
    for (const auto& [name, e] : readers_) out.push_back(name);
    return out;
}

std::set<std::string> Gateway::allowed_commands() const { return command_policy().allowed_commands(); }

CommandPolicy Gateway::command_policy() const {
    std::lock_guard lock(mu_);
    return policy_;
}

std::shared_ptr<ReaderWorker> Gateway::reader(const std::string& name) const {
    std::lock_guard lock(mu_);
    auto it = readers_.find(name);
    return it == readers_.end() ? nullptr : it->second.worker;
}

nlohmann::ordered_json Gateway::gateway_status(bool online, const char* reason) const {
    std::lock_guard lock(mu_);
    return status_json(online, reason, readers_);
}

nlohmann::ordered_json Gateway::status_json(bool online, const char* reason, const std::map<std::string, Entry>& readers) const {
    nlohmann::ordered_json states = nlohmann::ordered_json::object();
    for (const auto& [name, e] : readers) states[name] = state_name(e.worker->snapshot(false).state);
    nlohmann::ordered_json j{{"gateway", config_.gateway_id},
                             {"state", online ? "online" : "offline"},
                             {"since", iso8601(started_.wall)},
                             {"library", uhf_version()},
                             {"readers", states}};
    // The will is written once, at the start: counts in it would be stale when it is read.
    if (queue_ && std::string(reason) != "connection lost") {
        j["queue"] = {{"depth", queue_->depth()},
                      {"max", config_.queue_max_events},
                      {"dropped", queue_->dropped()},
                      {"dropped_by_reader", queue_->dropped_by_key()},
                      {"rejected", queue_->rejected()},
                      {"rejected_by_reader", queue_->rejected_by_key()},
                      {"in_memory", queue_->in_memory()}};
    }
    if (!online) j["reason"] = reason;
    return j;
}

}  // namespace uhfd
