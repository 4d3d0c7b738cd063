// A tag-list layout written in the configuration ([layouts.NAME]); see inventory/layout.hpp.
#pragma once

#include <string>

#include "inventory/layout.hpp"
#include "toml_section.hpp"

namespace uhfd {

inventory::Layout parse_layout(const toml::table& table, const std::string& name, Problems& problems);

}  // namespace uhfd
