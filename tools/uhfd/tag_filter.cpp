#include "tag_filter.hpp"

#include <algorithm>

namespace uhfd {

namespace {

constexpr std::string_view kPatternPrefix = "urn:epc:pat:";
// An id is at most 62 bytes on the tag-list pages.
constexpr std::size_t kMaxDigits = 124;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool hex_digits(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.empty() || text.size() > kMaxDigits) return false;
    for (const char c : text) {
        const int d = hex_digit(c);
        if (d < 0) return false;
        out.push_back(static_cast<std::uint8_t>(d));
    }
    return true;
}

}  // namespace

std::optional<IdRule> IdRule::parse(const std::string& text, std::string& why) {
    IdRule r;
    r.text_ = text;
    if (text.rfind(kPatternPrefix, 0) == 0) {
        const int rc = uhf_epc_pattern_parse(text.c_str(), &r.pattern_);
        if (rc != 0) {
            why = "'" + text + "' is not an EPC pattern: " + uhf_epc_strerror(rc);
            return std::nullopt;
        }
        r.is_pattern_ = true;
        return r;
    }
    const std::size_t slash = text.find('/');
    const std::string_view value = std::string_view(text).substr(0, slash);
    if (!hex_digits(value, r.value_)) {
        why = "'" + text + "' is neither an EPC pattern (urn:epc:pat:...) nor 1 to 124 hex digits with an optional /MASK";
        return std::nullopt;
    }
    if (slash == std::string::npos) {
        r.mask_.assign(r.value_.size(), 0xF);
    } else if (!hex_digits(std::string_view(text).substr(slash + 1), r.mask_) || r.mask_.size() != r.value_.size()) {
        why = "'" + text + "': the mask after '/' must be as many hex digits as the value before it";
        return std::nullopt;
    }
    return r;
}

bool IdRule::matches(inventory::Family family, std::span<const std::uint8_t> id) const {
    if (is_pattern_)
        return family == inventory::Family::epc && !id.empty() &&
               uhf_epc_pattern_match(&pattern_, id.data(), static_cast<int>(id.size())) == 1;
    if (id.size() * 2 < value_.size()) return false;
    for (std::size_t i = 0; i < value_.size(); ++i) {
        const std::uint8_t digit = i % 2 ? id[i / 2] & 0xF : id[i / 2] >> 4;
        if ((digit & mask_[i]) != (value_[i] & mask_[i])) return false;
    }
    return true;
}

bool TagFilter::keeps(const inventory::TagRead& r) const {
    if (!antennas.empty() && (!r.tag.antenna || !antennas.count(*r.tag.antenna))) return false;
    if (rssi_min && r.tag.rssi && *r.tag.rssi < *rssi_min) return false;
    const auto matches = [&](const IdRule& rule) { return rule.matches(r.family, r.tag.id); };
    if (!include.empty() && std::none_of(include.begin(), include.end(), matches)) return false;
    return std::none_of(exclude.begin(), exclude.end(), matches);
}

std::size_t TagFilter::apply(std::vector<inventory::TagRead>& reads) const {
    if (empty()) return 0;
    return std::erase_if(reads, [this](const inventory::TagRead& r) { return !keeps(r); });
}

}  // namespace uhfd
