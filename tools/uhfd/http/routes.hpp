// The console's routes as a table, and who may call them, decided in one place before any
// handler runs:
//
//   1. the Host header names this gateway (the listen address, localhost or an [http]
//      allowed_hosts name), else 421: a page served from a name that merely resolves to this
//      address (DNS rebinding) reads nothing and drives nothing;
//   2. the route exists (404) and takes the method (405, with Allow);
//   3. a route that needs the token checks it before anything else (401, or 403 with writing
//      off), so a refusal says nothing about the request itself: a forbidden command and an
//      allowed one look the same to a caller without the token;
//   4. the handler.
//
// Patterns are civetweb's: "*" stands for one path segment, handed to the handler in order.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "http/server.hpp"

namespace uhfd::http {

using Args = std::vector<std::string>;

struct Route {
    const char* method;   // GET routes answer HEAD too
    const char* pattern;  // "/api/readers/*/settings"
    bool needs_token;
    // With needs_token: the requests this route lets through without it (a reading command).
    // Sees the request before any other check; must not block.
    std::function<bool(const Request&)> open_if;
    std::function<Reply(const Request&, const Args&)> handler;
};

struct Callers {
    std::string listen_host;                 // "127.0.0.1"; "0.0.0.0" accepts any address literal
    std::vector<std::string> allowed_hosts;  // lower case
    std::string token;                       // empty: nothing that needs it is accepted
};

// Whether a Host header (with or without its port) names this gateway.
bool host_allowed(const Callers& callers, const std::string& host_header);

class Router {
public:
    // `fallback` answers the paths no route's first segment claims (the page and its files).
    Router(Callers callers, std::vector<Route> routes, std::function<Reply(const Request&)> fallback);

    Reply dispatch(const Request& req) const;

private:
    const Callers callers_;
    const std::vector<Route> routes_;
    const std::function<Reply(const Request&)> fallback_;
};

}  // namespace uhfd::http
