// GET /api/events: a text/event-stream of the gateway for one client. It opens with a `hello`
// (the whole picture: gateway, readers, and the followed reader's tags), then carries `tag`
// (arrived / departed), `state`, `status` (each second), `tags` (the followed reader's, each
// second) and `frame` (its trace, when asked for). A client that falls behind is sent a fresh
// `hello` rather than everything it missed. Runs on the client's own HTTP thread.
#pragma once

#include <memory>

#include "http/hub.hpp"
#include "http/server.hpp"

namespace uhfd::http {

// Writes until the client goes, a write times out or the hub stops; leaves the hub itself.
void run_event_stream(Hub& hub, GatewayRef& gateway, const std::shared_ptr<Mailbox>& mailbox, StreamWriter& out);

// The `hello` message for a client following `reader` (may be "").
std::string hello_message(Hub& hub, const Gateway& gw, const std::string& reader, bool trace);

}  // namespace uhfd::http
