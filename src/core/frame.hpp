// Frame codec: bytes in, bytes out. No descriptors, no globals.
//
// Request frame (host -> reader), before DLE doubling:
//   off  size  field
//   0    1     0x10 \ start pair, never doubled
//   1    1     0x01 /
//   2    1     reader address
//   3    1     command code
//   4    1     data length L (0..255)
//   5    L     data
//   5+L  1     checksum
//   6+L  1     0x10 \ end pair, never doubled
//   7+L  1     0x02 /
//
// Reply frame (reader -> host), before DLE doubling:
//   0    1     0x10
//   1    1     0x01
//   2    1     reader address of the replier
//   3    1     command code (echo)
//   4    1     status byte
//   5    2     data length L, big-endian
//   7    L     data (at most 2048 accepted)
//   7+L  1     checksum
//   8+L  1     0x10
//   9+L  1     0x02
//
// Every byte from the address through the checksum that equals 0x10 travels twice.
// The checksum is the XOR of address..last data byte with every 0x10 left out (which is
// the XOR of the doubled stream, where each pair cancels itself).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace uhf {

inline constexpr std::uint8_t kDle = 0x10;
inline constexpr std::uint8_t kStart = 0x01;
inline constexpr std::uint8_t kEnd = 0x02;
inline constexpr std::uint8_t kBroadcast = 0xFF;
inline constexpr std::uint8_t kHandshake = 0x00;
inline constexpr std::uint8_t kWriteDeviceNo = 0x06;
inline constexpr std::size_t kMaxRequestData = 255;
inline constexpr std::size_t kReplyCapacity = 2048;
// Start pair + (address, command, length, 255 data, checksum) all doubled + end pair.
inline constexpr std::size_t kMaxRequestFrame = 2 + 2 * (3 + kMaxRequestData + 1) + 2;

// What an exchange ends with: the exchange code and the detail code for IcRetCode
// (kKeepDetail where the code carries none and IcRetCode stays as it was).
struct Outcome {
    int code = 0;
    int detail = 0;
};
inline constexpr int kKeepDetail = -1;

// Exchange codes and detail codes, by the step that produced them.
namespace code {
inline constexpr Outcome ok{0, 0};
inline constexpr Outcome usb_send{1, kKeepDetail};
inline constexpr Outcome serial_no_reply{234, 109};
inline constexpr Outcome usb_no_reply{235, 108};
inline constexpr Outcome first_not_dle{235, 110};
inline constexpr Outcome second_missing{236, 111};
inline constexpr Outcome second_not_start{237, 112};
inline constexpr Outcome address_missing{238, 111};
inline constexpr Outcome command_missing{239, 112};
inline constexpr Outcome usb_command_differs{237, 112};
inline constexpr Outcome status_missing{240, 112};
inline constexpr Outcome length_missing{241, 113};
inline constexpr Outcome length_too_long{241, 113};
inline constexpr Outcome data_missing{241, 114};
inline constexpr Outcome checksum_missing{242, 115};
inline constexpr Outcome checksum_differs{243, 116};
inline constexpr Outcome end_dle_missing{244, 117};
inline constexpr Outcome end_dle_wrong{245, 118};
inline constexpr Outcome end_last_missing{246, 117};
inline constexpr Outcome end_last_wrong{247, 118};
inline constexpr Outcome refused_too_long{248, 104};
inline constexpr Outcome address_rule{253, kKeepDetail};
inline constexpr Outcome serial_command_differs{254, kKeepDetail};
inline constexpr Outcome no_serial_port{225, 101};
}  // namespace code

enum class Wire { serial, usb };

// Writes the request frame for (address, command, data) into out; returns its size.
// data.size() must be at most kMaxRequestData.
std::size_t encode_request(std::uint8_t address, std::uint8_t command,
                           std::span<const std::uint8_t> data,
                           std::span<std::uint8_t, kMaxRequestFrame> out);

// The serial sending step (225..233 with its detail) that the byte at `offset` of an
// encoded request frame belongs to: a short write is reported as the first unsent field.
Outcome request_send_failure(std::span<const std::uint8_t> frame, std::size_t offset);

// Where a reply's bytes come from. next() yields one raw byte or fails (nothing to read).
class ByteSource {
public:
    virtual bool next(std::uint8_t &byte) = 0;

protected:
    ~ByteSource() = default;
};

// A whole transfer in memory: reading past its end fails.
class BufferSource final : public ByteSource {
public:
    explicit BufferSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool next(std::uint8_t &byte) override {
        if (pos_ >= bytes_.size()) return false;
        byte = bytes_[pos_++];
        return true;
    }
    std::size_t consumed() const { return pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Fields of a reply as far as they were read; a failed decode leaves the later ones unset.
struct ReplyFields {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t status = 0;
    std::uint32_t length = 0;
    bool have_address = false;
    bool have_command = false;
    bool have_status = false;
    bool have_length = false;
};

// What the reply must match: the request's command and address.
struct Expectation {
    std::uint8_t command = 0;
    std::uint8_t address = 0;
};

// Decodes the reply from its second byte on (the first 0x10 already taken), checking in
// frame order with the codes of the given wire. Data bytes land in `data` from index 0.
Outcome decode_reply_rest(ByteSource &src, Wire wire, Expectation expect, ReplyFields &fields,
                          std::span<std::uint8_t, kReplyCapacity> data);

// Decodes a whole USB transfer, first byte included.
Outcome decode_usb_reply(std::span<const std::uint8_t> transfer, Expectation expect,
                         ReplyFields &fields, std::span<std::uint8_t, kReplyCapacity> data);

// The address rule: is a reply from `replier` accepted for this request?
bool address_accepted(Wire wire, std::uint8_t replier, Expectation expect);

}  // namespace uhf
