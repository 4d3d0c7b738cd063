// What the LLRP connection layer asks of whoever answers a client's requests (uhfd's reader,
// later): the server owns the socket, the framing, keepalives and the connection messages, and
// hands every other message that decodes to a Handler.
#pragma once

#include <optional>
#include <utility>

#include "llrp/value.hpp"

namespace uhf::llrp {

// What a handler makes of a request: a reply to send, nothing to send (a message LLRP gives
// no response, such as ENABLE_EVENTS_AND_REPORTS, taken), or not taken at all.
class Answer {
 public:
  Answer(Message reply) : reply_(std::move(reply)), taken_(true) {}
  // An empty optional is a message not taken, as std::nullopt is.
  Answer(std::optional<Message> reply) : reply_(std::move(reply)), taken_(reply_.has_value()) {}
  Answer(std::nullopt_t) {}
  static Answer taken_without_reply() {
    Answer a(std::nullopt);
    a.taken_ = true;
    return a;
  }

  bool taken() const { return taken_; }
  std::optional<Message> &reply() { return reply_; }

 private:
  std::optional<Message> reply_;
  bool taken_ = false;
};

class Handler {
 public:
  virtual ~Handler() = default;

  // A decoded request from the connected client, in arrival order: every message but
  // CLOSE_CONNECTION and KEEPALIVE_ACK, which the server answers itself. Returns the reply
  // (the server sets its ID to the request's), a message taken without a reply, or one not
  // taken: the server then answers M_UnsupportedMessage in the response's LLRPStatus, or an
  // ERROR_MESSAGE where the message has no response.
  // Called on the server's thread, never concurrently with itself. It may block briefly (a
  // reader command between rounds), but while it runs nothing else on the connection moves:
  // no keepalive is sent and stop() waits for it to return.
  virtual Answer handle(const Message &request) = 0;

  // A client connected (after its ConnectionAttemptEvent was queued) or its connection ended
  // (closed by either side, dropped, or the server stopped). Same thread and rules as handle().
  virtual void connected() {}
  virtual void disconnected() {}
};

}  // namespace uhf::llrp
