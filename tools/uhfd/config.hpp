// uhfd's configuration: one TOML file (docs/gateway.md has the reference). Loading checks
// everything a running gateway would trip over later, and names each problem by line and key.
#pragma once

#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "command_policy.hpp"
#include "http/http_config.hpp"
#include "inventory/family.hpp"
#include "inventory/layout.hpp"
#include "llrp_config.hpp"
#include "log.hpp"
#include "tag_filter.hpp"
#include "zones.hpp"

namespace uhfd {

struct BrokerConfig {
    std::string uri = "mqtt://localhost:1883";
    std::string host = "localhost";
    int port = 1883;
    bool tls = false;
    std::string client_id;  // default "uhfd-<gateway id>"
    std::string username;
    std::string password;
    std::string ca_file;
    std::string cert_file;
    std::string key_file;
    int keepalive_s = 30;
    std::string topic_prefix = "uhf";
    int protocol = 5;  // 5 or 4 (3.1.1)

    bool operator==(const BrokerConfig&) const = default;
};

struct ReaderConfig {
    std::string name;
    std::string device;
    int address = 1;
    std::vector<inventory::Family> families{inventory::Family::epc};
    std::chrono::milliseconds round_interval{200};
    std::chrono::milliseconds departure_timeout{3000};
    std::chrono::milliseconds report_interval{10000};  // 0: no reports
    std::chrono::milliseconds reply_timeout{0};        // 0: the library's
    std::string layout_name = "virtual";
    inventory::Layout layout;
    std::optional<LlrpListen> llrp;  // its LLRP face (llrp_config.hpp); none: no face
    TagFilter filter;    // which reads count (tag_filter.hpp)
    ZoneSettings zones;  // antennas' zones and when a tag has moved (zones.hpp)

    // Every setting, the layout's fields included: a reload restarts a reader unless its new
    // configuration equals the running one. Defaulted, so a field added here is compared too.
    bool operator==(const ReaderConfig&) const = default;
};

struct Config {
    std::string gateway_id;
    log::Level log_level = log::Level::info;
    BrokerConfig broker;
    std::string queue_dir = "/var/lib/uhfd/queue";
    std::size_t queue_max_events = 100000;
    std::chrono::milliseconds reconnect_min{500};
    std::chrono::milliseconds reconnect_max{30000};
    CommandPolicy commands;  // [commands]: who may run what
    std::vector<ReaderConfig> readers;
    HttpConfig http;
};

// Every problem found, each "FILE:LINE: key: what is wrong".
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(std::vector<std::string> problems);
    const std::vector<std::string>& problems() const { return problems_; }

private:
    std::vector<std::string> problems_;
};

Config load_config(const std::string& path);
Config parse_config(std::string_view text, const std::string& source_name);

}  // namespace uhfd
