// The routes that reach a reader's link: commands and settings. Each runs as one job between the
// reader's rounds; the request's thread waits for it, holding no lock.
#include "command_policy.hpp"
#include "command_request.hpp"
#include "event_json.hpp"
#include "http/api.hpp"
#include "http/settings.hpp"
#include "log.hpp"

namespace uhfd::http {

namespace {

Reply too_large() { return Reply::error(413, "a request body carries at most " + std::to_string(kMaxRequestBytes) + " bytes"); }
Reply not_json() { return Reply::error(415, "send the body as application/json"); }

// The reader could not take the job now (busy, offline, restarting): a client may try again.
Reply retry_later(Reply r) {
    r.headers.emplace_back("Retry-After", "1");
    return r;
}

Reply stopping() { return Reply::error(503, "the gateway is stopping"); }

}  // namespace

std::optional<Reply> Api::refuse_unless_allowed(const std::set<std::string>& commands) {
    const auto gw = gateway_.lease();
    if (!gw) return stopping();
    const CommandPolicy policy = gw->command_policy();
    for (const std::string& c : commands)
        if (const auto d = policy.decide(c); d.verdict != CommandPolicy::Verdict::allowed) return Reply::error(403, d.refusal);
    return std::nullopt;
}

Reply Api::on_reader(const std::string& reader, const std::function<void(ReaderWorker&, Fill)>& submit) {
    std::shared_ptr<ReaderWorker> worker;
    {
        const auto gw = gateway_.lease();
        if (!gw) return stopping();
        worker = gw->reader(reader);
    }
    if (!worker) return Reply::error(404, "no reader '" + reader + "' on this gateway");
    struct Slot {
        std::mutex mu;
        std::condition_variable cv;
        std::optional<Reply> reply;
    };
    // Shared with the job: it may finish after this request gave up waiting.
    auto slot = std::make_shared<Slot>();
    submit(*worker, [slot](Reply r) {
        std::lock_guard lock(slot->mu);
        slot->reply = std::move(r);
        slot->cv.notify_all();
    });
    const auto deadline = std::chrono::steady_clock::now() + options_.command_wait;
    std::unique_lock lock(slot->mu);
    while (!slot->reply && !stopping_ && std::chrono::steady_clock::now() < deadline)
        slot->cv.wait_for(lock, std::chrono::milliseconds(100));
    if (slot->reply) return std::move(*slot->reply);
    if (stopping_) return stopping();
    return Reply::error(504, "the reader did not get to it within " + std::to_string(options_.command_wait.count() / 1000) +
                                 " s; it may still run");
}

bool Api::open_command(const Request& req) const {
    if (req.body_too_large || !json_body(req)) return false;
    const Json body = Json::parse(req.body, nullptr, false);
    if (!body.is_object() || !body.contains("command") || !body["command"].is_string()) return false;
    const std::string name = body["command"].get<std::string>();
    if (CommandPolicy::needs_token(name)) return false;
    const auto gw = gateway_.lease();
    return gw && gw->command_policy().allowed(name);
}

Reply Api::command(const Request& req, const std::string& reader) {
    if (req.body_too_large) return too_large();
    if (!json_body(req)) return not_json();
    std::optional<CommandPolicy> policy;
    std::string gateway;
    {
        const auto gw = gateway_.lease();
        if (!gw) return stopping();
        if (!gw->reader(reader)) return Reply::error(404, "no reader '" + reader + "' on this gateway");
        policy = gw->command_policy();
        gateway = gw->id();
    }
    uhfd::Request parsed = parse_request(req.body, *policy);
    if (policy->decide(parsed.command).verdict == CommandPolicy::Verdict::forbidden)
        return Reply::json(403, reply_json(gateway, reader, parsed, nullptr));
    if (!parsed.refusal.empty()) return Reply::json(400, reply_json(gateway, reader, parsed, nullptr));
    log::info("console: command " + parsed.command + " for reader " + reader);
    auto call = std::make_shared<PreparedCall>(std::move(parsed.call));
    parsed.call = {};
    auto head = std::make_shared<const uhfd::Request>(std::move(parsed));
    return on_reader(reader, [call, head, gateway, reader](ReaderWorker& w, Fill fill) {
        w.submit(std::move(*call), [head, gateway, reader, fill](CommandResult r) {
            if (r.refusal.empty()) return fill(Reply::json(200, reply_json(gateway, reader, *head, &r)));
            fill(retry_later(Reply::json(503, reply_json(gateway, reader, *head, &r))));
        });
    });
}

Reply Api::get_settings(const std::string& reader) {
    if (auto refused = refuse_unless_allowed({"Get_Work_Param", "Get_RF_Power"})) return *refused;
    return on_reader(reader, [reader](ReaderWorker& w, Fill fill) {
        w.submit_task(
            [reader, fill](uhf_link* link, int addr) {
                SettingsOutcome o = read_settings(link, addr);
                if (!o.ok) return fill(Reply::error(502, o.error));
                o.settings["reader"] = reader;
                fill(Reply::json(200, o.settings));
            },
            [fill](const std::string& why) { fill(retry_later(Reply::error(503, why))); });
    });
}

Reply Api::put_settings(const Request& req, const std::string& reader) {
    if (req.body_too_large) return too_large();
    if (!json_body(req)) return not_json();
    SettingsChange change;
    if (const std::string why = parse_settings_change(req.body, change); !why.empty()) return Reply::error(400, why);
    std::set<std::string> needed = change.commands();
    needed.insert({"Get_Work_Param", "Get_RF_Power"});
    if (auto refused = refuse_unless_allowed(needed)) return *refused;
    log::info("console: settings of reader " + reader + ":" + (change.rf_power ? " rf_power " + std::to_string(*change.rf_power) : "") +
              (change.active_antenna ? " active_antenna " + std::to_string(*change.active_antenna) : "") +
              (change.work_parameters ? " work_parameters " + hex(*change.work_parameters) : ""));
    return on_reader(reader, [reader, change](ReaderWorker& w, Fill fill) {
        w.submit_task(
            [reader, change, fill](uhf_link* link, int addr) {
                SettingsOutcome o = change_settings(link, addr, change);
                if (!o.ok) return fill(Reply::error(502, o.error));
                o.settings["reader"] = reader;
                o.settings["written"] = o.written;
                fill(Reply::json(200, o.settings));
            },
            [fill](const std::string& why) { fill(retry_later(Reply::error(503, why))); });
    });
}

}  // namespace uhfd::http
