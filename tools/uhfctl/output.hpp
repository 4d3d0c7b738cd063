// Where everything uhfctl says goes: results on stdout (text, or one JSON object a line with
// --json), failures and progress on stderr, trace lines on stderr. One Output per run, shared
// by the threads that drive several readers; each call writes whole lines under its lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

// The declarations only: most of uhfctl never builds a JSON object, and the whole header is
// the slowest part of its build.
#include <nlohmann/json_fwd.hpp>

namespace uhfctl {

using Json = nlohmann::ordered_json;

class Output {
public:
    explicit Output(bool json);
    // An Output that keeps what it is given until flush_into(): work on several readers runs in
    // parallel, and its results still come out in the readers' order.
    struct Held {};
    Output(bool json, Held);

    void flush_into(Output& parent);

    bool json() const { return json_; }

    // One JSON object as one line on stdout.
    void emit(const Json& object);
    // Text as given (lines end with '\n') on stdout.
    void print(const std::string& text);
    // One line on stderr: progress and narrative that must not mix with results.
    void note(const std::string& line);

    // A failure, returning the exit status it deserves: "uhfctl: WHERE: WHAT: words" on stderr,
    // or with --json an object {"command", "device", "ok": false, "code", "detail", "error"}.
    // `code` is a link function's result (a negative UHF_ERR_* or an exchange code); `detail`
    // its detail code, -1 when none is known (a failed open leaves no link to ask).
    int failure(const std::string& device, const std::string& what, int code, int detail);
    // A plain failure message with its exit status (no library code behind it).
    int failure(const std::string& message, int exit_status);

    // A traced frame: `direction` is UHF_TRACE_*, `t_us` CLOCK_MONOTONIC microseconds.
    void trace(const std::string& device, int direction, std::span<const std::uint8_t> bytes,
               unsigned long long t_us);

    // Seconds since this Output was made, on the clock the library stamps frames with.
    double seconds_since_start(unsigned long long t_us) const;

private:
    void write(bool to_stdout, const std::string& text);

    std::mutex mu_;
    const bool json_;
    const bool held_ = false;
    std::string held_out_, held_err_;
    const unsigned long long start_us_;
};

// The exit status a link function's failure deserves: a malformed device string is usage.
int exit_status_for(int code);

// "status 1 (0x01)".
std::string status_text(int status);

}  // namespace uhfctl
