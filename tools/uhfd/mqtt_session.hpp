// One connection to the broker through libmosquitto, driven from its owner's own poll loop
// (mosquitto_socket / loop_read / loop_write / loop_misc), so every libmosquitto call and callback
// runs on one thread. A session is made per connection attempt and thrown away when the
// connection ends: what it had in flight is the owner's to send again, not libmosquitto's.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config.hpp"

struct mosquitto;

namespace uhfd {

struct IncomingMessage {
    std::string topic;
    std::string payload;
    std::optional<std::string> response_topic;  // MQTT 5 request/response
    std::optional<std::string> correlation;
};

struct SessionEvents {
    std::function<void(int reason, const std::string& words)> connected;  // reason 0: accepted
    std::function<void(int mid)> published;                                // acknowledged by the broker
    std::function<void(int mid, int reason)> refused;                      // MQTT 5: a reason code >= 0x80
    std::function<void(const IncomingMessage&)> message;
};

// A broker host name looked up on a thread of its own, so a name server that does not answer
// holds nobody: the owner asks `result()` from its loop and may give up; the thread ends by itself.
class HostLookup {
public:
    explicit HostLookup(const std::string& host);
    struct Result {
        std::string address;  // numeric; empty on failure
        std::string error;
    };
    // nullopt while the lookup is under way.
    std::optional<Result> result() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

std::string reason_words(int reason);

struct Will {
    std::string topic;
    std::string payload;
};

class MqttSession {
public:
    MqttSession(const BrokerConfig& broker, const Will& will, SessionEvents events);
    ~MqttSession();
    MqttSession(const MqttSession&) = delete;
    MqttSession& operator=(const MqttSession&) = delete;

    // Opens the TCP (and TLS) connection to `address` (numeric, from a HostLookup; TLS connects
    // by the configured name, which its certificate check needs) and sends CONNECT; the answer
    // comes through `connected`. An empty result is success, else the words for the failure.
    std::string connect(const std::string& address);

    int socket() const;
    bool wants_write() const;
    // Each returns false once the connection is gone (words in last_error()).
    bool read();
    bool write();
    bool housekeeping();
    const std::string& last_error() const { return error_; }

    // The message id, or nullopt (words in last_error()) when libmosquitto refused it.
    std::optional<int> publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                               const std::optional<std::string>& correlation = std::nullopt);
    bool subscribe(const std::string& pattern, int qos);
    void disconnect();

    int protocol() const { return broker_.protocol; }

private:
    bool check(int rc);

    BrokerConfig broker_;
    SessionEvents events_;
    mosquitto* mosq_ = nullptr;
    std::string error_;
};

}  // namespace uhfd
