#include "llrp_face.hpp"

#include <algorithm>

#include "llrp/catalogue.hpp"
#include "log.hpp"

namespace uhfd {

namespace msg = uhf::llrp::msg;
namespace param = uhf::llrp::param;
using uhf::llrp::Engine;
using uhf::llrp::Error;
using uhf::llrp::StatusCode;

namespace {

uhf::llrp::Time utc_now() {
    return std::chrono::duration_cast<uhf::llrp::Time>(std::chrono::system_clock::now().time_since_epoch());
}

uhf::llrp::ServerOptions server_options(const LlrpListen& listen) {
    uhf::llrp::ServerOptions o;
    o.host = listen.host;
    o.port = static_cast<std::uint16_t>(listen.port);
    return o;
}

bool has_family(const ReaderConfig& c, inventory::Family f) {
    return std::find(c.families.begin(), c.families.end(), f) != c.families.end();
}

uhf::llrp::TagFamily tag_family(inventory::Family f) {
    switch (f) {
        case inventory::Family::gb: return uhf::llrp::TagFamily::gb;
        case inventory::Family::gjb: return uhf::llrp::TagFamily::gjb;
        default: return uhf::llrp::TagFamily::epc;
    }
}

Error device_error(const std::string& why) {
    Error e;
    e.code = StatusCode::R_DeviceError;
    e.description = "the reader: " + why;
    return e;
}

}  // namespace

LlrpFace::LlrpFace(std::shared_ptr<ReaderWorker> worker, const LlrpListen& listen)
    : worker_(std::move(worker)),
      name_(worker_->config().name),
      commands_(worker_),
      access_(worker_),
      server_(server_options(listen), *this) {}

LlrpFace::~LlrpFace() { stop(); }

bool LlrpFace::start(std::string& error) {
    if (started_) {
        error = "already started";
        return false;
    }
    if (!server_.start(error)) return false;
    started_ = true;
    timer_ = std::thread([this] { run_timer(); });
    round_sub_ = worker_->subscribe_rounds([this](const ReaderWorker::RoundSeen& seen) { on_round(seen); });
    event_sub_ = worker_->subscribe([this](const ReaderEvent& e) { on_event(e); });
    return true;
}

void LlrpFace::stop() {
    if (!started_) return;
    started_ = false;
    worker_->unsubscribe_rounds(round_sub_);
    worker_->unsubscribe(event_sub_);
    commands_.cancel();  // a handler waiting for the reader returns now, so the server's stop does not wait
    server_.stop();
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    timer_cv_.notify_all();
    if (timer_.joinable()) timer_.join();
}

std::shared_ptr<Engine> LlrpFace::engine() const {
    std::lock_guard lock(mu_);
    return engine_;
}

// Made once, from the reader's facts, so the engine knows its antennas; while the reader cannot
// be asked (still linking, offline) there is none, and requests get R_DeviceError.
std::shared_ptr<Engine> LlrpFace::make_engine(std::string& why) {
    if (auto e = engine()) return e;
    ReaderFacts facts;
    why = commands_.read_facts(facts);
    if (!why.empty()) return nullptr;
    uhf::llrp::EngineOptions o;
    o.antennas = static_cast<std::uint16_t>(facts.antennas);
    o.gb_tags = has_family(worker_->config(), inventory::Family::gb);
    o.gjb_tags = has_family(worker_->config(), inventory::Family::gjb);
    o.can_block_write = true;
    std::shared_ptr<Engine> e;
    {
        std::lock_guard lock(mu_);
        if (engine_) return engine_;
        engine_ = std::make_shared<Engine>(o, static_cast<uhf::llrp::Outbox&>(*this), &access_);
        found_ = ReaderChange{facts.power_dbm, facts.active_antenna};
        e = engine_;
    }
    if (server_.connected()) e->client_connected(utc_now());
    return e;
}

void LlrpFace::connected() {
    std::string why;
    if (auto e = engine()) e->client_connected(utc_now());
    else if (!make_engine(why)) log::info("reader " + name_ + ": LLRP: " + why);
    wake_timer();
}

void LlrpFace::disconnected() {
    if (auto e = engine()) e->client_disconnected(utc_now());
    wake_timer();
}

void LlrpFace::send(Message message) { server_.send_event(std::move(message)); }

uhf::llrp::Answer LlrpFace::handle(const Message& request) {
    const bool config = request.type == msg::GET_READER_CAPABILITIES || request.type == msg::GET_READER_CONFIG ||
                        request.type == msg::SET_READER_CONFIG;
    if (!config && !Engine::owns(request.type)) return std::nullopt;
    std::string why;
    std::shared_ptr<Engine> e = make_engine(why);
    // ENABLE_EVENTS_AND_REPORTS has no response: taken, whatever becomes of it.
    if (request.type == msg::ENABLE_EVENTS_AND_REPORTS) {
        if (e) {
            e->handle(request, utc_now());
            wake_timer();
        }
        return uhf::llrp::Answer::taken_without_reply();
    }
    if (!e) return status_response(request, device_error(why));
    std::optional<Message> answer;
    if (Engine::owns(request.type)) {
        answer = e->handle(request, utc_now());
        if (answer) answer->id = request.id;
    } else {
        answer = reader_config(request, *e);
    }
    wake_timer();
    return answer;
}

// The three messages that need the reader's values: read between rounds, then answered; a
// reader that cannot be asked makes the answer R_DeviceError.
Message LlrpFace::reader_config(const Message& request, Engine& e) {
    ReaderFacts facts;
    if (const std::string why = commands_.read_facts(facts); !why.empty()) return status_response(request, device_error(why));
    if (request.type == msg::GET_READER_CAPABILITIES) {
        Message r = status_response(request, {});
        for (Parameter& p : capabilities(facts, e.options(), static_cast<int>(uhf::llrp::number(request, "RequestedData").value_or(0))))
            r.params.push_back(std::move(p));
        return r;
    }
    if (request.type == msg::GET_READER_CONFIG) {
        FaceSettings settings;
        {
            std::lock_guard lock(mu_);
            settings = settings_;
        }
        return get_reader_config(request, facts, e, settings);
    }
    ConfigPlan plan;
    Error error = plan_reader_config(request, facts, plan);
    if (error.code == StatusCode::M_Success) error = apply(plan, e);
    return status_response(request, error);
}

// In the standard's order: the reset first, then each setting; the engine refuses a report or
// event setting it cannot keep before anything of it changes, and the reader's changes come last.
Error LlrpFace::apply(const ConfigPlan& plan, Engine& e) {
    const auto now = utc_now();
    ReaderChange reader = plan.reader;
    if (plan.reset) {
        e.factory_reset(now);
        server_.set_keepalive(std::chrono::milliseconds(0));
        std::lock_guard lock(mu_);
        settings_.keepalive_ms = 0;
        // The reader's power and antenna as the face found them: what LLRP changed, undone;
        // the reader's other settings belong to its other users.
        if (found_) {
            if (!reader.power_dbm) reader.power_dbm = found_->power_dbm;
            if (!reader.active_antenna) reader.active_antenna = found_->active_antenna;
        }
    }
    if (plan.events)
        if (Error err = e.set_event_notifications(*plan.events); err.code != StatusCode::M_Success) return err;
    if (plan.report)
        if (Error err = e.set_report_defaults(*plan.report); err.code != StatusCode::M_Success) return err;
    if (plan.access_report)
        if (Error err = e.set_access_report_defaults(*plan.access_report); err.code != StatusCode::M_Success) return err;
    if (plan.hold) e.set_hold_events_and_reports(*plan.hold);
    if (plan.keepalive_ms) {
        server_.set_keepalive(std::chrono::milliseconds(*plan.keepalive_ms));
        std::lock_guard lock(mu_);
        settings_.keepalive_ms = *plan.keepalive_ms;
    }
    {
        std::lock_guard lock(mu_);
        ++settings_.changes;
    }
    if (reader.power_dbm || reader.active_antenna)
        if (const std::string why = commands_.apply(reader); !why.empty()) return device_error(why);
    return {};
}

void LlrpFace::on_round(const ReaderWorker::RoundSeen& seen) {
    std::shared_ptr<Engine> e = engine();
    if (!e) return;
    uhf::llrp::InventoryRound round;
    round.time = std::chrono::duration_cast<uhf::llrp::Time>(seen.time.wall.time_since_epoch());
    round.failed = seen.failed;
    round.reads.reserve(seen.reads.size());
    for (const inventory::TagRead& t : seen.reads) {
        uhf::llrp::RoundRead r;
        r.family = tag_family(t.family);
        r.id = t.tag.id;
        if (t.tag.antenna) r.antenna = static_cast<std::uint16_t>(*t.tag.antenna + 1);
        r.rssi = t.tag.rssi;
        r.count = static_cast<std::uint32_t>(std::max(t.tag.reads, 1));
        round.reads.push_back(std::move(r));
    }
    e->on_round(round);
    wake_timer();
}

// The reader going offline (and coming back) is a ReaderExceptionEvent; the client stays.
void LlrpFace::on_event(const ReaderEvent& event) {
    const auto* changed = std::get_if<StateChanged>(&event);
    if (!changed) return;
    const bool online = changed->snapshot.state == LinkState::online;
    if (online == was_online_ || changed->snapshot.state == LinkState::stopped) return;
    was_online_ = online;
    std::shared_ptr<Engine> e = engine();
    if (!e) return;
    Parameter exception = uhf::llrp::make_parameter(param::ReaderExceptionEvent);
    uhf::llrp::set(exception, "Message",
                   online ? std::string("reader online again") : "reader offline: " + changed->snapshot.reason);
    e->reader_event(uhf::llrp::NotificationEvent::reader_exception, std::move(exception), utc_now());
}

void LlrpFace::wake_timer() {
    {
        std::lock_guard lock(mu_);
        timer_poked_ = true;
    }
    timer_cv_.notify_all();
}

// Runs the engine's timers on the UTC clock it keeps.
void LlrpFace::run_timer() {
    std::unique_lock lock(mu_);
    while (!stopping_) {
        std::shared_ptr<Engine> e = engine_;
        lock.unlock();
        std::optional<uhf::llrp::Time> due;
        if (e) {
            e->tick(utc_now());
            due = e->next_deadline();
        }
        lock.lock();
        if (timer_poked_ || stopping_) {
            timer_poked_ = false;
            continue;
        }
        auto pending = [&] { return timer_poked_ || stopping_; };
        if (!due) {
            timer_cv_.wait(lock, pending);
        } else {
            const auto at = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(*due));
            timer_cv_.wait_until(lock, at, pending);
        }
        timer_poked_ = false;
    }
}

}  // namespace uhfd
