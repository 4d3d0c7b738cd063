// The "require a program or skip" helper: where it finds programs, and that its words are the
// ones ctest's skip pattern and the Python and shell helpers use.
#include "support/require.hpp"

#include <gtest/gtest.h>

#include <regex.h>

#include <cstdlib>
#include <string>

namespace {

class ScopedPath {
public:
    explicit ScopedPath(const char *value) {
        if (const char *old = std::getenv("PATH")) old_ = old;
        setenv("PATH", value, 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

struct FindCase {
    const char *name;
    const char *path_env;
    const char *program;
    bool found;
};

class FindProgram : public testing::TestWithParam<FindCase> {};

TEST_P(FindProgram, FindsWhatIsInstalled) {
    const auto &c = GetParam();
    ScopedPath path(c.path_env);
    const std::string where = uhftest::find_program(c.program);
    EXPECT_EQ(!where.empty(), c.found) << where;
    if (c.found) {
        EXPECT_EQ(access(where.c_str(), X_OK), 0) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindProgram,
    testing::Values(FindCase{"OnPath", "/usr/bin:/bin", "sh", true},
                    // Daemons live in /usr/sbin, which a user's PATH may leave out.
                    FindCase{"SystemDirectoryOffPath", "/nonexistent", "sh", true},
                    FindCase{"EmptyPathEntries", "::", "sh", true},
                    FindCase{"Absent", "/usr/bin:/bin", "uhf-no-such-program", false},
                    FindCase{"AbsolutePathThere", "", "/bin/sh", true},
                    FindCase{"AbsolutePathAbsent", "/usr/bin", "/nonexistent/sh", false},
                    // A directory of that name is not a program.
                    FindCase{"DirectoryIsNotProgram", "/", "tmp", false}),
    [](const auto &info) { return std::string(info.param.name); });

// tests/CMakeLists.txt marks a skip in Python and shell tests by this pattern.
TEST(MissingProgramMessage, NamesProgramAndPackageInTheSkipPattern) {
    const std::string m = uhftest::missing_program_message("mosquitto", "mosquitto-clients");
    EXPECT_EQ(m, "needs mosquitto, which is not installed (Debian package mosquitto-clients)");
    // POSIX extended syntax reads this pattern as ctest does (g++ 12 under the sanitizers warns
    // inside std::regex).
    regex_t skip;
    ASSERT_EQ(regcomp(&skip, UHF_SKIP_PATTERN, REG_EXTENDED | REG_NOSUB), 0) << UHF_SKIP_PATTERN;
    EXPECT_EQ(regexec(&skip, m.c_str(), 0, nullptr, 0), 0) << UHF_SKIP_PATTERN;
    regfree(&skip);
}

}  // namespace
