// Samples, their order statistics, and the one table the runner prints.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace uhfbench {

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none. With fewer than 100
// samples the 99th percentile is the largest one.
double percentile(std::vector<double> samples, double p);
inline double median(std::vector<double> samples) { return percentile(std::move(samples), 50); }

// One line of the table. Times are in seconds; ratio = median / limit.
struct Row {
    std::string name;
    double median = 0;
    double p99 = 0;
    double limit = 0;
    std::string limit_kind;  // what the limit is, in a few words
    double goal_ratio = 0;   // 0: no ratio goal
    double goal_abs = 0;     // 0: no absolute goal on the median
    std::size_t samples = 0;
    std::string note;        // free text after the verdict

    double ratio() const { return limit > 0 ? median / limit : 0; }
    // "ok", "MISS" or "" when the row has no goal.
    std::string verdict() const;
};

// "41.2 us", "3.90 s", "2.1 ns": three significant figures in the largest fitting unit.
std::string format_time(double seconds);

void print_table(std::FILE *out, const std::vector<Row> &rows);

// One row as a tab-separated line and back, for rows measured by another process (the USB
// rows run under the emulated bus's preload). Tabs and newlines in text fields become spaces.
std::string row_to_line(const Row &r);
bool row_from_line(const std::string &line, Row &r);

}  // namespace uhfbench
