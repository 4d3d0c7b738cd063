#include "command_request.hpp"

#include <cctype>

#include "event_json.hpp"

namespace uhfd {

namespace {

// Room for the largest reply any copy rule writes, and for the largest block a caller may give.
constexpr std::size_t kBufferBytes = 2048 + 16;

std::optional<std::vector<std::uint8_t>> parse_hex(const std::string& s) {
    if (s.size() % 2) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(s.size() / 2);
    for (std::size_t i = 0; i < s.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(s[i])) || !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string check_arg(const uhf_command_info* cmd, int i, const nlohmann::ordered_json& v, PreparedCall& call) {
    const uhf_arg_info& a = cmd->args[i];
    if (a.kind == UHF_ARG_SCALAR8 || a.kind == UHF_ARG_SCALAR16) {
        if (!v.is_number_integer()) return "must be an integer";
        const long long n = v.get<long long>();
        if (n < a.min || n > a.max) return "must be " + std::to_string(a.min) + ".." + std::to_string(a.max);
        call.scalars[static_cast<std::size_t>(i)] = static_cast<int>(n);
        return {};
    }
    if (!v.is_string()) return "must be a hex string";
    const auto bytes = parse_hex(v.get<std::string>());
    if (!bytes) return "must be hex digits, two per byte";
    if (bytes->size() > 255) return std::to_string(bytes->size()) + " bytes; a request carries at most 255";
    const int len = uhf_block_length(cmd, i, bytes->data(), static_cast<int>(bytes->size()));
    if (len < 0) return "too short for its count fields";
    if (static_cast<std::size_t>(len) > 255) return "its count fields ask for " + std::to_string(len) + " bytes; a request carries at most 255";
    if (static_cast<std::size_t>(len) != bytes->size())
        return "the command sends " + std::to_string(len) + " bytes of this block, but " + std::to_string(bytes->size()) + " were given";
    std::vector<std::uint8_t>& buf = call.buffers[static_cast<std::size_t>(i)];
    buf.assign(std::max<std::size_t>(kBufferBytes, static_cast<std::size_t>(a.size) + 16), 0);
    std::copy(bytes->begin(), bytes->end(), buf.begin());
    return {};
}

}  // namespace

Request parse_request(const std::string& payload, const std::set<std::string>& allowed) {
    return parse_request(payload, CommandPolicy(false, allowed));
}

Request parse_request(const std::string& payload, const CommandPolicy& policy) {
    Request r;
    if (payload.size() > kMaxRequestBytes) {
        r.refusal = "request of " + std::to_string(payload.size()) + " bytes; at most " + std::to_string(kMaxRequestBytes);
        return r;
    }
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(payload, nullptr, false);
    if (j.is_discarded()) {
        r.refusal = "malformed JSON";
        return r;
    }
    if (!j.is_object()) {
        r.refusal = "the request must be a JSON object";
        return r;
    }
    if (j.contains("id")) r.id = j["id"];
    for (const auto& [k, v] : j.items())
        if (k != "id" && k != "command" && k != "args") {
            r.refusal = "unknown member '" + k + "' (a request has command, args and id)";
            return r;
        }
    if (!j.contains("command") || !j["command"].is_string()) {
        r.refusal = "'command' must be a command name";
        return r;
    }
    r.command = j["command"].get<std::string>();
    if (const CommandPolicy::Decision d = policy.decide(r.command); d.verdict != CommandPolicy::Verdict::allowed) {
        r.refusal = d.refusal;
        return r;
    }
    const uhf_command_info* cmd = uhf_command_find(r.command.c_str());
    const nlohmann::ordered_json args = j.value("args", nlohmann::ordered_json::array());
    if (!args.is_array()) {
        r.refusal = "'args' must be an array";
        return r;
    }
    std::vector<int> wanted;
    for (int i = 0; i < cmd->arg_count; ++i)
        if (cmd->args[i].kind != UHF_ARG_REPLY) wanted.push_back(i);
    if (args.size() != wanted.size()) {
        std::string names;
        for (int i : wanted) names += (names.empty() ? "" : ", ") + std::string(cmd->args[i].name);
        r.refusal = r.command + " takes " + std::to_string(wanted.size()) + " argument(s)" +
                    (names.empty() ? "" : " (" + names + ")") + ", " + std::to_string(args.size()) + " given";
        return r;
    }
    r.call.cmd = cmd;
    for (int i = 0; i < cmd->arg_count; ++i)
        if (cmd->args[i].kind == UHF_ARG_REPLY)
            r.call.buffers[static_cast<std::size_t>(i)].assign(std::max<std::size_t>(kBufferBytes, static_cast<std::size_t>(cmd->args[i].size) + 16), 0);
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        const int i = wanted[k];
        const std::string why = check_arg(cmd, i, args[k], r.call);
        if (!why.empty()) {
            r.refusal = "args[" + std::to_string(k) + "] (" + cmd->args[i].name + "): " + why;
            r.call.cmd = nullptr;
            return r;
        }
    }
    return r;
}

CommandResult execute(uhf_link* link, int addr, PreparedCall& call) {
    CommandResult res;
    unsigned char* buffers[4] = {};
    for (int i = 0; i < 4; ++i)
        if (!call.buffers[static_cast<std::size_t>(i)].empty()) buffers[i] = call.buffers[static_cast<std::size_t>(i)].data();
    res.rc = uhf_call(link, call.cmd, addr, call.scalars.data(), buffers);
    res.outcome = inventory::classify(link, res.rc, call.cmd->result);
    res.detail = res.rc > 0 ? uhf_detail(link) : 0;
    const bool replied = res.outcome == inventory::Outcome::ok || res.outcome == inventory::Outcome::status;
    res.status = replied ? uhf_status(link) : 0;
    // Exchange-result commands return 0 whatever the reader said; its status byte decides.
    if (res.outcome == inventory::Outcome::ok && res.status != 0) res.outcome = inventory::Outcome::status;
    if (replied && call.cmd->copy_arg >= 0 && buffers[call.cmd->copy_arg]) {
        const int n = uhf_copy_length(call.cmd, buffers[call.cmd->copy_arg]);
        if (n > 0) res.reply.assign(buffers[call.cmd->copy_arg], buffers[call.cmd->copy_arg] + n);
    }
    switch (res.outcome) {
        case inventory::Outcome::ok: res.words = "done"; break;
        case inventory::Outcome::status: res.words = "the reader refused with status " + std::to_string(res.status); break;
        default: res.words = uhf_strerror(res.rc, res.detail); break;
    }
    return res;
}

nlohmann::ordered_json reply_json(const std::string& gateway, const std::string& reader, const Request& req,
                          const CommandResult* result) {
    nlohmann::ordered_json j{{"id", req.id}, {"gateway", gateway}, {"reader", reader}, {"command", req.command}};
    const std::string& refusal = !req.refusal.empty() ? req.refusal : (result ? result->refusal : std::string("not run"));
    if (!req.refusal.empty() || !result || !result->refusal.empty()) {
        j["ok"] = false;
        j["outcome"] = result && result->busy ? "busy" : "refused";
        j["error"] = refusal;
        return j;
    }
    static const char* const names[] = {"ok", "status", "exchange", "link"};
    j["ok"] = result->outcome == inventory::Outcome::ok;
    j["outcome"] = names[static_cast<int>(result->outcome)];
    j["result"] = result->rc;
    j["exchange"] = result->outcome == inventory::Outcome::exchange ? result->rc : 0;
    j["detail"] = result->detail;
    j["status"] = result->status;
    j["reply"] = hex(result->reply);
    j["words"] = result->words;
    return j;
}

}  // namespace uhfd
