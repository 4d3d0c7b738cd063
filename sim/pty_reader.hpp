// A reader on the far side of a pseudo-terminal.
//
// The host opens path() like any serial node. A serving thread decodes the host's requests and
// answers each with an Action: the next scripted one if any, otherwise the handler's.
//
//   uhfsim::PtyReader reader;
//   reader.script(uhfsim::Action::reply(5, 0, 0).delayed(300));
//   RS232_InitPort_Path(reader.path().c_str(), 9600);
//   ...
//   reader.wait_for_requests(1, 2s);
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

class PtyReader : private detail::StreamEndpoint {
public:
    using Handler = Responder::Handler;

    // Opens the pseudo-terminal and starts serving. Throws std::system_error on failure.
    PtyReader();
    ~PtyReader();
    PtyReader(const PtyReader&) = delete;
    PtyReader& operator=(const PtyReader&) = delete;

    // The slave node for the host to open.
    const std::string& path() const { return path_; }

    static Action default_reply(const Request& req) { return Responder::default_reply(req); }

    // The handler runs on the serving thread; it may call this object's accessors.
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
    // True once everything queued so far, delays included, has been written.
    bool wait_idle(std::chrono::milliseconds timeout) const { return loop_.wait_idle(timeout); }

    // Written as soon as possible, ahead of any queued reply that is still waiting out its delay.
    void send_now(std::vector<std::uint8_t> bytes) { loop_.send_now(std::move(bytes)); }
    // Paces written bytes at this line speed, 10 bits a byte; 0 writes as fast as possible.
    void set_baud(unsigned baud) { loop_.set_baud(baud); }

    // Stops serving; the pseudo-terminal stays open until destruction. Idempotent.
    void stop();

    // The device vanishes, as an unplugged USB-serial adapter does: the master side and the
    // slave this reader holds are closed, so a host holding the node open sees a hang-up (poll
    // gives POLLHUP, read gives end of file or EIO, write EIO). Nothing is answered after it,
    // and the node cannot be opened again. Idempotent.
    void hang_up();

private:
    int connection() const override { return master_; }
    void on_hangup() override;

    int master_ = -1;
    int slave_ = -1;  // held until hang_up() so the master never sees a hang-up
    std::string path_;

    Responder responder_;
    detail::StreamLoop loop_{responder_};
};

}  // namespace uhfsim
