// A reader answering from another process over a pseudo-terminal.
//
// The benchmarks time the host's side of an exchange. A simulator thread inside the host
// process would share its CPU time, its scheduler slot and its wake-ups, so the reader runs in
// a forked child: the host process does nothing but the exchange being measured.
//
//   uhfbench::RemoteReader reader;
//   reader.plan({.reply_data = 64});
//   RS232_InitPort_Path(reader.path().c_str(), 115200);
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uhfbench {

// How the reader answers every request until the next plan.
struct ReplyPlan {
    std::uint16_t reply_data = 0;  // bytes of reply data, status 0, address and command echoed
    unsigned baud = 0;             // 0: all at once; else paced at this rate, 10 bits a byte
    int latency_us = 0;            // the reader's think time after the request's last byte
    bool silent = false;           // take requests, never answer
};

// The reply data every answer carries: a fixed pattern in which 0x10 recurs, so the doubling
// path is part of every measurement.
std::vector<std::uint8_t> reply_pattern(std::size_t n);
// Request data used by the benchmarks, with the same property.
std::vector<std::uint8_t> request_pattern(std::size_t n);

// The reply frame, as it travels, that the reader sends for (addr, cmd) under `plan`.
std::vector<std::uint8_t> reply_wire(std::uint8_t addr, std::uint8_t cmd, const ReplyPlan &plan);

// When, counted from the moment the request frame was handed to the line, the reader writes
// each byte of a paced reply: the request must first cross the line (request_wire bytes),
// the reader thinks, then byte i of the reply is complete at the end of its own 10 bits.
// Returns the offset in nanoseconds of reply byte `i`'s arrival.
long long paced_arrival_ns(std::size_t request_wire, std::size_t i, const ReplyPlan &plan);

class RemoteReader {
public:
    // Opens the pseudo-terminal and forks the serving process. Throws std::system_error.
    RemoteReader();
    ~RemoteReader();
    RemoteReader(const RemoteReader &) = delete;
    RemoteReader &operator=(const RemoteReader &) = delete;

    // The node for the host to open.
    const std::string &path() const { return path_; }
    // Returns once the reader has taken the plan; throws when it has gone.
    void plan(const ReplyPlan &p);

private:
    std::string path_;
    pid_t child_ = -1;
    int control_ = -1;  // plans to the child
    int ack_ = -1;      // one byte back per plan taken
};

}  // namespace uhfbench
