#include "http/metrics.hpp"

#include <map>
#include <sstream>
#include <vector>

namespace uhfd::http {

namespace {

struct Sample {
    std::string labels;  // {a="b",...} or ""
    double value;
};

// Gathers samples by metric so each metric's HELP and TYPE come once, before all its samples.
class Families {
public:
    void add(const std::string& name, const char* type, const char* help, std::string labels, double value) {
        auto& f = families_[name];
        if (f.type.empty()) {
            f.type = type;
            f.help = help;
            order_.push_back(name);
        }
        f.samples.push_back({std::move(labels), value});
    }
    // A metric with no sample still says it exists.
    void declare(const std::string& name, const char* type, const char* help) {
        auto& f = families_[name];
        if (f.type.empty()) {
            f.type = type;
            f.help = help;
            order_.push_back(name);
        }
    }
    std::string text() const {
        std::ostringstream out;
        out.precision(17);
        for (const std::string& name : order_) {
            const Family& f = families_.at(name);
            out << "# HELP " << name << ' ' << f.help << "\n# TYPE " << name << ' ' << f.type << '\n';
            for (const Sample& s : f.samples) out << name << s.labels << ' ' << s.value << '\n';
        }
        return out.str();
    }

private:
    struct Family {
        std::string type, help;
        std::vector<Sample> samples;
    };
    std::map<std::string, Family> families_;
    std::vector<std::string> order_;
};

std::string labels(std::initializer_list<std::pair<const char*, std::string>> kv) {
    std::string out = "{";
    for (const auto& [k, v] : kv) {
        if (out.size() > 1) out += ',';
        out += k;
        out += "=\"" + label_value(v) + '"';
    }
    return out + "}";
}

}  // namespace

std::string label_value(const std::string& v) {
    std::string out;
    for (const char c : v) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string metrics_text(const Gateway& gw, const HttpCounters& http) {
    Families m;
    m.declare("uhfd_reader_failures_total", "counter",
              "Failed rounds, link openings and commands, by result code (negative: the link, positive: the exchange).");
    m.declare("uhfd_reader_antenna_reads_total", "counter", "Tag reads by the antenna that made them.");
    const auto dropped = gw.queue().dropped_by_key();
    const auto queue_counts = gw.queue().counts_by_key();
    for (const std::string& name : gw.reader_names()) {
        const auto worker = gw.reader(name);
        if (!worker) continue;
        const ReaderSnapshot s = worker->snapshot(false);
        const ReaderCounters& c = s.counters;
        const std::string r = labels({{"reader", name}});
        m.add("uhfd_reader_up", "gauge", "1 while the reader is online.", r, s.state == LinkState::online ? 1 : 0);
        for (const LinkState st : {LinkState::starting, LinkState::online, LinkState::offline, LinkState::stopped})
            m.add("uhfd_reader_state", "gauge", "1 for the reader's current state.", labels({{"reader", name}, {"state", state_name(st)}}),
                  s.state == st ? 1 : 0);
        m.add("uhfd_reader_rounds_total", "counter", "Inventory rounds run.", r, static_cast<double>(c.rounds));
        m.add("uhfd_reader_failed_rounds_total", "counter", "Inventory rounds that failed.", r, static_cast<double>(c.failed_rounds));
        m.add("uhfd_reader_exchanges_total", "counter", "Exchanges made by inventory rounds.", r, static_cast<double>(c.exchanges));
        for (const auto& [code, n] : c.failures_by_code)
            m.add("uhfd_reader_failures_total", "counter", "", labels({{"reader", name}, {"code", std::to_string(code)}}), static_cast<double>(n));
        m.add("uhfd_reader_reconnects_total", "counter", "Links made again after the reader went offline.", r, static_cast<double>(c.reconnects));
        m.add("uhfd_reader_reads_total", "counter", "Tag reads.", r, static_cast<double>(c.reads));
        for (const auto& [antenna, n] : c.reads_by_antenna)
            m.add("uhfd_reader_antenna_reads_total", "counter", "", labels({{"reader", name}, {"antenna", std::to_string(antenna)}}),
                  static_cast<double>(n));
        const std::pair<const char*, std::uint64_t> events[] = {
            {"arrived", c.arrivals}, {"departed", c.departures}, {"report", c.reports}, {"pages", c.pages}};
        for (const auto& [type, n] : events)
            m.add("uhfd_reader_events_total", "counter", "Events the reader produced, by type.", labels({{"reader", name}, {"type", type}}),
                  static_cast<double>(n));
        m.add("uhfd_reader_undecoded_pages_total", "counter", "Tag-list pages the layout could not read.", r,
              static_cast<double>(c.undecoded_pages));
        m.add("uhfd_reader_commands_total", "counter", "Commands run on the reader's link on request.", r, static_cast<double>(c.commands));
        m.add("uhfd_reader_tags_present", "gauge", "Tags in the reader's field now.", r, static_cast<double>(s.tags_present));
        m.add("uhfd_reader_last_round_seconds", "gauge", "How long the latest round took.", r, c.last_round_ms / 1000.0);
        const auto d = dropped.find(name);
        m.add("uhfd_reader_events_dropped_total", "counter", "The reader's events dropped from the full queue.", r,
              static_cast<double>(d == dropped.end() ? 0 : d->second));
        const auto q = queue_counts.find(name);
        m.add("uhfd_reader_events_rejected_total", "counter", "The reader's events the broker refused (MQTT 5 reason code >= 0x80).", r,
              static_cast<double>(q == queue_counts.end() ? 0 : q->second.rejected));
    }
    m.add("uhfd_queue_depth", "gauge", "Events in the queue not yet acknowledged by the broker.", "", static_cast<double>(gw.queue().depth()));
    m.add("uhfd_queue_dropped_total", "counter", "Events dropped because the queue was full.", "", static_cast<double>(gw.queue().dropped()));
    m.add("uhfd_queue_rejected_total", "counter", "Events the broker refused.", "", static_cast<double>(gw.queue().rejected()));
    m.add("uhfd_queue_in_memory", "gauge", "Events held in memory because the disk refused them.", "", static_cast<double>(gw.queue().in_memory()));
    const Publisher::Stats p = gw.publisher_stats();
    m.add("uhfd_broker_connected", "gauge", "1 while connected to the broker.", "", p.connected ? 1 : 0);
    m.add("uhfd_broker_connections_total", "counter", "Connections made to the broker.", "", static_cast<double>(p.connections));
    m.add("uhfd_events_sent_total", "counter", "Queued events published (resends included).", "", static_cast<double>(p.sent));
    m.add("uhfd_events_delivered_total", "counter", "Queued events the broker acknowledged.", "", static_cast<double>(p.delivered));
    m.add("uhfd_http_streams", "gauge", "Event streams open to console clients.", "", static_cast<double>(http.streams));
    m.add("uhfd_http_stream_overflows_total", "counter", "Times a slow stream client fell behind and was sent a fresh picture.", "",
          static_cast<double>(http.stream_overflows));
    m.add("uhfd_http_stream_drops_total", "counter", "Event streams dropped because their client stopped reading.", "",
          static_cast<double>(http.stream_drops));
    m.add("uhfd_http_hub_failures_total", "counter", "Failures caught in the console's hub thread (each logged).", "",
          static_cast<double>(http.hub_failures));
    return m.text();
}

}  // namespace uhfd::http
