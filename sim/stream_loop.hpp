// The serving loop shared by the readers that speak over a byte stream (a pseudo-terminal, a
// TCP connection): it reads the host's bytes, decodes requests, asks a Responder for each
// answer and writes the answers out chunk by chunk, each after its own pause and paced at a line
// rate when one is set. What the stream is, and what else must be watched (a listening socket),
// the reader says through a StreamEndpoint.
//
// Everything the loop holds is touched only on its serving thread; a reader changes its
// endpoint from other threads through call(), which runs a function between two turns of the
// loop and returns once it ran.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/responder.hpp"
#include "sim/wire.hpp"

namespace uhfsim::detail {

class StreamEndpoint {
public:
    virtual ~StreamEndpoint() = default;

    // The descriptor the host's bytes come in on and the answers go out on; -1 while no host is
    // there. Each new connection must come with a new connection_id(): the loop then forgets
    // what it was about to say to the last one and any request it had half heard.
    virtual int connection() const = 0;
    virtual std::uint64_t connection_id() const { return 0; }
    virtual ssize_t send(const std::uint8_t* bytes, std::size_t n);

    // Other descriptors to watch, and what to do when one of them is ready.
    virtual void add_watches(std::vector<pollfd>&) {}
    virtual void on_watch(const pollfd&) {}

    // The connection ended (end of stream, a read error, a hang-up with nothing to read).
    virtual void on_hangup() = 0;
    // A write failed for a reason other than a full buffer. The chunk is dropped either way.
    virtual void on_write_error(int) {}
};

class StreamLoop {
public:
    explicit StreamLoop(Responder& responder);
    ~StreamLoop();
    StreamLoop(const StreamLoop&) = delete;
    StreamLoop& operator=(const StreamLoop&) = delete;

    // Starts the serving thread. Throws std::system_error when it cannot.
    void start(StreamEndpoint& endpoint);
    // Stops the serving thread. Idempotent.
    void stop();

    // True once everything queued so far, delays included, has been written.
    bool wait_idle(std::chrono::milliseconds timeout) const;
    // Written as soon as a host is there, ahead of any queued reply still waiting out its delay.
    void send_now(std::vector<std::uint8_t> bytes);
    void set_baud(unsigned baud) { baud_.store(baud); }

    // Runs fn on the serving thread between two turns and returns once it ran; runs it at once
    // when called on the serving thread (from a handler) or when the loop is not running.
    void call(const std::function<void()>& fn);

private:
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        int delay_ms = 0;
        std::size_t sent = 0;
    };

    void serve();
    void wake() const;
    // Runs the functions posted by call(); returns how many ran.
    std::size_t run_calls();
    void forget_stream();
    void take_input(const std::uint8_t* bytes, std::size_t n);

    Responder& responder_;
    StreamEndpoint* endpoint_ = nullptr;
    int wake_fd_ = -1;
    std::atomic<unsigned> baud_{0};
    std::atomic<bool> stopping_{false};

    mutable std::mutex mu_;  // guards what follows up to the thread
    mutable std::condition_variable changed_;
    std::vector<std::uint8_t> urgent_;
    bool busy_ = false;
    bool running_ = false;
    std::deque<const std::function<void()>*> calls_;
    std::uint64_t calls_posted_ = 0;
    std::uint64_t calls_done_ = 0;

    std::thread thread_;

    // Serving thread only.
    RequestDecoder decoder_;
    std::deque<Outgoing> queue_;   // reply chunks in order, each waiting out its own delay
    std::deque<Outgoing> urgent_out_;  // from send_now(), ahead of queued chunks still waiting
    bool head_armed_ = false;
    bool out_blocked_ = false;
};

}  // namespace uhfsim::detail
