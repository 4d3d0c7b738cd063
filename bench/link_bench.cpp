// Link handles under load, against their limits:
//
//   many     N = 1, 2, 4, 8 links in N threads, each on its own reader (another process) paced at
//            115200 baud, 16-byte requests and 64-byte replies: aggregate exchanges per second
//            against N times the one-link figure (goal: at least 0.9; the line is the bound)
//   tcp      one exchange through ser2net against a raw socket round trip of the same frames
//            through the same server (goal: at most 1.2)
//   previous the default link's serial exchange against an earlier build of the library,
//            loaded beside this one (--previous LIB; goal: at most 1.1)
//
//   uhf_link_bench [--quick] [--only many|tcp|previous] [--previous PATH/libuhfreader.so.1]
#include <dlfcn.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/remote_reader.hpp"
#include "bench/table.hpp"
#include "tests/support/ser2net.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace {

using Clock = std::chrono::steady_clock;
using uhfbench::Row;

constexpr std::uint8_t kAddr = 0x01;
constexpr std::uint8_t kCmd = 0x28;
constexpr std::size_t kRequest = 16;
constexpr std::size_t kReply = 64;

struct Options {
    bool quick = false;
    std::string only;
    std::string previous;
};

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// A row of exchange times measured against the same exchange by other means.
Row against(const std::string &name, const std::vector<double> &samples, const std::vector<double> &limit,
            const std::string &limit_kind, double goal) {
    Row r;
    r.name = name;
    r.median = uhfbench::median(samples);
    r.p99 = uhfbench::percentile(samples, 99);
    r.limit = uhfbench::median(limit);
    r.limit_kind = limit_kind;
    r.goal_ratio = goal;
    r.samples = samples.size();
    return r;
}

uhf_link *open_or_die(const std::string &device) {
    uhf_link *l = nullptr;
    const int rc = uhf_open(&l, device.c_str(), kAddr);
    if (rc != 0) {
        std::fprintf(stderr, "uhf_link_bench: %s: %s\n", device.c_str(), uhf_strerror(rc, 0));
        std::exit(1);
    }
    return l;
}

bool exchange(uhf_link *l) {
    static const std::vector<std::uint8_t> req = uhfbench::request_pattern(kRequest);
    unsigned char reply[kReply];
    int len = 0;
    return uhf_exchange(l, kAddr, kCmd, req.data(), kRequest, reply, kReply, &len) == 0 && len == kReply;
}

// ---- many ----

double aggregate_rate(int n, double window_s) {
    std::vector<std::unique_ptr<uhfbench::RemoteReader>> readers;
    std::vector<uhf_link *> links;
    for (int i = 0; i < n; ++i) {
        readers.push_back(std::make_unique<uhfbench::RemoteReader>());
        readers.back()->plan({.reply_data = kReply, .baud = 115200});
        links.push_back(open_or_die(readers.back()->path()));
    }
    std::atomic<long> done{0};
    std::atomic<long> failed{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (uhf_link *l : links)
        threads.emplace_back([&, l] {
            while (!go) std::this_thread::yield();
            const auto t0 = Clock::now();
            while (seconds_since(t0) < window_s) (exchange(l) ? done : failed)++;
        });
    const auto t0 = Clock::now();
    go = true;
    for (std::thread &t : threads) t.join();
    const double elapsed = seconds_since(t0);
    for (uhf_link *l : links) uhf_close(l);
    if (failed != 0) std::fprintf(stderr, "uhf_link_bench: %ld failed exchanges with %d links\n", failed.load(), n);
    return static_cast<double>(done) / elapsed;
}

void many(const Options &o, std::vector<Row> &rows) {
    const double window = o.quick ? 0.3 : 4.0;
    const double one = aggregate_rate(1, window);
    for (int n : {1, 2, 4, 8}) {
        const double rate = n == 1 ? one : aggregate_rate(n, window);
        Row r;
        r.name = "links x" + std::to_string(n) + " 16/64 @115200";
        // Expressed as time per exchange, so the table's ratio reads "limit / achieved".
        r.median = 1.0 / rate;
        r.limit = 1.0 / (n * one);
        r.limit_kind = "N x one link";
        r.goal_ratio = 1.0 / 0.9;
        r.samples = 1;
        char note[96];
        std::snprintf(note, sizeof note, "%.0f exchanges/s in all (one link: %.0f/s)", rate, one);
        r.note = note;
        rows.push_back(r);
    }
}

// ---- tcp ----

// The request frame the library sends for the benchmark's exchange.
std::vector<std::uint8_t> request_frame() {
    const std::vector<std::uint8_t> data = uhfbench::request_pattern(kRequest);
    std::vector<std::uint8_t> f{0x10, 0x01};
    std::uint8_t sum = 0;
    auto field = [&](std::uint8_t b) {
        f.push_back(b);
        if (b == 0x10) f.push_back(b);
        else sum ^= b;
    };
    field(kAddr);
    field(kCmd);
    field(static_cast<std::uint8_t>(data.size()));
    for (std::uint8_t b : data) field(b);
    const std::uint8_t check = sum;
    f.push_back(check);
    if (check == 0x10) f.push_back(check);
    f.push_back(0x10);
    f.push_back(0x02);
    return f;
}

int connect_raw(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return -1;
    const int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

// The same frames by hand: write the request, read until the whole reply is in.
bool raw_round_trip(int s, const std::vector<std::uint8_t> &request, std::size_t reply_bytes) {
    if (send(s, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return false;
    std::uint8_t buf[4096];
    std::size_t got = 0;
    while (got < reply_bytes) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) return false;
        const ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void tcp(const Options &o, std::vector<Row> &rows) {
    if (std::string(UHF_SER2NET).empty()) {
        std::fprintf(stderr, "uhf_link_bench: ser2net not installed: tcp rows skipped\n");
        return;
    }
    uhfbench::RemoteReader reader;
    reader.plan({.reply_data = kReply});
    uhftest::Ser2net server(UHF_SER2NET, reader.path());
    if (!server.running()) {
        std::fprintf(stderr, "uhf_link_bench: ser2net did not start\n");
        return;
    }
    const std::vector<std::uint8_t> request = request_frame();
    const std::size_t reply_bytes = uhfbench::reply_wire(kAddr, kCmd, {.reply_data = kReply}).size();
    std::vector<double> lib, raw;
    const int blocks = o.quick ? 2 : 40;
    // Alternating blocks of five, so drift in the machine's load falls on both alike. The
    // server lets one client at a time in: each block connects anew (not timed).
    for (int b = 0; b < blocks; ++b) {
        {
            uhf_link *l = open_or_die(server.device());
            for (int i = 0; i < 5; ++i) {
                const auto t0 = Clock::now();
                if (exchange(l)) lib.push_back(seconds_since(t0));
            }
            uhf_close(l);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int s = connect_raw(server.port());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int i = 0; i < 5 && s >= 0; ++i) {
            const auto t0 = Clock::now();
            if (raw_round_trip(s, request, reply_bytes)) raw.push_back(seconds_since(t0));
        }
        if (s >= 0) close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    rows.push_back(against("tcp exchange 16/64 via ser2net", lib, raw, "raw round trip", 1.2));
}

// ---- previous ----

// One build of the library's designed interface, loaded on its own.
struct Library {
    explicit Library(const std::string &path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        link = reinterpret_cast<int (*)(int, const char *, int)>(dlsym(handle, "LinkCom_Path"));
        unlink = reinterpret_cast<int (*)()>(dlsym(handle, "UnLinkCom"));
        send_order = reinterpret_cast<int (*)()>(dlsym(handle, "PcSendOrder"));
        pc_id = static_cast<unsigned char *>(dlsym(handle, "pc_id"));
        cmd = static_cast<unsigned char *>(dlsym(handle, "IcCmd"));
        request = static_cast<unsigned char *>(dlsym(handle, "BlkAAdrBeg"));
        request_length = static_cast<unsigned char *>(dlsym(handle, "BlkALength"));
    }
    bool ok() const { return handle && link && unlink && send_order && pc_id && cmd && request && request_length; }
    bool run() const {
        static const std::vector<std::uint8_t> req = uhfbench::request_pattern(kRequest);
        *pc_id = kAddr;
        *cmd = kCmd;
        std::memcpy(request, req.data(), req.size());
        *request_length = kRequest;
        return send_order() == 0;
    }
    void *handle = nullptr;
    int (*link)(int, const char *, int) = nullptr;
    int (*unlink)() = nullptr;
    int (*send_order)() = nullptr;
    unsigned char *pc_id = nullptr, *cmd = nullptr, *request = nullptr, *request_length = nullptr;
};

void previous(const Options &o, std::vector<Row> &rows) {
    if (o.previous.empty()) {
        std::fprintf(stderr, "uhf_link_bench: no --previous library: that row is skipped (bench/link_compare runs it)\n");
        return;
    }
    Library now(UHF_LIBRARY_PATH), before(o.previous);
    if (!now.ok() || !before.ok()) {
        std::fprintf(stderr, "uhf_link_bench: cannot load %s or %s\n", UHF_LIBRARY_PATH, o.previous.c_str());
        return;
    }
    uhfbench::RemoteReader a, b;
    a.plan({.reply_data = kReply});
    b.plan({.reply_data = kReply});
    if (now.link(kAddr, a.path().c_str(), 115200) != 0 || before.link(kAddr, b.path().c_str(), 115200) != 0) {
        std::fprintf(stderr, "uhf_link_bench: a library did not link\n");
        return;
    }
    std::vector<double> t_now, t_before;
    const int blocks = o.quick ? 2 : 200;
    for (int k = 0; k < blocks; ++k) {
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            if (now.run()) t_now.push_back(seconds_since(t0));
        }
        for (int i = 0; i < 5; ++i) {
            const auto t0 = Clock::now();
            if (before.run()) t_before.push_back(seconds_since(t0));
        }
    }
    now.unlink();
    before.unlink();
    rows.push_back(against("default link pty 16/64", t_now, t_before, "earlier build", 1.1));
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") o.quick = true;
        else if (a == "--only" && i + 1 < argc) o.only = argv[++i];
        else if (a == "--previous" && i + 1 < argc) o.previous = argv[++i];
        else {
            std::fprintf(stderr, "usage: uhf_link_bench [--quick] [--only many|tcp|previous] [--previous LIB]\n");
            return 2;
        }
    }
    std::vector<Row> rows;
    if (o.only.empty() || o.only == "many") many(o, rows);
    if (o.only.empty() || o.only == "tcp") tcp(o, rows);
    if (o.only.empty() || o.only == "previous") previous(o, rows);
    uhfbench::print_table(stdout, rows);
    return 0;
}
