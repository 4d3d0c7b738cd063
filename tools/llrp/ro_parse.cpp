// Reading a client's ROSpec, AccessSpec and report settings into the engine's values, refusing
// what the reader cannot honour. The codec has already checked wire types, enumerations and
// sub-parameter cardinality; what is left is meaning.
#include "llrp/ro_parse.hpp"

#include <algorithm>

#include "llrp/catalogue.hpp"

namespace uhf::llrp {
namespace {

std::uint16_t field_number(std::uint16_t type, std::string_view name) {
  return static_cast<std::uint16_t>(field_index(*find_parameter(type), name));
}

std::uint64_t num(const Parameter &p, std::string_view name) {
  return static_cast<std::uint64_t>(number(p, name).value_or(0));
}

Error ok() { return {}; }

Error bad_field(std::uint16_t type, std::string_view name, std::string why,
                StatusCode code = StatusCode::A_Invalid) {
  return parameter_fault(type, StatusCode::P_FieldError, std::move(why), field_number(type, name), code);
}

Error unsupported(std::uint16_t type, std::string why) {
  return parameter_fault(type, StatusCode::P_UnsupportedParameter, std::move(why));
}

Error missing(std::uint16_t type, std::string why) {
  return parameter_fault(type, StatusCode::P_MissingParameter, std::move(why));
}

// Vendor extensions are understood nowhere in the engine: refused where they appear.
Error no_gpi(const Parameter &p, std::string_view field, const char *what) {
  return bad_field(p.type, field, std::string("GPI ") + what + " triggers are not supported: the reader has no GPI ports");
}

// The sub-parameter a trigger type needs, or the refusal naming it.
const Parameter *needed(const Parameter &p, std::uint16_t type, Error &fault) {
  const Parameter *sub = find(p.params, type);
  if (!sub)
    fault = within(p.type, missing(type, "the " + std::string(find_parameter(p.type)->name) + " needs its " +
                                             std::string(find_parameter(type)->name)));
  return sub;
}

Error refuse_custom(const Parameter &p) {
  if (find(p.params, custom_type))
    return within(p.type, unsupported(custom_type, "vendor extensions (Custom) are not supported"));
  return ok();
}

Error check_antenna(std::uint16_t type, std::string_view field, std::uint64_t antenna,
                    const EngineOptions &reader) {
  if (antenna > reader.antennas)
    return bad_field(type, field,
                     "antenna " + std::to_string(antenna) + " does not exist (the reader has " +
                         std::to_string(reader.antennas) + ")",
                     StatusCode::A_OutOfRange);
  return ok();
}

Error read_start(const Parameter &p, RoSpec &out) {
  switch (num(p, "ROSpecStartTriggerType")) {
    case 0: out.start = StartTrigger::null; return ok();
    case 1: out.start = StartTrigger::immediate; return ok();
    case 2: break;
    default:
      return no_gpi(p, "ROSpecStartTriggerType", "start");
  }
  Error fault;
  const Parameter *periodic = needed(p, param::PeriodicTriggerValue, fault);
  if (!periodic) return fault;
  out.start = StartTrigger::periodic;
  out.offset_ms = static_cast<std::uint32_t>(num(*periodic, "Offset"));
  out.period_ms = static_cast<std::uint32_t>(num(*periodic, "Period"));
  if (const Parameter *utc = find(periodic->params, param::UTCTimestamp))
    out.periodic_from = Time{static_cast<std::int64_t>(num(*utc, "Microseconds"))};
  return ok();
}

// A Duration stop trigger's value (`field` of p) into `out`: a duration of 0 ms is refused.
Error read_duration(const Parameter &p, const char *field, std::uint32_t &out) {
  out = static_cast<std::uint32_t>(num(p, field));
  if (out == 0)
    return bad_field(p.type, field, "a Duration stop trigger needs a duration above 0 ms", StatusCode::A_OutOfRange);
  return ok();
}

Error read_stop(const Parameter &p, RoSpec &out) {
  switch (num(p, "ROSpecStopTriggerType")) {
    case 0: out.stop_after_ms = 0; return ok();
    case 1: return read_duration(p, "DurationTriggerValue", out.stop_after_ms);
    default:
      return no_gpi(p, "ROSpecStopTriggerType", "stop");
  }
}

Error read_ai_stop(const Parameter &p, AiSpec &out) {
  switch (num(p, "AISpecStopTriggerType")) {
    case 0: out.stop = AiStop::null; return ok();
    case 1:
      out.stop = AiStop::duration;
      return read_duration(p, "DurationTrigger", out.duration_ms);
    case 3: break;
    default:
      return no_gpi(p, "AISpecStopTriggerType", "stop");
  }
  Error fault;
  const Parameter *obs = needed(p, param::TagObservationTrigger, fault);
  if (!obs) return fault;
  out.timeout_ms = static_cast<std::uint32_t>(num(*obs, "Timeout"));
  switch (num(*obs, "TriggerType")) {
    case 0: out.stop = AiStop::n_tags; out.count = static_cast<std::uint16_t>(num(*obs, "NumberOfTags")); break;
    case 1:
      out.stop = AiStop::no_new_tags;
      out.quiet_ms = static_cast<std::uint16_t>(num(*obs, "T"));
      if (out.quiet_ms == 0)
        return within(p.type, bad_field(obs->type, "T", "no new tag for 0 ms would end the AISpec as it starts",
                                        StatusCode::A_OutOfRange));
      break;
    default: out.stop = AiStop::n_attempts; out.count = static_cast<std::uint16_t>(num(*obs, "NumberOfAttempts")); break;
  }
  return ok();
}

// C1G2InventoryCommand: the reader runs its own inventory rounds, so only the settings that
// change nothing are taken.
Error read_inventory_command(const Parameter &p) {
  if (num(p, "TagInventoryStateAware"))
    return bad_field(p.type, "TagInventoryStateAware", "state-aware singulation is not supported");
  if (find(p.params, param::C1G2Filter))
    return within(p.type, unsupported(param::C1G2Filter, "C1G2 select filters are not supported: the reader's rounds inventory every tag"));
  if (const Parameter *rf = find(p.params, param::C1G2RFControl); rf && (num(*rf, "ModeIndex") || num(*rf, "Tari")))
    return within(p.type, bad_field(rf->type, num(*rf, "ModeIndex") ? "ModeIndex" : "Tari",
                                    "only RF mode 0 at the reader's own Tari is supported"));
  if (find(p.params, param::C1G2SingulationControl))
    return within(p.type, unsupported(param::C1G2SingulationControl,
                                      "C1G2 singulation control (session, tag population) is not supported: the reader chooses its own"));
  return refuse_custom(p);
}

Error read_antenna_configuration(const Parameter &p, const EngineOptions &reader) {
  if (Error e = check_antenna(p.type, "AntennaID", num(p, "AntennaID"), reader); failed(e)) return e;
  if (find(p.params, param::RFReceiver))
    return within(p.type, unsupported(param::RFReceiver, "receiver sensitivity is not adjustable on this reader"));
  if (find(p.params, param::RFTransmitter))
    return within(p.type, unsupported(param::RFTransmitter,
                                      "transmit settings inside a ROSpec are not supported: set them with SET_READER_CONFIG"));
  for (const Parameter &cmd : p.params)
    if (cmd.type == param::C1G2InventoryCommand)
      if (Error e = read_inventory_command(cmd); failed(e)) return within(p.type, e);
  return ok();
}

Error read_inventory(const Parameter &p, const EngineOptions &reader, AiSpec &out, bool first) {
  if (num(p, "ProtocolID") != 1)
    return bad_field(p.type, "ProtocolID", "only the EPCglobal Class 1 Gen 2 air protocol is supported");
  if (first) out.inventory_id = static_cast<std::uint16_t>(num(p, "InventoryParameterSpecID"));
  for (const Parameter &sub : p.params) {
    Error e = sub.type == param::AntennaConfiguration ? read_antenna_configuration(sub, reader) : refuse_custom(p);
    if (failed(e)) return within(p.type, e);
  }
  return ok();
}

Error read_aispec(const Parameter &p, const EngineOptions &reader, AiSpec &out) {
  if (auto *ids = std::get_if<std::vector<std::uint16_t>>(field(p, "AntennaIDs"))) {
    for (std::uint16_t id : *ids)
      if (Error e = check_antenna(p.type, "AntennaIDs", id, reader); failed(e)) return e;
    if (std::find(ids->begin(), ids->end(), 0) == ids->end()) out.antennas = *ids;
  }
  if (const Parameter *stop = find(p.params, param::AISpecStopTrigger))
    if (Error e = read_ai_stop(*stop, out); failed(e)) return within(p.type, e);
  auto inventories = find_all(p.params, param::InventoryParameterSpec);
  if (inventories.size() > reader.max_inventory_per_aispec)
    return parameter_fault(p.type, StatusCode::P_OverflowParameter,
                           "at most " + std::to_string(reader.max_inventory_per_aispec) + " InventoryParameterSpecs per AISpec");
  for (std::size_t i = 0; i < inventories.size(); ++i)
    if (Error e = read_inventory(*inventories[i], reader, out, i == 0); failed(e)) return within(p.type, e);
  return refuse_custom(p);
}

bool flag(const Parameter &p, std::string_view name) { return num(p, name) != 0; }

}  // namespace

Error parameter_fault(std::uint16_t type, StatusCode code, std::string description,
                      std::optional<std::uint16_t> field, StatusCode field_code) {
  Error e;
  e.code = StatusCode::M_ParameterError;
  e.description = std::move(description);
  e.parameters.push_back({type, code});
  if (field) e.field = FieldFault{*field, field_code};
  return e;
}

Error within(std::uint16_t outer_type, Error inner) {
  inner.parameters.insert(inner.parameters.begin(), ParameterFault{outer_type, StatusCode::P_ParameterError});
  return inner;
}

Error message_field_fault(std::uint16_t field, StatusCode code, std::string description) {
  Error e;
  e.code = StatusCode::M_FieldError;
  e.description = std::move(description);
  e.field = FieldFault{field, code};
  return e;
}

ReportSettings default_report_settings() {
  ReportSettings s;
  s.trigger = ReportTrigger::n_or_aispec_end;
  s.n = 1;
  ContentSelector &c = s.content;
  c.rospec_id = c.spec_index = c.inventory_id = c.antenna = c.peak_rssi = c.first_seen = c.last_seen =
      c.seen_count = c.access_id = true;
  return s;
}

Parameter to_parameter(const ReportSettings &s) {
  Parameter p = make_parameter(param::ROReportSpec);
  set(p, "ROReportTrigger", std::uint64_t{static_cast<std::uint8_t>(s.trigger)});
  set(p, "N", std::uint64_t{s.n});
  Parameter sel = make_parameter(param::TagReportContentSelector);
  const ContentSelector &c = s.content;
  const std::pair<const char *, bool> flags[] = {
      {"EnableROSpecID", c.rospec_id}, {"EnableSpecIndex", c.spec_index},
      {"EnableInventoryParameterSpecID", c.inventory_id}, {"EnableAntennaID", c.antenna},
      {"EnableChannelIndex", c.channel}, {"EnablePeakRSSI", c.peak_rssi},
      {"EnableFirstSeenTimestamp", c.first_seen}, {"EnableLastSeenTimestamp", c.last_seen},
      {"EnableTagSeenCount", c.seen_count}, {"EnableAccessSpecID", c.access_id}};
  for (auto [name, on] : flags) set(sel, name, std::uint64_t{on});
  Parameter memory = make_parameter(param::C1G2EPCMemorySelector);
  set(memory, "EnableCRC", std::uint64_t{c.crc});
  set(memory, "EnablePCBits", std::uint64_t{c.pc});
  sel.params.push_back(memory);
  p.params.push_back(sel);
  return p;
}

Error read_report_settings(const Parameter &p, ReportSettings &out) {
  ReportSettings s;
  s.trigger = static_cast<ReportTrigger>(num(p, "ROReportTrigger"));
  s.n = static_cast<std::uint16_t>(num(p, "N"));
  if (Error e = refuse_custom(p); failed(e)) return e;
  if (const Parameter *sel = find(p.params, param::TagReportContentSelector)) {
    ContentSelector &c = s.content;
    c.rospec_id = flag(*sel, "EnableROSpecID");
    c.spec_index = flag(*sel, "EnableSpecIndex");
    c.inventory_id = flag(*sel, "EnableInventoryParameterSpecID");
    c.antenna = flag(*sel, "EnableAntennaID");
    c.channel = flag(*sel, "EnableChannelIndex");
    c.peak_rssi = flag(*sel, "EnablePeakRSSI");
    c.first_seen = flag(*sel, "EnableFirstSeenTimestamp");
    c.last_seen = flag(*sel, "EnableLastSeenTimestamp");
    c.seen_count = flag(*sel, "EnableTagSeenCount");
    c.access_id = flag(*sel, "EnableAccessSpecID");
    if (const Parameter *memory = find(sel->params, param::C1G2EPCMemorySelector)) {
      c.crc = flag(*memory, "EnableCRC");
      c.pc = flag(*memory, "EnablePCBits");
    }
  }
  out = s;
  return ok();
}

Error read_rospec(const Parameter &p, const EngineOptions &reader, RoSpec &out) {
  RoSpec r;
  r.id = static_cast<std::uint32_t>(num(p, "ROSpecID"));
  r.priority = static_cast<std::uint8_t>(num(p, "Priority"));
  if (r.id == 0) return bad_field(p.type, "ROSpecID", "ROSpecID 0 is reserved (it means every ROSpec)");
  if (r.priority >= reader.priority_levels)
    return bad_field(p.type, "Priority",
                     "Priority runs from 0 to " + std::to_string(reader.priority_levels - 1), StatusCode::A_OutOfRange);
  if (num(p, "CurrentState") != 0)
    return bad_field(p.type, "CurrentState", "a ROSpec is added in the Disabled state");
  if (const Parameter *boundary = find(p.params, param::ROBoundarySpec)) {
    for (const Parameter &t : boundary->params) {
      Error e = t.type == param::ROSpecStartTrigger ? read_start(t, r)
                : t.type == param::ROSpecStopTrigger ? read_stop(t, r) : ok();
      if (failed(e)) return within(p.type, within(boundary->type, e));
    }
  }
  std::size_t aispec_count = 0;
  for (const Parameter &sub : p.params) {
    Error e;
    if (sub.type == param::AISpec) {
      if (++aispec_count > reader.max_specs_per_rospec)
        return parameter_fault(p.type, StatusCode::P_OverflowParameter,
                               "at most " + std::to_string(reader.max_specs_per_rospec) + " AISpecs per ROSpec");
      e = read_aispec(sub, reader, r.aispecs.emplace_back());
    } else if (sub.type == param::RFSurveySpec) {
      e = unsupported(sub.type, "RF surveys are not supported by this reader");
    } else if (sub.type == custom_type) {
      e = unsupported(sub.type, "vendor extensions (Custom) are not supported");
    } else if (sub.type == param::ROReportSpec) {
      e = read_report_settings(sub, r.report.emplace());
    }
    if (failed(e)) return within(p.type, e);
  }
  if (r.aispecs.empty()) return within(p.type, missing(param::AISpec, "a ROSpec needs at least one AISpec"));
  r.source = p;
  out = std::move(r);
  return ok();
}

namespace {

Error read_target(const Parameter &p, TargetTag &out) {
  if (num(p, "MB") != 1)
    return bad_field(p.type, "MB", "tags are matched on the EPC bank (MB 1) only: inventory reads no other bank");
  out.pointer = static_cast<std::uint16_t>(num(p, "Pointer"));
  out.match = flag(p, "Match");
  if (auto *m = std::get_if<Bits>(field(p, "TagMask"))) out.mask = *m;
  if (auto *d = std::get_if<Bits>(field(p, "TagData"))) out.data = *d;
  if (out.mask.count != out.data.count && out.mask.count != 0)
    return bad_field(p.type, "TagMask", "TagMask and TagData must be of the same length");
  return ok();
}

// One operation: what kind, whether the reader can, and its values.
Error read_op(const Parameter &p, const EngineOptions &reader, AccessOp &op) {
  struct Row {
    std::uint16_t type;
    AccessOp::Kind kind;
    bool EngineOptions::*can;
    const char *what;
  };
  static const Row rows[] = {
      {param::C1G2Read, AccessOp::Kind::read, &EngineOptions::can_read, "C1G2Read"},
      {param::C1G2Write, AccessOp::Kind::write, &EngineOptions::can_write, "C1G2Write"},
      {param::C1G2BlockWrite, AccessOp::Kind::block_write, &EngineOptions::can_block_write, "C1G2BlockWrite"},
  };
  const Row *row = nullptr;
  for (const Row &r : rows)
    if (r.type == p.type) row = &r;
  if (!row) {
    const Definition *def = find_parameter(p.type);
    std::string name = def ? std::string(def->name) : "parameter " + std::to_string(p.type);
    return unsupported(p.type, name + " is not supported by this reader (it runs C1G2Read and C1G2Write only)");
  }
  if (!(reader.*(row->can))) return unsupported(p.type, std::string(row->what) + " is not supported by this reader");
  op.kind = row->kind;
  op.op_id = static_cast<std::uint16_t>(num(p, "OpSpecID"));
  op.password = static_cast<std::uint32_t>(num(p, "AccessPassword"));
  op.bank = static_cast<MemoryBank>(num(p, "MB"));
  op.word_pointer = static_cast<std::uint16_t>(num(p, "WordPointer"));
  if (op.kind == AccessOp::Kind::read) {
    op.word_count = static_cast<std::uint16_t>(num(p, "WordCount"));
  } else {
    if (auto *words = std::get_if<std::vector<std::uint16_t>>(field(p, "WriteData"))) op.data = *words;
    if (op.data.empty()) return bad_field(p.type, "WriteData", "nothing to write");
  }
  return ok();
}

}  // namespace

Error read_accessspec(const Parameter &p, const EngineOptions &reader, AccessRule &out) {
  AccessRule a;
  a.id = static_cast<std::uint32_t>(num(p, "AccessSpecID"));
  a.antenna = static_cast<std::uint16_t>(num(p, "AntennaID"));
  a.rospec_id = static_cast<std::uint32_t>(num(p, "ROSpecID"));
  if (a.id == 0) return bad_field(p.type, "AccessSpecID", "AccessSpecID 0 is reserved (it means every AccessSpec)");
  if (Error e = check_antenna(p.type, "AntennaID", a.antenna, reader); failed(e)) return e;
  if (num(p, "ProtocolID") != 1)
    return bad_field(p.type, "ProtocolID", "only the EPCglobal Class 1 Gen 2 air protocol is supported");
  if (num(p, "CurrentState") != 0) return bad_field(p.type, "CurrentState", "an AccessSpec is added in the Disabled state");
  if (Error e = refuse_custom(p); failed(e)) return e;
  if (const Parameter *stop = find(p.params, param::AccessSpecStopTrigger))
    a.operation_count = num(*stop, "AccessSpecStopTrigger") == 1
                            ? static_cast<std::uint16_t>(num(*stop, "OperationCountValue")) : 0;
  if (const Parameter *report = find(p.params, param::AccessReportSpec))
    a.report = static_cast<AccessReportTrigger>(num(*report, "AccessReportTrigger"));
  Error missing_command;
  const Parameter *command = needed(p, param::AccessCommand, missing_command);
  if (!command) return missing_command;
  auto fault = [&](Error e) { return within(p.type, within(command->type, std::move(e))); };
  if (Error e = refuse_custom(*command); failed(e)) return within(p.type, e);
  for (const Parameter &sub : command->params) {
    if (sub.type == param::C1G2TagSpec) {
      for (const Parameter &t : sub.params)
        if (Error e = read_target(t, a.targets.emplace_back()); failed(e)) return fault(within(sub.type, e));
    } else if (sub.type != custom_type) {
      if (a.ops.size() >= reader.max_ops_per_accessspec)
        return fault(parameter_fault(sub.type, StatusCode::P_OverflowParameter,
                                     "at most " + std::to_string(reader.max_ops_per_accessspec) + " operations per AccessSpec"));
      if (Error e = read_op(sub, reader, a.ops.emplace_back()); failed(e)) return fault(e);
    }
  }
  a.source = p;
  out = std::move(a);
  return ok();
}

}  // namespace uhf::llrp
