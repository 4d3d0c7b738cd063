// The web console inside uhfd: the HTTP server, the JSON API and event stream under the page, and
// the hub that feeds the streams from the readers. Off unless the configuration has [http].
#pragma once

#include <memory>
#include <thread>

#include "config.hpp"
#include "gateway.hpp"
#include "http/api.hpp"
#include "http/gateway_ref.hpp"
#include "http/hub.hpp"
#include "http/server.hpp"

namespace uhfd::http {

class Console {
public:
    // Listens at once; throws std::runtime_error when the address cannot be had.
    Console(Gateway& gateway, const Config& config);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    int port() const { return server_->port(); }

    // Ends the streams and the waits, and lets go of the gateway, which may then stop; the HTTP
    // server winds down meanwhile, so the two stops overlap rather than add up.
    void begin_stop();
    // Waits for the HTTP server's threads to end.
    void finish_stop();

private:
    GatewayRef gateway_;
    Hub hub_;
    Api api_;
    std::unique_ptr<Server> server_;
    std::thread stopper_;
    bool stopping_ = false;
};

}  // namespace uhfd::http
