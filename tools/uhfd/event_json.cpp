#include "event_json.hpp"

#include <ctime>

#include "inventory/epc_json.hpp"
#include "inventory/family.hpp"

namespace uhfd {

std::string iso8601(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(((ms % 1000) + 1000) % 1000));
    return out;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

namespace {

nlohmann::ordered_json optional_int(const std::optional<int>& v) { return v ? nlohmann::ordered_json(*v) : nlohmann::ordered_json(nullptr); }

}  // namespace

nlohmann::ordered_json epc_brief(const uhf_epc& e) {
    nlohmann::ordered_json j = inventory::epc_json(e);
    j.erase("fields");
    j.erase("filter");
    return j;
}

nlohmann::ordered_json tag_json(const inventory::TagState& t, bool with_latest) {
    nlohmann::ordered_json j{{"id", hex(t.id)},
                     {"family", inventory::name(t.family)},
                     {"antenna", optional_int(t.antenna)},
                     {"peak_rssi", optional_int(t.peak_rssi)},
                     {"reads", t.reads},
                     {"first_seen", iso8601(t.first_seen.wall)},
                     {"last_seen", iso8601(t.last_seen.wall)}};
    if (with_latest) j["rssi"] = optional_int(t.rssi);
    if (!t.zone.empty()) j["zone"] = t.zone;
    if (t.family == inventory::Family::epc)
        if (const auto epc = inventory::decode_epc(t.id)) j["epc"] = epc_brief(*epc);
    return j;
}

namespace {

nlohmann::ordered_json head(const EventSource& src, const DiskQueue::Sequence& seq, const char* type, const inventory::Stamp& time) {
    return {{"type", type},         {"gateway", src.gateway}, {"reader", src.reader},
            {"epoch", seq.epoch},   {"seq", seq.seq},         {"time", iso8601(time.wall)}};
}

}  // namespace

nlohmann::ordered_json event_json(const EventSource& src, const DiskQueue::Sequence& seq, const ReaderEvent& event) {
    return std::visit(
        [&](const auto& e) -> nlohmann::ordered_json {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, TagChanged>) {
                const bool arrived = e.event.kind == inventory::TagEvent::Kind::arrived;
                nlohmann::ordered_json j = head(src, seq, arrived ? "arrived" : "departed",
                                        arrived ? e.event.tag.first_seen : inventory::Stamp::now());
                j["tag"] = tag_json(e.event.tag, true);
                return j;
            } else if constexpr (std::is_same_v<E, TagMoved>) {
                nlohmann::ordered_json j = head(src, seq, "moved", e.time);
                j["from"] = e.from;
                j["to"] = e.to;
                j["tag"] = tag_json(e.tag, true);
                return j;
            } else if constexpr (std::is_same_v<E, IntervalReport>) {
                nlohmann::ordered_json j = head(src, seq, "report", e.report.end);
                j["start"] = iso8601(e.report.start.wall);
                j["end"] = iso8601(e.report.end.wall);
                j["count"] = e.report.tags.size();
                nlohmann::ordered_json tags = nlohmann::ordered_json::array();
                for (const auto& t : e.report.tags) tags.push_back(tag_json(t, false));
                j["tags"] = std::move(tags);
                return j;
            } else if constexpr (std::is_same_v<E, PagesRead>) {
                nlohmann::ordered_json j = head(src, seq, "pages", e.time);
                nlohmann::ordered_json pages = nlohmann::ordered_json::array();
                for (const auto& p : e.pages) {
                    nlohmann::ordered_json page{{"family", inventory::name(p.family)}, {"data", hex(p.bytes)}};
                    if (!p.why.empty()) page["undecoded"] = p.why;
                    pages.push_back(std::move(page));
                }
                j["pages"] = std::move(pages);
                return j;
            } else {
                return reader_status_json(src.gateway, e.snapshot, 0);
            }
        },
        event);
}

nlohmann::ordered_json reader_status_json(const std::string& gateway, const ReaderSnapshot& s, std::uint64_t dropped) {
    const ReaderCounters& c = s.counters;
    nlohmann::ordered_json j{{"gateway", gateway},
                     {"reader", s.name},
                     {"state", state_name(s.state)},
                     {"since", iso8601(s.since.wall)},
                     {"device", s.device},
                     {"address", s.address},
                     {"counters",
                      {{"rounds", c.rounds},
                       {"failed_rounds", c.failed_rounds},
                       {"exchanges", c.exchanges},
                       {"reads", c.reads},
                       {"arrivals", c.arrivals},
                       {"departures", c.departures},
                       {"moves", c.moves},
                       {"filtered", c.filtered},
                       {"reports", c.reports},
                       {"undecoded_pages", c.undecoded_pages},
                       {"reconnects", c.reconnects},
                       {"commands", c.commands},
                       {"events_dropped", dropped}}},
                     {"tags_present", s.tags_present}};
    j["reason"] = s.reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s.reason);
    j["device_info"] = s.device_info.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(hex(s.device_info));
    return j;
}

const char* state_name(LinkState s) {
    switch (s) {
        case LinkState::starting: return "starting";
        case LinkState::online: return "online";
        case LinkState::offline: return "offline";
        case LinkState::stopped: return "stopped";
    }
    return "?";
}

}  // namespace uhfd
