// The seam every transport sits behind: a handful of verbs that move bytes and know nothing of
// frames. Opening takes what each kind of device needs (a path and a rate, a USB selector, a
// host and a port), so it is each transport's own; the rest is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/frame.hpp"
#include "core/trace.hpp"

namespace uhf {

// How one transport call ended.
enum class Io {
    ok,       // bytes moved
    timeout,  // nothing within the time allowed
    cancelled,  // the link's cancel signal ended the wait (uhf_cancel)
    gone,     // the device vanished: unplugged, hung up, connection reset or closed
    failed,   // any other error
};

struct IoResult {
    Io status = Io::ok;
    std::size_t bytes = 0;  // how many moved, also when the call failed part-way
    int error = 0;          // the errno or libusb code behind a failure
};

// Why an open failed: a UHF_ERR_* code and the errno or libusb code that caused it.
struct OpenResult {
    int code = 0;
    int cause = 0;
    bool ok() const { return code == 0; }
};

class Transport {
public:
    // Which wire rules replies are decoded by (TCP follows the serial line's).
    virtual Wire wire() const = 0;
    virtual bool is_open() const = 0;
    // Throws away input that arrived before this request: a late reply, the rest of an
    // abandoned one.
    virtual void discard_stale_input(Trace &trace) = 0;
    // Sends all of `bytes` within `bound_ms`; the result says how many went.
    virtual IoResult send(std::span<const std::uint8_t> bytes, int bound_ms) = 0;
    // Waits up to `timeout_ms` (0: not at all) for input, then takes what is there: a stream
    // transport what is queued, USB one transfer.
    virtual IoResult receive(std::span<std::uint8_t> into, int timeout_ms) = 0;
    virtual void close() = 0;

    // A request went out whose reply was not taken whole; its late answer may still come.
    bool reply_outstanding = false;
    // The link's cancel signal (transport/cancel.hpp), watched by every wait; -1: nothing
    // cancels (the designed interface's transports).
    int cancel_fd = -1;

protected:
    Transport() = default;
    ~Transport() = default;
    Transport(const Transport &) = default;
    Transport &operator=(const Transport &) = default;
};

// A system call's errno, read as whether the device behind a descriptor has gone away.
bool errno_means_gone(int err);

}  // namespace uhf
