// The command catalogue: every row as data, in catalogue order.
#pragma once

#include <span>

#include "commands/rows.hpp"
#include "uhfreader.h"

namespace uhf {

std::span<const uhf_command_info> catalogue();

inline const uhf_command_info &catalogue_row(RowId row) { return catalogue()[static_cast<int>(row)]; }

}  // namespace uhf
