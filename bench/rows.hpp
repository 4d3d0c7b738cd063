// The groups of rows the runner measures, each against its own limit from the same run.
#pragma once

#include <string>
#include <vector>

#include "bench/remote_reader.hpp"
#include "bench/table.hpp"

namespace uhfbench {

struct Options {
    bool quick = false;  // a few samples per row: proves every row runs, measures nothing
    std::string only;    // one group (pty, line, wait, link, codec, usb) for profiling; empty: all

    bool wants(const char *group) const { return only.empty() || only == group; }
};

// Exchanges over the pseudo-terminal, at modelled line rates, the CPU rows and the link.
std::vector<Row> serial_rows(RemoteReader &reader, const Options &opt);
// Frame encoding and reply decoding, per byte.
std::vector<Row> codec_rows(const Options &opt);

}  // namespace uhfbench
