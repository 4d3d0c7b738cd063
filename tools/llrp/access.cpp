// Matching tags against AccessSpecs, and mapping operation outcomes onto LLRP's result codes.
#include "llrp/access.hpp"

#include "llrp/catalogue.hpp"

namespace uhf::llrp {
namespace {

bool bit(const std::vector<std::uint8_t> &bytes, std::size_t i) {
  return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// C1G2ReadResultType and C1G2WriteResultType (C1G2BlockWriteResultType has the same values).
std::uint8_t read_code(AccessResult::Outcome o) {
  using O = AccessResult::Outcome;
  switch (o) {
    case O::success: return 0;
    case O::no_response: return 2;
    case O::reader_error: return 3;
    default: return 1;  // Nonspecific_Tag_Error: LLRP's read result has no finer code
  }
}

std::uint8_t write_code(AccessResult::Outcome o) {
  using O = AccessResult::Outcome;
  switch (o) {
    case O::success: return 0;
    case O::memory_overrun: return 1;
    case O::memory_locked: return 2;
    case O::insufficient_power: return 3;
    case O::tag_error: return 4;
    case O::no_response: return 5;
    default: return 6;
  }
}

}  // namespace

bool target_matches(const TargetTag &t, const std::vector<std::uint8_t> &epc, std::optional<std::uint16_t> pc) {
  std::size_t n = t.data.count;
  if (t.mask.count && t.mask.count < n) n = t.mask.count;
  // The EPC bank as far as it is known: PC then EPC (the CRC before them never is).
  std::vector<std::uint8_t> bank{static_cast<std::uint8_t>(pc.value_or(0) >> 8),
                                 static_cast<std::uint8_t>(pc.value_or(0) & 0xff)};
  bank.insert(bank.end(), epc.begin(), epc.end());
  bool equal = true;
  for (std::size_t i = 0; i < n && equal; ++i) {
    bool masked = t.mask.count == 0 || bit(t.mask.bytes, i);
    if (!masked) continue;
    std::size_t at = t.pointer + i;
    if (at < 16 || (at < 32 && !pc) || at - 16 >= bank.size() * 8) return false;
    equal = bit(bank, at - 16) == bit(t.data.bytes, i);
  }
  return equal == t.match;
}

bool rule_matches(const AccessRule &rule, const RoundRead &read, std::uint32_t rospec_id) {
  if (!rule.enabled || read.family != TagFamily::epc) return false;
  if (rule.antenna != 0 && read.antenna != rule.antenna) return false;
  if (rule.rospec_id != 0 && rule.rospec_id != rospec_id) return false;
  for (const TargetTag &t : rule.targets)
    if (!target_matches(t, read.id, read.pc)) return false;
  return true;
}

std::vector<Parameter> op_results(const std::vector<AccessOp> &ops, const std::vector<AccessResult> &results) {
  std::vector<Parameter> out;
  for (std::size_t i = 0; i < ops.size() && i < results.size(); ++i) {
    const AccessOp &op = ops[i];
    const AccessResult &r = results[i];
    Parameter p;
    if (op.kind == AccessOp::Kind::read) {
      p = make_parameter(param::C1G2ReadOpSpecResult);
      set(p, "Result", std::uint64_t{read_code(r.outcome)});
      if (r.outcome == AccessResult::Outcome::success) set(p, "ReadData", r.words);
    } else {
      p = make_parameter(op.kind == AccessOp::Kind::write ? param::C1G2WriteOpSpecResult
                                                          : param::C1G2BlockWriteOpSpecResult);
      set(p, "Result", std::uint64_t{write_code(r.outcome)});
      set(p, "NumWordsWritten", std::uint64_t{r.words_written});
    }
    set(p, "OpSpecID", std::uint64_t{op.op_id});
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace uhf::llrp
