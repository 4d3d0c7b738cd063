// Host-side helpers every test area shares: driving one exchange through the exported
// state, and counting what the process holds.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "uhfreader.h"

namespace uhftest {

using Bytes = std::vector<std::uint8_t>;

inline int run_exchange(std::uint8_t addr, std::uint8_t cmd, const Bytes &data) {
    pc_id = addr;
    IcCmd = cmd;
    if (!data.empty()) std::memcpy(BlkAAdrBeg, data.data(), data.size());
    BlkALength = static_cast<unsigned char>(data.size());
    return PcSendOrder();
}

inline int count_entries(const char *dir) {
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (readdir(d) != nullptr) ++n;
        closedir(d);
    }
    return n;
}
inline int open_descriptors() { return count_entries("/proc/self/fd"); }

// Open descriptors other than eventfds. Under load, GLib (inside umockdev, in the test
// process) may start one more worker thread with its own wake-up eventfd and keep it idle
// for many seconds; a handle, socket or device node the library forgot is still counted.
// A libusb context left unreleased shows up in LeakSanitizer and the emulator's counters.
inline int descriptors_but_eventfds() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(d)) {
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) >= 0 &&
                std::string(target) == "anon_inode:[eventfd]")
                continue;
            ++n;
        }
        closedir(d);
    }
    return n;
}
inline int threads() { return count_entries("/proc/self/task"); }

// What each open descriptor refers to, for a failure message.
inline std::string describe_descriptors() {
    std::string out;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) < 0) continue;
            out += std::string(e->d_name) + " -> " + target + "\n";
        }
        closedir(d);
    }
    return out;
}

// Some counts settle a moment after the library has let go (umockdev tears down its side
// of a closed connection on its own thread); they are compared once that has happened.
template <class Count>
int settled(Count count, int expected) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    int n = count();
    while (n != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
        n = count();
    }
    return n;
}

}  // namespace uhftest
