// How long uhf_cancel takes to end a waiting exchange: the time from the call, on another
// thread, to the exchange's return, over a pseudo-terminal, TCP on loopback and (under
// umockdev-wrapper) the emulated USB reader, each against a reader that never answers.
//
//   uhf_cancel_bench [ROUNDS]        (default 200; USB rows only under umockdev-wrapper)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty_reader.hpp"
#include "sim/tcp_reader.hpp"
#include "uhfreader.h"
#ifdef UHF_BENCH_WITH_USB
#include "sim/usb/usb_reader.hpp"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kAddr = 0x05;

struct Figures {
    double p50_us, p99_us, max_us;
};

Figures figures(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[static_cast<std::size_t>(q * static_cast<double>(us.size() - 1))]; };
    return {at(0.5), at(0.99), us.back()};
}

// `rounds` exchanges, each ended by a cancel once `heard(n)` says the reader has the n-th request.
std::vector<double> measure(uhf_link *l, int rounds, const std::function<bool(std::size_t)> &heard) {
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        Clock::time_point cancelled_at{};
        std::thread canceller([&] {
            if (!heard(static_cast<std::size_t>(i) + 1)) std::fprintf(stderr, "request %d never arrived\n", i);
            cancelled_at = Clock::now();
            uhf_cancel(l);
        });
        const int rc = uhf_exchange(l, kAddr, 0x42, nullptr, 0, nullptr, 0, nullptr);
        const auto returned = Clock::now();
        canceller.join();
        if (rc != UHF_ERR_CANCELLED) std::fprintf(stderr, "round %d: %s\n", i, uhf_strerror(rc, 0));
        us.push_back(std::chrono::duration<double, std::micro>(returned - cancelled_at).count());
    }
    return us;
}

uhf_link *open_silent(const std::string &device) {
    uhf_options o{};
    o.reply_timeout_ms = 10000;
    uhf_link *l = nullptr;
    const int rc = uhf_open_with(&l, device.c_str(), kAddr, &o);
    if (rc != 0) std::fprintf(stderr, "%s: %s\n", device.c_str(), uhf_strerror(rc, 0));
    return l;
}

template <class Reader>
void stream_row(const char *name, Reader &reader, const std::string &device, int rounds) {
    uhf_link *l = open_silent(device);
    if (l == nullptr) return;
    reader.clear_log();
    reader.set_handler([](const uhfsim::Request &) { return uhfsim::Action::silent(); });
    const Figures f = figures(measure(l, rounds, [&](std::size_t n) { return reader.wait_for_requests(n, 5s); }));
    std::printf("| %-6s | %6d | %8.0f | %8.0f | %8.0f |\n", name, rounds, f.p50_us, f.p99_us, f.max_us);
    uhf_close(l);
}

}  // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("| link   | rounds | p50 (us) | p99 (us) | max (us) |\n|---|---|---|---|---|\n");
    {
        uhfsim::PtyReader pty;
        stream_row("serial", pty, pty.path(), rounds);
    }
    {
        uhfsim::TcpReader tcp;
        stream_row("tcp", tcp, "tcp:" + tcp.address(), rounds);
    }
#ifdef UHF_BENCH_WITH_USB
    if (uhfsim::UsbBus::available()) {
        uhfsim::UsbBus bus;
        uhfsim::UsbReader &r = bus.add_reader(0x03EB, 0x6125);
        uhf_link *l = open_silent("usb");
        if (l != nullptr) {
            const int before = r.counters().out_transfers;
            r.set_handler([](const uhfsim::Request &) { return uhfsim::Action::silent(); });
            // The n-th request sent; then a moment for the reply transfer to be submitted (the
            // count of IN transfers also holds the drain reads after a cancelled exchange).
            const Figures f = figures(measure(l, rounds, [&](std::size_t n) {
                const bool sent = r.wait_until(
                    [&](const uhfsim::UsbCounters &c) { return c.out_transfers >= before + static_cast<int>(n); }, 5s);
                std::this_thread::sleep_for(20ms);
                return sent;
            }));
            std::printf("| %-6s | %6d | %8.0f | %8.0f | %8.0f |\n", "usb", rounds, f.p50_us, f.p99_us, f.max_us);
            uhf_close(l);
        }
    }
#endif
    return 0;
}
