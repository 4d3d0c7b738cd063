#include "http/settings.hpp"

#include "command_request.hpp"
#include "event_json.hpp"

namespace uhfd::http {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kWorkBytes = 7;

// One catalogue command, checked and run as a request from outside would be.
CommandResult run(uhf_link* link, int addr, const std::string& command, Json args, std::string& error) {
    uhfd::Request r = parse_request(Json{{"command", command}, {"args", std::move(args)}}.dump(), {command});
    CommandResult res;
    if (!r.refusal.empty()) {
        error = command + ": " + r.refusal;
        res.refusal = r.refusal;
        return res;
    }
    res = execute(link, addr, r.call);
    if (res.outcome != inventory::Outcome::ok) error = command + ": " + res.words;
    return res;
}

struct Current {
    std::vector<std::uint8_t> work;
    std::vector<std::uint8_t> power;  // rf power, active antenna, max power
};

bool read_current(uhf_link* link, int addr, Current& c, std::string& error) {
    const CommandResult w = run(link, addr, "Get_Work_Param", Json::array(), error);
    if (!error.empty()) return false;
    const CommandResult p = run(link, addr, "Get_RF_Power", Json::array(), error);
    if (!error.empty()) return false;
    if (w.reply.size() < kWorkBytes || p.reply.size() < 3) {
        error = "the reader's settings came back short";
        return false;
    }
    c.work = w.reply;
    c.power = p.reply;
    return true;
}

Json to_json(const Current& c) {
    return {{"rf_power", c.power[0]}, {"active_antenna", c.power[1]}, {"max_power", c.power[2]}, {"work_parameters", hex(c.work)}};
}

}  // namespace

std::set<std::string> SettingsChange::commands() const {
    std::set<std::string> c;
    if (rf_power || work_parameters) c.insert("Set_Work_Param");
    if (active_antenna) c.insert("Set_Active_ANT");
    return c;
}

std::string parse_settings_change(const std::string& body, SettingsChange& out) {
    const Json j = Json::parse(body, nullptr, false);
    if (j.is_discarded()) return "malformed JSON";
    if (!j.is_object()) return "the settings must be a JSON object";
    if (j.empty()) return "nothing to change (rf_power, active_antenna, work_parameters)";
    for (const auto& [k, v] : j.items()) {
        if (k == "rf_power") {
            if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 255) return "rf_power must be an integer 0..255 (dBm)";
            out.rf_power = v.get<int>();
        } else if (k == "active_antenna") {
            const uhf_arg_info& a = uhf_command_find("Set_Active_ANT")->args[0];
            if (!v.is_number_integer() || v.get<long long>() < a.min || v.get<long long>() > a.max)
                return "active_antenna must be an integer " + std::to_string(a.min) + ".." + std::to_string(a.max);
            out.active_antenna = v.get<int>();
        } else if (k == "work_parameters") {
            // Checked by the catalogue, as the command itself would be.
            const uhfd::Request r = parse_request(Json{{"command", "Set_Work_Param"}, {"args", {v}}}.dump(), {"Set_Work_Param"});
            if (!r.refusal.empty()) return "work_parameters: " + r.refusal;
            const auto& block = r.call.buffers[0];
            out.work_parameters.emplace(block.begin(), block.begin() + kWorkBytes);
        } else {
            return "unknown setting '" + k + "' (rf_power, active_antenna, work_parameters)";
        }
    }
    return {};
}

SettingsOutcome read_settings(uhf_link* link, int addr) {
    SettingsOutcome o;
    Current c;
    if (!read_current(link, addr, c, o.error)) return o;
    o.ok = true;
    o.settings = to_json(c);
    return o;
}

SettingsOutcome change_settings(uhf_link* link, int addr, const SettingsChange& change) {
    SettingsOutcome o;
    Current c;
    if (!read_current(link, addr, c, o.error)) return o;
    if (change.rf_power && *change.rf_power > c.power[2]) {
        o.error = "rf_power " + std::to_string(*change.rf_power) + " is above the reader's maximum of " + std::to_string(c.power[2]) + " dBm";
        return o;
    }
    std::vector<std::uint8_t> work = change.work_parameters ? *change.work_parameters : c.work;
    work.resize(kWorkBytes);
    if (change.rf_power) work[0] = static_cast<std::uint8_t>(*change.rf_power);
    if (work != std::vector<std::uint8_t>(c.work.begin(), c.work.begin() + kWorkBytes)) {
        run(link, addr, "Set_Work_Param", Json::array({hex(work)}), o.error);
        if (!o.error.empty()) return o;
        o.written.push_back("Set_Work_Param");
    }
    if (change.active_antenna && *change.active_antenna != c.power[1]) {
        run(link, addr, "Set_Active_ANT", Json::array({*change.active_antenna}), o.error);
        if (!o.error.empty()) return o;
        o.written.push_back("Set_Active_ANT");
    }
    Current after;
    if (!read_current(link, addr, after, o.error)) return o;
    o.ok = true;
    o.settings = to_json(after);
    return o;
}

}  // namespace uhfd::http
