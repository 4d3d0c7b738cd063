#include <nlohmann/json.hpp>

#include "uhfctl/tag_table.hpp"

#include <cstdio>

#include "uhfctl/epc_view.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

// A column head no wider than a column: the end of a long device name says most.
std::string head(const std::string& name, std::size_t width) {
    return name.size() <= width ? name : "~" + name.substr(name.size() - (width - 1));
}

}  // namespace

void TagTable::add(std::size_t reader, const std::vector<inventory::TagState>& tags) {
    for (const inventory::TagState& t : tags) {
        TagRow& row = rows_[{t.family, t.id}];
        row.family = t.family;
        row.id = t.id;
        row.reads += t.reads;
        if (t.rssi) row.rssi = t.rssi;
        if (t.antenna) row.antenna = t.antenna;
        row.reads_by_reader.resize(readers_.size(), 0);
        row.reads_by_reader[reader] += t.reads;
    }
}

std::string TagTable::text(double seconds, long rounds, long reads) const {
    const bool several = readers_.size() > 1;
    std::string out;
    char line[512];
    if (several) {
        std::snprintf(line, sizeof line, "%-34s %-4s", "tag", "fam");
        out += line;
        for (const std::string& r : readers_) {
            std::snprintf(line, sizeof line, " %14s", head(r, 14).c_str());
            out += line;
        }
        out += " epc\n";
    } else {
        std::snprintf(line, sizeof line, "%-34s %-4s %7s %8s %5s %4s epc\n", "tag", "fam", "reads", "reads/s", "rssi",
                      "ant");
        out += line;
    }
    for (const auto& [key, row] : rows_) {
        // The GS1 URI of an EPC-family id that decodes; nothing for any other.
        const auto epc = row.family == inventory::Family::epc ? decode_epc(row.id) : std::nullopt;
        const std::string uri = epc ? std::string(" ") + epc->uri : "";
        std::snprintf(line, sizeof line, "%-34s %-4s", hex(row.id, "").c_str(), inventory::name(row.family));
        out += line;
        if (several) {
            for (long n : row.reads_by_reader) {
                std::snprintf(line, sizeof line, " %14ld", n);
                out += line;
            }
            out += uri + "\n";
        } else {
            std::snprintf(line, sizeof line, " %7ld %8.1f %5s %4s", row.reads, seconds > 0 ? row.reads / seconds : 0.0,
                          row.rssi ? std::to_string(*row.rssi).c_str() : "-",
                          row.antenna ? std::to_string(*row.antenna).c_str() : "-");
            out += line + uri + "\n";
        }
    }
    std::snprintf(line, sizeof line, "%zu tags, %ld reads in %ld rounds, %.2f s: %.1f reads/s\n", rows_.size(), reads,
                  rounds, seconds, seconds > 0 ? reads / seconds : 0.0);
    return out + line;
}

Json TagTable::json(double seconds) const {
    Json list = Json::array();
    for (const auto& [key, row] : rows_) {
        Json j{{"id", hex(row.id, "")}, {"family", inventory::name(row.family)}, {"reads", row.reads},
               {"reads_per_s", seconds > 0 ? row.reads / seconds : 0.0}};
        if (row.rssi) j["rssi"] = *row.rssi;
        if (row.antenna) j["antenna"] = *row.antenna;
        if (row.family == inventory::Family::epc)
            if (const auto epc = decode_epc(row.id)) j["epc"] = epc_json(*epc);
        if (readers_.size() > 1) {
            Json by = Json::object();
            for (std::size_t i = 0; i < readers_.size(); ++i)
                by[readers_[i]] = i < row.reads_by_reader.size() ? row.reads_by_reader[i] : 0;
            j["reads_by_reader"] = by;
        }
        list.push_back(j);
    }
    return list;
}

}  // namespace uhfctl
