// LLRP status codes and the error a message that does not decode yields: the status code, the
// path to the culprit (a chain of ParameterError down to a parameter, and a FieldError where a
// field is at fault) and a description. llrp_status() turns it into the LLRPStatus parameter
// every response carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "llrp/value.hpp"

namespace uhf::llrp {

// The StatusCode enumeration's values (enumerations.def holds their names for the catalogue).
enum class StatusCode : std::uint16_t {
  M_Success = 0,
  M_ParameterError = 100,
  M_FieldError = 101,
  M_UnexpectedParameter = 102,
  M_MissingParameter = 103,
  M_DuplicateParameter = 104,
  M_OverflowParameter = 105,
  M_OverflowField = 106,
  M_UnknownParameter = 107,
  M_UnknownField = 108,
  M_UnsupportedMessage = 109,
  M_UnsupportedVersion = 110,
  M_UnsupportedParameter = 111,
  P_ParameterError = 200,
  P_FieldError = 201,
  P_UnexpectedParameter = 202,
  P_MissingParameter = 203,
  P_DuplicateParameter = 204,
  P_OverflowParameter = 205,
  P_OverflowField = 206,
  P_UnknownParameter = 207,
  P_UnknownField = 208,
  P_UnsupportedParameter = 209,
  A_Invalid = 300,
  A_OutOfRange = 301,
  R_DeviceError = 401,
};

std::string_view status_name(StatusCode code);

// One ParameterError: the parameter's type and what is wrong with it (P_ParameterError when the
// fault lies further down the chain).
struct ParameterFault {
  std::uint16_t type = 0;
  StatusCode code{};
  bool operator==(const ParameterFault &) const = default;
};

// A FieldError: the field's number in its message or parameter (named fields from 0, in wire
// order) and A_Invalid or A_OutOfRange.
struct FieldFault {
  std::uint16_t number = 0;
  StatusCode code{};
  bool operator==(const FieldFault &) const = default;
};

struct Error {
  StatusCode code = StatusCode::M_Success;
  std::string description;
  std::vector<ParameterFault> parameters;  // outermost first; each nests the next
  std::optional<FieldFault> field;         // in the last parameter, or the message's own field
};

// Anything but success.
inline bool failed(const Error &e) { return e.code != StatusCode::M_Success; }

// The LLRPStatus parameter for an error (or for success: M_Success and an empty description).
Parameter llrp_status(const Error &error);
Parameter llrp_status(StatusCode code, std::string description);

}  // namespace uhf::llrp
