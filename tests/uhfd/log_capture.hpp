// What the process writes on stderr (uhfd's log) while one of these lives, kept in a file so a
// test can read it at any moment; stderr is given back when it goes, however the test ends.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "harness.hpp"

namespace gwtest {

class LogCapture {
public:
    explicit LogCapture(const ScratchDir& dir) : path_(dir.file("stderr.log")) {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (saved_ < 0 || fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) throw std::runtime_error("cannot capture stderr");
        ::close(fd);
    }
    ~LogCapture() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return slurp(path_); }
    // How many times `words` were written since the capture began.
    std::size_t count(const std::string& words) const {
        const std::string all = text();
        std::size_t n = 0;
        for (auto at = all.find(words); at != std::string::npos; at = all.find(words, at + words.size())) ++n;
        return n;
    }

private:
    std::string path_;
    int saved_ = -1;
};

}  // namespace gwtest
