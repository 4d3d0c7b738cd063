// The long soak as a program: uhf_soak [--exchanges N] [--seed S]
// Prints the figures; exits 0 when nothing went wrong, 1 otherwise, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial_soak.hpp"

int main(int argc, char **argv) {
    std::size_t exchanges = 1'000'000;
    std::uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--exchanges") && has_value) {
            exchanges = std::strtoull(argv[++i], nullptr, 10);
        } else if (!std::strcmp(argv[i], "--seed") && has_value) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--exchanges N] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    std::printf("serial soak: seed %llu, %zu exchanges\n", static_cast<unsigned long long>(seed), exchanges);
    std::fflush(stdout);
    const uhfsoak::Figures fig = uhfsoak::serial_soak(seed, exchanges, [](std::size_t done) {
        if (done % 50'000 == 0) {
            std::printf("  %zu exchanges\n", done);
            std::fflush(stdout);
        }
    });
    std::printf("%s", fig.report().c_str());
    return fig.problems() == 0 && fig.exchanges == exchanges ? 0 : 1;
}
