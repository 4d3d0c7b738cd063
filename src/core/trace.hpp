// A link's frame trace: what went on the wire and what came off it, handed to the host's
// callback. Switched off it is one pointer test per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/frame.hpp"
#include "uhfreader.h"

namespace uhf {

std::uint64_t monotonic_us();

class Trace {
public:
    void set(uhf_trace_fn fn, void *user) {
        fn_ = fn;
        user_ = user;
        pending_ = 0;
    }
    bool on() const { return fn_ != nullptr; }

    // One whole piece of traffic at once (a request frame, a transfer, discarded bytes).
    void emit(int direction, std::span<const std::uint8_t> bytes) const {
        if (fn_ != nullptr && !bytes.empty())
            fn_(user_, direction, bytes.data(), static_cast<int>(bytes.size()), monotonic_us());
    }

    // Reply bytes as they arrive, handed on as one piece when the exchange ends (or when the
    // buffer fills, so a flood is traced in pieces rather than lost).
    void received(std::span<const std::uint8_t> bytes) {
        if (fn_ == nullptr) return;
        for (std::uint8_t b : bytes) {
            if (pending_ == 0) first_us_ = monotonic_us();
            pending_bytes_[pending_++] = b;
            if (pending_ == sizeof pending_bytes_) flush();
        }
    }
    void flush() {
        if (fn_ != nullptr && pending_ != 0)
            fn_(user_, UHF_TRACE_RECEIVED, pending_bytes_, static_cast<int>(pending_), first_us_);
        pending_ = 0;
    }

private:
    uhf_trace_fn fn_ = nullptr;
    void *user_ = nullptr;
    // The longest reply frame, every data byte doubled, with room for noise before it.
    std::uint8_t pending_bytes_[2 * (kReplyCapacity + 8) + 256] = {};
    std::size_t pending_ = 0;
    std::uint64_t first_us_ = 0;
};

}  // namespace uhf
