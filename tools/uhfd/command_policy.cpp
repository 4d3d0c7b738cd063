#include "command_policy.hpp"

#include "uhfreader.h"

namespace uhfd {

namespace {

const uhf_command_info* find(std::string_view name) { return uhf_command_find(std::string(name).c_str()); }

}  // namespace

bool CommandPolicy::changes(std::string_view command) {
    const uhf_command_info* cmd = find(command);
    return !cmd || cmd->changes != 0;
}

CommandPolicy::CommandPolicy() : CommandPolicy(true, {}) {}

CommandPolicy::CommandPolicy(bool reads, const std::set<std::string>& allow) {
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info* c = uhf_command_at(i);
        if ((reads && !changes(c->name)) || allow.count(c->name)) allowed_.insert(c->name);
    }
}

CommandPolicy::Decision CommandPolicy::decide(std::string_view command) const {
    Decision d;
    if (!find(command)) {
        d.refusal = "unknown command '" + std::string(command) + "'";
        return d;
    }
    d.changes = changes(command);
    if (!allowed(command)) {
        d.verdict = Verdict::forbidden;
        d.refusal = "command '" + std::string(command) + "' is not allowed on this gateway (see [commands] allow)";
        return d;
    }
    d.verdict = Verdict::allowed;
    return d;
}

}  // namespace uhfd
