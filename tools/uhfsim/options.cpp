#include "options.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "uhfctl/text.hpp"

namespace uhfsim_tool {

namespace {

constexpr const char* kUsage =
    "usage: uhfsim [options]\n"
    "A virtual reader: serves a pseudo-terminal (or a TCP port), prints its node (or address)\n"
    "on stdout and answers until interrupted (SIGINT, SIGTERM or SIGHUP).\n"
    "\n"
    "  --addr A        reader address (default 0x01; 0xFF is broadcast and not allowed)\n"
    "  --tags N        tags in the field, EPC, GB and GJB in turn (default 8, at most 255)\n"
    "  --seed S        seed of the tag population and of every random answer (default 1)\n"
    "  --latency MS    the reader's think time before each reply (default 0)\n"
    "  --baud B        pace the bytes sent at this line rate, 10 bits a byte (default: unpaced)\n"
    "  --faults RATE   fraction 0..1 of replies spoiled: noise before the frame, a lost\n"
    "                  reply, a bad checksum or a reply too late for the host (default 0)\n"
    "  --tcp [HOST:]PORT  serve a TCP port instead, as a network serial server does, one\n"
    "                  client at a time (HOST default 127.0.0.1; PORT 0: a free one)\n"
    "  --control -|PATH  take field commands (add, remove, clear, list, set, help) as lines\n"
    "                  on stdin (-) or on a Unix socket at PATH; may be given twice\n"
    "  --link PATH     also make a symlink PATH to the node, or to \"tcp:HOST:PORT\" with\n"
    "                  --tcp (removed at exit)\n"
    "  --trace         one decoded line per frame in and out, to stderr\n"
    "  --help          this text\n"
    "\n"
    "Integers are decimal or 0x hex. Reply formats and commands: docs/simulator.md.\n";

[[noreturn]] void usage_error(const std::string& msg) {
    std::fprintf(stderr, "uhfsim: %s\n%s", msg.c_str(), kUsage);
    std::exit(2);
}

// "PORT", "HOST:PORT" or "[V6]:PORT".
TcpAddress tcp_address(std::string_view v) {
    TcpAddress a;
    std::string_view port = v;
    if (!v.empty() && v[0] == '[') {
        const std::size_t close = v.find(']');
        if (close == std::string_view::npos || close + 1 >= v.size() || v[close + 1] != ':')
            usage_error("--tcp: '" + std::string(v) + "' is not [HOST]:PORT");
        a.host = v.substr(1, close - 1);
        port = v.substr(close + 2);
    } else if (const std::size_t colon = v.rfind(':'); colon != std::string_view::npos) {
        a.host = v.substr(0, colon);
        port = v.substr(colon + 1);
    }
    if (a.host == "localhost") a.host = "127.0.0.1";
    const auto n = uhfctl::parse_int(port, 0, 65535);
    if (a.host.empty() || !n) usage_error("--tcp: '" + std::string(v) + "' is not [HOST:]PORT, PORT 0 to 65535");
    a.port = static_cast<std::uint16_t>(*n);
    return a;
}

}  // namespace

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
        } else if (arg == "--tcp") {
            o.tcp = tcp_address(value());
        } else if (arg == "--control") {
            const std::string v(value());
            if (v.empty()) usage_error("--control needs - or a socket path");
            for (const std::string& c : o.controls)
                if (c == v) usage_error("--control " + v + " given twice");
            o.controls.push_back(v);
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

}  // namespace uhfsim_tool
