// Waiting on a condition with a deadline, for the tests that are not the gateway's (those have
// their own in tests/uhfd/harness.hpp, beside the processes they start).
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <string>
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

// The calling thread's id, for blocked_in() from another thread.
inline pid_t this_thread_id() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// The thread `tid` of this process sleeps in one of these system calls (SYS_read, SYS_ppoll...):
// the kernel shows the call a blocked thread waits in. For a test that must act while another
// thread is waiting, not before it got there.
inline bool blocked_in(pid_t tid, std::initializer_list<long> calls) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long nr = -1;
    if (!(in >> nr)) return false;
    for (long c : calls)
        if (c == nr) return true;
    return false;
}

}  // namespace uhftest
