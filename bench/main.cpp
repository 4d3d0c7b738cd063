// The benchmark runner: measures every row with its limit in the same run, prints one table.
//
//   uhf_bench           the full run (about a minute)
//   uhf_bench --quick   a few samples per row, to prove the rows run; the figures mean nothing
//   uhf_bench --only G  one group of rows, e.g. under strace or perf
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "bench/rows.hpp"

namespace {

// One-minute load average, or -1 where the system does not say.
double load_now() {
    double load[1] = {-1};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void print_conditions(bool quick, double load_at_start) {
    char when[64] = "";
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &utc);
    double load[3] = {0, 0, 0};
    const int have_load = getloadavg(load, 3);
    utsname u{};
    uname(&u);
    std::printf("uhfreader benchmarks%s: %s, %ld cores, load %.2f at start, %.2f %.2f %.2f at end, %s %s\n",
                quick ? " (quick mode: figures not meaningful)" : "", when, sysconf(_SC_NPROCESSORS_ONLN),
                load_at_start, have_load == 3 ? load[0] : -1.0, have_load == 3 ? load[1] : -1.0,
                have_load == 3 ? load[2] : -1.0, u.sysname, u.release);
}

// The USB rows come from their own process, started under the emulated bus's preload.
std::vector<uhfbench::Row> usb_rows(const uhfbench::Options &opt) {
    uhfbench::Row missing;
    missing.name = "USB exchange";
#if defined(UHF_BENCH_USB) && defined(UHF_UMOCKDEV_WRAPPER)
    const std::string wrapper = UHF_UMOCKDEV_WRAPPER;
    if (wrapper.empty()) {
        missing.note = "not measured: umockdev-wrapper not found";
        return {missing};
    }
    const std::string cmd = "'" + wrapper + "' '" UHF_BENCH_USB "'" + (opt.quick ? " --quick" : "");
    std::vector<uhfbench::Row> rows;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char line[1024];
        while (std::fgets(line, sizeof line, p) != nullptr) {
            std::string s(line);
            if (!s.empty() && s.back() == '\n') s.pop_back();
            uhfbench::Row r;
            if (s.rfind("ROW\t", 0) == 0 && uhfbench::row_from_line(s.substr(4), r)) rows.push_back(r);
        }
        const int status = pclose(p);
        if (status != 0 && rows.empty()) missing.note = "not measured: the USB runner failed";
    }
    if (rows.empty() && missing.note.empty()) missing.note = "not measured: the USB runner printed no rows";
    if (rows.empty()) rows.push_back(missing);
    return rows;
#else
    (void)opt;
    missing.note = "not measured: built without the emulated USB device (umockdev)";
    return {missing};
#endif
}

}  // namespace

int main(int argc, char **argv) {
    uhfbench::Options opt;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            opt.quick = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            opt.only = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--only pty|line|wait|link|codec|usb]\n", argv[0]);
            return 2;
        }
    }
    const double load_at_start = load_now();
    try {
        // Forked before anything else runs, so the reader's process starts from a quiet copy.
        uhfbench::RemoteReader reader;
        std::vector<uhfbench::Row> rows = uhfbench::serial_rows(reader, opt);
        if (opt.wants("codec"))
            for (uhfbench::Row &r : uhfbench::codec_rows(opt)) rows.push_back(std::move(r));
        if (opt.wants("usb"))
            for (uhfbench::Row &r : usb_rows(opt)) rows.push_back(std::move(r));
        // A handful of samples judges nothing: quick mode shows no verdicts.
        if (opt.quick)
            for (uhfbench::Row &r : rows) r.goal_ratio = r.goal_abs = 0;
        print_conditions(opt.quick, load_at_start);
        uhfbench::print_table(stdout, rows);
        // A row whose every exchange failed is broken, quick mode or not. A stray failure is
        // shown in its row's note: a reader process stalled past the library's inter-byte
        // bound by a busy machine looks the same, and must not make CI flaky.
        for (const uhfbench::Row &r : rows)
            if (r.samples == 0 && r.note.find("FAILED") != std::string::npos) return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "uhf_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
