// Per-tag state across rounds: a tag arrives the first round it is read, and departs once no
// round has read it for the departure timeout. Departure is judged only from rounds that ran:
// while a reader is down nothing departs, and the first good round afterwards settles it.
// Reports gather the unique tags read in an interval.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inventory/family.hpp"
#include "inventory/round.hpp"

namespace inventory {

// A moment on both clocks: the monotonic one for timeouts, the wall one for what is reported.
struct Stamp {
    std::chrono::steady_clock::time_point mono;
    std::chrono::system_clock::time_point wall;

    static Stamp now() { return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()}; }
};

using TagKey = std::pair<Family, std::vector<std::uint8_t>>;

struct TagState {
    Family family = Family::epc;
    std::vector<std::uint8_t> id;
    std::optional<int> antenna;  // of the latest read
    std::optional<int> rssi;     // of the latest read
    std::optional<int> peak_rssi;
    long reads = 0;  // since it arrived (in a report: within the interval)
    std::string zone;  // where the reader names its antennas: the tag's zone (else "")
    Stamp first_seen;
    Stamp last_seen;
};

struct TagEvent {
    enum class Kind { arrived, departed } kind;
    TagState tag;
};

struct Report {
    Stamp start;
    Stamp end;
    std::vector<TagState> tags;  // one per tag read in the interval, reads counted within it
};

class TagTracker {
public:
    // Without `reports`, nothing is gathered for take_report(), which then returns no tags.
    explicit TagTracker(std::chrono::milliseconds departure_timeout, bool reports = true)
        : timeout_(departure_timeout), reports_(reports) {}

    // Folds one round's reads in; appends an arrival for each tag not present before.
    void observe(const std::vector<TagRead>& reads, const Stamp& now, std::vector<TagEvent>& events);

    // Appends a departure for each tag unread for the timeout, and forgets it.
    void expire(const Stamp& now, std::vector<TagEvent>& events);

    // The interval's tags since the last call (or since construction), and starts a new interval.
    Report take_report(const Stamp& now);

    // Takes tags known present before this tracker existed (a previous run, a worker being
    // replaced) as present now: reading them again announces nothing, and one not read for the
    // timeout from its own last_seen departs as usual. Tags already present are kept as they are.
    void restore(const std::vector<TagState>& tags);

    std::vector<TagState> present() const;
    // The tag if present, else nullptr (valid until the next call that changes the tracker).
    const TagState* find(const TagKey& key) const;
    std::size_t size() const { return present_.size(); }

private:
    std::chrono::milliseconds timeout_;
    bool reports_;
    std::map<TagKey, TagState> present_;
    std::map<TagKey, TagState> interval_;
    std::optional<Stamp> interval_start_;
};

}  // namespace inventory
