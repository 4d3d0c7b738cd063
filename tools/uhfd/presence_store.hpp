// A reader's tag presence across runs: which tags were in its field, since when and last read
// when, kept in the queue directory as presence/<reader>.json. A restarted gateway takes it back,
// so a tag still in the field is not announced again and one that left meanwhile departs on the
// first good round.
//
// The file is replaced whole (written beside it, then renamed) and not synced: a crash of the
// process loses nothing, a power cut at most the last second of changes, which costs repeated
// arrivals, never a lost departure.
#pragma once

#include <string>
#include <vector>

#include "inventory/tag_tracker.hpp"

namespace uhfd {

std::string presence_path(const std::string& queue_dir, const std::string& reader);

// Tags as they stood when saved; their times carried onto this run's monotonic clock by how long
// ago on the wall clock they were. A missing or unreadable file is no tags (the second logged).
std::vector<inventory::TagState> load_presence(const std::string& path, const inventory::Stamp& now);

// False (errno kept) when the file could not be replaced; the previous one then stays.
bool save_presence(const std::string& path, const std::vector<inventory::TagState>& tags);

}  // namespace uhfd
