// Tag access: which AccessSpec a tag seen in inventory matches, and its operations' outcomes as
// the OpSpecResult parameters a TagReportData carries.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "llrp/ro_engine.hpp"
#include "llrp/ro_parse.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

// Whether the target pattern holds for a tag, over its EPC bank as inventory knows it: the CRC
// (bits 0-15) is never known, so a pattern touching it does not match; the PC (bits 16-31) only
// when the reader reported it; the EPC from bit 32 on. Bits past the tag's EPC do not match.
bool target_matches(const TargetTag &target, const std::vector<std::uint8_t> &epc,
                    std::optional<std::uint16_t> pc);

// Whether the rule applies to this read during ROSpec `rospec_id`: enabled, C1G2 (the EPC
// family), its antenna (0: any) and ROSpec (0: any), and every target pattern.
bool rule_matches(const AccessRule &rule, const RoundRead &read, std::uint32_t rospec_id);

// The result parameters for the operations that ran, in order: C1G2ReadOpSpecResult,
// C1G2WriteOpSpecResult or C1G2BlockWriteOpSpecResult with the result code the outcome maps to.
std::vector<Parameter> op_results(const std::vector<AccessOp> &ops, const std::vector<AccessResult> &results);

}  // namespace uhf::llrp
