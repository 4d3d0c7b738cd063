// The decoder: one walk over a message's definition, strict about everything the catalogue
// says, stopping at the first fault with the error the standard asks for. The wire format is
// drawn in codec.hpp.
#include <string>
#include <utility>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "llrp/placement.hpp"

namespace uhf::llrp {
namespace {

// What is wrong, whatever the level: the message's M_ code and a parameter's P_ code follow.
enum class Fault {
  parameter_error, field_error, unexpected, missing, duplicate, overflow_parameter,
  overflow_field, unknown_parameter, unknown_field, unsupported_parameter,
};

StatusCode message_code(Fault f) {
  if (f == Fault::unsupported_parameter) return StatusCode::M_UnsupportedParameter;
  return static_cast<StatusCode>(100 + static_cast<int>(f));
}

StatusCode parameter_code(Fault f) { return static_cast<StatusCode>(200 + static_cast<int>(f)); }

// Thrown from where the fault is found; each parameter it passes through on the way out adds
// itself, so `enclosing` ends up innermost first.
struct Failure {
  Fault fault;
  std::string description;
  std::optional<std::uint16_t> subject;  // the parameter the fault is about, inside the innermost
  std::optional<FieldFault> field;       // the field at fault, in the innermost
  std::vector<std::uint16_t> enclosing;
};

[[noreturn]] void fail(Fault fault, std::string description, std::optional<std::uint16_t> subject = {},
                       std::optional<FieldFault> field = {}) {
  throw Failure{fault, std::move(description), subject, field, {}};
}

// The path is cut to max_depth - 1 parameters, so that the LLRPStatus carrying it stays within
// the nesting a peer with the same limit decodes; the description still names the culprit.
Error to_error(const Failure &f, unsigned max_depth) {
  Error e;
  e.description = f.description;
  if (f.enclosing.empty()) {
    e.code = message_code(f.fault);
    if (f.subject) e.parameters.push_back({*f.subject, parameter_code(f.fault)});
    e.field = f.field;
    return e;
  }
  e.code = StatusCode::M_ParameterError;
  for (auto it = f.enclosing.rbegin(); it != f.enclosing.rend(); ++it)
    e.parameters.push_back({*it, StatusCode::P_ParameterError});
  if (f.subject) e.parameters.push_back({*f.subject, parameter_code(f.fault)});
  else e.parameters.back().code = parameter_code(f.fault);
  e.field = f.field;
  std::size_t room = max_depth > 1 ? max_depth - 1 : 1;
  if (e.parameters.size() > room) {
    e.parameters.resize(room);
    e.parameters.back().code = StatusCode::P_ParameterError;
    e.field.reset();
  }
  return e;
}

std::uint32_t be(const std::uint8_t *p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// A message's or parameter's body, read field by field.
class Body {
 public:
  Body(const std::uint8_t *data, std::size_t size, const Definition &def) : data_(data), size_(size), def_(def) {}

  std::size_t left() const { return size_ - pos_; }
  std::size_t pos() const { return pos_; }
  const std::uint8_t *here() const { return data_ + pos_; }
  void skip(std::size_t n) { pos_ += n; }

  // `bits` bits from the most significant end, for u1, u2 and reserved runs.
  std::uint64_t take_bits(unsigned bits, std::uint16_t number) {
    std::uint64_t v = 0;
    while (bits--) {
      if (pos_ >= size_) overflow(number);
      v = (v << 1) | ((data_[pos_] >> (7 - bit_)) & 1u);
      if (++bit_ == 8) { bit_ = 0; ++pos_; }
    }
    return v;
  }

  const std::uint8_t *take(std::size_t n, std::uint16_t number) {
    if (n > left()) overflow(number);
    const std::uint8_t *p = here();
    pos_ += n;
    return p;
  }

  [[noreturn]] void overflow(std::uint16_t number) const {
    fail(Fault::overflow_field,
         std::string(def_.name) + ": field " + field_name(number) + " runs past the end of its " +
             (def_.message ? "message" : "parameter"),
         std::nullopt, FieldFault{number, StatusCode::A_Invalid});
  }

  std::string field_name(std::uint16_t number) const {
    return number < field_count(def_) ? std::string(field_item(def_, number).name) : "after the last";
  }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  const Definition &def_;
  std::size_t pos_ = 0;
  unsigned bit_ = 0;
};

class Decoder {
 public:
  explicit Decoder(const DecodeOptions &options) : options_(options) {}

  bool exact = true;

  // Fields then sub-parameters of `def`, filling `fields` and `params`, from all of `size` bytes.
  void body(const Definition &def, const std::uint8_t *data, std::size_t size, std::vector<FieldValue> &fields,
            std::vector<Parameter> &params, unsigned depth) {
    Body in(data, size, def);
    read_fields(def, in, fields);
    bool has_params = false;
    for (const Item &item : def.items)
      has_params |= item.kind == ItemKind::parameter || item.kind == ItemKind::choice;
    if (!has_params) {
      if (in.left())
        fail(Fault::unknown_field, std::string(def.name) + ": " + std::to_string(in.left()) +
                                       " bytes after its last field");
      return;
    }
    read_parameters(def, in, params, depth);
  }

 private:
  void read_fields(const Definition &def, Body &in, std::vector<FieldValue> &fields) {
    std::uint16_t number = 0;
    for (const Item &item : def.items) {
      if (item.kind == ItemKind::reserved) {
        if (in.take_bits(item.bits, number)) exact = false;
      } else if (item.kind == ItemKind::field) {
        FieldValue value = read_field(item, in, number);
        check_value(def, item, value, number);
        fields.push_back(std::move(value));
        ++number;
      }
    }
  }

  FieldValue read_field(const Item &item, Body &in, std::uint16_t number) {
    auto count = [&] { return be(in.take(2, number), 2); };
    switch (item.type) {
      case WireType::u1: return in.take_bits(1, number);
      case WireType::u2: return in.take_bits(2, number);
      case WireType::u8: return std::uint64_t{*in.take(1, number)};
      case WireType::u16: return std::uint64_t{be(in.take(2, number), 2)};
      case WireType::u32: return std::uint64_t{be(in.take(4, number), 4)};
      case WireType::u64: {
        const std::uint8_t *p = in.take(8, number);
        return (std::uint64_t{be(p, 4)} << 32) | be(p + 4, 4);
      }
      case WireType::s8: return std::int64_t{static_cast<std::int8_t>(*in.take(1, number))};
      case WireType::s16: return std::int64_t{static_cast<std::int16_t>(be(in.take(2, number), 2))};
      case WireType::u1v: {
        Bits bits;
        bits.count = static_cast<std::uint16_t>(count());
        const std::uint8_t *p = in.take((bits.count + 7u) / 8u, number);
        bits.bytes.assign(p, p + (bits.count + 7u) / 8u);
        if (unsigned spare = bits.count % 8u) {
          std::uint8_t kept = static_cast<std::uint8_t>(0xFFu << (8u - spare));
          if (bits.bytes.back() & ~kept) exact = false;
          bits.bytes.back() &= kept;
        }
        return bits;
      }
      case WireType::u8v: {
        std::size_t n = count();
        const std::uint8_t *p = in.take(n, number);
        return std::vector<std::uint8_t>(p, p + n);
      }
      case WireType::u16v: {
        std::size_t n = count();
        const std::uint8_t *p = in.take(2 * n, number);
        std::vector<std::uint16_t> words(n);
        for (std::size_t i = 0; i < n; ++i) words[i] = static_cast<std::uint16_t>(be(p + 2 * i, 2));
        return words;
      }
      case WireType::u32v: {
        std::size_t n = count();
        const std::uint8_t *p = in.take(4 * n, number);
        std::vector<std::uint32_t> words(n);
        for (std::size_t i = 0; i < n; ++i) words[i] = be(p + 4 * i, 4);
        return words;
      }
      case WireType::u96: {
        const std::uint8_t *p = in.take(12, number);
        return std::vector<std::uint8_t>(p, p + 12);
      }
      case WireType::utf8v: {
        std::size_t n = count();
        const std::uint8_t *p = in.take(n, number);
        return std::string(p, p + n);
      }
      case WireType::bytesToEnd: {
        std::size_t n = in.left();
        const std::uint8_t *p = in.take(n, number);
        return std::vector<std::uint8_t>(p, p + n);
      }
    }
    return std::uint64_t{0};
  }

  static void check_value(const Definition &def, const Item &item, const FieldValue &value, std::uint16_t number) {
    if (item.enumeration && !listed(*item.enumeration, value))
      fail(Fault::field_error,
           std::string(def.name) + ": " + std::string(item.name) + " is not one of the " +
               std::string(item.enumeration->name) + " values",
           std::nullopt, FieldFault{number, StatusCode::A_OutOfRange});
    if (auto *text = std::get_if<std::string>(&value); text && !valid_utf8(*text))
      fail(Fault::field_error, std::string(def.name) + ": " + std::string(item.name) + " is not UTF-8",
           std::nullopt, FieldFault{number, StatusCode::A_Invalid});
  }

  void read_parameters(const Definition &def, Body &in, std::vector<Parameter> &params, unsigned depth) {
    Placement placement(def);
    while (in.left()) {
      const std::uint8_t *p = in.here();
      std::uint16_t type;
      std::size_t length;
      const Definition *child;
      if (p[0] & 0x80) {
        type = p[0] & 0x7F;
        child = find_parameter(type);
        if (!child || !child->tv())
          fail(Fault::unknown_parameter, std::string(def.name) + ": unknown TV parameter type " + std::to_string(type),
               type);
        length = tv_size(*child);
        if (length > in.left())
          fail(Fault::overflow_parameter, std::string(child->name) + " runs past the end of " + std::string(def.name),
               type);
      } else {
        if (in.left() < 4)
          fail(Fault::overflow_parameter, std::string(def.name) + ": " + std::to_string(in.left()) +
                                              " bytes at its end, fewer than a parameter header");
        if (p[0] & 0xFC) exact = false;
        type = static_cast<std::uint16_t>(be(p, 2) & 0x3FF);
        length = be(p + 2, 2);
        if (length < 4)
          fail(Fault::parameter_error, parameter_name(type) + ": length " + std::to_string(length) +
                                           " is shorter than its header", type);
        if (length > in.left())
          fail(Fault::overflow_parameter, parameter_name(type) + ": length " + std::to_string(length) +
                                              " runs past the end of " + std::string(def.name), type);
        child = find_parameter(type);
        if (!child || child->tv())
          fail(Fault::unknown_parameter, std::string(def.name) + ": unknown parameter type " + std::to_string(type),
               type);
      }
      if (type == custom_type && options_.refuse_custom)
        fail(Fault::unsupported_parameter, std::string(def.name) + ": Custom parameters are not supported", type);
      switch (placement.add(type)) {
        case Placement::Verdict::fits: break;
        case Placement::Verdict::unexpected:
          fail(Fault::unexpected, std::string(child->name) + " is not expected here in " + std::string(def.name) +
                                      " (not allowed, or out of order)", type);
        case Placement::Verdict::duplicate:
          fail(Fault::duplicate, std::string(def.name) + " allows one " + std::string(child->name) + " only", type);
      }
      if (depth + 1 > options_.limits.max_depth)
        fail(Fault::parameter_error, std::string(child->name) + " is nested deeper than " +
                                         std::to_string(options_.limits.max_depth) + " parameters", type);
      Parameter value;
      value.type = type;
      try {
        if (child->tv()) body(*child, p + 1, length - 1, value.fields, value.params, depth + 1);
        else body(*child, p + 4, length - 4, value.fields, value.params, depth + 1);
      } catch (Failure &f) {
        f.enclosing.push_back(type);
        throw;
      }
      params.push_back(std::move(value));
      in.skip(length);
    }
    std::string place;
    if (auto missing = placement.missing(&place))
      fail(Fault::missing, std::string(def.name) + " lacks its " + place, *missing);
  }

  const DecodeOptions &options_;
};

Decoded refused(Decoded d, StatusCode code, std::string description, bool bad_header = false) {
  d.bad_header = bad_header;
  d.error.code = code;
  d.error.description = std::move(description);
  return d;
}

}  // namespace

Header read_header(std::span<const std::uint8_t> bytes) {
  Header h;
  h.version = static_cast<std::uint8_t>((bytes[0] >> 2) & 0x7);
  h.type = static_cast<std::uint16_t>(be(bytes.data(), 2) & 0x3FF);
  h.length = be(bytes.data() + 2, 4);
  h.id = be(bytes.data() + 6, 4);
  return h;
}

Decoded decode(std::span<const std::uint8_t> bytes, const DecodeOptions &options) {
  Decoded d;
  if (bytes.size() < header_size)
    return refused(d, StatusCode::M_FieldError,
                   "message header truncated: " + std::to_string(bytes.size()) + " of 10 bytes", true);
  const Header h = read_header(bytes);
  d.header = h;
  if (h.length < header_size)
    return refused(d, StatusCode::M_FieldError,
                   "message length " + std::to_string(h.length) + " is shorter than its 10-byte header", true);
  if (h.length > options.limits.max_message)
    return refused(d, StatusCode::M_OverflowField,
                   "message length " + std::to_string(h.length) + " exceeds the " +
                       std::to_string(options.limits.max_message) + "-byte limit", true);
  if (h.length != bytes.size())
    return refused(d, StatusCode::M_FieldError,
                   "message length " + std::to_string(h.length) + " but " + std::to_string(bytes.size()) +
                       " bytes received", true);
  if (h.version != version_1_0_1)
    return refused(d, StatusCode::M_UnsupportedVersion,
                   "protocol version " + std::to_string(h.version) + " is not supported; this reader speaks 1 (LLRP 1.0.1)");
  const Definition *def = find_message(h.type);
  if (!def)
    return refused(d, StatusCode::M_UnsupportedMessage, "unknown message type " + std::to_string(h.type));
  if (h.type == custom_type && options.refuse_custom)
    return refused(d, StatusCode::M_UnsupportedMessage, "CUSTOM_MESSAGE is not supported");

  Decoder decoder(options);
  Message m;
  m.version = h.version;
  m.type = h.type;
  m.id = h.id;
  try {
    decoder.body(*def, bytes.data() + header_size, h.length - header_size, m.fields, m.params, 0);
  } catch (const Failure &f) {
    d.error = to_error(f, options.limits.max_depth);
    return d;
  }
  d.exact = decoder.exact && (bytes[0] & 0xE0) == 0;
  d.message = std::move(m);
  return d;
}

}  // namespace uhf::llrp
