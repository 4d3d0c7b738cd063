#include "http/console.hpp"

#include "command_request.hpp"
#include "log.hpp"

namespace uhfd::http {

namespace {

// Every stream holds a server thread for as long as it is open; requests get the rest.
constexpr int kRequestThreads = 16;
// A client that takes nothing for this long is dropped, and its thread freed.
constexpr int kClientTimeoutMs = 5000;

}  // namespace

Console::Console(Gateway& gateway, const Config& config)
    : gateway_(gateway),
      hub_(gateway_, config.gateway_id,
           ConsoleFacts{config.broker.uri, !config.http.token.empty(), 0, config.http.max_streams}),
      api_(gateway_, hub_,
           Api::Options{config.http.token, config.http.host, config.http.allowed_hosts, static_cast<std::size_t>(config.http.max_streams)}) {
    Server::Options o;
    o.host = config.http.host;
    o.port = config.http.port;
    o.threads = config.http.max_streams + kRequestThreads;
    o.request_timeout_ms = kClientTimeoutMs;
    o.max_body = kMaxRequestBytes;
    hub_.start();
    try {
        server_ = std::make_unique<Server>(o, [this](const Request& r) { return api_.handle(r); });
    } catch (...) {
        hub_.stop();
        throw;
    }
    if (o.host.rfind("127.", 0) != 0)
        log::warning("the console listens on " + o.host + ": anyone who reaches it can read, and the token crosses the network "
                     "unencrypted (put a TLS proxy in front)");
    if (config.http.token.empty()) log::info("the console has no token: it only reads");
}

Console::~Console() {
    begin_stop();
    finish_stop();
}

void Console::begin_stop() {
    if (stopping_) return;
    stopping_ = true;
    api_.stop();
    hub_.stop();
    gateway_.detach();
    stopper_ = std::thread([this] { server_->stop(); });
}

void Console::finish_stop() {
    if (stopper_.joinable()) stopper_.join();
}

}  // namespace uhfd::http
