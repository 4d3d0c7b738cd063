#include "http/api.hpp"

#include "http/assets.hpp"
#include "http/event_stream.hpp"
#include "http/metrics.hpp"
#include "http/views.hpp"

namespace uhfd::http {

namespace {

std::vector<std::string> segments(const std::string& path) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t j = path.find('/', i);
        const std::string s = path.substr(i, j == std::string::npos ? std::string::npos : j - i);
        if (!s.empty()) out.push_back(s);
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return out;
}

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
    r.headers.emplace_back("Cache-Control", "no-cache");
    return r;
}

}  // namespace

bool json_body(const Request& req) {
    const std::string type = req.header("Content-Type");
    return type.rfind("application/json", 0) == 0;
}

Api::Api(GatewayRef& gateway, Hub& hub, Options options) : gateway_(gateway), hub_(hub), options_(std::move(options)) {}

Reply Api::handle(const Request& req) {
    const std::vector<std::string> p = segments(req.path);
    if (p.empty() || (p[0] != "api" && p[0] != "metrics")) return asset(req);
    const bool get = req.method == "GET";
    if (p[0] == "metrics") {
        if (p.size() != 1) return Reply::error(404, "nothing at " + req.path);
        if (!get) return method_not_allowed("GET");
        const auto gw = gateway_.lease();
        if (!gw) return unavailable();
        Reply r;
        r.content_type = "text/plain; version=0.0.4; charset=utf-8";
        r.body = metrics_text(*gw, {hub_.clients(), hub_.overflows()});
        return r;
    }
    if (p.size() == 2 && p[1] == "gateway") {
        if (!get) return method_not_allowed("GET");
        const auto gw = gateway_.lease();
        return gw ? Reply::json(200, hub_.gateway_json(*gw)) : unavailable();
    }
    if (p.size() == 2 && p[1] == "commands") {
        if (!get) return method_not_allowed("GET");
        const auto gw = gateway_.lease();
        return gw ? Reply::json(200, catalogue_view(gw->allowed_commands())) : unavailable();
    }
    if (p.size() == 2 && p[1] == "events") {
        if (!get) return method_not_allowed("GET");
        return events(req);
    }
    if (p.size() == 2 && p[1] == "readers") {
        if (!get) return method_not_allowed("GET");
        const auto gw = gateway_.lease();
        return gw ? Reply::json(200, {{"gateway", gw->id()}, {"readers", readers_view(*gw, hub_.rates())}}) : unavailable();
    }
    if (p.size() >= 3 && p.size() <= 4 && p[1] == "readers") return reader_route(req, p[2], p.size() == 4 ? p[3] : "");
    return Reply::error(404, "no API route " + req.path);
}

Reply Api::reader_route(const Request& req, const std::string& name, const std::string& what) {
    const bool get = req.method == "GET";
    if (what.empty() || what == "tags") {
        if (!get) return method_not_allowed("GET");
        const auto gw = gateway_.lease();
        if (!gw) return unavailable();
        if (what.empty()) {
            const Json j = one_reader_view(*gw, name, hub_.rates(name));
            return j.is_null() ? no_reader(name) : Reply::json(200, j);
        }
        const auto w = gw->reader(name);
        return w ? Reply::json(200, tags_view(name, w->snapshot(true))) : no_reader(name);
    }
    if (what == "settings") {
        if (get) return get_settings(name);
        if (req.method == "PUT") return put_settings(req, name);
        return method_not_allowed("GET, PUT");
    }
    if (what == "command") {
        if (req.method != "POST") return method_not_allowed("POST");
        return command(req, name);
    }
    return Reply::error(404, "no API route " + req.path);
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
