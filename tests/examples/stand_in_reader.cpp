// A virtual reader for the tests that drive whole programs, for builds without the uhfsim tool:
// serves a pseudo-terminal, prints its node, and answers every request with status 0 (device
// information: 22 counting bytes) until SIGINT or SIGTERM.
//
//   stand_in_reader [--link PATH]
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sim/pty_reader.hpp"

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

}  // namespace

int main(int argc, char **argv) {
    std::string link;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--link") == 0 && i + 1 < argc) {
            link = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--link PATH]\n", argv[0]);
            return 2;
        }
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    uhfsim::PtyReader reader;
    reader.set_handler([](const uhfsim::Request &r) {
        std::vector<std::uint8_t> data;
        if (r.cmd == 0x05)
            for (int i = 0; i < 22; ++i) data.push_back(static_cast<std::uint8_t>(i));
        return uhfsim::Action::reply(r.addr, r.cmd, 0, data);
    });
    if (!link.empty()) {
        unlink(link.c_str());
        if (symlink(reader.path().c_str(), link.c_str()) != 0) {
            std::perror("symlink");
            return 1;
        }
    }
    std::printf("%s\n", reader.path().c_str());
    std::fflush(stdout);

    while (!stop_requested) pause();
    reader.stop();
    if (!link.empty()) unlink(link.c_str());
    return 0;
}
