// What the engine keeps of a client's ROSpecs, AccessSpecs and report settings: the decoded
// parameters checked and read once into plain values, with the client's own parameter kept for
// GET_ROSPECS / GET_ACCESSSPECS. A parameter the reader cannot honour is refused here with the
// status, the parameter path to the culprit and a description naming what is unsupported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "llrp/ro_engine.hpp"
#include "llrp/status.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

// ---- report settings (ROReportSpec, AccessReportSpec) -------------------------------------

enum class ReportTrigger : std::uint8_t { none = 0, n_or_aispec_end = 1, n_or_rospec_end = 2 };

// TagReportContentSelector, as flags.
struct ContentSelector {
  bool rospec_id = false, spec_index = false, inventory_id = false, antenna = false,
       channel = false, peak_rssi = false, first_seen = false, last_seen = false,
       seen_count = false, access_id = false;
  bool crc = false, pc = false;  // C1G2EPCMemorySelector
};

struct ReportSettings {
  ReportTrigger trigger = ReportTrigger::n_or_aispec_end;
  std::uint16_t n = 1;  // TagReportData per report; 0: only at the end
  ContentSelector content;
};

// The default a reader starts with and returns to on a factory reset: a report per tag with
// everything the reader knows of it.
ReportSettings default_report_settings();
Parameter to_parameter(const ReportSettings &settings);  // ROReportSpec
// M_Success and the settings, or the refusal (a path starting at the ROReportSpec).
Error read_report_settings(const Parameter &ro_report_spec, ReportSettings &out);

enum class AccessReportTrigger : std::uint8_t { with_ro_report = 0, end_of_accessspec = 1 };

// ---- ROSpec -------------------------------------------------------------------------------

enum class RoState : std::uint8_t { disabled = 0, inactive = 1, active = 2 };
enum class StartTrigger : std::uint8_t { null = 0, immediate = 1, periodic = 2 };
enum class AiStop : std::uint8_t { null, duration, n_tags, no_new_tags, n_attempts };

struct AiSpec {
  std::vector<std::uint16_t> antennas;  // empty: every antenna (AntennaIDs 0)
  AiStop stop = AiStop::null;
  std::uint32_t duration_ms = 0;        // duration
  std::uint16_t count = 0;              // n_tags: tags; n_attempts: rounds
  std::uint16_t quiet_ms = 0;           // no_new_tags: T
  std::uint32_t timeout_ms = 0;         // tag observation: 0 = none
  std::uint16_t inventory_id = 0;       // the first C1G2 InventoryParameterSpec's ID
};

struct RoSpec {
  std::uint32_t id = 0;
  std::uint8_t priority = 0;
  StartTrigger start = StartTrigger::null;
  std::uint32_t offset_ms = 0, period_ms = 0;  // periodic
  std::optional<Time> periodic_from;           // periodic: UTCTimestamp, if given
  std::uint32_t stop_after_ms = 0;             // Duration stop trigger; 0: Null
  std::vector<AiSpec> aispecs;
  std::optional<ReportSettings> report;        // its own ROReportSpec, else the reader's
  Parameter source;                            // as the client sent it (CurrentState aside)
};

// M_Success with `out` filled, or the refusal for ADD_ROSPEC's LLRPStatus. The options say
// what the reader has and can do.
Error read_rospec(const Parameter &rospec, const EngineOptions &reader, RoSpec &out);

// ---- AccessSpec ---------------------------------------------------------------------------

// C1G2TargetTag on the EPC bank: `pointer` is the first bit compared (bit 0 is the CRC's
// first bit, 16 the PC's, 32 the EPC's), `mask` and `data` the bits compared from there.
struct TargetTag {
  std::uint16_t pointer = 0;
  Bits mask, data;
  bool match = true;  // true: the tag matches when the masked bits are equal
};

struct AccessRule {
  std::uint32_t id = 0;
  std::uint16_t antenna = 0;      // 0: any
  std::uint32_t rospec_id = 0;    // 0: any
  bool enabled = false;
  std::uint16_t operation_count = 0;  // 0: no limit
  std::vector<TargetTag> targets;     // all must match
  std::vector<AccessOp> ops;
  std::optional<AccessReportTrigger> report;  // its own AccessReportSpec, else the reader's
  Parameter source;
};

Error read_accessspec(const Parameter &accessspec, const EngineOptions &reader, AccessRule &out);

// ---- faults -------------------------------------------------------------------------------

// A refusal of parameter `type`: M_ParameterError with that parameter's fault, and a FieldError
// when `field` (the field's number) is given.
Error parameter_fault(std::uint16_t type, StatusCode code, std::string description,
                      std::optional<std::uint16_t> field = std::nullopt,
                      StatusCode field_code = StatusCode::A_Invalid);
// The same refusal seen from the parameter that holds it.
Error within(std::uint16_t outer_type, Error inner);
// A refusal of the message's own field `field`: M_FieldError.
Error message_field_fault(std::uint16_t field, StatusCode code, std::string description);

}  // namespace uhf::llrp
