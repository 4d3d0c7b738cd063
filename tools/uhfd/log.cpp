#include "log.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace uhfd::log {

namespace {
std::atomic<int> g_level{static_cast<int>(Level::info)};

const char* tag(Level l) {
    switch (l) {
        case Level::error: return "error";
        case Level::warning: return "warning";
        case Level::info: return "info";
        case Level::debug: return "debug";
    }
    return "?";
}

bool to_journal() {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    return journal;
}
}  // namespace

void set_level(Level level) { g_level.store(static_cast<int>(level)); }

std::optional<Level> parse_level(std::string_view t) {
    if (t == "error") return Level::error;
    if (t == "warning") return Level::warning;
    if (t == "info") return Level::info;
    if (t == "debug") return Level::debug;
    return std::nullopt;
}

std::string escape_controls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
            continue;
        }
        switch (c) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: {
                static const char* const digits = "0123456789abcdef";
                out += "\\x";
                out += digits[u >> 4];
                out += digits[u & 15];
            }
        }
    }
    return out;
}

bool enabled(Level level) { return static_cast<int>(level) <= g_level.load(std::memory_order_relaxed); }

void write(Level level, std::string_view text) {
    if (!enabled(level)) return;
    std::string line;
    if (to_journal()) {
        line = "<" + std::to_string(static_cast<int>(level)) + ">";
    } else {
        const auto now = std::chrono::system_clock::now();
        const std::time_t t = std::chrono::system_clock::to_time_t(now);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        std::tm tm{};
        ::gmtime_r(&t, &tm);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ ", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
        line = stamp;
    }
    line += tag(level);
    line += ": ";
    line += escape_controls(text);
    line += '\n';
    // One write per line keeps lines from different threads whole.
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace uhfd::log
