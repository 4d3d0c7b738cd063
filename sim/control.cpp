#include "sim/control.hpp"

#include <cctype>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

namespace uhfsim {

namespace {

constexpr const char* kHelp =
    "ok commands: add epc|gb|gjb [ID_HEX] [rssi=N] [ant=N]; remove ID_HEX; clear; list; "
    "set ID_HEX [rssi=N] [ant=N]; help";

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An ID as the field keeps it: whole 16-bit words.
std::vector<std::uint8_t> parse_id(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 2 * ReaderModel::kMaxIdBytes)
        throw std::invalid_argument("'" + std::string(text) + "' is not an ID: 4 to " +
                                    std::to_string(2 * ReaderModel::kMaxIdBytes) +
                                    " hex digits, a multiple of 4");
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) throw std::invalid_argument("'" + std::string(text) + "' is not hex");
        out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::string hex_id(const std::vector<std::uint8_t>& id) {
    std::string out;
    char b[3];
    for (std::uint8_t v : id) {
        std::snprintf(b, sizeof b, "%02X", v);
        out += b;
    }
    return out;
}

int parse_int(std::string_view key, std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size() || text.size() - i > 6)
        throw std::invalid_argument(std::string(key) + "='" + std::string(text) + "' is not an integer");
    int v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw std::invalid_argument(std::string(key) + "='" + std::string(text) + "' is not an integer");
        v = v * 10 + (text[i] - '0');
    }
    return negative ? -v : v;
}

// rssi=N and ant=N, each at most once.
struct Settings {
    std::optional<int> rssi;
    std::optional<std::uint8_t> antenna;
};

Settings parse_settings(const std::vector<std::string_view>& args, std::size_t from) {
    Settings s;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const std::size_t eq = a.find('=');
        const std::string key = lower(a.substr(0, eq));
        if (eq == std::string_view::npos || (key != "rssi" && key != "ant"))
            throw std::invalid_argument("unexpected '" + std::string(a) + "' (rssi=N or ant=N)");
        const int v = parse_int(key, a.substr(eq + 1));
        if (key == "rssi") {
            if (s.rssi) throw std::invalid_argument("rssi given twice");
            s.rssi = v;
        } else {
            if (s.antenna) throw std::invalid_argument("ant given twice");
            if (v < 0 || v >= ReaderModel::kAntennas)
                throw std::invalid_argument("antenna " + std::to_string(v) + " is outside 0.." +
                                            std::to_string(ReaderModel::kAntennas - 1));
            s.antenna = static_cast<std::uint8_t>(v);
        }
    }
    return s;
}

std::string run(ReaderModel& model, const std::vector<std::string_view>& args) {
    if (args.empty()) throw std::invalid_argument("empty line (try help)");
    const std::string cmd = lower(args[0]);
    const auto need = [&](std::size_t lo, std::size_t hi) {
        if (args.size() < lo || args.size() > hi)
            throw std::invalid_argument(cmd + ": wrong number of arguments (try help)");
    };
    if (cmd == "help") {
        need(1, 1);
        return std::string(kHelp) + "\n";
    }
    if (cmd == "add") {
        need(2, 5);
        NewTag wanted;
        const std::string fam = lower(args[1]);
        if (fam == "epc") wanted.family = Family::epc;
        else if (fam == "gb") wanted.family = Family::gb;
        else if (fam == "gjb") wanted.family = Family::gjb;
        else throw std::invalid_argument("'" + std::string(args[1]) + "' is not a family (epc, gb or gjb)");
        std::size_t next = 2;
        if (args.size() > 2 && args[2].find('=') == std::string_view::npos) wanted.id = parse_id(args[next++]);
        const Settings s = parse_settings(args, next);
        if (s.rssi) wanted.rssi = *s.rssi;
        if (s.antenna) wanted.antenna = *s.antenna;
        return "ok " + hex_id(model.add_tag(wanted)) + "\n";
    }
    if (cmd == "remove") {
        need(2, 2);
        if (!model.remove_tag(parse_id(args[1]))) throw std::invalid_argument("no tag " + std::string(args[1]));
        return "ok\n";
    }
    if (cmd == "clear") {
        need(1, 1);
        return "ok " + std::to_string(model.remove_all_tags()) + "\n";
    }
    if (cmd == "list") {
        need(1, 1);
        std::string out;
        const auto tags = model.list_tags();
        for (const TagSummary& t : tags) {
            out += std::string(family_name(t.family)) + " " + hex_id(t.id) + " rssi=" + std::to_string(t.rssi) +
                   " ant=" + std::to_string(t.antenna) + (t.killed ? " killed" : "") + "\n";
        }
        return out + "ok " + std::to_string(tags.size()) + "\n";
    }
    if (cmd == "set") {
        need(3, 4);
        const std::vector<std::uint8_t> id = parse_id(args[1]);
        const Settings s = parse_settings(args, 2);
        if (!model.set_tag(id, s.rssi, s.antenna)) throw std::invalid_argument("no tag " + std::string(args[1]));
        return "ok\n";
    }
    throw std::invalid_argument("unknown command '" + std::string(args[0]) + "' (try help)");
}

}  // namespace

std::string run_control_line(ReaderModel& model, std::string_view line) {
    try {
        return run(model, words(line));
    } catch (const std::invalid_argument& e) {
        return std::string("error ") + e.what() + "\n";
    }
}

}  // namespace uhfsim
