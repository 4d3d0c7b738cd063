#include "http/views.hpp"

#include "event_json.hpp"

namespace uhfd::http {

namespace {

Json counts(const std::map<int, std::uint64_t>& m) {
    Json j = Json::object();
    for (const auto& [k, v] : m) j[std::to_string(k)] = v;
    return j;
}

const char* arg_kind(int kind) {
    switch (kind) {
        case UHF_ARG_SCALAR8: return "u8";
        case UHF_ARG_SCALAR16: return "u16";
        case UHF_ARG_BLOCK: return "block";
        case UHF_ARG_BLOCK_REPLY: return "block";
        default: return "reply";
    }
}

const char* family_name(int family) {
    switch (family) {
        case UHF_FAMILY_ADMIN: return "reader";
        case UHF_FAMILY_EPC: return "EPC";
        case UHF_FAMILY_GB: return "GB";
        case UHF_FAMILY_GJB: return "GJB";
        case UHF_FAMILY_GB_FD: return "GB FD";
        case UHF_FAMILY_GJB_FD: return "GJB FD";
        case UHF_FAMILY_PSAM: return "PSAM";
        case UHF_FAMILY_FM151M: return "FM151M";
    }
    return "other";
}

}  // namespace

Json reader_view(const std::string& gateway, const ReaderSnapshot& s, const ReaderConfig& config, std::uint64_t dropped,
                 const Rates& rates) {
    Json j = reader_status_json(gateway, s, dropped);
    j.erase("gateway");
    Json families = Json::array();
    for (const auto f : config.families) families.push_back(inventory::name(f));
    j["families"] = families;
    j["layout"] = config.layout_name;
    j["round_interval_ms"] = config.round_interval.count();
    j["departure_timeout_ms"] = config.departure_timeout.count();
    j["last_round_ms"] = s.counters.last_round_ms;
    j["counters"]["pages"] = s.counters.pages;
    j["reads_by_antenna"] = counts(s.counters.reads_by_antenna);
    j["failures_by_code"] = counts(s.counters.failures_by_code);
    Json r = Json::object();
    for (const auto& [antenna, rate] : rates) r[std::to_string(antenna)] = rate;
    j["read_rates"] = r;
    return j;
}

Json tags_view(const std::string& reader, const ReaderSnapshot& s) {
    Json tags = Json::array();
    for (const auto& t : s.tags) tags.push_back(tag_json(t, true));
    return {{"reader", reader}, {"state", state_name(s.state)}, {"count", s.tags.size()}, {"tags", std::move(tags)}};
}

Json gateway_view(const Gateway& gw, const ConsoleFacts& facts) {
    Json j = gw.gateway_status(true);
    const Publisher::Stats p = gw.publisher_stats();
    j["broker"] = {{"uri", facts.broker_uri},
                   {"connected", p.connected},
                   {"connections", p.connections},
                   {"sent", p.sent},
                   {"delivered", p.delivered}};
    j["console"] = {{"writes", facts.writes}, {"streams", facts.streams}, {"max_streams", facts.max_streams}};
    return j;
}

Json one_reader_view(const Gateway& gw, const std::string& name, const Rates& rates) {
    const auto worker = gw.reader(name);
    if (!worker) return nullptr;
    const auto dropped = gw.queue().dropped_by_key();
    const auto it = dropped.find(name);
    return reader_view(gw.id(), worker->snapshot(false), worker->config(),
                       it == dropped.end() ? 0 : it->second, rates);
}

Json readers_view(const Gateway& gw, const std::map<std::string, Rates>& rates) {
    const auto dropped = gw.queue().dropped_by_key();
    Json list = Json::array();
    for (const std::string& name : gw.reader_names()) {
        const auto worker = gw.reader(name);
        if (!worker) continue;  // removed by a reload meanwhile
        const auto d = dropped.find(name);
        const auto r = rates.find(name);
        list.push_back(reader_view(gw.id(), worker->snapshot(false), worker->config(), d == dropped.end() ? 0 : d->second,
                                   r == rates.end() ? Rates{} : r->second));
    }
    return list;
}

Json catalogue_view(const CommandPolicy& policy) {
    Json list = Json::array();
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info* c = uhf_command_at(i);
        Json args = Json::array();
        for (int a = 0; a < c->arg_count; ++a) {
            const uhf_arg_info& info = c->args[a];
            if (info.kind == UHF_ARG_REPLY) continue;
            Json arg{{"name", info.name}, {"kind", arg_kind(info.kind)}};
            if (info.kind == UHF_ARG_SCALAR8 || info.kind == UHF_ARG_SCALAR16) {
                arg["min"] = info.min;
                arg["max"] = info.max;
            } else {
                // Fixed blocks: exactly this many bytes; counted ones: at least the header.
                arg[info.block == UHF_BLOCK_FIXED ? "size" : "header"] = info.size;
            }
            args.push_back(std::move(arg));
        }
        list.push_back({{"name", c->name},
                        {"code", c->code},
                        {"family", family_name(c->family)},
                        {"summary", c->summary ? c->summary : ""},
                        {"args", std::move(args)},
                        {"allowed", policy.allowed(c->name)},
                        {"needs_token", CommandPolicy::needs_token(c->name)}});
    }
    return list;
}

}  // namespace uhfd::http
