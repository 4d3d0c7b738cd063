// The topic tree (docs/gateway.md):
//
//   PREFIX/GATEWAY/status            retained gateway status; the will says offline
//   PREFIX/GATEWAY/READER/status     retained reader status
//   PREFIX/GATEWAY/READER/events     arrived, departed, report, pages (QoS 1, sequenced)
//   PREFIX/GATEWAY/READER/cmd        command requests
//   PREFIX/GATEWAY/READER/reply      replies to requests without an MQTT 5 response topic
#pragma once

#include <optional>
#include <string>

namespace uhfd {

struct Topics {
    std::string base;  // PREFIX/GATEWAY

    Topics(const std::string& prefix, const std::string& gateway) : base(prefix + "/" + gateway) {}
    std::string gateway_status() const { return base + "/status"; }
    std::string reader_status(const std::string& r) const { return base + "/" + r + "/status"; }
    std::string events(const std::string& r) const { return base + "/" + r + "/events"; }
    std::string reply(const std::string& r) const { return base + "/" + r + "/reply"; }
    std::string command_pattern() const { return base + "/+/cmd"; }

    // The reader a command topic names, or nullopt for any other topic.
    std::optional<std::string> command_reader(const std::string& topic) const {
        const std::string head = base + "/";
        const std::string tail = "/cmd";
        if (topic.size() <= head.size() + tail.size() || topic.rfind(head, 0) != 0 ||
            topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
            return std::nullopt;
        std::string r = topic.substr(head.size(), topic.size() - head.size() - tail.size());
        if (r.find('/') != std::string::npos) return std::nullopt;
        return r;
    }
};

}  // namespace uhfd
