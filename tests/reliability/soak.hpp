// Fault-injection soak: many exchanges against a simulated reader that damages its replies at
// random, reproducibly by seed, while the soak keeps the books.
//
// For every exchange the soak knows the reply the reader meant to send and what it did to it,
// and holds the library to this:
//   - a reply accepted (code 0) is exactly the reply to this request: same status, same data,
//     nothing stale or damaged passed off as it ("misattributed");
//   - every damaging fault ends in a non-zero code ("failure reported as success" otherwise),
//     with the exchange and detail codes a documented pair, and the exact pair where the fault
//     determines it;
//   - no exchange takes longer than the bounds the library was given ("hang");
//   - the reader saw exactly the request that was made.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/action.hpp"
#include "sim/wire.hpp"

namespace uhfsoak {

enum class Fault {
    none,           // a clean reply
    noise,          // bytes other than 0x10 before the reply
    corrupt,        // one byte of the reply changed (never a 0x10 or its partner)
    drop,           // one byte of the reply missing
    cut,            // the reply stops part-way
    split,          // the reply in pieces with short gaps (on USB, in several transfers)
    late,           // the reply comes after the wait is over
    stale_before,   // an earlier reply sits in the input before the request goes out
    stale_between,  // an earlier reply to another command arrives ahead of this one
    wrong_address,  // the reply comes from another reader
    wrong_command,  // the reply echoes another command
    count
};
inline constexpr std::size_t kFaultKinds = static_cast<std::size_t>(Fault::count);
const char *name(Fault f);

// Small, fast and the same everywhere, so a seed names one run on any machine.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : s_(seed) {}
    std::uint64_t next();
    std::size_t below(std::size_t n) { return n ? static_cast<std::size_t>(next() % n) : 0; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next()); }
    bool chance(unsigned per_mille) { return below(1000) < per_mille; }

private:
    std::uint64_t s_;
};

// The reader side of one soak, over whichever transport it runs on.
class Reader {
public:
    virtual ~Reader() = default;
    virtual void script(uhfsim::Action a) = 0;
    // Bytes the reader sends before the request goes out.
    virtual void send_now(std::vector<std::uint8_t> bytes) = 0;
    // Waits until the reader has seen `requests` requests since the log was cleared and
    // everything it had to send has gone out.
    virtual bool settle(std::size_t requests) = 0;
    virtual std::vector<uhfsim::Request> requests() const = 0;
    virtual void clear_log() = 0;
};

enum class Transport { serial, usb };

struct Config {
    Transport transport = Transport::serial;
    std::uint64_t seed = 1;
    std::size_t exchanges = 10'000;
    // Per mille of each fault; the rest are clean exchanges.
    std::array<unsigned, kFaultKinds> weights{};
    int split_gap_max_ms = 3;    // well under the inter-byte wait
    int late_by_ms = 120;        // how far past the whole first-byte wait a late reply comes
    long long bound_ms = 0;      // the longest any exchange may take
    long long first_byte_wait_ms = 0;  // the whole first-byte wait of a non-handshake exchange
    long long handshake_wait_ms = 0;   // ... and of the link handshake
    long long inter_byte_wait_ms = 0;  // the silence inside a reply that ends it (serial)
    std::size_t max_reply_data = 64;
    std::size_t max_reply_frame = 0;     // a reply frame longer than this is never sent (0: any)
    unsigned long_reply_per_mille = 10;  // replies of up to 2048 bytes
};

// Default mix: mostly clean or harmless, with the faults that cost a full wait kept rare.
std::array<unsigned, kFaultKinds> default_weights(Transport t);

struct KindFigures {
    std::size_t injected = 0;
    std::size_t accepted = 0;
    std::size_t rejected = 0;
    long long max_ms = 0;
    double total_ms = 0;
};

struct Figures {
    std::size_t exchanges = 0;
    std::array<KindFigures, kFaultKinds> by_kind{};
    std::size_t misattributed = 0;        // accepted, but not this request's reply as sent
    std::size_t false_success = 0;        // a damaging fault reported as success
    std::size_t benign_rejected = 0;      // a harmless fault refused
    std::size_t wrong_code = 0;           // undocumented pair, not the pair the fault fixes, or a
                                          // length past the reply area left in BlkBLength
    std::size_t hangs = 0;                // over the bound
    std::size_t request_mismatch = 0;     // the reader did not see the request made
    // USB only, counted apart: a clean reply refused because a leftover of the failed exchange
    // before it arrived after the drain had given up. Safe (non-zero, nothing misattributed),
    // and a matter of how fast the device hands over what it holds.
    std::size_t refused_after_leftovers = 0;
    // Counted apart, neither a fault of the library: a wait that ran its full length before
    // the simulator's bytes came (a loaded machine starves the simulator's thread), and a late
    // reply accepted because the attempt-counted wait itself ran slower than planned.
    std::size_t waited_out = 0;
    std::size_t late_within_slow_wait = 0;
    long long max_ms = 0;
    double seconds = 0;
    std::vector<std::string> first_problems;  // the first few, for the report

    std::size_t problems() const {
        return misattributed + false_success + benign_rejected + wrong_code + hangs + request_mismatch;
    }
    std::string report() const;
};

// Hears every thousandth exchange, with the figures so far.
using Progress = std::function<void(std::size_t done, const Figures &so_far)>;

// Runs the soak over the library's active link.
Figures run(Reader &reader, const Config &cfg, const Progress &progress = {});

}  // namespace uhfsoak
