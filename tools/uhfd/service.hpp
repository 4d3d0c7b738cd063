// Runs the gateway until SIGTERM or SIGINT; SIGHUP reloads the reader list from the same file.
#pragma once

#include <string>

namespace uhfd {

// Exit status after SIGTERM or SIGINT when the stop was not clean: a reader was still running at
// the deadline and was abandoned, or a connected broker did not acknowledge the goodbye (the
// queue is saved either way). A broker never reached is owed no goodbye: that stop is clean. The stop takes at most Gateway::kStopBudget plus about 100 ms.
inline constexpr int kExitAbandoned = 3;

// The process's exit status: 0 after a clean stop, 1 when the gateway could not start,
// 2 for a configuration error, kExitAbandoned after a stop that had to leave something behind.
int run_service(const std::string& config_path);

// Prints every problem in the file, or a one-line summary; 0 when it is sound, else 2.
int check_config(const std::string& config_path);

}  // namespace uhfd
