// One client's socket: reads into the framer, writes from a capped queue.
#include "llrp/connection.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace uhf::llrp {

Connection::Connection(int fd, Limits limits, std::size_t max_queued,
                       std::chrono::milliseconds write_timeout)
    : fd_(fd), framer_(limits), max_queued_(max_queued), write_timeout_(write_timeout) {}

Connection::~Connection() { ::close(fd_); }

bool Connection::receive() {
  std::array<std::uint8_t, 16384> buffer;
  for (;;) {
    ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
    if (n > 0) {
      framer_.push(std::span(buffer.data(), static_cast<std::size_t>(n)));
      return true;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

bool Connection::queue(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  if (queued_ + bytes.size() > max_queued_) return false;
  out_.push_back(Queued{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), now});
  queued_ += bytes.size();
  return true;
}

bool Connection::flush() {
  while (!out_.empty()) {
    const std::vector<std::uint8_t> &front = out_.front().bytes;
    ssize_t n = ::send(fd_, front.data() + head_written_, front.size() - head_written_,
                       MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    head_written_ += static_cast<std::size_t>(n);
    queued_ -= static_cast<std::size_t>(n);
    if (head_written_ == front.size()) {
      out_.pop_front();
      head_written_ = 0;
    }
  }
  return true;
}

}  // namespace uhf::llrp
