// Building values from the catalogue, and finding fields and parameters in them.
#include "llrp/value.hpp"

#include "llrp/catalogue.hpp"

namespace uhf::llrp {
namespace {

FieldValue zero(WireType type) {
  switch (type) {
    case WireType::s8: case WireType::s16: return std::int64_t{0};
    case WireType::u1v: return Bits{};
    case WireType::u8v: case WireType::bytesToEnd: return std::vector<std::uint8_t>{};
    case WireType::u96: return std::vector<std::uint8_t>(12, 0);
    case WireType::u16v: return std::vector<std::uint16_t>{};
    case WireType::u32v: return std::vector<std::uint32_t>{};
    case WireType::utf8v: return std::string{};
    default: return std::uint64_t{0};
  }
}

std::vector<FieldValue> zero_fields(const Definition *def) {
  std::vector<FieldValue> fields;
  if (!def) return fields;
  for (const Item &item : def->items)
    if (item.kind == ItemKind::field) fields.push_back(zero(item.type));
  return fields;
}

template <class Fields>
auto *slot(Fields &fields, const Definition *def, std::string_view name) {
  using Result = decltype(&fields[0]);
  if (!def) return Result{nullptr};
  std::size_t i = field_index(*def, name);
  return i < fields.size() ? &fields[i] : Result{nullptr};
}

std::optional<std::int64_t> as_number(const FieldValue *v) {
  if (!v) return std::nullopt;
  if (auto *u = std::get_if<std::uint64_t>(v)) return static_cast<std::int64_t>(*u);
  if (auto *s = std::get_if<std::int64_t>(v)) return *s;
  return std::nullopt;
}

}  // namespace

Message make_message(std::uint16_t type, std::uint32_t id) {
  Message m;
  m.type = type;
  m.id = id;
  m.fields = zero_fields(find_message(type));
  return m;
}

Parameter make_parameter(std::uint16_t type) {
  Parameter p;
  p.type = type;
  p.fields = zero_fields(find_parameter(type));
  return p;
}

FieldValue *field(Message &m, std::string_view name) { return slot(m.fields, find_message(m.type), name); }
FieldValue *field(Parameter &p, std::string_view name) { return slot(p.fields, find_parameter(p.type), name); }
const FieldValue *field(const Message &m, std::string_view name) {
  return slot(m.fields, find_message(m.type), name);
}
const FieldValue *field(const Parameter &p, std::string_view name) {
  return slot(p.fields, find_parameter(p.type), name);
}

std::optional<std::int64_t> number(const Message &m, std::string_view name) { return as_number(field(m, name)); }
std::optional<std::int64_t> number(const Parameter &p, std::string_view name) { return as_number(field(p, name)); }

bool set(Message &m, std::string_view name, FieldValue value) {
  FieldValue *f = field(m, name);
  if (f) *f = std::move(value);
  return f != nullptr;
}

bool set(Parameter &p, std::string_view name, FieldValue value) {
  FieldValue *f = field(p, name);
  if (f) *f = std::move(value);
  return f != nullptr;
}

const Parameter *find(const std::vector<Parameter> &params, std::uint16_t type) {
  for (const Parameter &p : params)
    if (p.type == type) return &p;
  return nullptr;
}

std::vector<const Parameter *> find_all(const std::vector<Parameter> &params, std::uint16_t type) {
  std::vector<const Parameter *> found;
  for (const Parameter &p : params)
    if (p.type == type) found.push_back(&p);
  return found;
}

}  // namespace uhf::llrp
