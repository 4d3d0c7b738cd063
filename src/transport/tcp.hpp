// TCP transport: a reader behind a network serial server. The connection is a byte stream
// and follows the serial line's rules: stale bytes are discarded before each request, and a
// reply is waited for and read as on the line.
#pragma once

#include "transport/transport.hpp"

namespace uhf {

class TcpTransport final : public Transport {
public:
    constexpr TcpTransport() = default;

    // Connects within `timeout_ms`: UHF_ERR_UNKNOWN_HOST, UHF_ERR_CONNECT (refused,
    // unreachable), UHF_ERR_TIMEOUT, or UHF_ERR_CANCELLED when the cancel signal ends the wait
    // (name resolution itself is not cancelled). Closes a connection this transport holds first.
    OpenResult open(const char *host, const char *port, int timeout_ms);

    int fd() const { return fd_; }

    Wire wire() const override { return Wire::serial; }
    bool is_open() const override { return fd_ >= 0; }
    void discard_stale_input(Trace &trace) override;
    IoResult send(std::span<const std::uint8_t> bytes, int bound_ms) override;
    IoResult receive(std::span<std::uint8_t> into, int timeout_ms) override;
    void close() override;

    // At most this much stale input is thrown away before a request; a peer that floods
    // cannot hold the exchange in the discard.
    static constexpr std::size_t kDiscardLimit = 64 * 1024;

private:
    int fd_ = -1;
    bool gone_ = false;  // the peer closed or reset the connection
};

}  // namespace uhf
