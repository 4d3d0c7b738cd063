// GS1 EPC decoding and encoding cost per id, every scheme, with Google Benchmark; then SGTIN-96
// decoding here and in the npm peer epc-tds on the same ids, in the same run.
//
//   uhf_epc_bench [PEERS_DIR] [--quick]   PEERS_DIR holds node_modules/epc-tds (npm ci in
//                                          tests/peers); without it the comparison is skipped
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/epc/id_maker.hpp"
#include "uhfreader.h"

namespace {

constexpr int kIds = 1024;

struct Ids {
    std::vector<std::string> uris;
    std::vector<std::vector<unsigned char>> bytes;
};

Ids make_ids(const std::string &scheme) {
    Ids ids;
    std::mt19937_64 rng(2026);
    for (int i = 0; i < kIds; ++i) {
        std::string uri = epc_test::random_uri(scheme, rng);
        unsigned char out[UHF_EPC_BYTES_MAX];
        const int n = uhf_epc_encode(uri.c_str(), out, sizeof out);
        if (n <= 0) {
            std::fprintf(stderr, "%s: %s\n", uri.c_str(), uhf_epc_strerror(n));
            std::exit(1);
        }
        ids.uris.push_back(uri);
        ids.bytes.emplace_back(out, out + n);
    }
    return ids;
}

void decode(benchmark::State &state, const Ids *ids) {
    uhf_epc e;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto &b = ids->bytes[i++ & (kIds - 1)];
        if (uhf_epc_decode(b.data(), static_cast<int>(b.size()), &e) != 0) state.SkipWithError("refused");
        benchmark::DoNotOptimize(e.tag_uri[0]);
    }
    state.SetItemsProcessed(state.iterations());
}

void encode(benchmark::State &state, const Ids *ids) {
    unsigned char out[UHF_EPC_BYTES_MAX];
    std::size_t i = 0;
    for (auto _ : state) {
        const int n = uhf_epc_encode(ids->uris[i++ & (kIds - 1)].c_str(), out, sizeof out);
        if (n <= 0) state.SkipWithError("refused");
        benchmark::DoNotOptimize(out[0]);
    }
    state.SetItemsProcessed(state.iterations());
}

// SGTIN-96 decodes per second on one core, timed the way the peer is: passes over the ids.
double our_sgtin96_rate(const Ids &ids, double seconds) {
    uhf_epc e;
    std::size_t done = 0, sink = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
        for (const auto &b : ids.bytes) {
            uhf_epc_decode(b.data(), static_cast<int>(b.size()), &e);
            sink += static_cast<unsigned char>(e.tag_uri[20]);
        }
        done += ids.bytes.size();
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    benchmark::DoNotOptimize(sink);
    return static_cast<double>(done) / elapsed;
}

void compare_with_peer(const Ids &sgtin, const char *peers_dir, bool quick) {
    const double ours = our_sgtin96_rate(sgtin, quick ? 0.1 : 2.0);
    std::printf("\nSGTIN-96 decodes per second, one core (uri, tag URI and GS1 element string):\n");
    std::printf("  uhfreader  %12.0f\n", ours);
    if (!peers_dir) {
        std::printf("  epc-tds    (skipped: no peers directory given)\n");
        return;
    }
    const std::string list = "/tmp/uhf_epc_bench_ids.txt";
    {
        std::ofstream f(list);
        static const char d[] = "0123456789ABCDEF";
        for (const auto &b : sgtin.bytes) {
            for (unsigned char c : b) f << d[c >> 4] << d[c & 15];
            f << '\n';
        }
    }
    const std::string cmd = std::string("node '") + UHF_SOURCE_DIR + "/bench/epc_tds_rate.js' '" +
                            peers_dir + "' " + list;
    FILE *p = popen(cmd.c_str(), "r");
    double n = 0, secs = 0;
    const bool ok = p && std::fscanf(p, "%lf %lf", &n, &secs) == 2 && secs > 0;
    if (p) pclose(p);
    std::remove(list.c_str());
    if (!ok) {
        std::printf("  epc-tds    (node failed: %s)\n", cmd.c_str());
        return;
    }
    const double peer = n / secs;
    std::printf("  epc-tds    %12.0f   (node %s, id and tag URIs)\n", peer, "epc-tds 1.4.1");
    std::printf("  ratio      %12.1fx\n", ours / peer);
}

} // namespace

int main(int argc, char **argv) {
    const char *peers = nullptr;
    bool quick = false;
    std::vector<char *> args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else if (argv[i][0] != '-') peers = argv[i];
        else args.push_back(argv[i]);
    }
    static std::string min_time = quick ? "--benchmark_min_time=0.01" : "--benchmark_min_time=0.2";
    args.push_back(min_time.data());
    int n = static_cast<int>(args.size());

    std::vector<Ids> all;
    const auto names = epc_test::scheme_names();
    all.reserve(names.size());
    for (const auto &name : names) all.push_back(make_ids(name));
    for (std::size_t i = 0; i < names.size(); ++i)
        benchmark::RegisterBenchmark(("decode/" + names[i]).c_str(), decode, &all[i]);
    for (std::size_t i = 0; i < names.size(); ++i)
        benchmark::RegisterBenchmark(("encode/" + names[i]).c_str(), encode, &all[i]);
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == "sgtin-96") compare_with_peer(all[i], peers, quick);
    return 0;
}
