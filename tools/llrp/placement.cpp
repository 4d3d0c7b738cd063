#include "llrp/placement.hpp"

#include <algorithm>

namespace uhf::llrp {

Placement::Verdict Placement::add(std::uint16_t type) {
  for (std::size_t i = place_; i < def_.items.size(); ++i) {
    const Item &item = def_.items[i];
    if (!accepts(item, type)) continue;
    place_ = i;
    if (++counts_[i] > 1 && (item.repeat == Repeat::r1 || item.repeat == Repeat::r0_1))
      return Verdict::duplicate;
    return Verdict::fits;
  }
  return Verdict::unexpected;
}

std::optional<std::uint16_t> Placement::missing(std::string *name) const {
  for (std::size_t i = 0; i < def_.items.size(); ++i) {
    const Item &item = def_.items[i];
    bool required = item.repeat == Repeat::r1 || item.repeat == Repeat::r1_N;
    if (item.kind == ItemKind::field || item.kind == ItemKind::reserved || !required || counts_[i]) continue;
    if (name) *name = item.name;
    return item.kind == ItemKind::parameter ? item.parameter : item.choice->members.front();
  }
  return std::nullopt;
}

std::size_t value_index(WireType type) {
  switch (type) {
    case WireType::s8: case WireType::s16: return 1;
    case WireType::u1v: return 2;
    case WireType::u8v: case WireType::u96: case WireType::bytesToEnd: return 3;
    case WireType::u16v: return 4;
    case WireType::u32v: return 5;
    case WireType::utf8v: return 6;
    default: return 0;
  }
}

bool fits(WireType type, std::uint64_t value) {
  switch (type) {
    case WireType::u1: return value <= 1;
    case WireType::u2: return value <= 3;
    case WireType::u8: return value <= 0xFF;
    case WireType::u16: return value <= 0xFFFF;
    case WireType::u32: return value <= 0xFFFFFFFF;
    default: return true;
  }
}

bool fits(WireType type, std::int64_t value) {
  if (type == WireType::s8) return value >= -128 && value <= 127;
  return value >= -32768 && value <= 32767;
}

bool listed(const Enumeration &enumeration, const FieldValue &value) {
  auto known = [&](std::uint64_t v) {
    return std::any_of(enumeration.entries.begin(), enumeration.entries.end(),
                       [v](const EnumEntry &e) { return e.value == v; });
  };
  if (auto *n = std::get_if<std::uint64_t>(&value)) return known(*n);
  if (auto *bytes = std::get_if<std::vector<std::uint8_t>>(&value))
    return std::all_of(bytes->begin(), bytes->end(), known);
  return true;
}

bool valid_utf8(const std::string &text) {
  std::size_t i = 0, n = text.size();
  while (i < n) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    std::uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + extra >= n) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string parameter_name(std::uint16_t type) {
  if (const Definition *def = find_parameter(type)) return std::string(def->name);
  return "parameter type " + std::to_string(type);
}

}  // namespace uhf::llrp
