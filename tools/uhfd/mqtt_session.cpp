#include "mqtt_session.hpp"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace uhfd {

namespace {

void library_init() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string words(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

}  // namespace

std::string reason_words(int reason) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", reason);
    return std::string(hex) + " " + mosquitto_reason_string(reason);
}

struct HostLookup::Shared {
    mutable std::mutex mu;
    std::optional<Result> result;
};

HostLookup::HostLookup(const std::string& host) : shared_(std::make_shared<Shared>()) {
    in6_addr probe{};
    if (::inet_pton(AF_INET, host.c_str(), &probe) == 1 || ::inet_pton(AF_INET6, host.c_str(), &probe) == 1) {
        shared_->result = Result{host, {}};
        return;
    }
    std::thread([shared = shared_, host] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        Result r;
        const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (rc != 0 || !found) {
            r.error = "cannot resolve " + host + ": " + (rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
        } else {
            char text[INET6_ADDRSTRLEN] = "";
            ::getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
            r.address = text;
        }
        if (found) ::freeaddrinfo(found);
        std::lock_guard lock(shared->mu);
        shared->result = std::move(r);
    }).detach();
}

std::optional<HostLookup::Result> HostLookup::result() const {
    std::lock_guard lock(shared_->mu);
    return shared_->result;
}

MqttSession::MqttSession(const BrokerConfig& broker, const Will& will, SessionEvents events)
    : broker_(broker), events_(std::move(events)) {
    library_init();
    // A clean session: nothing is left at the broker between connections, since the queue on
    // disk is what is sent again.
    mosq_ = mosquitto_new(broker_.client_id.c_str(), true, this);
    if (!mosq_) throw std::runtime_error("cannot make an MQTT client: " + std::string(std::strerror(errno)));
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, broker_.protocol == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    // The publisher bounds what is in flight itself; libmosquitto's own limit (20) would hold
    // messages back inside it. A broker's Receive Maximum still applies.
    mosquitto_int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM, 65535);
    if (!broker_.username.empty())
        mosquitto_username_pw_set(mosq_, broker_.username.c_str(), broker_.password.empty() ? nullptr : broker_.password.c_str());
    if (broker_.tls) {
        const int rc = mosquitto_tls_set(mosq_, broker_.ca_file.c_str(), nullptr,
                                         broker_.cert_file.empty() ? nullptr : broker_.cert_file.c_str(),
                                         broker_.key_file.empty() ? nullptr : broker_.key_file.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) throw std::runtime_error("TLS settings refused: " + words(rc));
    }
    if (!will.topic.empty())
        mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(), 1, true);

    mosquitto_connect_v5_callback_set(mosq_, [](mosquitto*, void* obj, int rc, int, const mosquitto_property*) {
        auto* self = static_cast<MqttSession*>(obj);
        std::string why;
        if (rc != 0) {
            why = self->broker_.protocol == 5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc);
            // Bad user name or password, not authorised: in 3.1.1 and in 5.
            if (rc == 4 || rc == 5 || rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED)
                why += " (check broker.username and broker.password)";
        }
        if (self->events_.connected) self->events_.connected(rc, why);
    });
    mosquitto_publish_v5_callback_set(mosq_, [](mosquitto*, void* obj, int mid, int reason, const mosquitto_property*) {
        auto* self = static_cast<MqttSession*>(obj);
        // A refusal (reason >= 0x80) is not a delivery, and sending it again would be refused again.
        if (reason >= 0x80) {
            if (self->events_.refused) self->events_.refused(mid, reason);
        } else if (self->events_.published) {
            self->events_.published(mid);
        }
    });
    mosquitto_message_v5_callback_set(mosq_, [](mosquitto*, void* obj, const mosquitto_message* m,
                                                const mosquitto_property* props) {
        auto* self = static_cast<MqttSession*>(obj);
        if (!self->events_.message) return;
        IncomingMessage in;
        in.topic = m->topic;
        if (m->payload && m->payloadlen > 0) in.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
        char* response = nullptr;
        if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false)) {
            in.response_topic = response;
            std::free(response);
        }
        void* data = nullptr;
        uint16_t len = 0;
        if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &len, false)) {
            in.correlation = std::string(static_cast<const char*>(data), len);
            std::free(data);
        }
        self->events_.message(in);
    });
}

MqttSession::~MqttSession() {
    if (mosq_) mosquitto_destroy(mosq_);
}

std::string MqttSession::connect(const std::string& address) {
    const std::string& to = broker_.tls ? broker_.host : address;
    const int rc = mosquitto_connect_bind_v5(mosq_, to.c_str(), broker_.port, broker_.keepalive_s, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS) return {};
    return words(rc);
}

int MqttSession::socket() const { return mosquitto_socket(mosq_); }
bool MqttSession::wants_write() const { return mosquitto_want_write(mosq_); }

bool MqttSession::check(int rc) {
    if (rc == MOSQ_ERR_SUCCESS) return true;
    error_ = words(rc);
    return false;
}

bool MqttSession::read() { return check(mosquitto_loop_read(mosq_, 1)); }
bool MqttSession::write() { return check(mosquitto_loop_write(mosq_, 1)); }
bool MqttSession::housekeeping() { return check(mosquitto_loop_misc(mosq_)); }

std::optional<int> MqttSession::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                                        const std::optional<std::string>& correlation) {
    mosquitto_property* props = nullptr;
    if (correlation && broker_.protocol == 5)
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
                                      static_cast<uint16_t>(std::min<std::size_t>(correlation->size(), 65535)));
    int mid = 0;
    const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                                        retain, props);
    mosquitto_property_free_all(&props);
    if (!check(rc)) return std::nullopt;
    return mid;
}

bool MqttSession::subscribe(const std::string& pattern, int qos) {
    return check(mosquitto_subscribe_v5(mosq_, nullptr, pattern.c_str(), qos, 0, nullptr));
}

void MqttSession::disconnect() { mosquitto_disconnect(mosq_); }

}  // namespace uhfd
