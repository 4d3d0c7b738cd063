#include "http/api.hpp"

#include "http/assets.hpp"
#include "http/event_stream.hpp"
#include "http/metrics.hpp"
#include "http/views.hpp"

namespace uhfd::http {

namespace {

Reply method_not_allowed(const char* allow) {
    Reply r = Reply::error(405, std::string("use ") + allow);
    r.headers.emplace_back("Allow", allow);
    return r;
}

Reply unavailable() { return Reply::error(503, "the gateway is stopping"); }

Reply no_reader(const std::string& name) { return Reply::error(404, "no reader '" + name + "' on this gateway"); }

Reply asset(const Request& req) {
    const Asset* a = find_asset(req.path);
    if (!a) return Reply::error(404, "nothing at " + req.path);
    if (req.method != "GET" && req.method != "HEAD") return method_not_allowed("GET");
    Reply r;
    r.content_type = std::string(a->content_type);
    r.body = std::string(a->body);
    // The page itself is never stored: a browser keeps a stored page, frozen, in its back-forward
    // cache after the user leaves it, and with it the shared worker's event stream, open and
    // unread, until the cache lets go. Its scripts and styles are revalidated.
    const bool page = r.content_type.rfind("text/html", 0) == 0;
    r.headers.emplace_back("Cache-Control", page ? "no-store" : "no-cache");
    return r;
}

}  // namespace

bool json_body(const Request& req) {
    const std::string type = req.header("Content-Type");
    return type.rfind("application/json", 0) == 0;
}

Api::Api(GatewayRef& gateway, Hub& hub, Options options)
    : gateway_(gateway),
      hub_(hub),
      options_(std::move(options)),
      router_(Callers{options_.listen_host, options_.allowed_hosts, options_.token}, routes(), asset) {}

Reply Api::handle(const Request& req) { return router_.dispatch(req); }

std::vector<Route> Api::routes() {
    // A read of the leased gateway; a stopping gateway answers 503.
    auto leased = [this](auto view) {
        return [this, view](const Request&, const Args& a) {
            const auto gw = gateway_.lease();
            return gw ? view(*gw, a) : unavailable();
        };
    };
    return {
        {"GET", "/api/gateway", false, {}, leased([this](const Gateway& gw, const Args&) { return Reply::json(200, hub_.gateway_json(gw)); })},
        {"GET", "/api/commands", false, {},
         leased([](const Gateway& gw, const Args&) { return Reply::json(200, catalogue_view(gw.command_policy())); })},
        {"GET", "/api/events", false, {}, [this](const Request& r, const Args&) { return events(r); }},
        {"GET", "/api/readers", false, {}, leased([this](const Gateway& gw, const Args&) {
             return Reply::json(200, {{"gateway", gw.id()}, {"readers", readers_view(gw, hub_.rates())}});
         })},
        {"GET", "/api/readers/*", false, {}, leased([this](const Gateway& gw, const Args& a) {
             const Json j = one_reader_view(gw, a[0], hub_.rates(a[0]));
             return j.is_null() ? no_reader(a[0]) : Reply::json(200, j);
         })},
        {"GET", "/api/readers/*/tags", false, {}, leased([](const Gateway& gw, const Args& a) {
             const auto w = gw.reader(a[0]);
             return w ? Reply::json(200, tags_view(a[0], w->snapshot(true))) : no_reader(a[0]);
         })},
        {"GET", "/api/readers/*/settings", false, {}, [this](const Request&, const Args& a) { return get_settings(a[0]); }},
        {"PUT", "/api/readers/*/settings", true, {}, [this](const Request& r, const Args& a) { return put_settings(r, a[0]); }},
        {"POST", "/api/readers/*/command", true, [this](const Request& r) { return open_command(r); },
         [this](const Request& r, const Args& a) { return command(r, a[0]); }},
        {"GET", "/metrics", false, {}, leased([this](const Gateway& gw, const Args&) {
             Reply r;
             r.content_type = "text/plain; version=0.0.4; charset=utf-8";
             r.body = metrics_text(gw, {hub_.clients(), hub_.overflows(), hub_.drops(), hub_.failures()});
             return r;
         })},
    };
}

Reply Api::events(const Request& req) {
    const std::string reader = req.param("reader").value_or("");
    const bool trace = req.param("trace").value_or("") == "1";
    {
        const auto gw = gateway_.lease();
        if (!gw) return unavailable();
        if (!reader.empty() && !gw->reader(reader)) return no_reader(reader);
    }
    if (trace && reader.empty()) return Reply::error(400, "trace=1 needs a reader=NAME to trace");
    auto mailbox = hub_.join(reader, trace, options_.max_streams);
    if (!mailbox) {
        Reply r = Reply::error(503, "too many event streams open (" + std::to_string(options_.max_streams) + "); try again later");
        r.headers.emplace_back("Retry-After", "5");
        return r;
    }
    Reply r;
    r.stream = [this, mailbox](StreamWriter& out) { run_event_stream(hub_, gateway_, mailbox, out); };
    return r;
}

}  // namespace uhfd::http
