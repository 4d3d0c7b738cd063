// Runs a program as a child process with its output captured, and reads flat JSON objects.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tooltest {

struct Outcome {
    int exit = -1;  // -1: killed at the deadline
    std::string out;
    std::string err;
};

// A child with stdout and stderr on pipes; killed on destruction if still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& env_extra = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> env_store;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("UHF_DEVICE=", 0) != 0) env_store.push_back(*e);
        for (const auto& e : env_extra) env_store.push_back(e);
        std::vector<char*> envp;
        for (auto& e : env_store) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(err[1]);
        out_fd_ = out[0];
        err_fd_ = err[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0) ::close(out_fd_);
        if (err_fd_ >= 0) ::close(err_fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Reads stdout until it holds a complete first line or the time is up.
    std::optional<std::string> first_line(std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto nl = out_.find('\n'); nl != std::string::npos) return out_.substr(0, nl);
            pump(50);
        }
        return std::nullopt;
    }

    // Collects everything until the child exits; kills it at the deadline.
    Outcome finish(std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        int status = 0;
        for (;;) {
            pump(20);
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                while (pump(0)) {}
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                reaped_ = true;
                return {-1, out_, err_};
            }
        }
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out_, err_};
    }

    const std::string& err() const { return err_; }
    bool pump(int ms) {
        pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
        if (::poll(fds, 2, ms) <= 0) return false;
        bool got = false;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
                got = true;
            }
        }
        return got;
    }

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool reaped_ = false;
    std::string out_;
    std::string err_;
};

inline Outcome run(const std::vector<std::string>& argv, std::chrono::milliseconds within = std::chrono::seconds(30),
                   const std::vector<std::string>& env_extra = {}) {
    Child c(argv, env_extra);
    return c.finish(within);
}

// The top-level members of one JSON object: strings unquoted, everything else as written.
// Enough for the flat objects uhfctl prints; nullopt on anything malformed.
inline std::optional<std::map<std::string, std::string>> parse_json_object(const std::string& s) {
    std::size_t i = 0;
    auto ws = [&] { while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i; };
    auto string = [&]() -> std::optional<std::string> {
        if (i >= s.size() || s[i] != '"') return std::nullopt;
        std::string out;
        for (++i; i < s.size(); ++i) {
            if (s[i] == '"') { ++i; return out; }
            if (s[i] == '\\') {
                if (++i >= s.size()) return std::nullopt;
                if (s[i] == 'u') { if (i + 4 >= s.size()) return std::nullopt; out += '?'; i += 4; continue; }
            }
            out += s[i];
        }
        return std::nullopt;
    };
    // A value as its text: nested arrays and objects are skipped by bracket depth.
    auto value = [&]() -> std::optional<std::string> {
        ws();
        if (i < s.size() && s[i] == '"') return string();
        const std::size_t start = i;
        int depth = 0;
        for (; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '"') { if (!string()) return std::nullopt; --i; continue; }
            if (c == '[' || c == '{') ++depth;
            else if (c == ']' || c == '}') { if (depth == 0) break; --depth; }
            else if (c == ',' && depth == 0) break;
        }
        if (depth != 0 || i == start) return std::nullopt;
        return s.substr(start, i - start);
    };
    std::map<std::string, std::string> out;
    ws();
    if (i >= s.size() || s[i++] != '{') return std::nullopt;
    ws();
    if (i < s.size() && s[i] == '}') return out;
    for (;;) {
        ws();
        auto k = string();
        if (!k) return std::nullopt;
        ws();
        if (i >= s.size() || s[i++] != ':') return std::nullopt;
        auto v = value();
        if (!v) return std::nullopt;
        out[*k] = *v;
        ws();
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == '}') { ++i; break; }
        return std::nullopt;
    }
    ws();
    if (i != s.size()) return std::nullopt;
    return out;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

}  // namespace tooltest
