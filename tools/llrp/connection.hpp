// One LLRP client's socket: whole messages cut from what it sends, and what goes back to it
// queued and written as the socket takes it. Bounded both ways: the framer keeps at most one
// message plus one read, the outgoing queue at most `max_queued` bytes (past that the caller
// drops the client), and a message not wholly written `write_timeout` after it was queued
// stalls the queue. The clock is the oldest message's, not the last byte written: a client
// that never reads still lets the kernel take a few bytes now and then (the window probes),
// which must not keep it connected for ever.
// Non-blocking socket; used by one thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "llrp/framer.hpp"

namespace uhf::llrp {

class Connection {
 public:
  using Clock = std::chrono::steady_clock;

  Connection(int fd, Limits limits, std::size_t max_queued, std::chrono::milliseconds write_timeout);
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  int fd() const { return fd_; }

  // Reads what the socket holds into the framer; false at end of stream or on a socket error.
  bool receive();
  Framer::Cut next() { return framer_.next(); }

  // Queues a message's bytes; false when that would take the queue past its cap (nothing queued).
  bool queue(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Writes what the socket takes; false on a socket error.
  bool flush();
  bool pending() const { return queued_ > 0; }
  std::size_t queued() const { return queued_; }
  // The oldest queued message has waited `write_timeout` and is not yet written.
  bool stalled(Clock::time_point now) const { return pending() && now >= write_deadline(); }
  Clock::time_point write_deadline() const { return out_.front().queued_at + write_timeout_; }

 private:
  int fd_;
  Framer framer_;
  std::size_t max_queued_;
  std::chrono::milliseconds write_timeout_;
  struct Queued {
    std::vector<std::uint8_t> bytes;
    Clock::time_point queued_at;
  };
  std::deque<Queued> out_;
  std::size_t head_written_ = 0;  // bytes of out_.front() already sent
  std::size_t queued_ = 0;
};

}  // namespace uhf::llrp
