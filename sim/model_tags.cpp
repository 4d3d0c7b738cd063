// The reader model's tag population: the seeded field it starts with, and the tags added,
// removed and moved while it serves.
#include <algorithm>
#include <stdexcept>
#include <string>

#include "sim/model.hpp"

namespace uhfsim {

namespace {

constexpr std::size_t kUserWords = 32;
constexpr std::size_t kTidWords = 4;

std::size_t id_words(Family f) { return f == Family::epc ? 6 : f == Family::gb ? 8 : 4; }

void check_rssi(int rssi) {
    if (rssi < ReaderModel::kMinRssi || rssi > ReaderModel::kMaxRssi)
        throw std::invalid_argument("rssi " + std::to_string(rssi) + " is outside " +
                                    std::to_string(ReaderModel::kMinRssi) + ".." +
                                    std::to_string(ReaderModel::kMaxRssi));
}

void check_antenna(unsigned antenna) {
    if (antenna >= ReaderModel::kAntennas)
        throw std::invalid_argument("antenna " + std::to_string(antenna) + " is outside 0.." +
                                    std::to_string(ReaderModel::kAntennas - 1));
}

bool same_id(const Tag& t, std::span<const std::uint8_t> id) {
    const auto& words = t.banks[static_cast<std::size_t>(Bank::id)];
    if (words.size() * 2 != id.size()) return false;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (words[i] != ((id[2 * i] << 8) | id[2 * i + 1])) return false;
    return true;
}

}  // namespace

void ReaderModel::populate(std::size_t count) {
    tags_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        Tag t;
        t.family = static_cast<Family>(i % 3);
        auto& id = t.banks[static_cast<std::size_t>(Bank::id)];
        for (std::size_t w = 0; w + 1 < id_words(t.family); ++w) id.push_back(static_cast<std::uint16_t>(rng_()));
        // The last word carries the index, so no two tags share an ID.
        id.push_back(static_cast<std::uint16_t>(i));
        t.banks[0].assign(4, 0);
        auto& tid = t.banks[static_cast<std::size_t>(Bank::tid)];
        for (std::size_t w = 0; w < kTidWords; ++w) tid.push_back(static_cast<std::uint16_t>(rng_()));
        t.banks[static_cast<std::size_t>(Bank::user)].assign(kUserWords, 0);
        t.rssi = -40 - static_cast<int>(rng_() % 35);
        t.antenna = static_cast<std::uint8_t>(rng_() % kAntennas);
        tags_.push_back(std::move(t));
    }
}

std::optional<std::size_t> ReaderModel::find_tag(std::span<const std::uint8_t> id) const {
    for (std::size_t i = 0; i < tags_.size(); ++i)
        if (same_id(tags_[i], id)) return i;
    return std::nullopt;
}

// Random words from the model's generator, so the same seed and the same commands give the
// same IDs; drawn again in the unlikely case of a clash.
std::vector<std::uint16_t> ReaderModel::fresh_id(Family fam) {
    for (;;) {
        std::vector<std::uint16_t> words;
        for (std::size_t w = 0; w < id_words(fam); ++w) words.push_back(static_cast<std::uint16_t>(rng_()));
        const bool clash = std::any_of(tags_.begin(), tags_.end(), [&](const Tag& t) {
            return t.banks[static_cast<std::size_t>(Bank::id)] == words;
        });
        if (!clash) return words;
    }
}

std::vector<std::uint8_t> ReaderModel::add_tag(const NewTag& wanted) {
    if (wanted.family != Family::epc && wanted.family != Family::gb && wanted.family != Family::gjb)
        throw std::invalid_argument("no such tag family");
    check_rssi(wanted.rssi);
    check_antenna(wanted.antenna);
    if (!wanted.id.empty() && (wanted.id.size() % 2 != 0 || wanted.id.size() > kMaxIdBytes))
        throw std::invalid_argument("an ID is whole 16-bit words, 2 to " + std::to_string(kMaxIdBytes) + " bytes");

    std::lock_guard lock(mu_);
    if (tags_.size() >= kMaxTags)
        throw std::invalid_argument("the field is full (" + std::to_string(kMaxTags) + " tags)");
    if (!wanted.id.empty() && find_tag(wanted.id)) throw std::invalid_argument("a tag with this ID is in the field");

    Tag t;
    t.family = wanted.family;
    auto& id = t.banks[static_cast<std::size_t>(Bank::id)];
    if (wanted.id.empty()) {
        id = fresh_id(wanted.family);
    } else {
        for (std::size_t i = 0; i < wanted.id.size(); i += 2)
            id.push_back(static_cast<std::uint16_t>((wanted.id[i] << 8) | wanted.id[i + 1]));
    }
    t.banks[0].assign(4, 0);
    auto& tid = t.banks[static_cast<std::size_t>(Bank::tid)];
    for (std::size_t w = 0; w < kTidWords; ++w) tid.push_back(static_cast<std::uint16_t>(rng_()));
    t.banks[static_cast<std::size_t>(Bank::user)].assign(kUserWords, 0);
    t.rssi = wanted.rssi;
    t.antenna = wanted.antenna;
    tags_.push_back(std::move(t));
    return tags_.back().id();
}

// lock held. The per-family state names tags by index: whatever named this one forgets it, and
// the indexes after it move down one.
void ReaderModel::erase_tag(std::size_t index) {
    const auto shift = [&](std::optional<std::size_t>& at) {
        if (!at) return;
        if (*at == index) at.reset();
        else if (*at > index) --*at;
    };
    for (FamilyState& f : families_) {
        shift(f.woken);
        shift(f.secured);
        shift(f.fd_access);
        std::erase_if(f.list, [&](const FamilyState::Entry& e) { return e.tag == index; });
        for (FamilyState::Entry& e : f.list)
            if (e.tag > index) --e.tag;
    }
    tags_.erase(tags_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool ReaderModel::remove_tag(std::span<const std::uint8_t> id) {
    std::lock_guard lock(mu_);
    const auto at = find_tag(id);
    if (!at) return false;
    erase_tag(*at);
    return true;
}

std::size_t ReaderModel::remove_all_tags() {
    std::lock_guard lock(mu_);
    const std::size_t n = tags_.size();
    while (!tags_.empty()) erase_tag(tags_.size() - 1);
    return n;
}

std::vector<TagSummary> ReaderModel::list_tags() const {
    std::lock_guard lock(mu_);
    std::vector<TagSummary> out;
    for (const Tag& t : tags_) out.push_back({t.family, t.id(), t.rssi, t.antenna, t.killed});
    return out;
}

bool ReaderModel::set_tag(std::span<const std::uint8_t> id, std::optional<int> rssi,
                          std::optional<std::uint8_t> antenna) {
    if (rssi) check_rssi(*rssi);
    if (antenna) check_antenna(*antenna);
    std::lock_guard lock(mu_);
    const auto at = find_tag(id);
    if (!at) return false;
    if (rssi) tags_[*at].rssi = *rssi;
    if (antenna) tags_[*at].antenna = *antenna;
    return true;
}

}  // namespace uhfsim
