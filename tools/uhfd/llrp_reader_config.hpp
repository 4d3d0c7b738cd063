// GET_READER_CONFIG and SET_READER_CONFIG over the reader's own values: identification,
// antennas and their transmit power, keepalives, and the report and event settings the engine
// keeps. Pure: the face reads the reader before and applies the plan after.
//
// The reader has one transmit power for all its antennas and transmits on one antenna at a time
// (its active antenna): an AntennaConfiguration's TransmitPower sets that power, and naming one
// antenna (AntennaID n, not 0) makes it the active antenna. Everything the reader cannot do (a
// second power, several antennas selected at once, antenna gain, GPIO, C1G2 filters and RF
// modes, custom parameters) is refused whole with the status and a description.
#pragma once

#include <cstdint>
#include <optional>

#include "llrp/ro_engine.hpp"
#include "llrp/status.hpp"
#include "llrp_capabilities.hpp"
#include "llrp_reader.hpp"

namespace uhfd {

// What the face keeps itself.
struct FaceSettings {
    std::uint32_t keepalive_ms = 0;  // KeepaliveSpec's period; 0: Null (none)
    std::uint32_t changes = 0;       // LLRPConfigurationStateValue: bumped by every change
};

// GET_READER_CONFIG_RESPONSE (ID set) for the request.
Message get_reader_config(const Message& request, const ReaderFacts& facts, const uhf::llrp::Engine& engine,
                          const FaceSettings& settings);

// A SET_READER_CONFIG checked whole: what it changes, in the order it must be applied
// (ResetToFactoryDefault first, as the standard has it).
struct ConfigPlan {
    bool reset = false;
    ReaderChange reader;
    std::optional<std::uint32_t> keepalive_ms;
    const Parameter* events = nullptr;         // ReaderEventNotificationSpec
    const Parameter* report = nullptr;         // ROReportSpec
    const Parameter* access_report = nullptr;  // AccessReportSpec
    std::optional<bool> hold;                  // EventsAndReports
};

// M_Success and the plan (pointing into `request`), or the refusal for the response's LLRPStatus.
uhf::llrp::Error plan_reader_config(const Message& request, const ReaderFacts& facts, ConfigPlan& plan);

// The response with its LLRPStatus.
Message status_response(const Message& request, const uhf::llrp::Error& error);

}  // namespace uhfd
