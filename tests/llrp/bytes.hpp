// Bytes written as hex in the tests ("04 3E 00 00 00 0A ..."), and a message header around a
// body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace llrp_test {

inline std::vector<std::uint8_t> hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) high = v;
    else { out.push_back(static_cast<std::uint8_t>(high << 4 | v)); high = -1; }
  }
  return out;
}

// A version-1 message of the type, ID 7, with the body's bytes and the length they make.
inline std::vector<std::uint8_t> message(std::uint16_t type, std::string_view body) {
  std::vector<std::uint8_t> b = hex(body);
  std::uint32_t length = static_cast<std::uint32_t>(b.size() + 10);
  std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(0x04 | type >> 8), static_cast<std::uint8_t>(type),
                                   static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                                   static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length),
                                   0, 0, 0, 7};
  for (std::uint8_t byte : b) out.push_back(byte);  // GCC 12 misreads an insert() of an empty body
  return out;
}

inline std::string to_hex(const std::vector<std::uint8_t> &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

}  // namespace llrp_test
