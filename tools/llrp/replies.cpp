// The connection layer's own messages.
#include "llrp/replies.hpp"

#include <chrono>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"

namespace uhf::llrp {

Message connection_attempt_event(ConnectionAttempt status, std::uint32_t id) {
  Message event = make_message(msg::READER_EVENT_NOTIFICATION, id);
  Parameter data = make_parameter(param::ReaderEventNotificationData);
  Parameter stamp = make_parameter(param::UTCTimestamp);
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  set(stamp, "Microseconds",
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count()));
  data.params.push_back(stamp);
  Parameter attempt = make_parameter(param::ConnectionAttemptEvent);
  set(attempt, "Status", static_cast<std::uint64_t>(status));
  data.params.push_back(attempt);
  event.params.push_back(data);
  return event;
}

Message status_reply(const Message &request, StatusCode code, std::string description) {
  const Definition *def = find_message(request.type);
  Message reply = make_message(def && def->response ? def->response : msg::ERROR_MESSAGE, request.id);
  reply.params.push_back(llrp_status(code, std::move(description)));
  return reply;
}

Message unsupported(const Message &request, const std::string &why) {
  const Definition *def = find_message(request.type);
  std::string name = def ? std::string(def->name) : "message type " + std::to_string(request.type);
  return status_reply(request, StatusCode::M_UnsupportedMessage, name + " " + why);
}

void set_message_id(std::vector<std::uint8_t> &bytes, std::uint32_t id) {
  for (int i = 0; i < 4; ++i) bytes[6 + i] = static_cast<std::uint8_t>(id >> (24 - 8 * i));
}

}  // namespace uhf::llrp
