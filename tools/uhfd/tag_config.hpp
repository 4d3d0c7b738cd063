// A reader's filter and zone keys (docs/gateway.md, "Filters" and "Zones"), read from its
// [[readers]] table; each problem named by its line and key.
#pragma once

#include "tag_filter.hpp"
#include "toml_section.hpp"
#include "zones.hpp"

namespace uhfd {

void parse_tag_settings(Section& s, TagFilter& filter, ZoneSettings& zones);

}  // namespace uhfd
