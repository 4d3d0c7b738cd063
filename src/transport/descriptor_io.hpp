// Moving bytes through a non-blocking descriptor within a bound: what the serial line and a TCP
// connection share below the byte-stream reader.
#pragma once

#include <cstdint>
#include <span>

#include "transport/transport.hpp"

namespace uhf {

enum class Descriptor { terminal, socket };

// Waits for `events` on `fd` until `ms` pass, restarting on EINTR. Returns poll's revents, 0
// on timeout, -1 on error (errno set).
int wait_for(int fd, short events, int ms);

// Writes all of `bytes` within `bound_ms`, waiting for room while the descriptor is full.
IoResult write_within(int fd, Descriptor kind, std::span<const std::uint8_t> bytes, int bound_ms);

// Waits up to `timeout_ms` (0: not at all) for input and reads what is there. End of file is
// the device gone: a terminal hung up (adapter unplugged, far side closed), a peer that closed.
IoResult read_within(int fd, Descriptor kind, std::span<std::uint8_t> into, int timeout_ms);

}  // namespace uhf
