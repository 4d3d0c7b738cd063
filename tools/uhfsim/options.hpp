// uhfsim's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/model.hpp"

namespace uhfsim_tool {

struct TcpAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // 0: a free one
};

struct Options {
    uhfsim::ModelOptions model;
    int latency_ms = 0;
    unsigned baud = 0;
    double faults = 0;
    std::string link;
    bool trace = false;
    std::optional<TcpAddress> tcp;          // serve TCP instead of a pseudo-terminal
    std::vector<std::string> controls;      // "-" for stdin, else Unix socket paths
};

// Parses the arguments; prints the usage and exits 2 on a bad one, 0 after --help.
Options parse(int argc, char** argv);

}  // namespace uhfsim_tool
