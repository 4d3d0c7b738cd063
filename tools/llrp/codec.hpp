// LLRP 1.0.1 over bytes: decode() turns one whole message into values, encode() values into
// bytes, both by walking the catalogue. All integers are big-endian; bit fields pack from the
// most significant bit.
//
// Message header, 10 bytes:
//   offset 0  3 bits reserved (0) | 3 bits version (1) | 10 bits message type
//   offset 2  32 bits  message length, header included
//   offset 6  32 bits  message ID (a response carries its request's)
//   offset 10 the message's fields, then its parameters
// TLV parameter (type 128..1023):
//   6 bits reserved (0) | 10 bits type, 16 bits length (header included), fields, parameters
// TV parameter (type 1..127):
//   1 bit set | 7 bits type, then its fields, whose size the type fixes
// Vectors (u1v, u8v, u16v, u32v, utf8v) start with a 16-bit count of elements (of bits for u1v;
// of bytes for utf8v); u96 is 12 bytes; bytesToEnd runs to the end of its message or parameter.
// Reserved bits, and the bits after a u1v's last, are written as zero and ignored on read.
//
// Bounds: a message is at most Limits::max_message bytes (1 MiB unless told), parameters nest
// at most Limits::max_depth deep; anything past those is refused before it is read, so a
// message's values never take more than a small multiple of its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "llrp/catalogue.hpp"
#include "llrp/status.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

inline constexpr std::size_t header_size = 10;
inline constexpr std::uint8_t version_1_0_1 = 1;
inline constexpr std::uint16_t port = 5084;

struct Limits {
  std::size_t max_message = std::size_t{1} << 20;
  unsigned max_depth = 16;
};

struct Header {
  std::uint8_t version = 0;
  std::uint16_t type = 0;
  std::uint32_t length = 0;
  std::uint32_t id = 0;
};

// The header of the bytes, which must be at least header_size long.
Header read_header(std::span<const std::uint8_t> bytes);

struct DecodeOptions {
  Limits limits;
  // Refuse CUSTOM_MESSAGE (M_UnsupportedMessage) and Custom parameters (M_UnsupportedParameter)
  // rather than decode them as opaque values.
  bool refuse_custom = false;
};

struct Decoded {
  std::optional<Message> message;  // set when the message decodes
  Error error;                     // otherwise, why not
  std::optional<Header> header;    // when the header itself could be read
  bool bad_header = false;         // the header's length cannot be right: no response type applies
  // False when reserved or padding bits were set: the message decoded, but re-encoding it
  // gives the same bytes with those bits cleared.
  bool exact = true;
  bool ok() const { return message.has_value(); }
};

// Decodes exactly one message: `bytes` must hold the message and nothing after it.
Decoded decode(std::span<const std::uint8_t> bytes, const DecodeOptions &options = {});

struct Encoded {
  std::vector<std::uint8_t> bytes;
  std::string error;  // empty when the message encoded
  bool ok() const { return error.empty(); }
};

// Encodes a message whose values fit its definition: every field present with a value of its
// wire type and in range (an enumerated field: one of its values), parameters in the order and
// number the definition allows, each TLV parameter under 64 KiB.
Encoded encode(const Message &message);

// The reply to a message that did not decode: the message's response (same ID) carrying the
// error as its LLRPStatus, or ERROR_MESSAGE when the header is bad, the version or message
// type is not supported, or the message has no response. A version we do not speak is answered
// in that version, with no error details, as the standard asks.
Message error_reply(const Decoded &decoded);

// Whether a message that did not decode is answered at all: an ERROR_MESSAGE never is, however
// malformed, so that two peers cannot answer each other's errors for ever.
bool should_reply(const Decoded &decoded);

}  // namespace uhf::llrp
