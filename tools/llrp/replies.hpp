// The messages the connection layer makes itself: the connection events, and the answer to a
// request by its status alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "llrp/status.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

// ConnectionAttemptStatusType values the server sends.
enum class ConnectionAttempt : std::uint16_t { success = 0, client_connection_exists = 2 };

// READER_EVENT_NOTIFICATION: the time now (UTCTimestamp) and a ConnectionAttemptEvent.
Message connection_attempt_event(ConnectionAttempt status, std::uint32_t id);

// The request's response carrying only an LLRPStatus, or ERROR_MESSAGE with it where the
// request has no response; same message ID.
Message status_reply(const Message &request, StatusCode code, std::string description);

// M_UnsupportedMessage, naming the message and why.
Message unsupported(const Message &request, const std::string &why);

// Overwrites an encoded message's ID.
void set_message_id(std::vector<std::uint8_t> &bytes, std::uint32_t id);

}  // namespace uhf::llrp
