// Tag URIs of valid ids, made field by field from the scheme's rules as the tests read them
// (written apart from the library's tables so that a wrong row there shows): random ones, and
// the edges of every partition value.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace epc_test {


// Every scheme the library encodes, by tag URI name ("sgtin-96").
std::vector<std::string> scheme_names();
// A random valid tag URI for the scheme.
std::string random_uri(const std::string &scheme, std::mt19937_64 &rng);
// Valid tag URIs at the edges: every partition value with the smallest and largest fields,
// every filter value, leading zeros where they count, every allowed character.
std::vector<std::string> edge_uris(const std::string &scheme);

// The 82 characters of the alphanumeric serials, as they stand in a URI (seven %-escaped).
const std::vector<std::string> &uri_chars82();

} // namespace epc_test
