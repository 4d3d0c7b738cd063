// Moving bytes through a non-blocking descriptor within a bound: what the serial line and a TCP
// connection share below the byte-stream reader.
#pragma once

#include <cstdint>
#include <span>

#include "transport/transport.hpp"

namespace uhf {

enum class Descriptor { terminal, socket };

inline constexpr int kWaitCancelled = -2;

// Waits for `events` on `fd` until `ms` pass or the cancel signal `cancel_fd` is raised (-1:
// none), restarting on EINTR. Returns poll's revents, 0 on timeout, kWaitCancelled, or -1 on
// error (errno set). A raised signal wins over a ready descriptor, and is left raised.
int wait_for(int fd, short events, int ms, int cancel_fd = -1);

// Writes all of `bytes` within `bound_ms`, waiting for room while the descriptor is full.
IoResult write_within(int fd, Descriptor kind, std::span<const std::uint8_t> bytes, int bound_ms, int cancel_fd);

// Waits up to `timeout_ms` (0: not at all) for input and reads what is there. End of file is
// the device gone: a terminal hung up (adapter unplugged, far side closed), a peer that closed.
IoResult read_within(int fd, Descriptor kind, std::span<std::uint8_t> into, int timeout_ms, int cancel_fd);

}  // namespace uhf
