// Who may run what: the one answer every front end (MQTT requests, the console's HTTP routes, its
// settings panel, the catalogue view) asks, so they cannot disagree.
//
// Two facts decide it:
//   - whether a command changes the reader or a tag: the `changes` column of the library's
//     catalogue rows (uhf_command_info), never a list kept here;
//   - the configuration's [commands] table: `reads = false` withdraws the reading commands,
//     `allow = [...]` adds commands by name (usually ones that change something).
//
// Use:
//   const CommandPolicy& p = gateway.command_policy();   // a snapshot; a reload makes a new one
//   switch (p.decide(name).verdict) { ... }
//   p.needs_token(name)  -- the console asks the token before running it (checked before
//                           anything else, so a refusal without the token says nothing of the list)
//
// A policy is a small immutable value: copy it freely, compare it to see whether a reload changed it.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace uhfd {

class CommandPolicy {
public:
    enum class Verdict {
        unknown,    // no catalogue command has this name
        forbidden,  // a catalogue command this gateway does not run (see [commands])
        allowed,
    };

    struct Decision {
        Verdict verdict = Verdict::unknown;
        bool changes = true;  // changes the reader or a tag (unknown names count as changing)
        std::string refusal;  // empty when allowed; otherwise one line for the caller
    };

    // Reading commands allowed, nothing else: what a configuration without [commands] means.
    CommandPolicy();
    // `reads`: whether the reading commands run; `allow`: further command names, each a
    // catalogue name (the configuration checks that before building the policy).
    CommandPolicy(bool reads, const std::set<std::string>& allow);

    Decision decide(std::string_view command) const;
    bool allowed(std::string_view command) const { return allowed_.count(std::string(command)) > 0; }
    // From the catalogue row alone, whatever the configuration says.
    static bool changes(std::string_view command);
    // What the console asks the token for: any command that changes something, and any unknown name.
    static bool needs_token(std::string_view command) { return changes(command); }

    // Every command that may run, by name (for the catalogue view and the status).
    const std::set<std::string>& allowed_commands() const { return allowed_; }

    bool operator==(const CommandPolicy&) const = default;

private:
    std::set<std::string> allowed_;
};

}  // namespace uhfd
