#include "transport/stream_reader.hpp"

#include <time.h>

#include <cerrno>

namespace uhf {

std::int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::uint64_t monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

bool errno_means_gone(int err) {
    switch (err) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN:
        return true;
    default:
        return false;
    }
}

bool StreamReader::fill(int timeout_ms) {
    head_ = tail_ = 0;
    if (gone_ || cancelled_) return false;
    const IoResult r = t_.receive(buf_, timeout_ms);
    if (r.status == Io::gone) {
        gone_ = true;
        error_ = r.error;
    }
    if (r.status == Io::cancelled) cancelled_ = true;
    if (r.status != Io::ok || r.bytes == 0) return false;
    tail_ = r.bytes;
    trace_.received({buf_, tail_});
    return true;
}

bool StreamReader::take_now(std::uint8_t &b) {
    if (head_ == tail_ && !fill(0)) return false;
    return hand_out(b);
}

bool StreamReader::wait(int ms) {
    if (head_ != tail_) return true;
    return fill(ms);
}

void StreamReader::start_frame(int gap_ms, int bound_ms) {
    gap_ms_ = gap_ms;
    frame_deadline_ms_ = monotonic_ms() + bound_ms;
}

bool StreamReader::next(std::uint8_t &b) {
    while (head_ == tail_ && !fill(0)) {
        if (gone_ || cancelled_) return false;
        const std::int64_t left = frame_deadline_ms_ - monotonic_ms();
        if (left <= 0) return false;
        if (!fill(static_cast<int>(left < gap_ms_ ? left : gap_ms_))) return false;
    }
    return hand_out(b);
}

}  // namespace uhf
