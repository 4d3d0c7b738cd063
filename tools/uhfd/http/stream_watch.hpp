// Whether a stream's client still takes what it is sent. A client that stops reading is not seen
// by a failing write until the kernel's buffers on both sides are full, which with their default
// sizes holds megabytes: minutes of a console's stream. The kernel knows sooner: bytes the client
// has acknowledged but not read shrink the window it advertises. A client whose window shrank by
// at least kFallPerByte of what it acknowledged over the last kJudged, while taking at least
// kMinBytes, has read (close to) nothing of it; one whose acknowledgements stopped with bytes
// outstanding (a full window, a vanished peer) has taken nothing at all. Either is dropped.
//
// How far the window falls per byte held is the receiving kernel's business: half or more where
// it advertises half its free buffer (tcp_adv_win_scale 1), but since Linux 6.7 about its measured
// payload-to-memory ratio, and less when small segments are merged as they arrive. On loopback a
// stalled console stream (about 1.7 KB/s) shows 0.6, in steps of the window's scale (1 KB). A
// reader's window does not fall at all, so the bound sits well below that.
//
// A client that closed its end of the connection is gone at the next look, written to or not.
//
// Linux only (TCP_INFO, SIOCOUTQ); where the kernel does not report the peer's window, only the
// second test applies and each write's own timeout does the rest.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

namespace uhfd::http {

class StreamWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kJudged{5};
    static constexpr std::uint64_t kMinBytes = 2048;
    struct Fraction { std::uint64_t num, den; };
    static constexpr Fraction kFallPerByte{1, 3};

    // `fd`: the connection's socket, or -1 (nothing is judged).
    explicit StreamWatch(int fd) : fd_(fd) {}

    // Samples the connection; false once the client is judged to have stopped reading.
    bool keeping_up(Clock::time_point now);
    // Why keeping_up() said no.
    const std::string& verdict() const { return verdict_; }
    // Whether it said no because the client closed the connection: it left, nobody dropped it.
    bool client_left() const { return left_; }

    struct Sample {
        Clock::time_point at;
        std::uint64_t acked = 0;    // bytes the client acknowledged, ever
        std::uint32_t window = 0;   // what it advertised last
        std::uint32_t queued = 0;   // written, not yet acknowledged
        bool has_window = false;
    };
    // The judgement alone, on samples oldest first; for tests.
    static std::string judge(const std::deque<Sample>& samples);

private:
    int fd_;
    std::deque<Sample> samples_;
    std::string verdict_;
    bool left_ = false;
};

// The socket of the accepted connection from `peer_addr`:`peer_port` on local port `local_port`, or -1.
int find_connection_socket(int local_port, const std::string& peer_addr, int peer_port);

}  // namespace uhfd::http
