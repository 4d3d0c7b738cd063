// The commands, one source each (or per group), all run the same way: checked arguments first,
// then the readers opened, then the work, returning the exit status.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "uhfctl/options.hpp"
#include "uhfctl/output.hpp"
#include "uhfctl/readers.hpp"
#include "uhfctl/sim_host.hpp"

namespace uhfctl {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Context {
    const Invocation& inv;
    Output& out;
};

// The readers of one run, with the virtual reader they may be served by (which outlives them).
struct Session {
    std::unique_ptr<SimHost> sim;
    Readers readers;
};

// Opens what the options name. Nothing named: UHF_DEVICE, else the virtual reader when
// `sim_when_unnamed`, else a usage error. Returns the exit status of a failure, or kExitOk.
int open_session(const Context& ctx, Session& session, bool sim_when_unnamed);

// Runs `work` on every reader, in parallel when there are several, and returns the worst exit
// status. Each call writes to an Output of its own, handed on in the readers' order.
int for_each_reader(const Context& ctx, Session& session, const std::function<int(Reader&, Output&)>& work);

int run_link(const Context& ctx);
int run_info(const Context& ctx);
int run_call(const Context& ctx);  // a catalogue command by name
int run_raw(const Context& ctx);
int run_scan(const Context& ctx);
int run_inventory(const Context& ctx);
int run_demo(const Context& ctx);
int run_help(const Context& ctx);
int run_commands(const Context& ctx);
int run_epc(const Context& ctx);  // GS1 EPC ids: decode, encode, write

}  // namespace uhfctl
