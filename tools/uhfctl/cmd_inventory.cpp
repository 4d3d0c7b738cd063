// inventory: rounds on every reader named, each reader in a thread of its own, through the
// inventory module (query, then the tag-list pages, read by a layout). The main thread waits for
// SIGINT/SIGTERM, redraws the table every second with --watch, and stops the readers.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "inventory/round.hpp"
#include "inventory/tag_tracker.hpp"
#include "uhfctl/commands.hpp"
#include "uhfctl/tag_table.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

// uhfctl counts every read since the start: nothing departs.
constexpr auto kNeverDeparts = std::chrono::hours(24 * 365);
// Pages shown as hex when the layout could not read them (or the raw layout is asked for).
constexpr std::size_t kPagesShown = 3;

struct Tally {
    inventory::TagTracker tracker{std::chrono::duration_cast<std::chrono::milliseconds>(kNeverDeparts)};
    long rounds = 0;
    long reads = 0;
    std::size_t unread_pages = 0;
    std::vector<inventory::RawPage> pages;
    inventory::Round failed;  // the round that failed, if one did
    bool done = false;
};

// What the reader threads share with the main thread.
class Shared {
public:
    explicit Shared(std::size_t readers) : tallies_(readers) {}

    template <class Fn>
    auto with(Fn fn) {
        std::lock_guard lock(mu_);
        return fn(tallies_);
    }
    void stop() {
        {
            std::lock_guard lock(mu_);
            stop_ = true;
        }
        changed_.notify_all();
    }
    // Waits out the pause between rounds; false once stopped.
    bool pause(int ms) {
        std::unique_lock lock(mu_);
        if (ms > 0) changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop_; });
        return !stop_;
    }

private:
    std::mutex mu_;
    std::condition_variable changed_;
    std::vector<Tally> tallies_;
    bool stop_ = false;
};

void read_rounds(Reader& r, std::size_t index, const Context& ctx, long rounds, Shared& shared) {
    const InventoryArgs& a = ctx.inv.inventory;
    const inventory::Layout layout = a.raw ? inventory::raw_layout() : inventory::virtual_layout();
    for (long done = 0; rounds == 0 || done < rounds; ++done) {
        if (!shared.pause(0)) break;
        inventory::Round round = inventory::run_round(r.link.get(), ctx.inv.reader.addr, a.families, layout);
        const bool failed = round.failed();
        shared.with([&](std::vector<Tally>& t) {
            Tally& mine = t[index];
            std::vector<inventory::TagEvent> arrivals;  // uhfctl shows the table, not the arrivals
            mine.tracker.observe(round.reads, inventory::Stamp::now(), arrivals);
            for (const auto& read : round.reads) mine.reads += read.tag.reads;
            for (auto& p : round.pages) {
                ++mine.unread_pages;
                if (mine.pages.size() < kPagesShown) mine.pages.push_back(std::move(p));
            }
            if (failed) mine.failed = std::move(round);
            else ++mine.rounds;
            return 0;
        });
        if (failed || (rounds != 0 && done + 1 >= rounds)) break;
        if (!shared.pause(a.interval_ms)) break;
    }
    shared.with([&](std::vector<Tally>& t) { return t[index].done = true; });
}

struct Picture {
    TagTable table;
    long rounds = 0, reads = 0;
    std::size_t unread_pages = 0;
    std::vector<std::pair<std::string, inventory::RawPage>> pages;
    bool all_done = true;
};

Picture picture(Session& session, Shared& shared) {
    std::vector<std::string> names;
    for (const Reader& r : session.readers.all()) names.push_back(r.name);
    Picture p{TagTable(names), 0, 0, 0, {}, true};
    shared.with([&](std::vector<Tally>& t) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            p.table.add(i, t[i].tracker.present());
            p.rounds = std::max(p.rounds, t[i].rounds);
            p.reads += t[i].reads;
            p.unread_pages += t[i].unread_pages;
            for (const auto& page : t[i].pages) p.pages.emplace_back(names[i], page);
            p.all_done = p.all_done && t[i].done;
        }
        return 0;
    });
    return p;
}

void show(const Context& ctx, Session& session, const Picture& p, double seconds, bool final, bool clear) {
    if (ctx.out.json()) {
        Json j{{"command", "inventory"}, {"ok", true}, {"final", final}, {"rounds", p.rounds}, {"reads", p.reads},
               {"seconds", seconds}};
        if (final) j["unparsed_lists"] = p.unread_pages;
        if (session.readers.size() > 1) {
            Json devices = Json::array();
            for (const Reader& r : session.readers.all()) devices.push_back(r.name);
            j["devices"] = devices;
        }
        j["tags"] = p.table.json(seconds);
        if (final && !p.pages.empty()) {
            Json pages = Json::array();
            for (const auto& [device, page] : p.pages)
                pages.push_back(Json{{"device", device}, {"family", inventory::name(page.family)},
                                     {"bytes", hex(page.bytes, "")}, {"why", page.why}});
            j["pages"] = pages;
        }
        ctx.out.emit(j);
        return;
    }
    std::string text = clear ? "\x1b[H\x1b[2J" : "";
    text += p.table.text(seconds, p.rounds, p.reads);
    if (final)
        for (const auto& [device, page] : p.pages)
            text += std::string(page.why.empty() ? "tag list page" : "tag list not read (" + page.why + ")") + ", " +
                    (session.readers.size() > 1 ? device + " " : "") + inventory::name(page.family) + ": " +
                    hex(page.bytes) + "\n";
    ctx.out.print(text);
}

}  // namespace

int run_inventory(const Context& ctx) {
    if (!ctx.inv.args.empty()) throw UsageError("inventory: unexpected argument '" + ctx.inv.args.front() + "'");
    const InventoryArgs& a = ctx.inv.inventory;
    const long rounds = a.rounds >= 0 ? a.rounds : a.watch ? 0 : 3;  // 0: until interrupted

    // Blocked before any thread starts (the virtual reader's included), so only the wait below
    // takes them and every reader finishes its exchange and closes cleanly.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    Session session;
    if (const int s = open_session(ctx, session, false); s != kExitOk) return s;
    Shared shared(session.readers.size());
    const auto t0 = Clock::now();
    const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
    const bool tty = ::isatty(STDOUT_FILENO) && !ctx.out.json();
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < session.readers.size(); ++i)
            threads.emplace_back(read_rounds, std::ref(session.readers.all()[i]), i, std::cref(ctx), rounds,
                                 std::ref(shared));
        auto last_draw = t0;
        for (;;) {
            const timespec tick{0, 100 * 1000 * 1000};
            if (sigtimedwait(&stop_signals, nullptr, &tick) > 0) break;
            const bool all_done = shared.with([](std::vector<Tally>& t) {
                for (const Tally& x : t)
                    if (!x.done) return false;
                return true;
            });
            if (all_done) break;
            if (a.watch && Clock::now() - last_draw >= std::chrono::seconds(1)) {
                last_draw = Clock::now();
                show(ctx, session, picture(session, shared), seconds(), false, tty);
            }
        }
        shared.stop();
    }
    const Picture p = picture(session, shared);
    show(ctx, session, p, seconds(), true, false);

    int status = kExitOk;
    shared.with([&](std::vector<Tally>& t) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            const inventory::Round& f = t[i].failed;
            if (f.failed()) status = std::max(status, ctx.out.failure(session.readers.all()[i].name, f.failed_call, f.failure, f.detail));
        }
        return 0;
    });
    return status;
}

}  // namespace uhfctl
