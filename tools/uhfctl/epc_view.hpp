// A tag id as the supply chain names it, where it is a GS1 EPC: its URI for the tables, its
// decoded fields for --json. Ids that do not decode (other headers, GB and GJB tags) have none.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "uhfctl/output.hpp"
#include "uhfreader.h"

namespace uhfctl {

inline std::optional<uhf_epc> decode_epc(const std::vector<std::uint8_t>& id) {
    uhf_epc e;
    if (id.empty() || uhf_epc_decode(id.data(), static_cast<int>(id.size()), &e) != 0) return std::nullopt;
    return e;
}

// {"uri", "tag_uri", "scheme", "filter", "gs1", "fields": {name: text}}; no filter or gs1 where
// the scheme has none.
inline Json epc_json(const uhf_epc& e) {
    Json fields = Json::object();
    for (int i = 0; i < e.field_count; ++i) fields[e.field[i].name] = e.field[i].value;
    Json j{{"uri", e.uri}, {"tag_uri", e.tag_uri}, {"scheme", e.name}};
    if (e.filter >= 0) j["filter"] = e.filter;
    if (e.gs1[0]) j["gs1"] = e.gs1;
    j["fields"] = fields;
    return j;
}

}  // namespace uhfctl
