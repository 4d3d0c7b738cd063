// Tests that need a program the machine may lack (mosquitto, ser2net, chromium, node, tshark):
// they skip, naming the Debian package that brings it, rather than fail. On CI, where
// scripts/deps installs everything, scripts/test turns any skip into a failure.
//
//     TEST(Gateway, Publishes) {
//         UHF_REQUIRE_PROGRAM("mosquitto", "mosquitto");
//         ...
//     }
//
// The Python and shell helpers (require.py, require.sh) say the same words, so one pattern,
// "(Debian package NAME)", marks a skip in any test's output.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

namespace uhftest {

// The program's full path, searched on PATH and then in the system directories a daemon lives
// in (mosquitto is in /usr/sbin, which an ordinary user's PATH may not list); empty if absent.
inline bool is_program(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

inline std::string find_program(std::string_view program) {
    if (program.find('/') != std::string_view::npos)
        return is_program(std::string(program)) ? std::string(program) : std::string();
    std::string dirs;
    if (const char *path = std::getenv("PATH")) dirs = path;
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::string_view rest = dirs;
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const auto dir = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (dir.empty()) continue;
        std::string candidate(dir);
        candidate += '/';
        candidate += program;
        if (is_program(candidate)) return candidate;
    }
    return {};
}

// The skip message: what is missing and how to get it.
inline std::string missing_program_message(std::string_view program, std::string_view package) {
    std::string m = "needs ";
    m += program;
    m += ", which is not installed (Debian package ";
    m += package;
    m += ')';
    return m;
}

}  // namespace uhftest

// Skips the current test (or, in SetUp/SetUpTestSuite, the suite) when the program is absent.
#define UHF_REQUIRE_PROGRAM(program, package)                                          \
    do {                                                                               \
        if (::uhftest::find_program(program).empty())                                 \
            GTEST_SKIP() << ::uhftest::missing_program_message((program), (package)); \
    } while (0)
