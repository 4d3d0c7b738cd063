// Reader-side frame codec: decodes the host's requests and encodes the reader's replies.
//
// Written independently of the library's own codec on purpose: tests use it as a second
// opinion on the wire format, so a misreading shared by both would go unnoticed.
//
// Request frame (host to reader), before DLE doubling:
//
//   offset  size  field
//   0       1     0x10   start pair
//   1       1     0x01
//   2       1     reader address
//   3       1     command code
//   4       1     data length L (0-255)
//   5       L     request data
//   5+L     1     checksum
//   6+L     1     0x10   end pair
//   7+L     1     0x02
//
// Reply frame (reader to host), before DLE doubling:
//
//   offset  size  field
//   0       2     0x10 0x01 start pair
//   2       1     reader address
//   3       1     command code (echo of the request's)
//   4       1     status byte
//   5       2     data length L, big-endian
//   7       L     reply data
//   7+L     1     checksum
//   8+L     2     0x10 0x02 end pair
//
// Doubled region: every byte from the address through the checksum that equals 0x10 travels
// twice; the start and end pairs never do. The checksum is the XOR of the address through the
// last data byte with every 0x10 left out, which is also the XOR of the doubled stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace uhfsim {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStart = 0x01;
inline constexpr std::uint8_t kEnd = 0x02;

// XOR of the bytes with every 0x10 left out.
std::uint8_t frame_checksum(std::span<const std::uint8_t> bytes);

struct Request {
    std::uint8_t addr = 0;
    std::uint8_t cmd = 0;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> wire;  // the frame exactly as received, doubling included
};

// Byte-at-a-time request decoder. After any malformed frame it hunts for the next start pair;
// a run of garbage is reported once, not once per byte.
class RequestDecoder {
public:
    enum class Status { incomplete, request, malformed };

    Status feed(std::uint8_t byte);

    // Valid after feed() returned Status::request / Status::malformed, until the next feed().
    const Request& request() const { return request_; }
    const std::string& reason() const { return reason_; }

    struct Output {
        std::vector<Request> requests;
        std::vector<std::string> malformed;
    };
    void feed(std::span<const std::uint8_t> bytes, Output& out);

    // True while a frame has started but not ended.
    bool in_frame() const { return state_ != State::hunt && state_ != State::start_second; }
    void reset();

private:
    enum class State { hunt, start_second, body, end_first, end_second };

    void begin_frame();
    Status fail(const char* why);
    Status take_field(std::uint8_t value);

    State state_ = State::hunt;
    bool pending_dle_ = false;
    bool garbage_reported_ = false;
    std::size_t fields_ = 0;  // unescaped bytes of the doubled region taken so far
    std::uint8_t length_ = 0;
    std::uint8_t checksum_ = 0;
    std::uint8_t sent_checksum_ = 0;
    Request frame_;
    Request request_;
    std::string reason_;
};

struct Reply {
    std::uint8_t addr = 0;
    std::uint8_t cmd = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
};

// Departures from a well-formed reply frame, for the fault tests. The default is none.
struct FrameFaults {
    // Announced length instead of data.size(); the checksum covers the announced bytes.
    std::optional<std::uint16_t> length_field;
    bool bad_checksum = false;       // the correct checksum with its low bit flipped
    bool wrong_second_byte = false;  // 0x10 0x03 instead of the start pair
    bool bad_end_first = false;      // 0x11 where the end pair's 0x10 belongs
    bool bad_end_last = false;       // 0x03 where the end pair's 0x02 belongs
};

std::vector<std::uint8_t> encode_reply(const Reply& reply, const FrameFaults& faults = {});

// Host-side request encoder, for tests that play the host without the library.
std::vector<std::uint8_t> encode_request(std::uint8_t addr, std::uint8_t cmd,
                                         std::span<const std::uint8_t> data = {});

// "10 01 05 .." for failure messages.
std::string hex(std::span<const std::uint8_t> bytes);

}  // namespace uhfsim
