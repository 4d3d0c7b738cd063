// Runs the gateway until SIGTERM or SIGINT; SIGHUP reloads the reader list from the same file.
#pragma once

#include <string>

namespace uhfd {

// The process's exit status: 0 after a clean stop, 1 when the gateway could not start,
// 2 for a configuration error.
int run_service(const std::string& config_path);

// Prints every problem in the file, or a one-line summary; 0 when it is sound, else 2.
int check_config(const std::string& config_path);

}  // namespace uhfd
