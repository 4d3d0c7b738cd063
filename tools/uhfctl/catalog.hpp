// The library's command catalogue as the tools read it: names for command codes, families in
// words, and names looked up without regard to case (users type "epc_read_tag").
#pragma once

#include <cstdint>
#include <string_view>

#include "uhfreader.h"

namespace uhfctl {

// Case-insensitive; nullptr when no catalogue command has the name.
const uhf_command_info* find_command(std::string_view name);
const uhf_command_info* find_command(std::uint8_t code);
// "EPC_Read_TAG", "handshake" (code 0), or "unknown".
const char* command_name(std::uint8_t code);
// "reader administration", "EPC tags", ...
const char* family_name(int family);

}  // namespace uhfctl
