// The commands a gateway without [commands] runs: the catalogue's reading commands. Kept for the
// callers that still take a name set; new code asks CommandPolicy (command_policy.hpp).
#pragma once

#include <set>
#include <string>

namespace uhfd {

const std::set<std::string>& reading_commands();

}  // namespace uhfd
