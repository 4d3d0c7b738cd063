// The rows expanded into constant tables, and the look-ups over them.
#include "llrp/catalogue.hpp"

#include <array>
#include <iterator>

namespace uhf::llrp {
namespace {

#define LLRP_ENTRY(value, name) EnumEntry{value, #name},
#define LLRP_ENUMERATION(name, ...)                           \
  constexpr EnumEntry entries_##name[] = {__VA_ARGS__};       \
  constexpr Enumeration enum_##name{#name, entries_##name};
#include "llrp/rows.def"
#undef LLRP_ENTRY

#define LLRP_ALT(member) param::member,
#define LLRP_CHOICE(name, ...)                                \
  constexpr std::uint16_t members_##name[] = {__VA_ARGS__};   \
  constexpr Choice choice_##name{#name, members_##name};
#include "llrp/rows.def"
#undef LLRP_ALT

#define LLRP_FIELD(wire, name) Item{ItemKind::field, WireType::wire, 0, Repeat::r1, #name, 0, nullptr, nullptr},
#define LLRP_FIELD_ENUM(wire, name, values) \
  Item{ItemKind::field, WireType::wire, 0, Repeat::r1, #name, 0, &enum_##values, nullptr},
#define LLRP_RESERVED(count) Item{ItemKind::reserved, WireType::u1, count, Repeat::r1, {}, 0, nullptr, nullptr},
#define LLRP_SUB(repeat, sub) \
  Item{ItemKind::parameter, WireType::u1, 0, Repeat::r##repeat, #sub, param::sub, nullptr, nullptr},
#define LLRP_ONE_OF(repeat, group) \
  Item{ItemKind::choice, WireType::u1, 0, Repeat::r##repeat, #group, 0, nullptr, &choice_##group},
// Every body ends in an empty item, so that a definition without items still makes an array.
#define LLRP_MESSAGE(type, name, response, ...) constexpr Item message_items_##name[] = {__VA_ARGS__ Item{}};
#define LLRP_PARAMETER(type, name, ...) constexpr Item parameter_items_##name[] = {__VA_ARGS__ Item{}};
#include "llrp/rows.def"
#undef LLRP_FIELD
#undef LLRP_FIELD_ENUM
#undef LLRP_RESERVED
#undef LLRP_SUB
#undef LLRP_ONE_OF

template <std::size_t N>
constexpr std::span<const Item> body(const Item (&items)[N]) {
  return {items, N - 1};
}

constexpr Definition messages[] = {
#define LLRP_MESSAGE(type, name, response, ...) \
  Definition{type, #name, true, response, body(message_items_##name)},
#include "llrp/rows.def"
};

constexpr Definition parameters[] = {
#define LLRP_PARAMETER(type, name, ...) Definition{type, #name, false, 0, body(parameter_items_##name)},
#include "llrp/rows.def"
};

constexpr Enumeration enumerations[] = {
#define LLRP_ENUMERATION(name, ...) enum_##name,
#include "llrp/rows.def"
};

// Type numbers are 10 bits: a direct index into each table.
using Index = std::array<std::int16_t, 1024>;

template <std::size_t N>
constexpr Index index_of(const Definition (&defs)[N]) {
  Index index{};
  index.fill(-1);
  for (std::size_t i = 0; i < N; ++i) index[defs[i].type] = static_cast<std::int16_t>(i);
  return index;
}

constexpr Index message_index = index_of(messages);
constexpr Index parameter_index = index_of(parameters);

}  // namespace

const Definition *find_message(std::uint16_t type) {
  if (type >= message_index.size() || message_index[type] < 0) return nullptr;
  return &messages[message_index[type]];
}

const Definition *find_parameter(std::uint16_t type) {
  if (type >= parameter_index.size() || parameter_index[type] < 0) return nullptr;
  return &parameters[parameter_index[type]];
}

std::span<const Definition> all_messages() { return messages; }
std::span<const Definition> all_parameters() { return parameters; }
std::span<const Enumeration> all_enumerations() { return enumerations; }

std::size_t field_count(const Definition &def) {
  std::size_t n = 0;
  for (const Item &item : def.items) n += item.kind == ItemKind::field;
  return n;
}

const Item &field_item(const Definition &def, std::size_t index) {
  for (const Item &item : def.items) {
    if (item.kind != ItemKind::field) continue;
    if (index-- == 0) return item;
  }
  return def.items.back();  // not reached for an index below field_count(def)
}

std::size_t field_index(const Definition &def, std::string_view name) {
  std::size_t n = 0;
  for (const Item &item : def.items) {
    if (item.kind != ItemKind::field) continue;
    if (item.name == name) return n;
    ++n;
  }
  return n;
}

std::size_t fixed_size(WireType type) {
  switch (type) {
    case WireType::u8: case WireType::s8: return 1;
    case WireType::u16: case WireType::s16: return 2;
    case WireType::u32: return 4;
    case WireType::u64: return 8;
    case WireType::u96: return 12;
    default: return 0;
  }
}

std::size_t tv_size(const Definition &def) {
  std::size_t size = 1;
  for (const Item &item : def.items)
    if (item.kind == ItemKind::field) size += fixed_size(item.type);
  return size;
}

std::string_view wire_type_name(WireType type) {
  static constexpr std::string_view names[] = {"u1",  "u2",   "u8",   "u16",  "u32",   "u64",
                                               "s8",  "s16",  "u1v",  "u8v",  "u16v",  "u32v",
                                               "u96", "utf8v", "bytesToEnd"};
  return names[static_cast<std::size_t>(type)];
}

bool accepts(const Item &item, std::uint16_t parameter_type) {
  if (item.kind == ItemKind::parameter) return item.parameter == parameter_type;
  if (item.kind != ItemKind::choice) return false;
  for (std::uint16_t member : item.choice->members)
    if (member == parameter_type) return true;
  return false;
}

}  // namespace uhf::llrp
