// Tag reports: what one tag's observations in one accumulation scope come to, as the
// TagReportContentSelector asks, and the RO_ACCESS_REPORT that carries them.
//
// Observations of a tag are accumulated into one TagReportData while every field the selector
// enables (ROSpecID, SpecIndex, InventoryParameterSpecID, AntennaID, AccessSpecID) agrees: first
// seen is the earliest, last seen the latest, the count their sum and the peak RSSI the highest.
// An observation that carries access results is never merged: its results are its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "llrp/ro_engine.hpp"
#include "llrp/ro_parse.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

struct TagSighting {
  TagFamily family = TagFamily::epc;
  std::vector<std::uint8_t> id;
  std::optional<std::uint16_t> pc;
  std::uint32_t rospec_id = 0;
  std::uint16_t spec_index = 0;    // 1-based
  std::uint16_t inventory_id = 0;
  std::optional<std::uint16_t> antenna;
  std::optional<int> rssi;
  Time first{}, last{};
  std::uint32_t count = 1;
  std::uint32_t access_id = 0;     // 0: no access ran
  std::vector<Parameter> op_results;
};

// One TagReportData: EPC-96 for a 96-bit id, EPCData otherwise, then what `content` enables
// and the sighting knows (a reader that does not say the antenna or RSSI leaves them out).
Parameter tag_report_data(const TagSighting &sighting, const ContentSelector &content);

Message ro_access_report(std::vector<Parameter> tag_reports);

class TagAccumulator {
 public:
  explicit TagAccumulator(ContentSelector content = {}) : content_(content) {}
  void add(const TagSighting &sighting);
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // The first `most` TagReportData (all by default), in the order their tags were first seen;
  // the rest stay, to accumulate on.
  std::vector<Parameter> take(std::size_t most = SIZE_MAX);

 private:
  using Key = std::tuple<TagFamily, std::vector<std::uint8_t>, std::uint32_t, std::uint16_t, std::uint16_t,
                         std::uint16_t, std::uint32_t>;
  Key key(const TagSighting &s) const;
  ContentSelector content_;
  std::vector<TagSighting> entries_;
  std::map<Key, std::size_t> index_;
};

}  // namespace uhf::llrp
