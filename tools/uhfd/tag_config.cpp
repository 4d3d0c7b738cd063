#include "tag_config.hpp"

#include <cctype>

namespace uhfd {

namespace {

constexpr int kMaxAntenna = 255;

void parse_rules(Section& s, const char* key, std::vector<IdRule>& rules) {
    const toml::array* list = s.array(key);
    if (!list) return;
    for (const toml::node& n : *list) {
        const auto* text = n.as_string();
        if (!text) {
            s.problem_at(n, key, "must hold strings (EPC patterns or hex with an optional /MASK)");
            continue;
        }
        std::string why;
        if (auto rule = IdRule::parse(text->get(), why)) rules.push_back(std::move(*rule));
        else s.problem_at(n, key, why);
    }
}

std::optional<int> antenna_number(std::string_view text) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    int v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v <= kMaxAntenna ? std::optional<int>(v) : std::nullopt;
}

bool zone_name_ok(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

void parse_zones(Section& s, const TagFilter& filter, ZoneSettings& z) {
    if (const toml::node* n = s.node("zones")) {
        const toml::table* t = n->as_table();
        if (!t) {
            s.problem("zones", "must be a table of antenna = zone name: { \"1\" = \"door-3-in\" }");
        } else {
            for (const auto& [k, v] : *t) {
                const std::string key(k.str());
                const auto antenna = antenna_number(key);
                const auto* name = v.as_string();
                if (!antenna)
                    s.problem_at(v, "zones", "'" + key + "' is not an antenna number (0 to 255)");
                else if (!name || !zone_name_ok(name->get()))
                    s.problem_at(v, "zones", "antenna " + key + ": a zone is 1 to 64 printable characters (a string)");
                else if (!filter.antennas.empty() && !filter.antennas.count(*antenna))
                    s.problem_at(v, "zones", "antenna " + key + " is not among the reader's antennas");
                else
                    z.names[*antenna] = name->get();
            }
            if (t->empty()) s.problem("zones", "names no antenna");
        }
    }
    if (auto ms = s.integer("zone_window_ms", 1, 3600000)) z.window = std::chrono::milliseconds(*ms);
    if (auto ms = s.integer("zone_hold_ms", 0, 3600000)) z.hold = std::chrono::milliseconds(*ms);
    if (auto n = s.integer("zone_min_rounds", 1, 1000)) z.min_rounds = static_cast<int>(*n);
}

}  // namespace

void parse_tag_settings(Section& s, TagFilter& filter, ZoneSettings& zones) {
    parse_rules(s, "include", filter.include);
    parse_rules(s, "exclude", filter.exclude);
    if (auto v = s.integer("rssi_min", -128, 127)) filter.rssi_min = static_cast<int>(*v);
    if (const toml::array* list = s.array("antennas")) {
        for (const toml::node& n : *list) {
            const auto* v = n.as_integer();
            if (!v || v->get() < 0 || v->get() > kMaxAntenna) s.problem_at(n, "antennas", "each must be an antenna number 0..255");
            else filter.antennas.insert(static_cast<int>(v->get()));
        }
        if (list->empty()) s.problem("antennas", "must name at least one antenna (leave it out for all)");
    }
    parse_zones(s, filter, zones);
}

}  // namespace uhfd
