// The readers a command runs on: every reader named on the command line (--device, repeated;
// --usb; --port; --sim), opened as links in parallel, each with its trace hooked up when asked.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "uhfctl/options.hpp"
#include "uhfctl/output.hpp"
#include "uhfctl/sim_host.hpp"
#include "uhfreader.h"

namespace uhfctl {

struct LinkCloser {
    void operator()(uhf_link* l) const { uhf_close(l); }
};
using LinkPtr = std::unique_ptr<uhf_link, LinkCloser>;

// What a trace callback needs: where to write and which reader it is.
struct TraceTap {
    Output* out;
    std::string device;
};

struct Reader {
    std::string name;    // the device string it was opened with
    LinkPtr link;
    double link_ms = 0;  // the open, handshake included
    std::unique_ptr<TraceTap> tap;
};

// One reader as named: the device strings to try in turn (--port N: /dev/ttySN, then
// /dev/ttyUSBN) and the name to report failures under.
struct Target {
    std::string label;
    std::vector<std::string> devices;
};

// The readers the options name, in order: --device ..., --usb, --port, --sim (whose device is
// `sim`'s). Nothing named: UHF_DEVICE, else none. --baud goes onto serial strings without a rate.
std::vector<Target> targets(const ReaderOptions& options, const SimHost* sim);

// The link options the reader options ask for, trace excluded.
uhf_options link_options(const ReaderOptions& options);

class Readers {
public:
    // Opens every target in parallel. On any failure every failure is reported and the exit
    // status comes back instead.
    static int open(const ReaderOptions& options, Output& out, const std::vector<Target>& targets, Readers& into);

    std::vector<Reader>& all() { return readers_; }
    Reader& front() { return readers_.front(); }
    std::size_t size() const { return readers_.size(); }

private:
    std::vector<Reader> readers_;
};

// The trace callback for uhf_options::trace / uhf_set_trace; `user` is a TraceTap.
void trace_frame(void* user, int direction, const unsigned char* bytes, int len, unsigned long long t_us);

// True for "/dev/...", "serial:..." and anything else that is neither usb nor tcp.
bool is_serial(const std::string& device);

}  // namespace uhfctl
