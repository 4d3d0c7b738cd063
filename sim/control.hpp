// The field's control language: one text line in, the answer out. uhfsim reads these lines
// from stdin or a Unix socket so a test can add and remove tags while the reader serves.
//
//   add epc|gb|gjb [ID_HEX] [rssi=N] [ant=N]   ok ID_HEX
//   remove ID_HEX                              ok
//   clear                                      ok N        (tags removed)
//   list                                       one line per tag, then ok N
//   set ID_HEX [rssi=N] [ant=N]                ok          (at least one of them)
//   help                                       ok COMMANDS...
//
// Anything malformed, out of range or naming no tag is answered "error WHY" and changes
// nothing. IDs are hex digits without separators, read in either case and written in upper
// case.
#pragma once

#include <string>
#include <string_view>

#include "sim/model.hpp"

namespace uhfsim {

// The answer to one line (without its newline): one line ending in '\n', or for list the tag
// lines and then "ok N".
std::string run_control_line(ReaderModel& model, std::string_view line);

}  // namespace uhfsim
