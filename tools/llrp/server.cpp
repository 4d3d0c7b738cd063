// The listener's thread: one poll loop over the listener, the client and a wake-up eventfd.
#include "llrp/server.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>

#include "llrp/connection.hpp"
#include "llrp/replies.hpp"

namespace uhf::llrp {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

}  // namespace

struct Server::Session {
  enum class State { open, closing };  // closing: the last reply is being written, input ignored
  Session(int fd, const ServerOptions &o) : conn(fd, o.limits, o.max_queued, o.write_timeout) {}
  Connection conn;
  State state = State::open;
  Clock::time_point next_keepalive{};        // zero: none scheduled
  std::optional<Clock::time_point> unacked;  // when the oldest unacknowledged KEEPALIVE went out
};

Server::Server(ServerOptions options, Handler &handler)
    : options_(std::move(options)), handler_(handler) {}

Server::~Server() { stop(); }

bool Server::start(std::string &error) {
  if (thread_.joinable()) {
    error = "already started";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *found = nullptr;
  std::string service = std::to_string(options_.port);
  int rc = getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    error = options_.host + ": " + gai_strerror(rc);
    return false;
  }
  error.clear();
  // A name's first address this host can open a socket for; its failure to bind is the answer
  // (another address of the name would put the reader somewhere it was not asked to be).
  for (addrinfo *a = found; a; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = options_.host + ": " + std::strerror(errno);
      continue;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4) == 0) {
      listener_ = fd;
    } else {
      error = options_.host + " port " + service + ": " + std::strerror(errno);
      close(fd);
    }
    break;
  }
  freeaddrinfo(found);
  if (listener_ < 0) return false;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr *>(&bound), &len);
  bound_port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(bound).sin6_port
                                                  : reinterpret_cast<sockaddr_in &>(bound).sin_port);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    error = std::string("eventfd: ") + std::strerror(errno);
    close(listener_);
    listener_ = -1;
    return false;
  }
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void Server::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
  thread_.join();
  close(listener_);
  close(wake_);
  listener_ = wake_ = -1;
}

ServerStats Server::stats() const {
  std::lock_guard lock(mutex_);
  return stats_;
}

void Server::set_keepalive(milliseconds period) {
  keepalive_ms_ = std::max<std::int64_t>(0, period.count());
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
}

bool Server::send_event(Message message) {
  if (!connected_) return false;
  Encoded encoded = encode(message);
  if (!encoded.ok()) return false;
  {
    std::lock_guard lock(mutex_);
    if (events_bytes_ + encoded.bytes.size() > options_.max_queued) {
      events_overflow_ = true;  // the client is not keeping up: the loop drops it
      return false;
    }
    events_bytes_ += encoded.bytes.size();
    events_.push_back(std::move(encoded.bytes));
  }
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_, &one, sizeof one);
  return true;
}

void Server::run() {
  try {
    loop();
  } catch (const std::exception &e) {
    std::lock_guard lock(mutex_);
    stats_.failure = e.what();
  } catch (...) {
    std::lock_guard lock(mutex_);
    stats_.failure = "unknown exception";
  }
  try {
    end_session();
  } catch (...) {
  }
}

void Server::loop() {
  while (!stopping_) {
    Clock::time_point now = Clock::now();
    Clock::time_point wake_at = Clock::time_point::max();
    pollfd fds[3] = {{wake_, POLLIN, 0}, {listener_, POLLIN, 0}, {-1, 0, 0}};
    if (now < accept_paused_until_) {
      fds[1].fd = -1;
      wake_at = accept_paused_until_;
    }
    if (session_) {
      Connection &conn = session_->conn;
      fds[2].fd = conn.fd();
      fds[2].events = static_cast<short>((session_->state == Session::State::open ? POLLIN : 0) |
                                         (conn.pending() ? POLLOUT : 0));
      if (conn.pending()) wake_at = std::min(wake_at, conn.write_deadline());
      if (session_->next_keepalive != Clock::time_point{})
        wake_at = std::min(wake_at, session_->next_keepalive);
    }
    int timeout = -1;
    if (wake_at != Clock::time_point::max())
      timeout = static_cast<int>(std::clamp<std::int64_t>(
          std::chrono::duration_cast<milliseconds>(wake_at - now).count() + 1, 0, 60000));
    if (poll(fds, 3, timeout) < 0 && errno != EINTR)
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    if (fds[0].revents) {
      std::uint64_t count;
      [[maybe_unused]] ssize_t n = read(wake_, &count, sizeof count);
    }
    if (stopping_) break;
    // The client's input before a newcomer: one that has gone is let go first, so the next
    // client is not refused for it when both show up in one wake.
    if (session_ && fds[2].fd >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) &&
        session_->state == Session::State::open)
      serve_input(*session_);
    if (fds[1].revents & POLLIN) accept_client();
    if (!session_) continue;
    take_events(*session_);
    if (!session_) continue;
    now = Clock::now();
    Connection &conn = session_->conn;
    if (!conn.flush()) {
      end_session();
      continue;
    }
    if (conn.stalled(now)) {
      std::lock_guard lock(mutex_);
      ++stats_.dropped_stalled;
    } else if (!(session_->state == Session::State::closing && !conn.pending())) {
      keepalive(*session_, now);
      continue;
    }
    end_session();
  }
}

void Server::accept_client() {
  int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    // A client that gave up already costs nothing; running out of descriptors would leave the
    // listener readable and the loop spinning, so listening pauses a little.
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
      accept_paused_until_ = Clock::now() + milliseconds(100);
    return;
  }
  if (session_) {
    refuse(fd);
    return;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (options_.send_buffer > 0)
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &options_.send_buffer, sizeof options_.send_buffer);
  session_ = std::make_unique<Session>(fd, options_);
  {
    std::lock_guard lock(mutex_);
    ++stats_.accepted;
    events_.clear();  // meant for an earlier client
    events_bytes_ = 0;
    events_overflow_ = false;
  }
  connected_ = true;
  send(*session_, connection_attempt_event(ConnectionAttempt::success, next_id()));
  if (session_) handler_.connected();
}

void Server::refuse(int fd) {
  Encoded event = encode(connection_attempt_event(ConnectionAttempt::client_connection_exists, next_id()));
  // A fresh socket's buffer takes these few bytes at once; if not, the client goes without.
  [[maybe_unused]] ssize_t n = ::send(fd, event.bytes.data(), event.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_WR);
  close(fd);
  std::lock_guard lock(mutex_);
  ++stats_.refused;
}

void Server::serve_input(Session &session) {
  if (!session.conn.receive()) {
    end_session();
    return;
  }
  while (session_ && session.state == Session::State::open) {
    Framer::Cut cut = session.conn.next();
    if (cut.state == Framer::State::need_more) return;
    if (cut.state == Framer::State::broken) {
      // Nothing after a bad length can be found again: the error, then close.
      if (should_reply(cut.refusal) && !send(session, error_reply(cut.refusal))) return;
      session.state = Session::State::closing;
      return;
    }
    Decoded decoded = decode(cut.message, DecodeOptions{options_.limits, false});
    if (decoded.ok())
      dispatch(session, *decoded.message);
    else if (should_reply(decoded))
      send(session, error_reply(decoded));
  }
}

void Server::dispatch(Session &session, const Message &request) {
  switch (request.type) {
    case msg::CLOSE_CONNECTION:
      if (send(session, status_reply(request, StatusCode::M_Success, ""))) session.state = Session::State::closing;
      return;
    case msg::KEEPALIVE_ACK:
      session.unacked.reset();
      return;
    default:
      break;
  }
  Answer answer(std::nullopt);
  try {
    answer = handler_.handle(request);
  } catch (const std::exception &e) {
    answer = status_reply(request, StatusCode::R_DeviceError, e.what());
  }
  if (!session_) return;
  if (!answer.taken()) {
    send(session, unsupported(request, "is not supported by this reader"));
    return;
  }
  std::optional<Message> &reply = answer.reply();
  if (!reply) return;
  reply->id = request.id;
  send(session, std::move(*reply));
}

// Queues a message for the client; a queue past its cap drops the client (and false).
bool Server::send(Session &session, Message message) {
  Encoded encoded = encode(message);
  if (!encoded.ok()) {
    // A handler's answer that does not encode: say so rather than stay silent.
    encoded = encode(unsupported(message, "could not be encoded"));
    if (!encoded.ok()) return true;
  }
  if (!session.conn.queue(encoded.bytes, Clock::now())) {
    {
      std::lock_guard lock(mutex_);
      ++stats_.dropped_overflow;
    }
    end_session();
    return false;
  }
  std::lock_guard lock(mutex_);
  stats_.peak_queued = std::max(stats_.peak_queued, session.conn.queued());
  return true;
}

void Server::take_events(Session &session) {
  std::deque<std::vector<std::uint8_t>> events;
  bool overflow;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
    events_bytes_ = 0;
    overflow = events_overflow_;
    events_overflow_ = false;
    if (overflow) ++stats_.dropped_overflow;
  }
  if (overflow) {
    end_session();
    return;
  }
  for (std::vector<std::uint8_t> &bytes : events) {
    set_message_id(bytes, next_id());
    if (!session.conn.queue(bytes, Clock::now())) {
      {
        std::lock_guard lock(mutex_);
        ++stats_.dropped_overflow;
      }
      end_session();
      return;
    }
  }
  std::lock_guard lock(mutex_);
  stats_.peak_queued = std::max(stats_.peak_queued, session.conn.queued());
}

void Server::keepalive(Session &session, Clock::time_point now) {
  milliseconds period(keepalive_ms_.load());
  if (period.count() == 0) {
    session.next_keepalive = {};
    session.unacked.reset();
    return;
  }
  if (session.next_keepalive == Clock::time_point{} || session.next_keepalive > now + period)
    session.next_keepalive = now + period;
  if (now < session.next_keepalive) return;
  if (session.unacked && now - *session.unacked >= period) {
    {
      std::lock_guard lock(mutex_);
      ++stats_.dropped_keepalive;
    }
    end_session();
    return;
  }
  if (!send(session, make_message(msg::KEEPALIVE, next_id()))) return;
  if (!session.unacked) session.unacked = now;
  session.next_keepalive = now + period;
  session.conn.flush();
}

void Server::end_session() {
  if (!session_) return;
  session_.reset();  // closes the socket
  connected_ = false;
  handler_.disconnected();
}

}  // namespace uhf::llrp
