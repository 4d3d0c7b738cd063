#include "soak.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

#include "uhfreader.h"

namespace uhfsoak {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using uhfsim::Action;
using uhfsim::Reply;

constexpr std::uint8_t kDle = 0x10;
constexpr int kAnyCode = -2;  // any non-zero documented pair will do
constexpr int kKeep = -1;     // IcRetCode stays as the exchange left it at its start (0)

// The documented outcomes of one exchange on each transport (sending included, since the
// pseudo-terminal or device may refuse a write).
struct Pair {
    int code, detail;
};
constexpr Pair kSerialPairs[] = {
    {0, 0},     {225, 101}, {226, 101}, {227, 102}, {228, 103}, {229, 103}, {230, 105},
    {231, 107}, {232, 101}, {233, 101}, {234, 109}, {235, 110}, {236, 111}, {237, 112},
    {238, 111}, {239, 112}, {240, 112}, {241, 113}, {241, 114}, {242, 115}, {243, 116},
    {244, 117}, {245, 118}, {246, 117}, {247, 118}, {253, kKeep}, {254, kKeep}};
constexpr Pair kUsbPairs[] = {
    {0, 0},     {1, kKeep},  {235, 108}, {235, 110}, {236, 111}, {237, 112}, {238, 111},
    {239, 112}, {240, 112}, {241, 113}, {241, 114}, {242, 115}, {243, 116}, {244, 117},
    {245, 118}, {246, 117}, {247, 118}, {253, kKeep}};

bool documented(Transport t, int code, int detail) {
    auto match = [&](const Pair &p) {
        return p.code == code && (p.detail == kKeep ? detail == 0 : p.detail == detail);
    };
    return t == Transport::serial ? std::any_of(std::begin(kSerialPairs), std::end(kSerialPairs), match)
                                  : std::any_of(std::begin(kUsbPairs), std::end(kUsbPairs), match);
}

// Whether the code says the library gave up waiting, and it did wait its whole wait: then the
// reader's bytes came later than the wait however the fault was meant, as a starved simulator
// on a loaded machine makes them.
bool waited_out(const Config &cfg, std::uint8_t cmd, int code, int detail, long long ms) {
    const long long first_byte = cmd == 0 ? cfg.handshake_wait_ms : cfg.first_byte_wait_ms;
    if (cfg.transport == Transport::usb) return code == 235 && detail == 108 && ms >= first_byte;
    // Nothing, or only a byte other than 0x10, at the last attempt of the first-byte wait.
    if (code == 234 || (code == 235 && detail == 110)) return ms >= first_byte;
    const bool missing = code == 236 || code == 238 || code == 239 || code == 240 || code == 242 ||
                         code == 244 || code == 246 || (code == 241 && detail == 114);
    return missing && ms >= cfg.inter_byte_wait_ms;
}

// Data that often holds 0x10, so doubling is exercised everywhere.
Bytes random_bytes(Rng &rng, std::size_t n) {
    Bytes b(n);
    for (auto &x : b) x = rng.chance(125) ? kDle : rng.byte();
    return b;
}

std::uint8_t other_than(Rng &rng, std::uint8_t a, std::uint8_t b) {
    std::uint8_t v;
    do v = rng.byte();
    while (v == a || v == b);
    return v;
}

// Wire offsets of the bytes one may change without touching the doubling (a changed 0x10 or
// a changed partner of one): every field but the command, whose echo is tested on its own.
// `length` marks the two length bytes, whose change moves the frame's end as well.
struct Spot {
    std::size_t at;
    bool length;
};
std::vector<Spot> corruptible(const Bytes &wire) {
    std::vector<Spot> out;
    std::size_t field = 0;
    for (std::size_t i = 2; i + 2 < wire.size(); ++field) {
        const bool doubled = wire[i] == kDle;
        if (!doubled && field != 1) out.push_back({i, field == 3 || field == 4});
        i += doubled ? 2 : 1;
    }
    return out;
}

struct Plan {
    Fault fault = Fault::none;
    int code = 0;  // expected exchange code, or kAnyCode
    int detail = 0;
    long long late_ms = 0;  // when a late reply is sent, counted from the request
};

struct Exchange {
    std::uint8_t addr = 0, cmd = 0;
    Bytes request;
    Reply meant;
};

Plan inject(Reader &reader, Rng &rng, const Config &cfg, Fault fault, const Exchange &x) {
    const bool usb = cfg.transport == Transport::usb;
    const Reply &r = x.meant;
    Plan p{fault, 0, 0};
    switch (fault) {
    case Fault::none: reader.script(Action::reply(r)); break;
    case Fault::noise: {
        Bytes noise(1 + rng.below(8));
        for (auto &b : noise) b = other_than(rng, kDle, kDle);
        reader.script(Action::reply(r).with_noise(noise));
        // The serial wait skips bytes before the first 0x10; a USB transfer must start with it.
        if (usb) p = {fault, 235, 110};
        break;
    }
    case Fault::corrupt: {
        Bytes wire = uhfsim::encode_reply(r);
        const auto spots = corruptible(wire);
        if (spots.empty()) return inject(reader, rng, cfg, Fault::none, x);
        const Spot spot = spots[rng.below(spots.size())];
        wire[spot.at] = other_than(rng, wire[spot.at], kDle);
        reader.script(Action::raw(wire));
        // Any other change leaves the frame's shape and breaks the checksum.
        p = spot.length ? Plan{fault, kAnyCode, 0} : Plan{fault, 243, 116};
        break;
    }
    case Fault::drop: {
        Bytes wire = uhfsim::encode_reply(r);
        wire.erase(wire.begin() + static_cast<std::ptrdiff_t>(rng.below(wire.size())));
        reader.script(Action::raw(wire));
        p.code = kAnyCode;
        break;
    }
    case Fault::cut: {
        const std::size_t size = uhfsim::encode_reply(r).size();
        reader.script(Action::reply(r).cut_after(1 + rng.below(size - 1)));
        p.code = kAnyCode;
        break;
    }
    case Fault::split: {
        // At most six pieces, so a long reply split finely stays within the frame's bound.
        const std::size_t size = uhfsim::encode_reply(r).size();
        const std::size_t piece = std::max<std::size_t>(1 + rng.below(8), (size + 5) / 6);
        reader.script(Action::reply(r).chunked(piece, static_cast<int>(rng.below(cfg.split_gap_max_ms + 1))));
        // A USB reply must come in one transfer; each piece here ends one.
        if (usb && piece < size) p.code = kAnyCode;
        break;
    }
    case Fault::late:
        p.late_ms = cfg.first_byte_wait_ms + cfg.late_by_ms;
        reader.script(Action::reply(r).delayed(static_cast<int>(p.late_ms)));
        p.code = usb ? 235 : 234;
        p.detail = usb ? 108 : 109;
        break;
    case Fault::stale_before: {
        // What this reader said to the same command earlier; its status tells it from the fresh one.
        Reply old{r.addr, r.cmd, static_cast<std::uint8_t>(r.status ^ 0x5A), random_bytes(rng, rng.below(9))};
        reader.send_now(uhfsim::encode_reply(old));
        reader.settle(0);
        reader.script(Action::reply(r));
        break;
    }
    case Fault::stale_between: {
        Reply old{r.addr, other_than(rng, r.cmd, r.cmd), rng.byte(), random_bytes(rng, rng.below(9))};
        reader.script(Action::reply(old).then(Action::reply(r)));
        p.code = usb ? 237 : 254;
        p.detail = usb ? 112 : kKeep;
        break;
    }
    case Fault::wrong_address: {
        Reply other = r;
        other.addr = other_than(rng, r.addr, 0xFF);
        reader.script(Action::reply(other));
        p.code = 253;
        p.detail = kKeep;
        break;
    }
    case Fault::wrong_command: {
        Reply other = r;
        other.cmd = other_than(rng, r.cmd, r.cmd);
        reader.script(Action::reply(other));
        p.code = usb ? 237 : 254;
        p.detail = usb ? 112 : kKeep;
        break;
    }
    case Fault::count: break;
    }
    return p;
}

Fault pick(Rng &rng, const Config &cfg) {
    std::size_t roll = rng.below(1000);
    for (std::size_t k = 1; k < kFaultKinds; ++k) {
        if (roll < cfg.weights[k]) return static_cast<Fault>(k);
        roll -= cfg.weights[k];
    }
    return Fault::none;
}

}  // namespace

std::uint64_t Rng::next() {
    // splitmix64
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

const char *name(Fault f) {
    static const char *const names[] = {"none",         "noise",         "corrupt",       "drop",
                                        "cut",          "split",         "late",          "stale_before",
                                        "stale_between", "wrong_address", "wrong_command"};
    return f < Fault::count ? names[static_cast<std::size_t>(f)] : "?";
}

std::array<unsigned, kFaultKinds> default_weights(Transport t) {
    std::array<unsigned, kFaultKinds> w{};
    w[static_cast<std::size_t>(Fault::noise)] = 100;
    w[static_cast<std::size_t>(Fault::corrupt)] = 100;
    w[static_cast<std::size_t>(Fault::drop)] = 80;
    w[static_cast<std::size_t>(Fault::cut)] = 8;
    w[static_cast<std::size_t>(Fault::split)] = 60;
    w[static_cast<std::size_t>(Fault::late)] = 2;
    w[static_cast<std::size_t>(Fault::stale_before)] = 80;
    w[static_cast<std::size_t>(Fault::stale_between)] = 60;
    w[static_cast<std::size_t>(Fault::wrong_address)] = 50;
    w[static_cast<std::size_t>(Fault::wrong_command)] = 50;
    if (t == Transport::usb) {
        // Over USB a reply is only left waiting by an exchange that failed after sending, which
        // the late replies provide; nothing sits in the device before a request otherwise.
        w[static_cast<std::size_t>(Fault::stale_before)] = 0;
        w[static_cast<std::size_t>(Fault::late)] = 4;
    }
    return w;
}

Figures run(Reader &reader, const Config &cfg, const Progress &progress) {
    Figures fig;
    Rng rng(cfg.seed);
    const auto started = Clock::now();
    Fault previous = Fault::none;  // what the exchange before did, for the report
    int previous_rc = 0;
    Fault last = Fault::none;
    int last_rc = 0;
    auto problem = [&](std::size_t &counter, std::size_t i, Fault f, int rc, const std::string &what) {
        ++counter;
        if (fig.first_problems.size() < 10) {
            char line[200];
            std::snprintf(line, sizeof line, "seed %llu exchange %zu (%s, after %s/%d): code %d, detail %d: ",
                          static_cast<unsigned long long>(cfg.seed), i, name(f), name(previous), previous_rc, rc,
                          IcRetCode);
            fig.first_problems.push_back(line + what);
        }
    };

    for (std::size_t i = 0; i < cfg.exchanges; ++i) {
        if (progress && i != 0 && i % 1000 == 0) progress(i, fig);
        previous = last;
        previous_rc = last_rc;
        // Whatever the last fault left on its way (a late reply) arrives before this request.
        reader.settle(i == 0 ? 0 : 1);
        reader.clear_log();

        Exchange x;
        x.addr = rng.byte();
        if (x.addr == 0xFF) x.addr = 0xFE;  // a broadcast request accepts any replier
        x.cmd = rng.byte();
        if (x.cmd == 0x06) x.cmd = 0x07;  // the one command whose reply may come from anyone
        x.request = random_bytes(rng, rng.below(17));
        const std::size_t len = rng.chance(cfg.long_reply_per_mille) ? rng.below(2049)
                                                                      : rng.below(cfg.max_reply_data + 1);
        x.meant = Reply{x.addr, x.cmd, rng.chance(60) ? kDle : rng.byte(), random_bytes(rng, len)};
        // A USB reply must fit the one transfer the host reads it with.
        while (cfg.max_reply_frame && uhfsim::encode_reply(x.meant).size() > cfg.max_reply_frame)
            x.meant.data.resize(x.meant.data.size() > 16 ? x.meant.data.size() - 16 : 0);

        const Plan plan = inject(reader, rng, cfg, pick(rng, cfg), x);
        KindFigures &kind = fig.by_kind[static_cast<std::size_t>(plan.fault)];
        ++kind.injected;

        pc_id = x.addr;
        IcCmd = x.cmd;
        std::copy(x.request.begin(), x.request.end(), BlkAAdrBeg);
        BlkALength = static_cast<unsigned char>(x.request.size());
        const auto t0 = Clock::now();
        const int rc = PcSendOrder();
        last = plan.fault;
        last_rc = rc;
        const auto took = Clock::now() - t0;
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
        kind.total_ms += std::chrono::duration<double, std::milli>(took).count();
        ++fig.exchanges;
        kind.max_ms = std::max(kind.max_ms, ms);
        fig.max_ms = std::max(fig.max_ms, ms);
        if (ms > cfg.bound_ms) problem(fig.hangs, i, plan.fault, rc, "took " + std::to_string(ms) + " ms");

        const int detail = IcRetCode;
        const bool slow = waited_out(cfg, x.cmd, rc, detail, ms);
        // A late reply taken because the attempt-counted wait itself ran long is this request's.
        const bool late_in_slow_wait = plan.fault == Fault::late && rc == 0 && ms >= plan.late_ms;

        // A starved simulator may not even have read the request yet.
        reader.settle(1);
        const auto seen = reader.requests();
        if (seen.size() != 1 || seen[0].addr != x.addr || seen[0].cmd != x.cmd || seen[0].data != x.request)
            problem(fig.request_mismatch, i, plan.fault, rc,
                    "reader saw " + std::to_string(seen.size()) + " requests");

        // Over USB a failed exchange's leftovers are drained before the next request for as long
        // as the device keeps handing them over; one that comes later still is refused as the
        // next exchange's reply (its command or address differs), never taken for it.
        const bool leftovers = cfg.transport == Transport::usb && previous_rc != 0 &&
                               (previous == Fault::split || previous == Fault::stale_between ||
                                previous == Fault::late);
        const bool leftover_refused = leftovers && rc == 237 && detail == 112;
        if (!documented(cfg.transport, rc, detail)) {
            problem(fig.wrong_code, i, plan.fault, rc, "undocumented pair");
        } else if (plan.code != 0 && plan.code != kAnyCode && !late_in_slow_wait &&
                   (rc != plan.code || (plan.detail == kKeep ? detail != 0 : detail != plan.detail))) {
            if (slow && rc != 0)
                ++fig.waited_out;
            else if (leftover_refused)
                ++fig.refused_after_leftovers;
            else
                problem(fig.wrong_code, i, plan.fault, rc, "expected " + std::to_string(plan.code));
        }

        // Whatever the reply announced, no length past the reply area is left for a caller.
        if (BlkBLength > sizeof BlkBAdrBeg)
            problem(fig.wrong_code, i, plan.fault, rc, "BlkBLength " + std::to_string(BlkBLength));

        if (rc != 0) {
            ++kind.rejected;
            if (plan.code == 0 && leftovers)
                ++fig.refused_after_leftovers;
            else if (plan.code == 0 && slow)
                ++fig.waited_out;
            else if (plan.code == 0)
                problem(fig.benign_rejected, i, plan.fault, rc, "harmless fault refused");
            continue;
        }
        ++kind.accepted;
        const Reply &m = x.meant;
        const bool exact = ErrorCode == m.status && BlkBLength == m.data.size() &&
                           std::equal(m.data.begin(), m.data.end(), BlkBAdrBeg) &&
                           std::all_of(BlkBAdrBeg + m.data.size(), BlkBAdrBeg + sizeof BlkBAdrBeg,
                                       [](std::uint8_t b) { return b == 0; });
        if (late_in_slow_wait)
            ++fig.late_within_slow_wait;
        else if (plan.code != 0)
            problem(fig.false_success, i, plan.fault, rc, "damaged reply accepted");
        if (!exact) problem(fig.misattributed, i, plan.fault, rc, "accepted data differ from the reply sent");
    }
    reader.settle(cfg.exchanges ? 1 : 0);
    fig.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return fig;
}

std::string Figures::report() const {
    std::string s;
    char line[200];
    std::snprintf(line, sizeof line, "exchanges %zu in %.1f s, longest %lld ms\n", exchanges, seconds, max_ms);
    s += line;
    s += "fault            injected  accepted  rejected   mean ms  longest ms\n";
    for (std::size_t k = 0; k < kFaultKinds; ++k) {
        const KindFigures &f = by_kind[k];
        std::snprintf(line, sizeof line, "%-15s %9zu %9zu %9zu %9.2f %11lld\n", name(static_cast<Fault>(k)),
                      f.injected, f.accepted, f.rejected, f.injected ? f.total_ms / f.injected : 0.0,
                      f.max_ms);
        s += line;
    }
    std::snprintf(line, sizeof line,
                  "misattributed %zu, failures reported as success %zu, harmless faults refused %zu,\n"
                  "wrong codes %zu, hangs %zu, requests not as made %zu\n",
                  misattributed, false_success, benign_rejected, wrong_code, hangs, request_mismatch);
    s += line;
    std::snprintf(line, sizeof line,
                  "load: waits that ran out before the reader's bytes came %zu, late replies within a "
                  "slowed wait %zu\n",
                  waited_out, late_within_slow_wait);
    s += line;
        if (refused_after_leftovers) {
        std::snprintf(line, sizeof line, "refused: a late leftover of the exchange before came first %zu\n",
                      refused_after_leftovers);
        s += line;
    }
    for (const std::string &p : first_problems) s += "  " + p + "\n";
    return s;
}

}  // namespace uhfsoak
