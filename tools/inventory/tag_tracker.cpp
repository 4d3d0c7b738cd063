#include "inventory/tag_tracker.hpp"

#include <algorithm>

namespace inventory {

namespace {

void fold(TagState& s, const TagRead& r, const Stamp& now) {
    if (r.tag.antenna) s.antenna = r.tag.antenna;
    if (r.tag.rssi) {
        s.rssi = r.tag.rssi;
        s.peak_rssi = s.peak_rssi ? std::max(*s.peak_rssi, *r.tag.rssi) : *r.tag.rssi;
    }
    s.reads += std::max(r.tag.reads, 0);
    s.last_seen = now;
}

TagState fresh(const TagRead& r, const Stamp& now) {
    TagState s;
    s.family = r.family;
    s.id = r.tag.id;
    s.first_seen = now;
    s.last_seen = now;
    return s;
}

}  // namespace

void TagTracker::observe(const std::vector<TagRead>& reads, const Stamp& now, std::vector<TagEvent>& events) {
    if (!interval_start_) interval_start_ = now;
    const std::size_t first_new = events.size();
    for (const TagRead& r : reads) {
        TagKey key{r.family, r.tag.id};
        auto [it, arrived] = present_.try_emplace(key, fresh(r, now));
        fold(it->second, r, now);
        if (reports_) {
            auto iv = interval_.try_emplace(std::move(key), fresh(r, now)).first;
            fold(iv->second, r, now);
        }
        // A tag read twice in one round (two antennas, two pages) arrives once.
        if (arrived) events.push_back({TagEvent::Kind::arrived, it->second});
    }
    // Reads of an arrival in the same round after the first are folded in above; refresh the event.
    for (std::size_t i = first_new; i < events.size(); ++i)
        if (auto it = present_.find({events[i].tag.family, events[i].tag.id}); it != present_.end())
            events[i].tag = it->second;
}

void TagTracker::expire(const Stamp& now, std::vector<TagEvent>& events) {
    for (auto it = present_.begin(); it != present_.end();) {
        if (now.mono - it->second.last_seen.mono >= timeout_) {
            events.push_back({TagEvent::Kind::departed, std::move(it->second)});
            it = present_.erase(it);
        } else {
            ++it;
        }
    }
}

Report TagTracker::take_report(const Stamp& now) {
    Report r;
    r.start = interval_start_.value_or(now);
    r.end = now;
    r.tags.reserve(interval_.size());
    for (auto& [key, s] : interval_) r.tags.push_back(std::move(s));
    interval_.clear();
    interval_start_ = now;
    return r;
}

void TagTracker::restore(const std::vector<TagState>& tags) {
    for (const TagState& t : tags) {
        TagState s = t;
        s.reads = std::max(s.reads, 0L);
        present_.try_emplace({t.family, t.id}, std::move(s));
    }
}

const TagState* TagTracker::find(const TagKey& key) const {
    const auto it = present_.find(key);
    return it == present_.end() ? nullptr : &it->second;
}

std::vector<TagState> TagTracker::present() const {
    std::vector<TagState> out;
    out.reserve(present_.size());
    for (const auto& [key, s] : present_) out.push_back(s);
    return out;
}

}  // namespace inventory
