// Building TagReportData and accumulating a tag's observations.
#include "llrp/report.hpp"

#include <algorithm>
#include <limits>

#include "llrp/catalogue.hpp"

namespace uhf::llrp {
namespace {

Parameter one_field(std::uint16_t type, FieldValue value) {
  Parameter p = make_parameter(type);
  p.fields.at(0) = std::move(value);
  return p;
}

std::uint64_t micros(Time t) { return static_cast<std::uint64_t>(std::max<std::int64_t>(t.count(), 0)); }

}  // namespace

Parameter tag_report_data(const TagSighting &s, const ContentSelector &c) {
  Parameter p = make_parameter(param::TagReportData);
  if (s.id.size() == 12) {
    p.params.push_back(one_field(param::EPC_96, s.id));
  } else {
    Bits bits{s.id, static_cast<std::uint16_t>(s.id.size() * 8)};
    p.params.push_back(one_field(param::EPCData, std::move(bits)));
  }
  auto add = [&](bool on, std::uint16_t type, auto value) {
    if (on) p.params.push_back(one_field(type, FieldValue{value}));
  };
  add(c.rospec_id, param::ROSpecID, std::uint64_t{s.rospec_id});
  add(c.spec_index, param::SpecIndex, std::uint64_t{s.spec_index});
  add(c.inventory_id, param::InventoryParameterSpecID, std::uint64_t{s.inventory_id});
  add(c.antenna && s.antenna, param::AntennaID, std::uint64_t{s.antenna.value_or(0)});
  add(c.peak_rssi && s.rssi, param::PeakRSSI, std::int64_t{std::clamp(s.rssi.value_or(0), -128, 127)});
  add(c.first_seen, param::FirstSeenTimestampUTC, micros(s.first));
  add(c.last_seen, param::LastSeenTimestampUTC, micros(s.last));
  add(c.seen_count, param::TagSeenCount,
      std::uint64_t{std::min<std::uint32_t>(s.count, std::numeric_limits<std::uint16_t>::max())});
  add(c.pc && s.pc, param::C1G2_PC, std::uint64_t{s.pc.value_or(0)});
  // Access results are always reported with the AccessSpec they came from.
  add(s.access_id != 0 && (c.access_id || !s.op_results.empty()), param::AccessSpecID, std::uint64_t{s.access_id});
  for (const Parameter &r : s.op_results) p.params.push_back(r);
  return p;
}

Message ro_access_report(std::vector<Parameter> tag_reports) {
  Message m = make_message(msg::RO_ACCESS_REPORT);
  m.params = std::move(tag_reports);
  return m;
}

TagAccumulator::Key TagAccumulator::key(const TagSighting &s) const {
  const ContentSelector &c = content_;
  return {s.family, s.id, c.rospec_id ? s.rospec_id : 0, c.spec_index ? s.spec_index : 0,
          c.inventory_id ? s.inventory_id : 0, c.antenna ? s.antenna.value_or(0) : 0,
          c.access_id ? s.access_id : 0};
}

void TagAccumulator::add(const TagSighting &s) {
  if (!s.op_results.empty()) {
    entries_.push_back(s);
    return;
  }
  auto [it, fresh] = index_.try_emplace(key(s), entries_.size());
  if (fresh) {
    entries_.push_back(s);
    return;
  }
  TagSighting &e = entries_[it->second];
  e.first = std::min(e.first, s.first);
  e.last = std::max(e.last, s.last);
  e.count += s.count;
  if (s.rssi && (!e.rssi || *s.rssi > *e.rssi)) e.rssi = s.rssi;
  if (s.pc) e.pc = s.pc;
  if (!content_.antenna && s.antenna) e.antenna = s.antenna;
}

std::vector<Parameter> TagAccumulator::take(std::size_t most) {
  std::size_t n = std::min(most, entries_.size());
  std::vector<Parameter> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back(tag_report_data(entries_[i], content_));
  entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(n));
  index_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].op_results.empty()) index_.emplace(key(entries_[i]), i);
  return out;
}

}  // namespace uhf::llrp
