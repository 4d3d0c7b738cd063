// USB transport internals shared with the tests.
#pragma once

#include <cstdint>

namespace uhf::usb {

inline constexpr std::uint16_t kVendor = 0x03EB;
inline constexpr std::uint16_t kProduct = 0x6125;
inline constexpr int kConfiguration = 1;
inline constexpr int kInterface = 0;
inline constexpr int kEndpointOut = 0x01;
inline constexpr int kEndpointIn = 0x82;
inline constexpr int kPieceSize = 64;

// Every bound of a USB exchange, in one place.
struct Timing {
    int handshake_reply_ms = 100;  // the reply transfer of the link handshake
    int reply_ms = 2000;           // the reply transfer of every other command
    int piece_send_ms = 2000;      // each bulk OUT piece of a request
    int drain_read_ms = 10;        // one read of a stale reply left by a failed exchange
    int drain_reads_max = 16;      // a device that keeps talking cannot hold the drain open
};
Timing &timing();

// Whether a device is open and claimed (what an exchange needs).
bool device_open();

}  // namespace uhf::usb
