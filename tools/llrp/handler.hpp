// What the LLRP connection layer asks of whoever answers a client's requests (uhfd's reader,
// later): the server owns the socket, the framing, keepalives and the connection messages, and
// hands every other message that decodes to a Handler.
#pragma once

#include <optional>

#include "llrp/value.hpp"

namespace uhf::llrp {

class Handler {
 public:
  virtual ~Handler() = default;

  // A decoded request from the connected client, in arrival order: every message but
  // CLOSE_CONNECTION and KEEPALIVE_ACK, which the server answers itself. Returns the answer
  // (its ID is set to the request's), or nothing when the handler does not take the message:
  // the server then answers M_UnsupportedMessage in the response's LLRPStatus, or an
  // ERROR_MESSAGE where the message has no response.
  // Called on the server's thread, never concurrently with itself. It may block briefly (a
  // reader command between rounds), but while it runs nothing else on the connection moves:
  // no keepalive is sent and stop() waits for it to return.
  virtual std::optional<Message> handle(const Message &request) = 0;

  // A client connected (after its ConnectionAttemptEvent was queued) or its connection ended
  // (closed by either side, dropped, or the server stopped). Same thread and rules as handle().
  virtual void connected() {}
  virtual void disconnected() {}
};

}  // namespace uhf::llrp
