#include "bench/table.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace uhfbench {

double percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    // Nearest rank: the smallest sample with at least p% of the samples at or below it.
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    std::size_t i = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    if (i >= samples.size()) i = samples.size() - 1;
    return samples[i];
}

std::string Row::verdict() const {
    if (goal_ratio <= 0 && goal_abs <= 0) return "";
    bool ok = true;
    // A ratio goal without a measured limit has not been met, whatever ratio() says.
    if (goal_ratio > 0 && (limit <= 0 || !(ratio() <= goal_ratio))) ok = false;
    if (goal_abs > 0 && !(median < goal_abs)) ok = false;
    return ok ? "ok" : "MISS";
}

std::string format_time(double seconds) {
    struct Scale {
        double factor;
        const char *unit;
    };
    static constexpr Scale scales[] = {{1, "s"}, {1e3, "ms"}, {1e6, "us"}, {1e9, "ns"}};
    const double a = std::fabs(seconds);
    const Scale *s = &scales[3];
    for (const Scale &c : scales) {
        if (a * c.factor >= 1) {
            s = &c;
            break;
        }
    }
    const double v = seconds * s->factor;
    char buf[32];
    const int decimals = std::fabs(v) >= 100 ? 0 : std::fabs(v) >= 10 ? 1 : 2;
    std::snprintf(buf, sizeof buf, "%.*f %s", decimals, v, s->unit);
    return buf;
}

namespace {

std::string goal_text(const Row &r) {
    char buf[64] = "";
    if (r.goal_ratio > 0 && r.goal_abs > 0)
        std::snprintf(buf, sizeof buf, "<=%.1fx, <%s", r.goal_ratio, format_time(r.goal_abs).c_str());
    else if (r.goal_ratio > 0)
        std::snprintf(buf, sizeof buf, "<=%.1fx", r.goal_ratio);
    else if (r.goal_abs > 0)
        std::snprintf(buf, sizeof buf, "<%s", format_time(r.goal_abs).c_str());
    return buf;
}

}  // namespace

void print_table(std::FILE *out, const std::vector<Row> &rows) {
    std::size_t name_w = 4;
    std::size_t kind_w = 5;
    for (const Row &r : rows) {
        name_w = std::max(name_w, r.name.size());
        kind_w = std::max(kind_w, r.limit_kind.size());
    }
    const int nw = static_cast<int>(name_w);
    const int kw = static_cast<int>(kind_w);
    std::fprintf(out, "%-*s %6s %10s %10s %10s  %-*s %8s  %-16s %s\n", nw, "row", "n", "median", "p99",
                 "limit", kw, "limit is", "ratio", "goal", "verdict");
    for (const Row &r : rows) {
        char ratio[16] = "-";
        if (r.limit > 0 && r.samples > 0) std::snprintf(ratio, sizeof ratio, "%.2fx", r.ratio());
        const bool measured = r.samples > 0;
        std::fprintf(out, "%-*s %6zu %10s %10s %10s  %-*s %8s  %-16s %s%s%s\n", nw, r.name.c_str(),
                     r.samples, measured ? format_time(r.median).c_str() : "-",
                     measured ? format_time(r.p99).c_str() : "-",
                     r.limit > 0 ? format_time(r.limit).c_str() : "-", kw, r.limit_kind.c_str(), ratio,
                     goal_text(r).c_str(), r.verdict().c_str(), r.note.empty() ? "" : "  ",
                     r.note.c_str());
    }
}

namespace {

std::string clean(std::string s) {
    for (char &c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace

std::string row_to_line(const Row &r) {
    char nums[160];
    std::snprintf(nums, sizeof nums, "%zu\t%.9g\t%.9g\t%.9g\t%.9g\t%.9g", r.samples, r.median, r.p99,
                  r.limit, r.goal_ratio, r.goal_abs);
    return clean(r.name) + "\t" + nums + "\t" + clean(r.limit_kind) + "\t" + clean(r.note);
}

bool row_from_line(const std::string &line, Row &r) {
    std::vector<std::string> f;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
    if (line.ends_with('\t')) f.emplace_back();
    if (f.size() != 9 || f[0].empty()) return false;
    auto number = [](const std::string &s, double &out) {
        char *end = nullptr;
        out = std::strtod(s.c_str(), &end);
        return !s.empty() && end != nullptr && *end == '\0';
    };
    Row parsed;
    parsed.name = f[0];
    double samples = 0;
    if (!number(f[1], samples) || samples < 0 || !number(f[2], parsed.median) || !number(f[3], parsed.p99) ||
        !number(f[4], parsed.limit) || !number(f[5], parsed.goal_ratio) || !number(f[6], parsed.goal_abs))
        return false;
    parsed.samples = static_cast<std::size_t>(samples);
    parsed.limit_kind = f[7];
    parsed.note = f[8];
    r = parsed;
    return true;
}

}  // namespace uhfbench
