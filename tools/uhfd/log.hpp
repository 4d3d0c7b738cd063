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

// Writes `text` as one line: control characters in it (a newline from a device string, a
// client's name, a broker's words) are written escaped ("\n", "\x1b"), so no text forges a line.
void write(Level level, std::string_view text);

// How write() shows control characters: \n \r \t, others \xHH, a backslash as itself.
std::string escape_controls(std::string_view text);

inline void error(std::string_view text) { write(Level::error, text); }
inline void warning(std::string_view text) { write(Level::warning, text); }
inline void info(std::string_view text) { write(Level::info, text); }
inline void debug(std::string_view text) {
    if (enabled(Level::debug)) write(Level::debug, text);
}

}  // namespace uhfd::log
