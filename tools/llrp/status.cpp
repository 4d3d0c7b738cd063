// Status codes in words, the LLRPStatus parameter, and the reply to what did not decode.
#include "llrp/status.hpp"

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"

namespace uhf::llrp {
namespace {

Parameter field_error(const FieldFault &f) {
  Parameter p = make_parameter(param::FieldError);
  p.fields = {std::uint64_t{f.number}, std::uint64_t{static_cast<std::uint16_t>(f.code)}};
  return p;
}

// The ParameterError for faults[i], nesting the rest of the chain (or the field error).
Parameter parameter_error(const Error &error, std::size_t i) {
  Parameter p = make_parameter(param::ParameterError);
  p.fields = {std::uint64_t{error.parameters[i].type},
              std::uint64_t{static_cast<std::uint16_t>(error.parameters[i].code)}};
  if (i + 1 < error.parameters.size()) p.params.push_back(parameter_error(error, i + 1));
  else if (error.field) p.params.push_back(field_error(*error.field));
  return p;
}

}  // namespace

std::string_view status_name(StatusCode code) {
  const Definition *status = find_parameter(param::LLRPStatus);
  for (const EnumEntry &e : field_item(*status, 0).enumeration->entries)
    if (e.value == static_cast<std::uint16_t>(code)) return e.name;
  return "unknown status";
}

Parameter llrp_status(StatusCode code, std::string description) {
  Error e;
  e.code = code;
  e.description = std::move(description);
  return llrp_status(e);
}

Parameter llrp_status(const Error &error) {
  Parameter p = make_parameter(param::LLRPStatus);
  p.fields = {std::uint64_t{static_cast<std::uint16_t>(error.code)}, error.description};
  // FieldError comes before ParameterError in LLRPStatus; a field of the message itself has no
  // parameter chain above it.
  if (error.parameters.empty()) {
    if (error.field) p.params.push_back(field_error(*error.field));
  } else {
    p.params.push_back(parameter_error(error, 0));
  }
  return p;
}

Message error_reply(const Decoded &decoded) {
  const std::optional<Header> &h = decoded.header;
  std::uint32_t id = h ? h->id : 0;
  const Error &error = decoded.error;
  if (error.code == StatusCode::M_UnsupportedVersion && h) {
    Message reply = make_message(msg::ERROR_MESSAGE, id);
    reply.version = h->version;
    reply.params.push_back(llrp_status(error.code, error.description));
    return reply;
  }
  const Definition *request = h ? find_message(h->type) : nullptr;
  bool header_fault = decoded.bad_header || error.code == StatusCode::M_UnsupportedMessage;
  std::uint16_t type = msg::ERROR_MESSAGE;
  if (request && request->response && !header_fault) type = request->response;
  Message reply = make_message(type, id);
  reply.params.push_back(llrp_status(error));
  return reply;
}

bool should_reply(const Decoded &decoded) {
  return !decoded.header || decoded.header->type != msg::ERROR_MESSAGE;
}

}  // namespace uhf::llrp
