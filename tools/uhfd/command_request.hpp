// Commands from MQTT: a request is checked whole against the catalogue and the allow-list before
// anything reaches the reader, then runs on the reader's link between rounds.
//
//   request: {"command": "EPC_Read_TAG", "args": ["03000400"], "id": 7}
//            scalars as JSON integers, blocks as hex strings; reply buffers are not given
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_policy.hpp"
#include "inventory/result.hpp"
#include "uhfreader.h"

namespace uhfd {

inline constexpr std::size_t kMaxRequestBytes = 8192;

struct PreparedCall {
    const uhf_command_info* cmd = nullptr;
    std::array<int, 4> scalars{};
    std::array<std::vector<std::uint8_t>, 4> buffers;
};

struct Request {
    nlohmann::ordered_json id;       // echoed in the reply; null when absent
    std::string command;     // as given, for the reply
    std::string refusal;     // empty: `call` is ready to run
    PreparedCall call;
};

// Never throws: anything wrong with the request is its refusal, the policy's included.
Request parse_request(const std::string& payload, const CommandPolicy& policy);
// The same against a bare name set (every name in it allowed, nothing else).
Request parse_request(const std::string& payload, const std::set<std::string>& allowed);

struct CommandResult {
    std::string refusal;  // not run at all (reader offline, busy, stopping)
    bool busy = false;    // refused because the reader's command queue is full: try again later
    int rc = 0;
    inventory::Outcome outcome = inventory::Outcome::ok;
    int detail = 0;
    int status = 0;
    std::vector<std::uint8_t> reply;
    std::string words;
};

// On the reader's thread, with its link.
CommandResult execute(uhf_link* link, int addr, PreparedCall& call);

nlohmann::ordered_json reply_json(const std::string& gateway, const std::string& reader, const Request& req,
                          const CommandResult* result);

}  // namespace uhfd
