#include "zones.hpp"

#include <climits>
#include <set>

namespace uhfd {

void ZoneTracker::observe(const std::vector<inventory::TagRead>& reads, const inventory::Stamp& now,
                          std::vector<ZoneMove>& moves) {
    if (!settings_.active()) return;
    for (const inventory::TagRead& r : reads) {
        if (!r.tag.antenna) continue;
        const auto name = settings_.names.find(*r.tag.antenna);
        if (name == settings_.names.end()) continue;
        tags_[{r.family, r.tag.id}].recent.push_back({now.mono, name->second, r.tag.rssi.value_or(INT_MIN)});
    }
    for (auto& [key, place] : tags_) judge(place, key, now.mono, moves);
}

std::string ZoneTracker::strongest(const Place& p, int min_rounds, std::chrono::milliseconds span) const {
    struct Tally {
        int peak = INT_MIN;
        std::set<std::chrono::steady_clock::time_point> rounds;  // ordered: first and latest at the ends
    };
    std::map<std::string, Tally> by_zone;
    for (const Seen& s : p.recent) {
        Tally& t = by_zone[s.zone];
        t.peak = std::max(t.peak, s.rssi);
        t.rounds.insert(s.at);
    }
    std::string best;
    int best_peak = INT_MIN;
    for (const auto& [zone, t] : by_zone) {
        const bool settled = static_cast<int>(t.rounds.size()) >= min_rounds && *t.rounds.rbegin() - *t.rounds.begin() >= span;
        if (zone != p.zone && !settled) continue;
        if (best.empty() || t.peak > best_peak || (t.peak == best_peak && zone == p.zone)) {
            best = zone;
            best_peak = t.peak;
        }
    }
    return best;
}

void ZoneTracker::judge(Place& p, const inventory::TagKey& key, std::chrono::steady_clock::time_point now,
                        std::vector<ZoneMove>& moves) {
    while (!p.recent.empty() && now - p.recent.front().at > settings_.window) p.recent.pop_front();
    if (p.zone.empty()) {
        p.zone = strongest(p, 1, std::chrono::milliseconds(0));
        return;
    }
    const std::string best = strongest(p, settings_.min_rounds, settings_.hold);
    if (best.empty() || best == p.zone) return;
    moves.push_back({key, p.zone, best});
    p.zone = best;
}

std::string ZoneTracker::zone_of(const inventory::TagKey& key) const {
    const auto it = tags_.find(key);
    return it == tags_.end() ? std::string() : it->second.zone;
}

}  // namespace uhfd
