// A tag id as the supply chain names it, where it is a GS1 EPC: decoded by the library, and as
// JSON for every front end that prints one (uhfctl --json, uhfd's events and API). Ids that do
// not decode (other headers, GB and GJB tags) have none. Header only: the inventory library
// itself needs no JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "uhfreader.h"

namespace inventory {

inline std::optional<uhf_epc> decode_epc(const std::vector<std::uint8_t>& id) {
    uhf_epc e;
    if (id.empty() || uhf_epc_decode(id.data(), static_cast<int>(id.size()), &e) != 0) return std::nullopt;
    return e;
}

// {"uri", "tag_uri", "scheme", "filter", "gs1", "fields": {name: text}}; no filter or gs1 where
// the scheme has none.
inline nlohmann::ordered_json epc_json(const uhf_epc& e) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (int i = 0; i < e.field_count; ++i) fields[e.field[i].name] = e.field[i].value;
    nlohmann::ordered_json j{{"uri", e.uri}, {"tag_uri", e.tag_uri}, {"scheme", e.name}};
    if (e.filter >= 0) j["filter"] = e.filter;
    if (e.gs1[0]) j["gs1"] = e.gs1;
    j["fields"] = fields;
    return j;
}

}  // namespace inventory
