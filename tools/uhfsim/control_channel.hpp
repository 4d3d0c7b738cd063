// A channel that takes the field's control lines (sim/control.hpp) while the reader serves:
// stdin with the answers on stdout, or a Unix stream socket that serves its clients one after
// another (the next waits in the backlog until the current one closes).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace uhfsim_tool {

class ControlChannel {
public:
    // Answers one line (without its newline) with one or more lines, each ending in '\n'.
    using Run = std::function<std::string(std::string_view)>;

    // where: "-" for stdin, else the socket's path; a stale socket there is replaced, any other
    // file is not. Throws std::runtime_error when the socket cannot be made.
    ControlChannel(std::string where, Run run);
    ~ControlChannel();  // stops, and removes the socket
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

private:
    void serve();
    // Reads lines from in and answers each on out until in ends (true) or a stop (false).
    bool converse(int in, int out);
    bool write_all(int fd, const std::string& text) const;

    std::string where_;
    Run run_;
    int listener_ = -1;
    int stop_fd_ = -1;
    std::thread thread_;
};

}  // namespace uhfsim_tool
