#include "http/routes.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "http/auth.hpp"
#include "log.hpp"

namespace uhfd::http {

namespace {

std::vector<std::string> segments(const std::string& path) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t j = path.find('/', i);
        std::string s = path.substr(i, j == std::string::npos ? std::string::npos : j - i);
        if (!s.empty()) out.push_back(std::move(s));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return out;
}

bool match(const std::vector<std::string>& pattern, const std::vector<std::string>& path, Args& args) {
    if (pattern.size() != path.size()) return false;
    Args captured;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == "*") captured.push_back(path[i]);
        else if (pattern[i] != path[i]) return false;
    }
    args = std::move(captured);
    return true;
}

bool address_literal(const std::string& host) {
    in_addr a4{};
    in6_addr a6{};
    return ::inet_pton(AF_INET, host.c_str(), &a4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

// "Name:8080" -> "name"; "[::1]:8080" -> "::1".
std::string host_part(const std::string& header) {
    std::string h = header;
    if (!h.empty() && h.front() == '[') {
        const auto close = h.find(']');
        h = close == std::string::npos ? std::string() : h.substr(1, close - 1);
    } else if (const auto colon = h.rfind(':'); colon != std::string::npos) {
        h.resize(colon);
    }
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!h.empty() && h.back() == '.') h.pop_back();
    return h;
}

}  // namespace

bool host_allowed(const Callers& callers, const std::string& host_header) {
    const std::string host = host_part(host_header);
    if (host.empty()) return false;
    if (host == "localhost" || host == callers.listen_host) return true;
    // Rebinding needs a name; an address literal reached this address by being it.
    if (callers.listen_host == "0.0.0.0" && address_literal(host)) return true;
    return std::find(callers.allowed_hosts.begin(), callers.allowed_hosts.end(), host) != callers.allowed_hosts.end();
}

Router::Router(Callers callers, std::vector<Route> routes, std::function<Reply(const Request&)> fallback)
    : callers_(std::move(callers)), routes_(std::move(routes)), fallback_(std::move(fallback)) {}

Reply Router::dispatch(const Request& req) const {
    if (!host_allowed(callers_, req.header("Host"))) {
        log::debug("console: refused a request for host '" + req.header("Host") + "'");
        return Reply::error(421, "this gateway does not answer to that host name (see [http] allowed_hosts)");
    }
    const std::vector<std::string> path = segments(req.path);
    std::set<std::string> methods;
    bool claimed = false;
    for (const Route& r : routes_) {
        const std::vector<std::string> pattern = segments(r.pattern);
        claimed = claimed || (!path.empty() && path[0] == pattern[0]);
        Args args;
        if (!match(pattern, path, args)) continue;
        const std::string method = r.method;
        methods.insert(method);
        if (req.method != method && !(method == "GET" && req.method == "HEAD")) continue;
        if (r.needs_token && !(r.open_if && r.open_if(req))) {
            if (const Auth a = check_bearer(callers_.token, req.header("Authorization")); a != Auth::ok) {
                log::info("console: " + req.method + " " + req.path + " refused: no valid token");
                return auth_refusal(a);
            }
        }
        return r.handler(req, args);
    }
    if (!methods.empty()) {
        std::string allow;
        for (const std::string& m : methods) allow += (allow.empty() ? "" : ", ") + m;
        Reply r = Reply::error(405, "use " + allow);
        r.headers.emplace_back("Allow", allow);
        return r;
    }
    if (claimed) return Reply::error(404, "no API route " + req.path);
    return fallback_(req);
}

}  // namespace uhfd::http
