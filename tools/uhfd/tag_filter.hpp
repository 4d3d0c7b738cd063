// Which reads of a round a reader keeps: include and exclude rules on the id, an RSSI floor and
// the antennas in use (docs/gateway.md, "Filters"). Applied to a round's reads before anything
// else sees them, so a dropped read neither arrives, nor keeps a tag present, nor reaches the
// rounds channel.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "inventory/round.hpp"
#include "uhfreader.h"

namespace uhfd {

// One rule, as written in the configuration: an EPC pattern URI (urn:epc:pat:sgtin-96:3.0614141.*.*),
// which only an EPC-family id that decodes can match, or hex digits an id starts with, with an
// optional mask of as many digits ("E200", "E2000000/FF0000FF"): the id matches where its
// leading digits ANDed with the mask equal the value ANDed with it.
class IdRule {
public:
    // The rule, or nullopt with `why` saying what is wrong.
    static std::optional<IdRule> parse(const std::string& text, std::string& why);

    bool matches(inventory::Family family, std::span<const std::uint8_t> id) const;
    const std::string& text() const { return text_; }
    // The text decides everything else.
    bool operator==(const IdRule& o) const { return text_ == o.text_; }

private:
    std::string text_;
    bool is_pattern_ = false;
    uhf_epc_pattern pattern_{};
    std::vector<std::uint8_t> value_;  // one hex digit per element
    std::vector<std::uint8_t> mask_;
};

struct TagFilter {
    std::vector<IdRule> include;  // empty: every id
    std::vector<IdRule> exclude;
    std::optional<int> rssi_min;  // a read without RSSI is kept
    std::set<int> antennas;       // empty: every antenna; else a read without one is dropped

    bool operator==(const TagFilter&) const = default;
    bool empty() const { return include.empty() && exclude.empty() && !rssi_min && antennas.empty(); }
    bool keeps(const inventory::TagRead& r) const;
    // Drops the reads it does not keep; returns how many it dropped.
    std::size_t apply(std::vector<inventory::TagRead>& reads) const;
};

}  // namespace uhfd
