// One inventory round on a link: for each family named, its query, then the pages of its tag
// list, read by a layout. Nothing here keeps state between rounds (inventory/tag_tracker.hpp does).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/family.hpp"
#include "inventory/layout.hpp"
#include "inventory/result.hpp"
#include "inventory/taglist.hpp"
#include "uhfreader.h"

namespace inventory {

struct TagRead {
    Family family;
    SeenTag tag;
};

struct RawPage {
    Family family;
    std::vector<std::uint8_t> bytes;
    std::string why;  // empty for a raw layout; else why the layout could not read it
};

struct Round {
    // The first call that failed: its result, with the detail code, and which call it was.
    // Everything read before it is kept.
    int failure = 0;
    Outcome outcome = Outcome::ok;
    int detail = 0;
    std::string failed_call;

    std::vector<TagRead> reads;
    std::vector<RawPage> pages;  // raw layout: every page; else the pages the layout refused
    int exchanges = 0;

    bool failed() const { return outcome == Outcome::exchange || outcome == Outcome::link; }
};

// Lists are read a page at a time until the list's count is reached; at most this many pages.
inline constexpr int kMaxPages = 64;

Round run_round(uhf_link* link, int addr, const std::vector<Family>& families, const Layout& layout);

}  // namespace inventory
