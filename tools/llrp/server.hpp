// An LLRP reader's TCP face: one listener on host:port, one client at a time, on a thread of its
// own. The server itself answers what belongs to the connection:
//   - on accept, READER_EVENT_NOTIFICATION with ConnectionAttemptEvent (Success); a client that
//     connects while another is connected gets ConnectionAttemptEvent
//     (Failed_A_Client_Initiated_Connection_Already_Exists) and is closed, the first untouched;
//   - CLOSE_CONNECTION: CLOSE_CONNECTION_RESPONSE (M_Success), then the connection is closed;
//   - KEEPALIVE every keepalive period (off until set_keepalive()), KEEPALIVE_ACK taken; a
//     client that has not acknowledged a KEEPALIVE one period after it was sent is dropped;
//   - a message that does not decode: the codec's error_reply() (none to a malformed
//     ERROR_MESSAGE), which answers an LLRP 1.1 client's GET_SUPPORTED_VERSION with
//     M_UnsupportedVersion; a stream whose framing breaks: that ERROR_MESSAGE, then close;
//   - everything else goes to the Handler; what it does not take is answered M_UnsupportedMessage.
// Bounds: at most `max_queued` bytes wait for a client (past that it is dropped), a message not
// wholly written `write_timeout` after it was queued drops it, and stop() returns at once
// whatever the client does (it only waits for a Handler call in progress).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "llrp/codec.hpp"
#include "llrp/handler.hpp"

namespace uhf::llrp {

struct ServerOptions {
  std::string host = "127.0.0.1";  // an IPv4 or IPv6 literal or a name; loopback unless given
  std::uint16_t port = llrp::port; // 0: any free port (port() says which)
  Limits limits;
  std::size_t max_queued = std::size_t{1} << 20;
  std::chrono::milliseconds write_timeout{5000};
  int send_buffer = 0;  // SO_SNDBUF for accepted clients; 0 leaves the kernel's
};

// What the server has seen; read with Server::stats() from any thread.
struct ServerStats {
  std::uint64_t accepted = 0;          // clients that became the connection
  std::uint64_t refused = 0;           // clients turned away while one was connected
  std::uint64_t dropped_overflow = 0;  // the outgoing queue passed max_queued
  std::uint64_t dropped_stalled = 0;   // a message waited write_timeout to be written
  std::uint64_t dropped_keepalive = 0; // a KEEPALIVE went unacknowledged for a period
  std::size_t peak_queued = 0;         // most bytes ever waiting for a client
  std::string failure;                 // what ended the server's thread, if anything did
};

class Server {
 public:
  Server(ServerOptions options, Handler &handler);
  ~Server();  // stop()
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Binds, listens and starts the thread; false with the reason in `error` otherwise.
  bool start(std::string &error);
  // Closes the listener and any client and joins the thread. Any thread but the server's own
  // (so not from a Handler callback); idempotent.
  void stop();

  std::uint16_t port() const { return bound_port_; }
  bool connected() const { return connected_.load(); }
  ServerStats stats() const;

  // The keepalive period (KeepaliveSpec's PeriodicTriggerValue); zero turns keepalives off.
  // Any thread; takes effect from now.
  void set_keepalive(std::chrono::milliseconds period);

  // Queues a message the reader sends on its own (a report, an event) to the connected client;
  // the server gives it a fresh message ID. Any thread, never blocks on the client. False when
  // no client is connected or the message does not encode.
  bool send_event(Message message);

 private:
  struct Session;
  void run();
  void loop();
  void accept_client();
  void refuse(int fd);
  void serve_input(Session &session);
  void dispatch(Session &session, const Message &request);
  bool send(Session &session, Message message);
  void take_events(Session &session);
  void keepalive(Session &session, std::chrono::steady_clock::time_point now);
  void end_session();
  std::uint32_t next_id() { return next_id_++; }

  ServerOptions options_;
  Handler &handler_;
  int listener_ = -1;
  int wake_ = -1;  // eventfd: stop(), send_event() and set_keepalive() wake the loop
  std::uint16_t bound_port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> connected_{false};
  std::atomic<std::int64_t> keepalive_ms_{0};
  std::uint32_t next_id_ = 1;  // server thread only
  std::unique_ptr<Session> session_;  // server thread only
  // Out of descriptors: the listener stays readable with nothing accepted, so it is left out of
  // the poll until then rather than spun on (server thread only).
  std::chrono::steady_clock::time_point accept_paused_until_{};

  mutable std::mutex mutex_;
  std::deque<std::vector<std::uint8_t>> events_;  // encoded by send_event(), IDs set on sending
  std::size_t events_bytes_ = 0;
  bool events_overflow_ = false;
  ServerStats stats_;
};

}  // namespace uhf::llrp
