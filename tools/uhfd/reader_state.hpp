// What a reader is doing, as others may see it without touching its link: the state and
// counters of a snapshot, and the events a reader sends to its subscribers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "inventory/round.hpp"
#include "inventory/tag_tracker.hpp"

namespace uhfd {

enum class LinkState { starting, online, offline, stopped };
const char* state_name(LinkState s);

struct ReaderCounters {
    std::uint64_t rounds = 0;
    std::uint64_t failed_rounds = 0;
    std::uint64_t exchanges = 0;
    std::uint64_t reads = 0;
    std::uint64_t arrivals = 0;
    std::uint64_t departures = 0;
    std::uint64_t moves = 0;     // `moved` events (zones)
    std::uint64_t filtered = 0;  // reads the reader's filters dropped
    std::uint64_t reports = 0;
    std::uint64_t undecoded_pages = 0;
    std::uint64_t reconnects = 0;  // successful ones
    std::uint64_t commands = 0;
    std::uint64_t pages = 0;  // `pages` events
    double last_round_ms = 0;
    std::map<int, std::uint64_t> reads_by_antenna;  // reads whose layout names no antenna are not here
    std::map<int, std::uint64_t> failures_by_code;  // failed rounds, link openings and commands, by result
};

struct ReaderSnapshot {
    std::string name;
    std::string device;
    int address = 0;
    LinkState state = LinkState::starting;
    std::string reason;  // why offline, in the library's words
    std::vector<std::uint8_t> device_info;
    inventory::Stamp since;  // when the state last changed
    ReaderCounters counters;
    std::size_t tags_present = 0;
    std::vector<inventory::TagState> tags;  // present now (snapshots only, not state events)
};

// Sent to subscribers on the reader's own thread, in the order they happened.
struct TagChanged {
    inventory::TagEvent event;
};
// A tag whose strongest zone changed (zones.hpp); `tag` carries the new zone.
struct TagMoved {
    inventory::Stamp time;
    inventory::TagState tag;
    std::string from;
    std::string to;
};
struct IntervalReport {
    inventory::Report report;
};
struct PagesRead {
    inventory::Stamp time;
    std::vector<inventory::RawPage> pages;  // raw layout, or pages the layout refused
};
struct StateChanged {
    ReaderSnapshot snapshot;  // without tags
};
using ReaderEvent = std::variant<TagChanged, TagMoved, IntervalReport, PagesRead, StateChanged>;

}  // namespace uhfd
