#include "config.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "layout_config.hpp"
#include "llrp_config.hpp"
#include "tag_config.hpp"
#include "toml_section.hpp"
#include "uhfreader.h"

namespace uhfd {

ConfigError::ConfigError(std::vector<std::string> problems)
    : std::runtime_error(problems.empty() ? "configuration error" : problems.front()), problems_(std::move(problems)) {}

namespace {

// Names become MQTT topic levels, so they keep to characters no topic treats specially.
bool topic_safe(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (const char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.')) return false;
    return true;
}
constexpr const char* kNameRule = "must be 1 to 64 letters, digits, '-', '_' or '.'";

// mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; HOST may be [IPv6].
bool parse_uri(const std::string& uri, BrokerConfig& b) {
    std::string rest;
    if (uri.rfind("mqtt://", 0) == 0 || uri.rfind("tcp://", 0) == 0) {
        b.tls = false;
        rest = uri.substr(uri.find("//") + 2);
    } else if (uri.rfind("mqtts://", 0) == 0 || uri.rfind("ssl://", 0) == 0) {
        b.tls = true;
        rest = uri.substr(uri.find("//") + 2);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return false;
        b.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            port = rest.substr(close + 2);
        }
    } else {
        const auto colon = rest.find(':');
        b.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
    }
    if (b.host.empty() || b.host.find('/') != std::string::npos) return false;
    b.port = b.tls ? 8883 : 1883;
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
        b.port = std::stoi(port);
        if (b.port < 1 || b.port > 65535) return false;
    }
    return true;
}

void parse_gateway(Section& s, Config& c) {
    if (auto id = s.text("id", true)) {
        if (topic_safe(*id)) c.gateway_id = *id;
        else s.problem("id", kNameRule);
    }
    if (auto level = s.text("log_level")) {
        if (auto l = log::parse_level(*level)) c.log_level = *l;
        else s.problem("log_level", "must be \"error\", \"warning\", \"info\" or \"debug\"");
    }
    if (auto dir = s.text("queue_dir")) {
        if (dir->empty()) s.problem("queue_dir", "must name a directory");
        else c.queue_dir = *dir;
    }
    if (auto n = s.integer("queue_max_events", 1, 100000000)) c.queue_max_events = static_cast<std::size_t>(*n);
    if (auto ms = s.integer("reconnect_min_ms", 10, 3600000)) c.reconnect_min = std::chrono::milliseconds(*ms);
    if (auto ms = s.integer("reconnect_max_ms", 10, 3600000)) c.reconnect_max = std::chrono::milliseconds(*ms);
    if (c.reconnect_max < c.reconnect_min) s.problem("reconnect_max_ms", "must not be below reconnect_min_ms");
}

void parse_broker(Section& s, Config& c) {
    BrokerConfig& b = c.broker;
    if (auto uri = s.text("uri")) {
        b.uri = *uri;
        if (!parse_uri(*uri, b)) s.problem("uri", "must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    } else {
        parse_uri(b.uri, b);
    }
    if (auto v = s.text("client_id")) {
        if (v->empty() || v->size() > 23 * 8) s.problem("client_id", "must be 1 to 184 characters");
        else b.client_id = *v;
    }
    if (auto v = s.text("username")) b.username = *v;
    if (auto v = s.text("password")) b.password = *v;
    if (!b.password.empty() && b.username.empty()) s.problem("password", "needs a username");
    for (auto [key, field] : {std::pair{"ca_file", &b.ca_file}, std::pair{"cert_file", &b.cert_file},
                              std::pair{"key_file", &b.key_file}}) {
        if (auto v = s.text(key)) {
            if (!std::ifstream(*v)) s.problem(key, "cannot read '" + *v + "'");
            *field = *v;
        }
    }
    if (b.cert_file.empty() != b.key_file.empty()) s.problem(b.cert_file.empty() ? "key_file" : "cert_file", "cert_file and key_file go together");
    if (b.tls && b.ca_file.empty()) s.problem("ca_file", "mqtts:// needs the CA that signed the broker's certificate");
    if (!b.tls && (!b.ca_file.empty() || !b.cert_file.empty())) s.problem("uri", "TLS files are given: use mqtts://");
    if (auto v = s.integer("keepalive", 5, 65535)) b.keepalive_s = static_cast<int>(*v);
    if (auto v = s.text("topic_prefix")) {
        if (v->empty() || v->find_first_of("+#") != std::string::npos || v->front() == '/' || v->back() == '/')
            s.problem("topic_prefix", "must be a topic without wildcards or a leading or trailing '/'");
        else b.topic_prefix = *v;
    }
    if (auto v = s.text("protocol")) {
        if (*v == "5") b.protocol = 5;
        else if (*v == "3.1.1") b.protocol = 4;
        else s.problem("protocol", "must be \"5\" or \"3.1.1\"");
    }
}

void parse_commands(Section& s, Config& c) {
    const bool reads = s.flag("reads").value_or(true);
    std::set<std::string> named;
    if (const toml::array* allow = s.array("allow")) {
        for (const toml::node& n : *allow) {
            const auto* name = n.as_string();
            if (!name) {
                s.problem_at(n, "allow", "must hold command names (strings)");
                continue;
            }
            if (!uhf_command_find(name->get().c_str())) {
                s.problem_at(n, "allow", "no command '" + name->get() + "' ('uhfctl commands' lists them)");
                continue;
            }
            named.insert(name->get());
        }
    }
    c.commands = CommandPolicy(reads, named);
}

void parse_reader(Section& s, const std::map<std::string, inventory::Layout>& layouts, ReaderConfig& r) {
    if (auto name = s.text("name", true)) {
        if (topic_safe(*name)) r.name = *name;
        else s.problem("name", kNameRule);
    }
    if (auto device = s.text("device", true)) {
        if (device->empty()) s.problem("device", "must name a device (\"/dev/ttyUSB0@115200\", \"usb:1-2\", \"tcp:HOST:PORT\")");
        r.device = *device;
    }
    if (auto a = s.integer("address", 0, 255)) r.address = static_cast<int>(*a);
    if (const toml::array* fams = s.array("families")) {
        r.families.clear();
        for (const toml::node& n : *fams) {
            const auto* text = n.as_string();
            const auto f = text ? inventory::parse_family(text->get()) : std::nullopt;
            if (!f) s.problem_at(n, "families", "each must be \"epc\", \"gb\" or \"gjb\"");
            else if (std::find(r.families.begin(), r.families.end(), *f) != r.families.end())
                s.problem_at(n, "families", "names " + text->get() + " twice");
            else r.families.push_back(*f);
        }
        if (fams->empty()) s.problem("families", "must name at least one family");
    }
    if (auto ms = s.integer("round_interval_ms", 0, 3600000)) r.round_interval = std::chrono::milliseconds(*ms);
    if (auto ms = s.integer("departure_timeout_ms", 1, 86400000)) r.departure_timeout = std::chrono::milliseconds(*ms);
    if (auto ms = s.integer("report_interval_ms", 0, 86400000)) r.report_interval = std::chrono::milliseconds(*ms);
    if (auto ms = s.integer("reply_timeout_ms", 0, 60000)) r.reply_timeout = std::chrono::milliseconds(*ms);
    if (auto layout = s.text("layout")) r.layout_name = *layout;
    if (r.layout_name == "virtual") r.layout = inventory::virtual_layout();
    else if (r.layout_name == "raw") r.layout = inventory::raw_layout();
    else if (auto it = layouts.find(r.layout_name); it != layouts.end()) r.layout = it->second;
    else s.problem("layout", "no layout '" + r.layout_name + "': \"virtual\", \"raw\" or a [layouts.NAME] table");
    parse_tag_settings(s, r.filter, r.zones);
}

}  // namespace

Config parse_config(std::string_view text, const std::string& source_name) {
    Problems problems(source_name);
    toml::table root;
    try {
        root = toml::parse(text, source_name);
    } catch (const toml::parse_error& e) {
        problems.add(e.source(), "syntax", std::string(e.description()));
        throw ConfigError(problems.take());
    }
    Config c;
    {
        Section top(root, "", problems);
        if (const toml::table* t = top.table("gateway")) {
            Section s(*t, "gateway", problems);
            parse_gateway(s, c);
        } else {
            problems.add(root.source(), "gateway", "missing (a [gateway] table with its id)");
        }
        if (const toml::table* t = top.table("broker")) {
            Section s(*t, "broker", problems);
            parse_broker(s, c);
        }
        if (c.broker.client_id.empty()) c.broker.client_id = "uhfd-" + c.gateway_id;
        if (const toml::table* t = top.table("commands")) {
            Section s(*t, "commands", problems);
            parse_commands(s, c);
        }
        if (const toml::table* t = top.table("http")) {
            Section s(*t, "http", problems);
            parse_http(s, c.http);
        }
        std::map<std::string, inventory::Layout> layouts;
        if (const toml::table* t = top.table("layouts")) {
            Section s(*t, "layouts", problems);
            for (const auto& [k, v] : *t) {
                const std::string name(k.str());
                s.node(name);
                if (name == "virtual" || name == "raw") {
                    s.problem(name, "is built in; choose another name");
                } else if (!v.is_table()) {
                    s.problem(name, "must be a table");
                } else {
                    layouts[name] = parse_layout(*v.as_table(), name, problems);
                }
            }
        }
        if (const toml::node* n = top.node("readers")) {
            const toml::array* arr = n->as_array();
            if (!arr || !arr->is_array_of_tables()) {
                top.problem("readers", "must be [[readers]] tables");
            } else {
                std::map<std::string, int> seen;
                for (std::size_t i = 0; i < arr->size(); ++i) {
                    ReaderConfig r;
                    const std::string path = "readers[" + std::to_string(i) + "]";
                    Section s(*arr->get(i)->as_table(), path, problems);
                    parse_reader(s, layouts, r);
                    parse_llrp(s, r, c);
                    if (!r.name.empty() && !seen.emplace(r.name, static_cast<int>(i)).second)
                        s.problem("name", "'" + r.name + "' names another reader too");
                    c.readers.push_back(std::move(r));
                }
            }
        }
    }
    if (!problems.empty()) throw ConfigError(problems.take());
    return c;
}

Config load_config(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw ConfigError({path + ": cannot read the file"});
    std::ostringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), path);
}

}  // namespace uhfd
