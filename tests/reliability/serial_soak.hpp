// The soak over a pseudo-terminal: the library's serial transport against the simulated reader.
#pragma once

#include <chrono>

#include "sim/pty_reader.hpp"
#include "soak.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhfsoak {

class PtySoakReader final : public Reader {
public:
    explicit PtySoakReader(uhfsim::PtyReader &sim) : sim_(sim) {}
    void script(uhfsim::Action a) override { sim_.script(std::move(a)); }
    void send_now(std::vector<std::uint8_t> bytes) override { sim_.send_now(std::move(bytes)); }
    bool settle(std::size_t requests) override {
        using namespace std::chrono_literals;
        return sim_.wait_for_requests(requests, 5s) && sim_.wait_idle(5s);
    }
    std::vector<uhfsim::Request> requests() const override { return sim_.requests(); }
    void clear_log() override { sim_.clear_log(); }

private:
    uhfsim::PtyReader &sim_;
};

// Shortened waits (the budgets and codes are unchanged) so that a fault costing a whole wait
// costs tens of milliseconds; the gaps of a split reply stay far below the inter-byte wait.
inline Config serial_config(std::uint64_t seed, std::size_t exchanges) {
    auto &t = uhf::serial::timing();
    t.first_byte_poll_ms = 2;
    t.inter_byte_gap_ms = 80;
    t.frame_rest_bound_ms = 1000;
    t.send_bound_ms = 1000;
    Config c;
    c.transport = Transport::serial;
    c.seed = seed;
    c.exchanges = exchanges;
    c.weights = default_weights(Transport::serial);
    // The pauses between the 40 attempts (20 for the handshake); the last attempt has none.
    c.first_byte_wait_ms = 39LL * t.first_byte_poll_ms;
    c.handshake_wait_ms = 19LL * t.first_byte_poll_ms;
    c.inter_byte_wait_ms = t.inter_byte_gap_ms;
    // Sending, the whole first-byte wait and the rest of the frame, with a second to spare
    // for a loaded machine.
    c.bound_ms = t.send_bound_ms + c.first_byte_wait_ms + t.frame_rest_bound_ms + 1000;
    return c;
}

// Runs a serial soak on a fresh pseudo-terminal reader; the port is closed again afterwards.
inline Figures serial_soak(std::uint64_t seed, std::size_t exchanges,
                           const Progress &progress = {}) {
    uhfsim::PtyReader sim;
    PtySoakReader reader(sim);
    const Config cfg = serial_config(seed, exchanges);
    USB_Flag = 0;
    Figures fig;
    if (RS232_InitPort_Path(sim.path().c_str(), 115200) != 0) {
        fig.first_problems.push_back("could not open " + sim.path());
        fig.request_mismatch = 1;
        return fig;
    }
    fig = run(reader, cfg, progress);
    RS232_UnLinkCom();
    uhf::serial::timing() = {};
    return fig;
}

}  // namespace uhfsoak
