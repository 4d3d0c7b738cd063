// Log lines on stderr, one write each. Under systemd (JOURNAL_STREAM set) each line carries the
// journal's priority prefix ("<3>") instead of a time stamp, so journalctl -p filters by level.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace uhfd::log {

enum class Level { error = 3, warning = 4, info = 6, debug = 7 };

void set_level(Level level);
std::optional<Level> parse_level(std::string_view text);
bool enabled(Level level);

void write(Level level, std::string_view text);

inline void error(std::string_view text) { write(Level::error, text); }
inline void warning(std::string_view text) { write(Level::warning, text); }
inline void info(std::string_view text) { write(Level::info, text); }
inline void debug(std::string_view text) {
    if (enabled(Level::debug)) write(Level::debug, text);
}

}  // namespace uhfd::log
