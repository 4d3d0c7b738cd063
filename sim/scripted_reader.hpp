// What every virtual reader offers a test: how it answers (scripted actions first, then the
// handler's) and what it heard. The stream readers (pseudo-terminal, TCP) add the serving loop's
// controls: pacing, unprompted bytes and waiting for quiet.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/action.hpp"
#include "sim/responder.hpp"
#include "sim/stream_loop.hpp"
#include "sim/wire.hpp"

namespace uhfsim {

class ScriptedReader {
public:
    using Handler = Responder::Handler;

    static Action default_reply(const Request& req) { return Responder::default_reply(req); }

    // The handler runs on the reader's serving thread; it may call this object's accessors.
    void set_handler(Handler handler) { responder_.set_handler(std::move(handler)); }
    void script(Action action) { responder_.script(std::move(action)); }
    void script_many(std::vector<Action> actions) { responder_.script_many(std::move(actions)); }
    std::size_t scripts_left() const { return responder_.scripts_left(); }

    std::vector<Request> requests() const { return responder_.requests(); }
    std::vector<std::string> malformed() const { return responder_.malformed(); }
    void clear_log() { responder_.clear_log(); }
    bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
        return responder_.wait_for_requests(n, timeout);
    }

    ScriptedReader(const ScriptedReader&) = delete;
    ScriptedReader& operator=(const ScriptedReader&) = delete;

protected:
    ScriptedReader() = default;
    ~ScriptedReader() = default;

    Responder responder_;
};

namespace detail {

// A reader served by a StreamLoop over a byte stream. The derived reader starts the loop once
// its descriptors are open and stops it in its destructor, before its own members go.
class StreamReader : public ScriptedReader, protected StreamEndpoint {
public:
    // True once everything queued so far, delays included, has been written (or dropped with
    // the connection it was meant for).
    bool wait_idle(std::chrono::milliseconds timeout) const { return loop_.wait_idle(timeout); }
    // Written as soon as possible, ahead of any queued reply that is still waiting out its delay.
    void send_now(std::vector<std::uint8_t> bytes) { loop_.send_now(std::move(bytes)); }
    // Paces written bytes at this line speed, 10 bits a byte; 0 writes as fast as possible.
    void set_baud(unsigned baud) { loop_.set_baud(baud); }

protected:
    StreamReader() = default;
    ~StreamReader() override = default;

    StreamLoop loop_{responder_};
};

}  // namespace detail
}  // namespace uhfsim
