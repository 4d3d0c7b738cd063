// What the encoder and the decoder share about a definition's body: where each sub-parameter
// may stand, and which field values the definition allows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "llrp/catalogue.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

// Follows a body's sub-parameters one at a time against its definition: each must come at or
// after the place of the one before (a parameter that belongs earlier is out of order), and a
// 1 or 0_1 place takes one parameter only.
class Placement {
 public:
  enum class Verdict { fits, unexpected, duplicate };

  explicit Placement(const Definition &def) : def_(def), counts_(def.items.size(), 0) {}

  Verdict add(std::uint16_t type);
  // The first required place left empty: its parameter's type (a choice's first member), or
  // nothing when every required place is filled. `name` receives the place's name.
  std::optional<std::uint16_t> missing(std::string *name = nullptr) const;

 private:
  const Definition &def_;
  std::vector<unsigned> counts_;
  std::size_t place_ = 0;
};

// The variant index a wire type's value has in FieldValue.
std::size_t value_index(WireType type);

// Whether a numeric value fits the wire type's width.
bool fits(WireType type, std::uint64_t value);
bool fits(WireType type, std::int64_t value);

// Whether an enumerated field's value (each element of a vector) is one the enumeration lists.
bool listed(const Enumeration &enumeration, const FieldValue &value);

bool valid_utf8(const std::string &text);

std::string parameter_name(std::uint16_t type);

}  // namespace uhf::llrp
