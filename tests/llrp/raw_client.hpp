// A raw loopback TCP client for the LLRP server's tests: writes bytes as given, reads whole
// messages by their header's length, and waits with deadlines only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "llrp/codec.hpp"

namespace llrp_test {

class RawClient {
 public:
  using Clock = std::chrono::steady_clock;

  // receive_buffer > 0 shrinks SO_RCVBUF before connecting (a client that reads slowly).
  explicit RawClient(std::uint16_t port, int receive_buffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient &) = delete;
  RawClient &operator=(const RawClient &) = delete;

  bool connected() const { return connected_; }
  int fd() const { return fd_; }
  // Whether a read met the end of the stream (or an error): the server hung up.
  bool closed() const { return closed_; }

  // False when the socket would not take all of it (the server hung up).
  bool send(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool send(const uhf::llrp::Message &m) { return send(uhf::llrp::encode(m).bytes); }

  // The next whole message's bytes, or nothing at end of stream, error or the deadline.
  std::optional<std::vector<std::uint8_t>> receive_bytes(std::chrono::milliseconds within = std::chrono::seconds(5)) {
    Clock::time_point deadline = Clock::now() + within;
    std::vector<std::uint8_t> bytes(uhf::llrp::header_size);
    if (!read_exactly(bytes.data(), bytes.size(), deadline)) return std::nullopt;
    std::uint32_t length = uhf::llrp::read_header(bytes).length;
    if (length < uhf::llrp::header_size || length > (1u << 20)) return std::nullopt;
    bytes.resize(length);
    if (!read_exactly(bytes.data() + uhf::llrp::header_size, length - uhf::llrp::header_size, deadline))
      return std::nullopt;
    return bytes;
  }

  // The next message decoded; one that does not decode here (another version) comes back with
  // its header's version, type and ID and nothing else.
  std::optional<uhf::llrp::Message> receive(std::chrono::milliseconds within = std::chrono::seconds(5)) {
    auto bytes = receive_bytes(within);
    if (!bytes) return std::nullopt;
    uhf::llrp::Decoded d = uhf::llrp::decode(*bytes);
    if (d.ok()) return *d.message;
    uhf::llrp::Message failed;
    if (d.header) {
      failed.version = d.header->version;
      failed.type = d.header->type;
      failed.id = d.header->id;
    }
    return failed;
  }

  // Whether the server closed the connection before the deadline, whatever it sent first.
  bool closed_within(std::chrono::milliseconds within) {
    Clock::time_point deadline = Clock::now() + within;
    std::uint8_t sink[4096];
    for (;;) {
      if (!wait_readable(deadline)) return false;
      ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
      if (n <= 0) return true;
    }
  }

 private:
  bool wait_readable(Clock::time_point deadline) {
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) return false;
      pollfd p{fd_, POLLIN, 0};
      int rc = poll(&p, 1, static_cast<int>(left) + 1);
      if (rc > 0) return true;
      if (rc == 0) return false;
    }
  }

  bool read_exactly(std::uint8_t *into, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
      if (!wait_readable(deadline)) return false;
      ssize_t n = ::recv(fd_, into + done, size - done, 0);
      if (n <= 0) {
        closed_ = true;
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
};

// Polls a condition until it holds or the deadline passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds within = std::chrono::seconds(5)) {
  auto deadline = std::chrono::steady_clock::now() + within;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd none{-1, 0, 0};
    poll(&none, 0, 2);  // a short yield between looks, not a wait for the outcome
  }
  return true;
}

}  // namespace llrp_test
