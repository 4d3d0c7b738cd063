#include "presence_store.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "log.hpp"

namespace uhfd {

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::system_clock;

long long wall_ms(const inventory::Stamp& s) {
    return std::chrono::duration_cast<milliseconds>(s.wall.time_since_epoch()).count();
}

// The stamp `ms` on the wall clock was, on both clocks; a time ahead of now (the clock was set
// back) counts as now.
inventory::Stamp stamp_at(long long ms, const inventory::Stamp& now) {
    const system_clock::time_point wall{milliseconds(ms)};
    const auto ago = std::max(now.wall - wall, system_clock::duration::zero());
    return {now.mono - std::chrono::duration_cast<std::chrono::steady_clock::duration>(ago), now.wall - ago};
}

std::string to_hex(const std::vector<std::uint8_t>& b) {
    static const char* const digits = "0123456789ABCDEF";
    std::string s;
    for (const std::uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::vector<std::uint8_t> from_hex(const std::string& s) {
    std::vector<std::uint8_t> out;
    if (s.size() % 2) throw std::invalid_argument("odd hex");
    for (std::size_t i = 0; i < s.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace

std::string presence_path(const std::string& queue_dir, const std::string& reader) {
    return queue_dir + "/presence/" + reader + ".json";
}

std::vector<inventory::TagState> load_presence(const std::string& path, const inventory::Stamp& now) {
    std::vector<inventory::TagState> tags;
    std::ifstream in(path);
    if (!in) return tags;
    try {
        const json j = json::parse(in);
        for (const json& t : j.at("tags")) {
            inventory::TagState s;
            const auto family = inventory::parse_family(t.at("family").get<std::string>());
            if (!family) throw std::invalid_argument("family");
            s.family = *family;
            s.id = from_hex(t.at("id").get<std::string>());
            s.first_seen = stamp_at(t.at("first_seen_ms").get<long long>(), now);
            s.last_seen = stamp_at(t.at("last_seen_ms").get<long long>(), now);
            s.reads = t.value("reads", 0L);
            if (t.contains("antenna")) s.antenna = t["antenna"].get<int>();
            if (t.contains("rssi")) s.rssi = t["rssi"].get<int>();
            if (t.contains("peak_rssi")) s.peak_rssi = t["peak_rssi"].get<int>();
            tags.push_back(std::move(s));
        }
    } catch (const std::exception& e) {
        log::warning("presence file " + path + " unreadable (" + e.what() + "); its reader starts with no tags");
        tags.clear();
    }
    return tags;
}

bool save_presence(const std::string& path, const std::vector<inventory::TagState>& tags) {
    json list = json::array();
    for (const inventory::TagState& t : tags) {
        json o{{"family", inventory::name(t.family)},
               {"id", to_hex(t.id)},
               {"first_seen_ms", wall_ms(t.first_seen)},
               {"last_seen_ms", wall_ms(t.last_seen)},
               {"reads", t.reads}};
        if (t.antenna) o["antenna"] = *t.antenna;
        if (t.rssi) o["rssi"] = *t.rssi;
        if (t.peak_rssi) o["peak_rssi"] = *t.peak_rssi;
        list.push_back(std::move(o));
    }
    const std::string text = json{{"tags", std::move(list)}}.dump();
    const std::string tmp = path + ".new";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f && errno == ENOENT) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        f = std::fopen(tmp.c_str(), "w");
    }
    if (!f) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace uhfd
