// The tags an inventory has read, as a table: one row per tag, and a column of reads per reader
// when there are several. Text for the terminal, or a JSON array.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "inventory/tag_tracker.hpp"
#include "uhfctl/output.hpp"

namespace uhfctl {

struct TagRow {
    inventory::Family family;
    std::vector<std::uint8_t> id;
    long reads = 0;  // over every reader
    std::optional<int> rssi, antenna;  // of the latest read
    std::vector<long> reads_by_reader;
};

class TagTable {
public:
    explicit TagTable(std::vector<std::string> readers) : readers_(std::move(readers)) {}

    // Adds what one reader (by index) has seen.
    void add(std::size_t reader, const std::vector<inventory::TagState>& tags);

    // The table and a summary line; `seconds` gives the read rates.
    std::string text(double seconds, long rounds, long reads) const;
    Json json(double seconds) const;
    std::size_t size() const { return rows_.size(); }

private:
    std::vector<std::string> readers_;
    std::map<inventory::TagKey, TagRow> rows_;
};

}  // namespace uhfctl
