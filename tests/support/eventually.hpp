// Waiting on a condition with a deadline, for the tests that are not the gateway's (those have
// their own in tests/uhfd/harness.hpp, beside the processes they start).
#pragma once

#include <chrono>
#include <thread>

namespace uhftest {

// Polls `done` every few milliseconds until it holds or `within` has passed; its last answer.
template <class Done>
bool eventually(Done done, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace uhftest
