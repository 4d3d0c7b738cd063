// The reader's choice of answer, apart from how bytes travel: scripted actions first, then the
// handler. Shared by every transport the simulator serves, and thread-safe so a test can script
// and inspect while a serving thread answers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/action.hpp"
#include "sim/wire.hpp"

namespace uhfsim {

class Responder {
public:
    using Handler = std::function<Action(const Request&)>;

    // Status 0, no data, address and command echoed.
    static Action default_reply(const Request& req);

    // The handler runs on the caller of respond(), without the lock held, so it may call back
    // into this object.
    void set_handler(Handler handler);
    // Each request takes the oldest scripted action before the handler is asked.
    void script(Action action);
    void script_many(std::vector<Action> actions);
    std::size_t scripts_left() const;

    // Records the request and returns its answer; nothing when the handler declined or threw.
    std::optional<Action> respond(const Request& req);
    void note_malformed(std::string reason);

    std::vector<Request> requests() const;
    std::vector<std::string> malformed() const;
    void clear_log();
    bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mu_;
    mutable std::condition_variable arrived_;
    Handler handler_ = &Responder::default_reply;
    std::deque<Action> scripts_;
    std::vector<Request> requests_;
    std::vector<std::string> malformed_;
};

}  // namespace uhfsim
