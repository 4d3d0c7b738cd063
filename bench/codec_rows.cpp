// Frame encoding and reply decoding per byte, with Google Benchmark choosing iteration counts.
//
// The limit for a codec is one pass that copies the same bytes and folds their checksum: any
// encoder or decoder has to do at least that much per byte.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench/rows.hpp"
#include "core/frame.hpp"
#include "sim/wire.hpp"

namespace uhfbench {
namespace {

constexpr std::uint8_t kAddr = 0x05;
constexpr std::uint8_t kCommand = 0x28;
constexpr double kByteAt115200 = 10.0 / 115200;

void encode_request(benchmark::State &state, std::vector<std::uint8_t> data) {
    std::uint8_t out[uhf::kMaxRequestFrame];
    for (auto _ : state) {
        benchmark::DoNotOptimize(data.data());
        std::size_t n = uhf::encode_request(kAddr, kCommand, data, out);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
}

void decode_reply(benchmark::State &state, std::vector<std::uint8_t> wire) {
    std::uint8_t data[uhf::kReplyCapacity];
    for (auto _ : state) {
        benchmark::DoNotOptimize(wire.data());
        // The first 0x10 is the wait's; decoding proper starts at the second byte.
        uhf::BufferSource src(std::span<const std::uint8_t>(wire).subspan(1));
        uhf::ReplyFields f;
        uhf::Outcome o = uhf::decode_reply_rest(src, uhf::Wire::serial, {kCommand, kAddr}, f, data);
        if (o.code != 0) state.SkipWithError("reply did not decode");
        benchmark::DoNotOptimize(data);
        benchmark::ClobberMemory();
    }
}

void copy_and_fold(benchmark::State &state, std::vector<std::uint8_t> bytes) {
    std::vector<std::uint8_t> out(bytes.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bytes.data());
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            out[i] = bytes[i];
            sum ^= bytes[i];
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

// Seconds per iteration of every repetition, by benchmark name.
class Collector final : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations == 0) continue;
            per_iteration[r.run_name.function_name].push_back(r.real_accumulated_time /
                                                              static_cast<double>(r.iterations));
        }
    }
    std::map<std::string, std::vector<double>> per_iteration;
};

}  // namespace

std::vector<Row> codec_rows(const Options &opt) {
    const std::vector<std::uint8_t> request = uhfsim::encode_request(kAddr, kCommand, request_pattern(255));
    const std::vector<std::uint8_t> reply =
        uhfsim::encode_reply({kAddr, kCommand, 0, reply_pattern(uhf::kReplyCapacity)});

    auto add = [&](const char *name, auto fn, const std::vector<std::uint8_t> &arg) {
        auto *b = benchmark::RegisterBenchmark(name, fn, arg);
        b->Repetitions(opt.quick ? 2 : 15)->MinTime(opt.quick ? 0.002 : 0.05);
    };
    add("encode", encode_request, request_pattern(255));
    add("encode_limit", copy_and_fold, request);
    add("decode", decode_reply, reply);
    add("decode_limit", copy_and_fold, reply);

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::ClearRegisteredBenchmarks();

    // Per byte of the frame as it travels, doubling included.
    auto per_byte = [&](const std::string &name, std::size_t bytes) {
        std::vector<double> v = collector.per_iteration[name];
        for (double &x : v) x /= static_cast<double>(bytes);
        return v;
    };
    std::vector<Row> rows;
    struct Item {
        const char *label;
        const char *name;
        std::size_t bytes;
    };
    const Item items[] = {{"encode 255-byte request, per byte", "encode", request.size()},
                          {"decode 2048-byte reply, per byte", "decode", reply.size()}};
    for (const Item &it : items) {
        std::vector<double> v = per_byte(it.name, it.bytes);
        std::vector<double> lim = per_byte(std::string(it.name) + "_limit", it.bytes);
        Row r;
        r.name = it.label;
        r.median = median(v);
        r.p99 = percentile(v, 99);
        r.limit = median(lim);
        r.limit_kind = "copy + checksum pass";
        r.samples = v.size();
        // What the figure is up against in use: one byte's time on the fastest line.
        char note[96];
        std::snprintf(note, sizeof note, "%.4f%% of a byte's wire time at 115200", r.median / kByteAt115200 * 100);
        r.note = note;
        rows.push_back(r);
    }
    return rows;
}

}  // namespace uhfbench
