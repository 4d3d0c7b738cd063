// The virtual reader behind --sim: the stateful reader model served on a pseudo-terminal inside
// uhfctl, so every command works on a machine with no reader. uhfctl opens a link on device()
// like on any serial node; this is the one place that hosts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/model.hpp"
#include "sim/pty_reader.hpp"

namespace uhfctl {

class SimHost {
public:
    // `addr` 0xFF (broadcast) gives the reader address 1.
    SimHost(int addr, std::size_t tags, std::uint32_t seed);
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    const std::string& device() const { return pty_.path(); }

private:
    uhfsim::ReaderModel model_;  // outlives the serving thread, which calls into it
    uhfsim::PtyReader pty_;
};

}  // namespace uhfctl
