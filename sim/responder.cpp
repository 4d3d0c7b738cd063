#include "sim/responder.hpp"

#include <exception>
#include <utility>

namespace uhfsim {

Action Responder::default_reply(const Request& req) { return Action::reply(req.addr, req.cmd, 0); }

void Responder::set_handler(Handler handler) {
    std::lock_guard lock(mu_);
    handler_ = std::move(handler);
}

void Responder::script(Action action) {
    std::lock_guard lock(mu_);
    scripts_.push_back(std::move(action));
}

void Responder::script_many(std::vector<Action> actions) {
    std::lock_guard lock(mu_);
    for (Action& a : actions) scripts_.push_back(std::move(a));
}

std::size_t Responder::scripts_left() const {
    std::lock_guard lock(mu_);
    return scripts_.size();
}

std::optional<Action> Responder::respond(const Request& req) {
    Handler handler;
    {
        std::lock_guard lock(mu_);
        requests_.push_back(req);
        arrived_.notify_all();
        if (!scripts_.empty()) {
            Action a = std::move(scripts_.front());
            scripts_.pop_front();
            return a;
        }
        handler = handler_;
    }
    if (!handler) return std::nullopt;
    try {
        return handler(req);
    } catch (const std::exception& e) {
        // A throwing handler is a test bug; keep serving and let the test see it.
        note_malformed(std::string("handler failed: ") + e.what());
        return std::nullopt;
    }
}

void Responder::note_malformed(std::string reason) {
    std::lock_guard lock(mu_);
    malformed_.push_back(std::move(reason));
}

std::vector<Request> Responder::requests() const {
    std::lock_guard lock(mu_);
    return requests_;
}

std::vector<std::string> Responder::malformed() const {
    std::lock_guard lock(mu_);
    return malformed_;
}

void Responder::clear_log() {
    std::lock_guard lock(mu_);
    requests_.clear();
    malformed_.clear();
}

bool Responder::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mu_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

}  // namespace uhfsim
