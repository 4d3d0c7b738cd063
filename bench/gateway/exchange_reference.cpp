// The exchanges alone: what uhfd's reader threads ask of their readers (one inventory round per
// interval, each family's query and list pages read by the virtual layout), without the gateway
// around them. gateway_bench.py's scale run weighs uhfd's CPU against this program's.
//
//   uhfd_exchange_reference ROUND_MS SECONDS DEVICE...
//
// One thread and one link per device, rounds paced start to start as uhfd paces them. Prints
// "rounds R failed F cpu_s C" on one line; asserts nothing.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "inventory/layout.hpp"
#include "inventory/round.hpp"
#include "uhfreader_link.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: uhfd_exchange_reference ROUND_MS SECONDS DEVICE...\n");
        return 2;
    }
    const auto interval = std::chrono::milliseconds(std::stol(argv[1]));
    const auto length = std::chrono::seconds(std::stol(argv[2]));
    const std::vector<inventory::Family> families{inventory::Family::epc, inventory::Family::gb, inventory::Family::gjb};
    std::atomic<long> rounds{0}, failed{0};
    std::vector<uhf_link*> links;
    for (int i = 3; i < argc; ++i) {
        uhf_link* link = nullptr;
        const int rc = uhf_open_with(&link, argv[i], 1, nullptr);
        if (rc != 0) {
            std::fprintf(stderr, "%s: %s\n", argv[i], uhf_strerror(rc, 0));
            return 1;
        }
        links.push_back(link);
    }
    const double cpu0 = cpu_seconds();
    const auto end = Clock::now() + length;
    std::vector<std::thread> threads;
    for (uhf_link* link : links)
        threads.emplace_back([&, link] {
            for (auto next = Clock::now(); next < end; next += interval) {
                std::this_thread::sleep_until(next);
                const inventory::Round r = inventory::run_round(link, 1, families, inventory::virtual_layout());
                ++rounds;
                if (r.failed()) ++failed;
            }
        });
    for (std::thread& t : threads) t.join();
    const double used = cpu_seconds() - cpu0;
    for (uhf_link* link : links) uhf_close(link);
    std::printf("rounds %ld failed %ld cpu_s %.3f\n", rounds.load(), failed.load(), used);
    return 0;
}
