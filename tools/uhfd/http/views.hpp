// The JSON the console's API and event stream show: a reader (its retained status and what the
// console adds: configuration, per-antenna reads and rates, failures by code), its tags, the
// gateway with its broker connection, and the command catalogue with what each command needs.
#pragma once

#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "command_policy.hpp"
#include "gateway.hpp"

namespace uhfd::http {

using Json = nlohmann::ordered_json;

// Reads per second by antenna, over the last second.
using Rates = std::map<int, double>;

Json reader_view(const std::string& gateway, const ReaderSnapshot& s, const ReaderConfig& config, std::uint64_t dropped,
                 const Rates& rates);
Json tags_view(const std::string& reader, const ReaderSnapshot& s);

struct ConsoleFacts {
    std::string broker_uri;
    bool writes = false;  // a token is configured
    std::size_t streams = 0;
    int max_streams = 0;
};
Json gateway_view(const Gateway& gw, const ConsoleFacts& facts);

// Every reader of the gateway, in name order, with the rates the caller keeps.
Json readers_view(const Gateway& gw, const std::map<std::string, Rates>& rates);

// One reader, or null when the gateway has none of that name.
Json one_reader_view(const Gateway& gw, const std::string& name, const Rates& rates);

// The catalogue, each command with whether this gateway runs it and whether it needs the token.
Json catalogue_view(const CommandPolicy& policy);

}  // namespace uhfd::http
