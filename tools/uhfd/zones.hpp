// Read zones: a name for each antenna a reader uses (several may share one), and where each tag
// is: the zone whose reads were strongest (peak RSSI) within the last `window`. A tag is placed
// by its first zoned read. Another zone takes it only once that zone has read it in at least
// `min_rounds` rounds spread over at least `hold` (first to latest read within the window) and
// its peak beats the current zone's: one stray read, or a burst shorter than the hold, moves
// nothing. Reads on an antenna without a zone leave a tag where it was.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "inventory/round.hpp"
#include "inventory/tag_tracker.hpp"

namespace uhfd {

struct ZoneSettings {
    std::map<int, std::string> names;  // antenna -> zone; empty: no zones
    std::chrono::milliseconds window{1000};
    std::chrono::milliseconds hold{250};
    int min_rounds = 2;

    bool operator==(const ZoneSettings&) const = default;
    bool active() const { return !names.empty(); }
};

struct ZoneMove {
    inventory::TagKey key;
    std::string from;
    std::string to;
};

class ZoneTracker {
public:
    explicit ZoneTracker(ZoneSettings settings) : settings_(std::move(settings)) {}

    // Folds in one round's reads (as filtered) and judges every tag known; appends a move for each
    // tag whose zone changed. A tag's first zone is no move.
    void observe(const std::vector<inventory::TagRead>& reads, const inventory::Stamp& now, std::vector<ZoneMove>& moves);
    // The tag's zone, "" when it has none (no zones, or never read on a zoned antenna).
    std::string zone_of(const inventory::TagKey& key) const;
    // A tag that departed: its zone goes with it.
    void forget(const inventory::TagKey& key) { tags_.erase(key); }

private:
    struct Seen {
        std::chrono::steady_clock::time_point at;
        std::string zone;
        int rssi;
    };
    struct Place {
        std::deque<Seen> recent;  // within the window, oldest first
        std::string zone;
    };
    // The zone that wins now: the highest peak among the tag's zone and the zones read in
    // `min_rounds` rounds over `span` (the tag's zone wins a tie), "" for none.
    std::string strongest(const Place& p, int min_rounds, std::chrono::milliseconds span) const;
    void judge(Place& p, const inventory::TagKey& key, std::chrono::steady_clock::time_point now, std::vector<ZoneMove>& moves);

    ZoneSettings settings_;
    std::map<inventory::TagKey, Place> tags_;
};

}  // namespace uhfd
