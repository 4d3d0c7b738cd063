// The console's routes (docs/gateway.md, "JSON API"):
//
//   GET  /                                   the page and its files
//   GET  /api/gateway                        gateway status, broker connection, queue
//   GET  /api/readers                        every reader
//   GET  /api/readers/{name}                 one reader
//   GET  /api/readers/{name}/tags            the tags in its field now
//   GET  /api/readers/{name}/settings        RF power, active antenna, work parameters (asks the reader)
//   PUT  /api/readers/{name}/settings        changes them (token)
//   POST /api/readers/{name}/command         any catalogue command (token beyond the reading ones)
//   GET  /api/commands                       the catalogue, with what each command needs
//   GET  /api/events?reader=NAME&trace=1     the event stream
//   GET  /metrics                            Prometheus text format
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "http/gateway_ref.hpp"
#include "http/hub.hpp"
#include "http/routes.hpp"
#include "http/server.hpp"

namespace uhfd::http {

class Api {
public:
    struct Options {
        std::string token;
        std::string listen_host = "127.0.0.1";
        std::vector<std::string> allowed_hosts;
        std::size_t max_streams = 16;
        std::chrono::milliseconds command_wait{30000};  // longest wait for a reader to run a job
    };

    Api(GatewayRef& gateway, Hub& hub, Options options);

    Reply handle(const Request& req);
    // Requests waiting for a reader give up at once.
    void stop() { stopping_ = true; }

private:
    std::vector<Route> routes();
    // Whether a command request runs without the token: a reading command this gateway allows.
    bool open_command(const Request& req) const;
    Reply command(const Request& req, const std::string& reader);
    Reply get_settings(const std::string& reader);
    Reply put_settings(const Request& req, const std::string& reader);
    Reply events(const Request& req);
    using Fill = std::function<void(Reply)>;
    // Hands the reader's worker to `submit`, which queues a job that calls `fill` with its reply,
    // and waits for it; an error reply when the reader is unknown or never got to it.
    Reply on_reader(const std::string& reader, const std::function<void(ReaderWorker&, Fill)>& submit);
    // 403 unless every one of `commands` may run on this gateway.
    std::optional<Reply> refuse_unless_allowed(const std::set<std::string>& commands);

    GatewayRef& gateway_;
    Hub& hub_;
    const Options options_;
    std::atomic<bool> stopping_{false};
    const Router router_;
};

// A JSON body's Content-Type; anything else is refused (415), so a cross-site form cannot post.
bool json_body(const Request& req);

}  // namespace uhfd::http
