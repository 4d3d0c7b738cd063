// Whole serial exchanges, timed from the host process while the reader answers from another.
//
// Every library figure has a limit taken in the same run, against the same reader: on the
// pseudo-terminal, a client with no library in between (one blocking write of the prepared
// frame, a blocking read loop until the reply's last byte); at a modelled line rate, the time
// the frames' bytes need on the wire. Library and raw samples alternate in blocks, so a burst
// of load from elsewhere on the machine lands on both.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "bench/rows.hpp"
#include "sim/wire.hpp"
#include "transport/serial.hpp"
#include "uhfreader.h"

namespace uhfbench {
namespace {

constexpr std::uint8_t kAddr = 0x05;
constexpr std::uint8_t kCommand = 0x28;  // any command but the handshake: the long wait budget
constexpr int kLineBaud = 115200;       // what the host asks for; a pseudo-terminal ignores it

double mono_s() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// This process runs nothing but the exchange, so its CPU clock is the exchange's.
double cpu_s() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The line settings the library applies, so the raw client sees the same terminal. The old
// settings are read first, as the library's opener does, so the link limit makes the same calls.
void raw_settings(int fd) {
    termios old{};
    ::tcgetattr(fd, &old);
    termios r{};
    r.c_cflag = CREAD | CLOCAL | CS8;
    r.c_cc[VMIN] = 1;
    r.c_cc[VTIME] = 0;
    cfsetispeed(&r, B115200);
    cfsetospeed(&r, B115200);
    ::tcsetattr(fd, TCSANOW, &r);
}

// The no-library client: the frame prepared beforehand, one blocking write, and blocking reads
// until the reply's known length has arrived. Nothing is decoded or checked.
class RawClient {
public:
    explicit RawClient(const std::string &path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("raw client cannot open " + path);
        raw_settings(fd_);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    int fd() const { return fd_; }

    bool round_trip(const std::vector<std::uint8_t> &request, std::size_t reply_len) {
        if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            return false;
        return read_reply(fd_, reply_len);
    }

    static bool read_reply(int fd, std::size_t reply_len) {
        std::uint8_t buf[4096];
        std::size_t got = 0;
        while (got < reply_len) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            got += static_cast<std::size_t>(n);
        }
        return got == reply_len;
    }

private:
    int fd_ = -1;
};

// How the last failed library exchange ended, for the row's note.
std::string g_last_failure;

// A descriptor on the reader's line to drain after a failed exchange; -1 for none.
int g_drain_fd = -1;

// After a failure the reader may still be sending the abandoned reply. Waiting until the line
// has been quiet for a while keeps one failure from failing the exchanges after it.
void settle() {
    if (g_drain_fd < 0) return;
    std::uint8_t buf[4096];
    for (;;) {
        pollfd p{g_drain_fd, POLLIN, 0};
        if (::poll(&p, 1, 300) <= 0) return;
        if (::read(g_drain_fd, buf, sizeof buf) <= 0) return;
    }
}

struct Samples {
    std::vector<double> wall;
    std::vector<double> cpu;
    std::size_t failures = 0;
    std::string last_failure;
};

// Runs `fn` n times, recording wall and CPU time of each call.
void sample(Samples &s, std::size_t n, const std::function<bool()> &fn) {
    for (std::size_t i = 0; i < n; ++i) {
        const double c0 = cpu_s();
        const double t0 = mono_s();
        const bool ok = fn();
        const double t1 = mono_s();
        const double c1 = cpu_s();
        if (!ok) {
            ++s.failures;
            if (!g_last_failure.empty()) s.last_failure = g_last_failure;
            g_last_failure.clear();
            settle();
            continue;
        }
        s.wall.push_back(t1 - t0);
        s.cpu.push_back(c1 - c0);
    }
}

// Raw and library in alternating blocks after a short warm-up of each. The blocks are short:
// on a virtual machine the round trip switches between a fast and a slow mode (waking an idle
// virtual CPU) every few milliseconds, and long blocks catch different mixes of the two.
void alternate(Samples &raw, Samples &lib, std::size_t total, std::size_t block,
               const std::function<bool()> &raw_fn, const std::function<bool()> &lib_fn) {
    Samples warm;
    sample(warm, total < 20 ? 1 : 10, raw_fn);
    sample(warm, total < 20 ? 1 : 10, lib_fn);
    for (std::size_t done = 0; done < total; done += block) {
        const std::size_t n = std::min(block, total - done);
        sample(raw, n, raw_fn);
        sample(lib, n, lib_fn);
    }
}

std::string failures_note(const Samples &s) {
    if (!s.failures) return "";
    std::string note = std::to_string(s.failures) + " FAILED exchanges left out";
    if (!s.last_failure.empty()) note += " (" + s.last_failure + ")";
    return note;
}

Row make_row(std::string name, const std::vector<double> &v, double limit, std::string kind,
             const Samples &from) {
    Row r;
    r.name = std::move(name);
    r.median = median(v);
    r.p99 = percentile(v, 99);
    r.limit = limit;
    r.limit_kind = std::move(kind);
    r.samples = v.size();
    r.note = failures_note(from);
    return r;
}

// One library exchange with the benchmark's request, as a command function would run it.
int library_code(const std::vector<std::uint8_t> &data) {
    pc_id = kAddr;
    IcCmd = kCommand;
    if (!data.empty()) std::memcpy(BlkAAdrBeg, data.data(), data.size());
    BlkALength = static_cast<unsigned char>(data.size());
    return PcSendOrder();
}

// True when the exchange succeeded with the whole reply.
bool library_exchange(const std::vector<std::uint8_t> &data, std::size_t reply_data) {
    const int rc = library_code(data);
    if (rc == 0 && BlkBLength == reply_data) return true;
    g_last_failure = "last " + std::to_string(rc) + "/" + std::to_string(IcRetCode) + ", length " +
                     std::to_string(BlkBLength);
    return false;
}

struct Size {
    std::size_t request;
    std::uint16_t reply;
    double goal_ratio;
};

void pty_exchange_rows(RemoteReader &reader, RawClient &raw, const Options &opt, std::vector<Row> &rows,
                       Samples &cpu_raw_16, Samples &cpu_lib_16) {
    static constexpr Size kSizes[] = {{0, 0, 1.5}, {16, 64, 1.5}, {255, 2048, 2.0}};
    for (const Size &sz : kSizes) {
        ReplyPlan plan;
        plan.reply_data = sz.reply;
        reader.plan(plan);
        const std::vector<std::uint8_t> data = request_pattern(sz.request);
        const std::vector<std::uint8_t> frame = uhfsim::encode_request(kAddr, kCommand, data);
        const std::size_t reply_len = reply_wire(kAddr, kCommand, plan).size();

        Samples r;
        Samples l;
        const std::size_t n = opt.quick ? 20 : sz.reply > 1000 ? 1500 : 3000;
        alternate(r, l, n, 5, [&] { return raw.round_trip(frame, reply_len); },
                  [&] { return library_exchange(data, sz.reply); });

        const std::string size = std::to_string(sz.request) + "/" + std::to_string(sz.reply);
        Row row = make_row("serial exchange " + size + ", pty", l.wall, median(r.wall),
                           "raw round trip", l);
        row.goal_ratio = sz.goal_ratio;
        if (sz.reply <= 64) row.goal_abs = 1e-3;
        rows.push_back(row);
        if (sz.reply == 64) {
            cpu_raw_16 = r;
            cpu_lib_16 = l;
        }
    }
}

void line_rate_rows(RemoteReader &reader, RawClient &raw, const Options &opt, std::vector<Row> &rows,
                    Samples &cpu_raw_slow, Samples &cpu_lib_slow) {
    struct Line {
        unsigned baud;
        std::size_t request;
        std::uint16_t reply;
        std::size_t n;
    };
    static constexpr Line kLines[] = {{115200, 16, 64, 150}, {115200, 255, 2048, 12}, {9600, 16, 64, 20}};
    for (const Line &ln : kLines) {
        ReplyPlan plan;
        plan.reply_data = ln.reply;
        plan.baud = ln.baud;
        reader.plan(plan);
        const std::vector<std::uint8_t> data = request_pattern(ln.request);
        const std::vector<std::uint8_t> frame = uhfsim::encode_request(kAddr, kCommand, data);
        const std::size_t reply_len = reply_wire(kAddr, kCommand, plan).size();
        // The reply's last byte completes once both frames have crossed the line.
        const double wire = static_cast<double>(paced_arrival_ns(frame.size(), reply_len - 1, plan)) * 1e-9;

        Samples r;
        Samples l;
        const std::size_t n = opt.quick ? 2 : ln.n;
        alternate(r, l, n, opt.quick ? 1 : 5, [&] { return raw.round_trip(frame, reply_len); },
                  [&] { return library_exchange(data, ln.reply); });

        const std::string what = std::to_string(ln.request) + "/" + std::to_string(ln.reply) + " @" +
                                 std::to_string(ln.baud);
        Row lib_row = make_row("serial exchange " + what, l.wall, wire, "frames' wire time", l);
        lib_row.goal_ratio = 1.1;
        rows.push_back(lib_row);
        rows.push_back(make_row("  raw round trip " + what, r.wall, wire, "frames' wire time", r));
        if (ln.baud == 9600) {
            cpu_raw_slow = r;
            cpu_lib_slow = l;
        }
    }
}

void no_reply_rows(RemoteReader &reader, RawClient &raw, const Options &opt, std::vector<Row> &rows) {
    ReplyPlan plan;
    plan.silent = true;
    reader.plan(plan);
    // Quick mode shortens each attempt's wait; the budget of attempts is the library's own.
    if (opt.quick) uhf::serial::timing().first_byte_poll_ms = 5;
    const int poll_ms = uhf::serial::timing().first_byte_poll_ms;
    const double budget = 39.0 * poll_ms * 1e-3;  // 40 attempts, a wait between each two

    Samples l;
    const std::vector<std::uint8_t> data = request_pattern(16);
    sample(l, opt.quick ? 1 : 3, [&] { return library_code(data) == 234 && IcRetCode == 109; });
    uhf::serial::timing() = {};

    // The limit: the same span spent in one blocking poll on the silent line.
    Samples r;
    sample(r, 1, [&] {
        pollfd p{raw.fd(), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(budget * 1000)) == 0;
    });
    rows.push_back(make_row("CPU during a whole no-reply wait", l.cpu, median(r.cpu), "one blocking poll", l));
    rows.back().goal_abs = opt.quick ? 0 : 10e-3;
    rows.push_back(make_row("  wall time of that wait", l.wall, budget, "poll budget", l));
}

void link_rows(RemoteReader &reader, const std::string &path, const Options &opt, std::vector<Row> &rows) {
    reader.plan(ReplyPlan{});
    const std::vector<std::uint8_t> handshake = uhfsim::encode_request(kAddr, 0x00);
    const std::size_t reply_len = reply_wire(kAddr, 0x00, ReplyPlan{}).size();

    // The limit: open and configure the node, one handshake round trip, nothing checked.
    auto raw_link = [&] {
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return false;
        raw_settings(fd);
        ::tcflush(fd, TCIFLUSH);
        bool ok = ::write(fd, handshake.data(), handshake.size()) == static_cast<ssize_t>(handshake.size()) &&
                  RawClient::read_reply(fd, reply_len);
        ::close(fd);
        return ok;
    };
    auto lib_link = [&] {
        bool ok = LinkCom_Path(kAddr, path.c_str(), kLineBaud) == 0;
        UnLinkCom();
        return ok;
    };
    Samples r;
    Samples l;
    alternate(r, l, opt.quick ? 10 : 400, 5, raw_link, lib_link);
    Row row = make_row("LinkCom_Path to a present reader", l.wall, median(r.wall), "raw open+handshake", l);
    row.goal_abs = 2e-3;
    rows.push_back(row);
}

}  // namespace

std::vector<Row> serial_rows(RemoteReader &reader, const Options &opt) {
    std::vector<Row> rows;
    RawClient raw(reader.path());
    g_drain_fd = raw.fd();
    USB_Flag = 0;
    if (RS232_InitPort_Path(reader.path().c_str(), kLineBaud) != 0)
        throw std::runtime_error("library cannot open " + reader.path());

    Samples cpu_raw_16, cpu_lib_16, cpu_raw_slow, cpu_lib_slow;
    if (opt.wants("pty")) pty_exchange_rows(reader, raw, opt, rows, cpu_raw_16, cpu_lib_16);
    if (opt.wants("line")) line_rate_rows(reader, raw, opt, rows, cpu_raw_slow, cpu_lib_slow);
    if (opt.wants("pty"))
        rows.push_back(make_row("CPU per exchange 16/64, pty", cpu_lib_16.cpu, median(cpu_raw_16.cpu),
                                "raw client's CPU", cpu_lib_16));
    if (opt.wants("line"))
        rows.push_back(make_row("CPU per exchange 16/64 @9600", cpu_lib_slow.cpu,
                                median(cpu_raw_slow.cpu), "raw client's CPU", cpu_lib_slow));
    if (opt.wants("wait")) no_reply_rows(reader, raw, opt, rows);
    UnLinkCom();
    if (opt.wants("link")) link_rows(reader, reader.path(), opt, rows);
    g_drain_fd = -1;
    return rows;
}

}  // namespace uhfbench
