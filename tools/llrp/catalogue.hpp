// LLRP 1.0.1's messages and parameters as data. The rows live in the .def files (rows.def
// includes them all) and are expanded here into type numbers and in catalogue.cpp into the
// definitions the encoder and decoder walk.
//
// The rows' macros:
//   LLRP_ENUMERATION(name, LLRP_ENTRY(value, name)...)    values a field may take
//   LLRP_CHOICE(name, LLRP_ALT(parameter)...)             one of several parameters
//   LLRP_MESSAGE(type, name, response type or 0, items...)
//   LLRP_PARAMETER(type, name, items...)                  TV when type < 128, else TLV
// and a definition's items, in wire order:
//   LLRP_FIELD(wire type, name)    LLRP_FIELD_ENUM(wire type, name, enumeration)
//   LLRP_RESERVED(bits)            LLRP_SUB(repeat, parameter)    LLRP_ONE_OF(repeat, choice)
// with repeat one of 1, 0_1, 0_N, 1_N.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace uhf::llrp {

// Message type numbers: msg::ADD_ROSPEC, msg::ERROR_MESSAGE, ...
namespace msg {
#define LLRP_MESSAGE(type, name, ...) inline constexpr std::uint16_t name = type;
#include "llrp/rows.def"
}  // namespace msg

// Parameter type numbers: param::ROSpec, param::EPC_96, param::LLRPStatus, ...
namespace param {
#define LLRP_PARAMETER(type, name, ...) inline constexpr std::uint16_t name = type;
#include "llrp/rows.def"
}  // namespace param

// The vendor extension points; decoded as opaque, and refused when the caller asks.
inline constexpr std::uint16_t custom_type = 1023;

enum class WireType : std::uint8_t {
  u1, u2, u8, u16, u32, u64, s8, s16,  // numbers; u1 and u2 are bit-packed
  u1v, u8v, u16v, u32v,                // 16-bit count (of bits for u1v), then the elements
  u96,                                 // 12 bytes
  utf8v,                               // 16-bit byte count, then UTF-8
  bytesToEnd,                          // the rest of the message or parameter
};

enum class Repeat : std::uint8_t { r1, r0_1, r0_N, r1_N };

struct EnumEntry {
  std::uint32_t value;
  std::string_view name;
};

struct Enumeration {
  std::string_view name;
  std::span<const EnumEntry> entries;
};

struct Choice {
  std::string_view name;
  std::span<const std::uint16_t> members;  // parameter type numbers
};

enum class ItemKind : std::uint8_t { field, reserved, parameter, choice };

// One line of a definition's body.
struct Item {
  ItemKind kind{};
  WireType type{};                          // field
  std::uint8_t bits = 0;                    // reserved: how many bits
  Repeat repeat{};                          // parameter, choice
  std::string_view name;                    // field, parameter or choice name
  std::uint16_t parameter = 0;              // parameter: its type number
  const Enumeration *enumeration = nullptr; // field: the values it may take, if listed
  const Choice *choice = nullptr;           // choice
};

struct Definition {
  std::uint16_t type = 0;
  std::string_view name;
  bool message = false;
  std::uint16_t response = 0;  // message: its response's type, 0 when it has none
  std::span<const Item> items;

  bool tv() const { return !message && type < 128; }
};

// nullptr for a type the catalogue does not hold.
const Definition *find_message(std::uint16_t type);
const Definition *find_parameter(std::uint16_t type);

std::span<const Definition> all_messages();
std::span<const Definition> all_parameters();
std::span<const Enumeration> all_enumerations();

// Named fields of a definition (reserved bits are not fields), in wire order; a field's index
// here is the FieldNum an error names.
std::size_t field_count(const Definition &def);
const Item &field_item(const Definition &def, std::size_t index);
// Index of the named field, or field_count(def) when there is none.
std::size_t field_index(const Definition &def, std::string_view name);

// Bytes a field of a fixed-size wire type takes (u1/u2 count as 0: they share bytes); 0 for the
// counted and open-ended types.
std::size_t fixed_size(WireType type);
// A TV parameter's whole size, type byte included.
std::size_t tv_size(const Definition &def);

std::string_view wire_type_name(WireType type);
bool accepts(const Item &item, std::uint16_t parameter_type);

}  // namespace uhf::llrp
