// The long soak as a program: uhf_soak [--exchanges N] [--seed S] [--transport serial|usb]
// Prints the figures; exits 0 when nothing went wrong, 1 otherwise, 2 on a usage error, 77 when
// USB was asked for and the emulated bus is missing (run it under umockdev-wrapper).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial_soak.hpp"
#ifdef UHF_SOAK_USB
#include "usb_soak.hpp"
#endif

int main(int argc, char **argv) {
    std::size_t exchanges = 1'000'000;
    std::uint64_t seed = 1;
    std::string transport = "serial";
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--exchanges") && has_value) {
            exchanges = std::strtoull(argv[++i], nullptr, 10);
        } else if (!std::strcmp(argv[i], "--seed") && has_value) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (!std::strcmp(argv[i], "--transport") && has_value) {
            transport = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--exchanges N] [--seed S] [--transport serial|usb]\n", argv[0]);
            return 2;
        }
    }
    // The figures so far every 50 000 exchanges, so a run cut short still says what it found.
    auto progress = [](std::size_t done, const uhfsoak::Figures &so_far) {
        if (done % 50'000 == 0) {
            std::printf("-- after %zu exchanges\n%s", done, so_far.report().c_str());
            std::fflush(stdout);
        }
    };
    uhfsoak::Figures fig;
    if (transport == "serial") {
        std::printf("serial soak: seed %llu, %zu exchanges\n", static_cast<unsigned long long>(seed), exchanges);
        std::fflush(stdout);
        fig = uhfsoak::serial_soak(seed, exchanges, progress);
    } else if (transport == "usb") {
#ifdef UHF_SOAK_USB
        if (!uhfsim::UsbBus::available()) {
            std::fprintf(stderr, "no emulated USB bus: run under umockdev-wrapper\n");
            return 77;
        }
        std::printf("USB soak: seed %llu, %zu exchanges\n", static_cast<unsigned long long>(seed), exchanges);
        std::fflush(stdout);
        fig = uhfsoak::usb_soak(seed, exchanges, progress);
#else
        std::fprintf(stderr, "built without the emulated USB reader (umockdev-1.0 missing)\n");
        return 77;
#endif
    } else {
        std::fprintf(stderr, "unknown transport '%s': use serial or usb\n", transport.c_str());
        return 2;
    }
    std::printf("%s", fig.report().c_str());
    return fig.problems() == 0 && fig.exchanges == exchanges ? 0 : 1;
}
