// The encoder: the same walk as the decoder's, writing. It refuses values that do not fit
// their definition rather than write bytes a peer would refuse.
#include <string>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "llrp/placement.hpp"

namespace uhf::llrp {
namespace {

struct Refusal {
  std::string what;
};

[[noreturn]] void refuse(std::string what) { throw Refusal{std::move(what)}; }

class Writer {
 public:
  std::vector<std::uint8_t> out;

  void bits(std::uint64_t value, unsigned n) {
    while (n--) {
      if (bit_ == 0) out.push_back(0);
      out.back() = static_cast<std::uint8_t>(out.back() | (((value >> n) & 1u) << (7 - bit_)));
      bit_ = (bit_ + 1) % 8;
    }
  }

  void be(std::uint64_t value, unsigned bytes) {
    while (bytes--) out.push_back(static_cast<std::uint8_t>(value >> (8 * bytes)));
  }

  void patch(std::size_t at, std::uint64_t value, unsigned bytes) {
    while (bytes--) out[at++] = static_cast<std::uint8_t>(value >> (8 * bytes));
  }

 private:
  unsigned bit_ = 0;
};

void count(Writer &w, std::size_t n, const std::string &where) {
  if (n > 0xFFFF) refuse(where + ": more than 65535 elements");
  w.be(n, 2);
}

void write_field(Writer &w, const Item &item, const FieldValue &value, const std::string &where) {
  if (value.index() != value_index(item.type))
    refuse(where + ": value is not of wire type " + std::string(wire_type_name(item.type)));
  if (item.enumeration && !listed(*item.enumeration, value))
    refuse(where + ": not one of the " + std::string(item.enumeration->name) + " values");
  switch (item.type) {
    case WireType::u1: case WireType::u2: case WireType::u8: case WireType::u16: case WireType::u32:
    case WireType::u64: {
      std::uint64_t v = std::get<std::uint64_t>(value);
      if (!fits(item.type, v)) refuse(where + ": " + std::to_string(v) + " does not fit " + std::string(wire_type_name(item.type)));
      if (item.type == WireType::u1 || item.type == WireType::u2) w.bits(v, item.type == WireType::u1 ? 1 : 2);
      else w.be(v, static_cast<unsigned>(fixed_size(item.type)));
      return;
    }
    case WireType::s8: case WireType::s16: {
      std::int64_t v = std::get<std::int64_t>(value);
      if (!fits(item.type, v)) refuse(where + ": " + std::to_string(v) + " does not fit " + std::string(wire_type_name(item.type)));
      w.be(static_cast<std::uint64_t>(v), static_cast<unsigned>(fixed_size(item.type)));
      return;
    }
    case WireType::u1v: {
      const Bits &b = std::get<Bits>(value);
      if (b.bytes.size() != (b.count + 7u) / 8u) refuse(where + ": " + std::to_string(b.count) + " bits need " + std::to_string((b.count + 7u) / 8u) + " bytes");
      w.be(b.count, 2);
      for (std::size_t i = 0; i < b.bytes.size(); ++i) {
        std::uint8_t byte = b.bytes[i];
        if (i + 1 == b.bytes.size() && b.count % 8u) byte = static_cast<std::uint8_t>(byte & (0xFFu << (8u - b.count % 8u)));
        w.be(byte, 1);
      }
      return;
    }
    case WireType::u8v: case WireType::u96: case WireType::bytesToEnd: {
      const auto &bytes = std::get<std::vector<std::uint8_t>>(value);
      if (item.type == WireType::u96 && bytes.size() != 12) refuse(where + ": u96 takes 12 bytes");
      if (item.type == WireType::u8v) count(w, bytes.size(), where);
      w.out.insert(w.out.end(), bytes.begin(), bytes.end());
      return;
    }
    case WireType::u16v: {
      const auto &words = std::get<std::vector<std::uint16_t>>(value);
      count(w, words.size(), where);
      for (std::uint16_t v : words) w.be(v, 2);
      return;
    }
    case WireType::u32v: {
      const auto &words = std::get<std::vector<std::uint32_t>>(value);
      count(w, words.size(), where);
      for (std::uint32_t v : words) w.be(v, 4);
      return;
    }
    case WireType::utf8v: {
      const auto &text = std::get<std::string>(value);
      if (!valid_utf8(text)) refuse(where + ": not UTF-8");
      count(w, text.size(), where);
      w.out.insert(w.out.end(), text.begin(), text.end());
      return;
    }
  }
}

void write_parameter(Writer &w, const Parameter &p);

void write_body(Writer &w, const Definition &def, const std::vector<FieldValue> &fields,
                const std::vector<Parameter> &params) {
  if (fields.size() != field_count(def))
    refuse(std::string(def.name) + ": " + std::to_string(fields.size()) + " field values for " +
           std::to_string(field_count(def)) + " fields");
  std::size_t n = 0;
  for (const Item &item : def.items) {
    if (item.kind == ItemKind::reserved) w.bits(0, item.bits);
    else if (item.kind == ItemKind::field) {
      write_field(w, item, fields[n], std::string(def.name) + "." + std::string(item.name));
      ++n;
    }
  }
  Placement placement(def);
  for (const Parameter &p : params) {
    if (placement.add(p.type) != Placement::Verdict::fits)
      refuse(std::string(def.name) + ": " + parameter_name(p.type) + " is not allowed there, or once too often");
    write_parameter(w, p);
  }
  std::string place;
  if (placement.missing(&place)) refuse(std::string(def.name) + " lacks its " + place);
}

void write_parameter(Writer &w, const Parameter &p) {
  const Definition *def = find_parameter(p.type);
  if (!def) refuse("unknown parameter type " + std::to_string(p.type));
  if (def->tv()) {
    w.be(0x80u | p.type, 1);
    write_body(w, *def, p.fields, p.params);
    return;
  }
  std::size_t start = w.out.size();
  w.be(p.type, 2);
  w.be(0, 2);
  write_body(w, *def, p.fields, p.params);
  std::size_t length = w.out.size() - start;
  if (length > 0xFFFF) refuse(std::string(def->name) + ": " + std::to_string(length) + " bytes, past a parameter's 65535");
  w.patch(start + 2, length, 2);
}

}  // namespace

Encoded encode(const Message &m) {
  Encoded result;
  try {
    const Definition *def = find_message(m.type);
    if (!def) refuse("unknown message type " + std::to_string(m.type));
    if (m.version > 7) refuse("version " + std::to_string(m.version) + " does not fit 3 bits");
    Writer w;
    w.be((std::uint32_t{m.version} << 10) | m.type, 2);
    w.be(0, 4);
    w.be(m.id, 4);
    write_body(w, *def, m.fields, m.params);
    if (w.out.size() > 0xFFFFFFFFu) refuse("message past 4 GiB");
    w.patch(2, w.out.size(), 4);
    result.bytes = std::move(w.out);
  } catch (const Refusal &r) {
    result.error = r.what;
  }
  return result;
}

}  // namespace uhf::llrp
