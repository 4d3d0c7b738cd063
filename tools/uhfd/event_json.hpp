// The JSON uhfd publishes (docs/gateway.md has the schema): events with their gateway, reader,
// epoch and per-reader sequence number; reader and gateway status; command replies are in
// command_reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "disk_queue.hpp"
#include "reader_state.hpp"
#include "uhfreader.h"

namespace uhfd {

// UTC ISO-8601 with milliseconds: 2026-12-08T12:00:00.123Z
std::string iso8601(std::chrono::system_clock::time_point t);
std::string hex(std::span<const std::uint8_t> bytes);

struct EventSource {
    std::string gateway;
    std::string reader;
};

// A GS1 EPC as events show it: {"uri", "tag_uri", "scheme", "gs1"} (no gs1 where the scheme has none).
nlohmann::ordered_json epc_brief(const uhf_epc& e);

// A tag as events show it; `with_latest` adds the latest read's rssi. "zone" where the reader
// names zones and the tag has one; "epc" for an EPC-family id that decodes as a GS1 EPC.
nlohmann::ordered_json tag_json(const inventory::TagState& t, bool with_latest);

// nullopt-free: every event kind has a body. The status events are not sequenced. A consumer
// tells events apart by (reader, epoch, seq).
nlohmann::ordered_json event_json(const EventSource& src, const DiskQueue::Sequence& seq, const ReaderEvent& event);

nlohmann::ordered_json reader_status_json(const std::string& gateway, const ReaderSnapshot& s, std::uint64_t dropped);

}  // namespace uhfd
