// /metrics in the Prometheus text exposition format (version 0.0.4): per reader its state,
// rounds, exchanges, failures by result code, reconnects, reads by antenna, events by type and
// commands; for the gateway the queue's depth and drops and the broker connection.
#pragma once

#include <cstdint>
#include <string>

#include "gateway.hpp"

namespace uhfd::http {

struct HttpCounters {
    std::size_t streams = 0;
    std::uint64_t stream_overflows = 0;
    std::uint64_t stream_drops = 0;    // clients that stopped reading
    std::uint64_t hub_failures = 0;    // failures that escaped the console's hub thread
};

std::string metrics_text(const Gateway& gw, const HttpCounters& http);

// A label value with \, " and newline escaped as the format asks.
std::string label_value(const std::string& v);

}  // namespace uhfd::http
