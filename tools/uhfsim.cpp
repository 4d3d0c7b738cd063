// uhfsim: a virtual reader on a pseudo-terminal, answering with the stateful reader model
// until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "sim/model.hpp"
#include "sim/pty_reader.hpp"
#include "uhfctl/catalog.hpp"
#include "uhfctl/text.hpp"

namespace {

constexpr const char* kUsage =
    "usage: uhfsim [options]\n"
    "A virtual reader: serves a pseudo-terminal, prints its node on stdout and answers\n"
    "until interrupted (SIGINT or SIGTERM).\n"
    "\n"
    "  --addr A        reader address (default 0x01; 0xFF is broadcast and not allowed)\n"
    "  --tags N        tags in the field, EPC, GB and GJB in turn (default 8, at most 255)\n"
    "  --seed S        seed of the tag population and of every random answer (default 1)\n"
    "  --latency MS    the reader's think time before each reply (default 0)\n"
    "  --baud B        pace the bytes sent at this line rate, 10 bits a byte (default: unpaced)\n"
    "  --faults RATE   fraction 0..1 of replies spoiled: noise before the frame, a lost\n"
    "                  reply, a bad checksum or a reply too late for the host (default 0)\n"
    "  --link PATH     also make a symlink PATH to the node (removed at exit)\n"
    "  --trace         one decoded line per frame in and out, to stderr\n"
    "  --help          this text\n"
    "\n"
    "Integers are decimal or 0x hex. Reply formats: docs/simulator.md.\n";

struct Options {
    uhfsim::ModelOptions model;
    int latency_ms = 0;
    unsigned baud = 0;
    double faults = 0;
    std::string link;
    bool trace = false;
};

[[noreturn]] void usage_error(const std::string& msg) {
    std::fprintf(stderr, "uhfsim: %s\n%s", msg.c_str(), kUsage);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) usage_error(std::string(arg) + " needs a value");
            return argv[++i];
        };
        auto integer = [&](long long lo, long long hi) {
            const std::string_view v = value();
            auto n = uhfctl::parse_int(v, lo, hi);
            if (!n) usage_error(std::string(arg) + ": '" + std::string(v) + "' is not an integer in " +
                                std::to_string(lo) + ".." + std::to_string(hi));
            return *n;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--addr") {
            o.model.addr = static_cast<std::uint8_t>(integer(0, 0xFE));
        } else if (arg == "--tags") {
            o.model.tags = static_cast<std::size_t>(integer(0, uhfsim::ReaderModel::kMaxTags));
        } else if (arg == "--seed") {
            o.model.seed = static_cast<std::uint32_t>(integer(0, 0xFFFFFFFFLL));
        } else if (arg == "--latency") {
            o.latency_ms = static_cast<int>(integer(0, 60000));
        } else if (arg == "--baud") {
            o.baud = static_cast<unsigned>(integer(50, 4000000));
        } else if (arg == "--faults") {
            const std::string v(value());
            char* end = nullptr;
            errno = 0;
            const double rate = std::strtod(v.c_str(), &end);
            if (errno != 0 || end == v.c_str() || *end != '\0' || !(rate >= 0 && rate <= 1))
                usage_error("--faults: '" + v + "' is not a fraction between 0 and 1");
            o.faults = rate;
        } else if (arg == "--link") {
            o.link = value();
        } else if (arg == "--trace") {
            o.trace = true;
        } else {
            usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    return o;
}

std::mutex g_log;

// Long replies are cut so one frame stays one readable line.
std::string shown(const std::vector<std::uint8_t>& data) {
    constexpr std::size_t kShown = 64;
    if (data.size() <= kShown) return uhfctl::hex(data);
    return uhfctl::hex(std::span(data.data(), kShown)) + " ... (" + std::to_string(data.size() - kShown) + " more)";
}

void log_line(const std::string& line) {
    std::lock_guard lock(g_log);
    std::fprintf(stderr, "uhfsim: %s\n", line.c_str());
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

int main(int argc, char** argv) {
    const Options opt = parse(argc, argv);

    // Blocked before any thread starts, so only sigtimedwait() below ever takes them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    uhfsim::ReaderModel model(opt.model);
    std::mt19937 fault_rng(opt.model.seed ^ 0x5EEDu);

    std::optional<uhfsim::PtyReader> reader;
    try {
        reader.emplace();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "uhfsim: cannot open a pseudo-terminal: %s\n", e.what());
        return 1;
    }
    reader->set_baud(opt.baud);
    reader->set_handler([&](const uhfsim::Request& req) {
        if (opt.trace) log_line(describe(req));
        std::optional<uhfsim::Reply> reply = model.answer(req);
        if (!reply) {
            if (opt.trace) log_line("   (not this reader's address; no reply)");
            return uhfsim::Action::silent();
        }
        uhfsim::Action action = uhfsim::Action::reply(*reply);
        const char* fault = nullptr;
        int delay_ms = opt.latency_ms;
        if (opt.faults > 0 && std::uniform_real_distribution<double>(0, 1)(fault_rng) < opt.faults) {
            switch (fault_rng() % 4) {
                case 0: {
                    std::vector<std::uint8_t> noise(1 + fault_rng() % 4);
                    // Anything but 0x10, which would start a frame.
                    for (auto& b : noise) b = static_cast<std::uint8_t>(0x20 + fault_rng() % 0xD0);
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
    });

    bool linked = false;
    if (!opt.link.empty()) {
        struct stat st{};
        if (::lstat(opt.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(opt.link.c_str());
        if (::symlink(reader->path().c_str(), opt.link.c_str()) != 0) {
            std::fprintf(stderr, "uhfsim: cannot make the link %s: %s\n", opt.link.c_str(), std::strerror(errno));
            return 1;
        }
        linked = true;
    }

    std::printf("%s\n", reader->path().c_str());
    std::fflush(stdout);
    if (opt.trace)
        log_line("serving address " + uhfctl::hex(std::span(&opt.model.addr, 1)) + " with " +
                 std::to_string(model.tags().size()) + " tags on " + reader->path());

    std::size_t malformed_seen = 0;
    int signo = 0;
    while (signo <= 0) {
        const timespec tick{0, 200'000'000};
        signo = sigtimedwait(&stop_signals, nullptr, &tick);
        const auto bad = reader->malformed();
        for (std::size_t i = malformed_seen; i < bad.size(); ++i) log_line("skipped a malformed frame: " + bad[i]);
        malformed_seen = bad.size();
        // The request log is for tests; a long-running reader must not grow without end.
        if (reader->requests().size() > 1000) {
            reader->clear_log();
            malformed_seen = 0;
        }
    }
    reader->stop();
    if (linked) ::unlink(opt.link.c_str());
    if (opt.trace) log_line(std::string("stopped by ") + strsignal(signo));
    return 0;
}
