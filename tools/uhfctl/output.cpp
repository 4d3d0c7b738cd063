#include <nlohmann/json.hpp>

#include "uhfctl/output.hpp"

#include <time.h>

#include <cstdio>

#include "uhfctl/options.hpp"
#include "uhfctl/path_kind.hpp"
#include "uhfctl/text.hpp"
#include "uhfreader.h"

namespace uhfctl {

namespace {

unsigned long long monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000;
}

const char* direction_word(int direction) {
    switch (direction) {
        case UHF_TRACE_SENT: return "sent";
        case UHF_TRACE_RECEIVED: return "received";
        default: return "discarded";
    }
}

const char* direction_mark(int direction) {
    switch (direction) {
        case UHF_TRACE_SENT: return ">";
        case UHF_TRACE_RECEIVED: return "<";
        default: return "~";
    }
}

}  // namespace

Output::Output(bool json) : json_(json), start_us_(monotonic_us()) {}

Output::Output(bool json, Held) : json_(json), held_(true), start_us_(monotonic_us()) {}

void Output::write(bool to_stdout, const std::string& text) {
    std::lock_guard lock(mu_);
    if (held_) {
        (to_stdout ? held_out_ : held_err_) += text;
        return;
    }
    std::FILE* f = to_stdout ? stdout : stderr;
    std::fputs(text.c_str(), f);
    std::fflush(f);
}

void Output::flush_into(Output& parent) {
    std::lock_guard lock(mu_);
    if (!held_err_.empty()) parent.write(false, held_err_);
    if (!held_out_.empty()) parent.write(true, held_out_);
    held_err_.clear();
    held_out_.clear();
}

void Output::emit(const Json& object) { write(true, object.dump() + "\n"); }

void Output::print(const std::string& text) { write(true, text); }

void Output::note(const std::string& line) { write(false, line + "\n"); }

int Output::failure(const std::string& device, const std::string& what, int code, int detail) {
    const std::string words = uhf_strerror(code, detail);
    const int status = exit_status_for(code);
    const std::string kind = path_kind(device, code);
    if (json_) {
        Json j{{"command", what}, {"device", device}, {"ok", false}, {"code", code}};
        if (code > 0 && detail >= 0) j["detail"] = detail;
        if (!kind.empty()) j["path_is"] = kind;
        j["error"] = words;
        emit(j);
        return status;
    }
    std::string line = "uhfctl: ";
    if (!device.empty()) line += device + (kind.empty() ? "" : " (" + kind + ")") + ": ";
    if (!what.empty()) line += what + ": ";
    line += words;
    if (code > 0)
        line += " (exchange " + std::to_string(code) + (detail >= 0 ? ", detail " + std::to_string(detail) : "") + ")";
    note(line);
    return status;
}

int Output::failure(const std::string& message, int exit_status) {
    if (json_) emit(Json{{"ok", false}, {"error", message}});
    else note("uhfctl: " + message);
    return exit_status;
}

void Output::trace(const std::string& device, int direction, std::span<const std::uint8_t> bytes,
                   unsigned long long t_us) {
    const double t = seconds_since_start(t_us);
    if (json_) {
        const Json j{{"trace", direction_word(direction)}, {"device", device}, {"t", t}, {"t_us", t_us},
                     {"bytes", hex(bytes, "")}};
        note(j.dump());
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "+%.6f", t);
    note(std::string("trace ") + stamp + " " + device + " " + direction_mark(direction) + " " + hex(bytes));
}

double Output::seconds_since_start(unsigned long long t_us) const {
    return t_us >= start_us_ ? static_cast<double>(t_us - start_us_) / 1e6 : 0.0;
}

int exit_status_for(int code) { return code == UHF_ERR_BAD_DEVICE ? kExitUsage : kExitFailure; }

std::string status_text(int status) {
    char b[32];
    std::snprintf(b, sizeof b, "status %d (0x%02X)", status, status & 0xFF);
    return b;
}

}  // namespace uhfctl
