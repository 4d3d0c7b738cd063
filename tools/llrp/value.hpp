// The codec's values: a message or parameter as a generic tree the catalogue describes. A
// field's value is held by position, in its definition's field order (catalogue.hpp's
// field_index); the accessors below find fields by name and parameters by type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace uhf::llrp {

// A u1v field: `count` bits, packed from the most significant bit of bytes[0].
struct Bits {
  std::vector<std::uint8_t> bytes;
  std::uint16_t count = 0;
  bool operator==(const Bits &) const = default;
};

// By wire type: u1 u2 u8 u16 u32 u64 → uint64_t; s8 s16 → int64_t; u1v → Bits;
// u8v u96 bytesToEnd → bytes; u16v → 16-bit words; u32v → 32-bit words; utf8v → string.
using FieldValue = std::variant<std::uint64_t, std::int64_t, Bits, std::vector<std::uint8_t>,
                                std::vector<std::uint16_t>, std::vector<std::uint32_t>, std::string>;

struct Parameter {
  std::uint16_t type = 0;
  std::vector<FieldValue> fields;
  std::vector<Parameter> params;
  bool operator==(const Parameter &) const = default;
};

struct Message {
  std::uint8_t version = 1;
  std::uint16_t type = 0;
  std::uint32_t id = 0;
  std::vector<FieldValue> fields;
  std::vector<Parameter> params;
  bool operator==(const Message &) const = default;
};

// A message or parameter of the given type with every field at zero or empty (u96: twelve zero
// bytes) and no parameters. The type must be in the catalogue; an unknown one gives no fields.
Message make_message(std::uint16_t type, std::uint32_t id = 0);
Parameter make_parameter(std::uint16_t type);

// The named field, or nullptr when the definition has no such field (or the value lacks it).
FieldValue *field(Message &m, std::string_view name);
FieldValue *field(Parameter &p, std::string_view name);
const FieldValue *field(const Message &m, std::string_view name);
const FieldValue *field(const Parameter &p, std::string_view name);

// A numeric field's value (signed ones converted), or nothing.
std::optional<std::int64_t> number(const Message &m, std::string_view name);
std::optional<std::int64_t> number(const Parameter &p, std::string_view name);

// Sets the named field; false when there is no such field.
bool set(Message &m, std::string_view name, FieldValue value);
bool set(Parameter &p, std::string_view name, FieldValue value);

// The first parameter of the type among `params`, or nullptr; and all of them.
const Parameter *find(const std::vector<Parameter> &params, std::uint16_t type);
std::vector<const Parameter *> find_all(const std::vector<Parameter> &params, std::uint16_t type);

}  // namespace uhf::llrp
