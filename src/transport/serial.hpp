// Serial transport: a terminal node in raw mode (8N1), non-blocking, held exclusively.
#pragma once

#include <cstdint>

#include "transport/transport.hpp"

namespace uhf {

class SerialTransport final : public Transport {
public:
    // `published` is where the designed interface shows the descriptor (idComDev); it is
    // written only when a port has been opened, and keeps its value after a close.
    constexpr explicit SerialTransport(int *published = nullptr) : published_(published) {}

    // Opens and configures `path` at `baud`, closing a port this transport still holds first.
    // The port is locked (flock) and marked exclusive (TIOCEXCL) before anything about it is
    // changed, so a port another program holds is left as it is: UHF_ERR_BUSY.
    OpenResult open(const char *path, int baud);
    int fd() const { return fd_; }
    // The line rate applied (a rate the line does not take was applied as 9600).
    int line_rate() const { return rate_; }

    Wire wire() const override { return Wire::serial; }
    bool is_open() const override { return fd_ >= 0; }
    void discard_stale_input(Trace &trace) override;
    IoResult send(std::span<const std::uint8_t> bytes, int bound_ms) override;
    IoResult receive(std::span<std::uint8_t> into, int timeout_ms) override;
    void close() override;

private:
    int fd_ = -1;
    int rate_ = 0;
    int *published_;
};

// The line rates a serial link takes; any other is applied as 9600 by the designed openers and
// refused by the link API.
bool serial_rate_supported(int baud);

}  // namespace uhf

namespace uhf::serial {

// Every bound of a serial exchange, in one place. Tests shorten them; the defaults are the
// line's real budgets.
struct Timing {
    int first_byte_poll_ms = 100;     // one attempt's wait for the reply's first byte
    int inter_byte_gap_ms = 100;      // longest silence inside a reply before a read fails
    int frame_rest_bound_ms = 4000;   // least time allowed to read a reply after its first byte
                                      // (longer where the line rate needs it)
    int send_bound_ms = 2000;         // longest time a request may take to leave
};
Timing &timing();

// Node families of the numbered openers: prefix + port digit.
struct NodeFamilies {
    const char *builtin = "/dev/ttyS";
    const char *usb_adapter = "/dev/ttyUSB";
};
NodeFamilies &node_families();

// The longest time a reply may take from its first byte at this line rate: the wire time of
// the longest reply frame with margin, and never less than the configured bound.
int frame_bound_ms(int line_rate);

// The default link's serial port (the designed interface's).
int open_node(const char *path, int baud);
bool port_open();
void close_port();

}  // namespace uhf::serial
