#include "handler.hpp"

#include <cstdio>
#include <memory>
#include <mutex>
#include <random>

#include "uhfctl/catalog.hpp"
#include "uhfctl/text.hpp"

namespace uhfsim_tool {

namespace {

std::mutex g_log;

// Long replies are cut so one frame stays one readable line.
std::string shown(const std::vector<std::uint8_t>& data) {
    constexpr std::size_t kShown = 64;
    if (data.size() <= kShown) return uhfctl::hex(data);
    return uhfctl::hex(std::span(data.data(), kShown)) + " ... (" + std::to_string(data.size() - kShown) + " more)";
}

std::string describe(const uhfsim::Request& r) {
    char head[96];
    std::snprintf(head, sizeof head, "<- addr %02X cmd %02X %-22s len %3zu", r.addr, r.cmd,
                  uhfctl::command_name(r.cmd), r.data.size());
    std::string out = head;
    if (!r.data.empty()) out += ": " + shown(r.data);
    return out;
}

std::string describe(const uhfsim::Reply& r, const char* fault) {
    char head[112];
    std::snprintf(head, sizeof head, "-> addr %02X cmd %02X %-22s status %02X len %3zu", r.addr, r.cmd,
                  uhfctl::command_name(r.cmd), r.status, r.data.size());
    std::string out = head;
    if (!r.data.empty()) out += ": " + shown(r.data);
    if (fault) out += std::string("  [fault: ") + fault + "]";
    return out;
}

}  // namespace

void log_line(const std::string& line) {
    std::lock_guard lock(g_log);
    std::fprintf(stderr, "uhfsim: %s\n", line.c_str());
}

uhfsim::Responder::Handler make_handler(uhfsim::ReaderModel& model, const Options& opt) {
    // Only the serving thread draws from it.
    auto fault_rng = std::make_shared<std::mt19937>(opt.model.seed ^ 0x5EEDu);
    return [&model, opt, fault_rng](const uhfsim::Request& req) {
        if (opt.trace) log_line(describe(req));
        std::optional<uhfsim::Reply> reply = model.answer(req);
        if (!reply) {
            if (opt.trace) log_line("   (not this reader's address; no reply)");
            return uhfsim::Action::silent();
        }
        uhfsim::Action action = uhfsim::Action::reply(*reply);
        const char* fault = nullptr;
        int delay_ms = opt.latency_ms;
        std::mt19937& rng = *fault_rng;
        if (opt.faults > 0 && std::uniform_real_distribution<double>(0, 1)(rng) < opt.faults) {
            switch (rng() % 4) {
                case 0: {
                    std::vector<std::uint8_t> noise(1 + rng() % 4);
                    // Anything but 0x10, which would start a frame.
                    for (auto& b : noise) b = static_cast<std::uint8_t>(0x20 + rng() % 0xD0);
                    action.with_noise(noise);
                    fault = "noise first";
                    break;
                }
                case 1:
                    action = uhfsim::Action::silent();
                    fault = "reply lost";
                    break;
                case 2:
                    action.bad_checksum();
                    fault = "bad checksum";
                    break;
                default:
                    // Past the longest wait of any command (40 polls of 100 ms).
                    delay_ms += 4500;
                    fault = "late reply";
                    break;
            }
        }
        if (delay_ms > 0) action.delayed(delay_ms);
        if (opt.trace) log_line(describe(*reply, fault));
        return action;
    };
}

}  // namespace uhfsim_tool
