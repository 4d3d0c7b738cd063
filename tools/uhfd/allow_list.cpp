#include "allow_list.hpp"

#include "command_policy.hpp"

namespace uhfd {

const std::set<std::string>& reading_commands() {
    static const CommandPolicy reads_only;
    return reads_only.allowed_commands();
}

}  // namespace uhfd
