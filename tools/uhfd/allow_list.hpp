// Which catalogue commands uhfd runs on request. Reading commands run by default; anything that
// changes a tag or the reader (writes, kill, lock, passwords, address, baud rate, settings) runs
// only when the configuration names it.
#pragma once

#include <set>
#include <string>

namespace uhfd {

const std::set<std::string>& reading_commands();

}  // namespace uhfd
