// demo: one tour of a reader (the virtual one when none is named): the link, the device, five
// inventory rounds, a tag memory write read back, random numbers from the FM151M, with timings.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "inventory/round.hpp"
#include "inventory/tag_tracker.hpp"
#include "uhfctl/commands.hpp"
#include "uhfctl/tag_table.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

// The narrative goes to stdout, or to stderr with --json (stdout then carries one summary).
class Narrative {
public:
    explicit Narrative(Output& out) : out_(out) {}
    void operator()(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char buf[2048];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        std::string text = buf;
        if (!out_.json()) {
            out_.print(text);
            return;
        }
        if (!text.empty() && text.back() == '\n') text.pop_back();
        out_.note(text);
    }

private:
    Output& out_;
};

}  // namespace

int run_demo(const Context& ctx) {
    if (!ctx.inv.args.empty()) throw UsageError("demo takes no arguments");
    Session session;
    if (const int s = open_session(ctx, session, true); s != kExitOk) return s;
    if (session.readers.size() != 1) throw UsageError("demo runs on one reader");
    Reader& r = session.readers.front();
    uhf_link* l = r.link.get();
    const int addr = ctx.inv.reader.addr;
    Output& out = ctx.out;
    Narrative say(out);
    struct Timing {
        std::string step;
        double ms;
    };
    std::vector<Timing> timings{{"link", r.link_ms}};
    const auto t_all = Clock::now();
    const auto fail = [&](const char* what, int rc) { return out.failure(r.name, what, rc, rc > 0 ? uhf_detail(l) : 0); };
    // A status-result command: a failed exchange, as opposed to the reader's refusal.
    const auto exchange_failed = [&](int rc) { return rc < 0 || (rc > 0 && (uhf_detail(l) != 0 || rc != uhf_status(l))); };

    say("== link\n");
    say("reader 0x%02X answers on %s in %.1f ms\n", addr, r.name.c_str(), r.link_ms);

    say("\n== device\n");
    auto t = Clock::now();
    std::uint8_t info[22], temp[1], power[3];
    if (int rc = uhf_GetDeviceInfo(l, addr, info)) return fail("GetDeviceInfo", rc);
    if (int rc = uhf_Read_DeviceTemp(l, addr, temp)) return fail("Read_DeviceTemp", rc);
    if (int rc = uhf_Get_RF_Power(l, addr, power)) return fail("Get_RF_Power", rc);
    timings.push_back({"device information", ms_since(t)});
    say("device information  %s  |%s|\n", hex(info).c_str(), printable(info).c_str());
    say("temperature         %d\n", static_cast<std::int8_t>(temp[0]));
    say("RF power            %s\n", hex(power).c_str());

    say("\n== inventory, 5 rounds over EPC, GB and GJB\n");
    t = Clock::now();
    inventory::TagTracker tracker(std::chrono::hours(24));
    long reads = 0;
    for (int i = 0; i < 5; ++i) {
        const inventory::Round round = inventory::run_round(
            l, addr, {inventory::Family::epc, inventory::Family::gb, inventory::Family::gjb}, inventory::virtual_layout());
        if (round.failed()) return out.failure(r.name, round.failed_call, round.failure, round.detail);
        std::vector<inventory::TagEvent> arrivals;
        tracker.observe(round.reads, inventory::Stamp::now(), arrivals);
        for (const auto& read : round.reads) reads += read.tag.reads;
    }
    const double inv_ms = ms_since(t);
    timings.push_back({"5 inventory rounds", inv_ms});
    TagTable table({r.name});
    const auto present = tracker.present();
    table.add(0, present);
    say("%s", table.text(inv_ms / 1000, 5, reads).c_str());

    say("\n== tag memory\n");
    t = Clock::now();
    const inventory::TagState* epc = nullptr;
    for (const auto& tag : present)
        if (tag.family == inventory::Family::epc) {
            epc = &tag;
            break;
        }
    bool memory_ok = false;
    if (!epc) {
        say("no EPC tag in the field; skipped\n");
    } else {
        // Single the tag out by its ID, then write four words of user memory and read them back.
        const std::vector<std::uint8_t>& id = epc->id;
        std::vector<std::uint8_t> select{static_cast<std::uint8_t>(4 + id.size()), 1, 0, static_cast<std::uint8_t>(id.size())};
        select.insert(select.end(), id.begin(), id.end());
        int rc = uhf_EPC_Write_Select_Para(l, addr, select.data());
        if (exchange_failed(rc)) return fail("EPC_Write_Select_Para", rc);
        std::uint8_t pattern[8];
        const auto seed = static_cast<unsigned long long>(Clock::now().time_since_epoch().count());
        for (int i = 0; i < 8; ++i) pattern[i] = static_cast<std::uint8_t>((seed >> (i * 3)) ^ (0x5A + i));
        std::uint8_t write[12] = {3, 0, 0, 4};
        std::memcpy(write + 4, pattern, 8);
        rc = uhf_EPC_Write_TAG(l, addr, write);
        if (exchange_failed(rc)) return fail("EPC_Write_TAG", rc);
        const int write_status = rc;
        std::uint8_t req[4] = {3, 0, 4, 0}, back[256] = {};
        rc = uhf_EPC_Read_TAG(l, addr, req, back);
        if (exchange_failed(rc)) return fail("EPC_Read_TAG", rc);
        memory_ok = write_status == 0 && rc == 0 && back[0] == 8 && std::memcmp(back + 1, pattern, 8) == 0;
        std::uint8_t every[1] = {1};
        uhf_EPC_Write_Select_Para(l, addr, every);
        say("tag %s\n  wrote user words 0-3  %s  (%s)\n  read back             %s  (%s)\n", hex(id, "").c_str(),
            hex(pattern).c_str(), status_text(write_status).c_str(),
            hex(std::span(back + 1, std::min<std::size_t>(back[0], 8))).c_str(), status_text(rc).c_str());
        say("  %s\n", memory_ok ? "read back what was written" : "MISMATCH: the read-back differs");
    }
    timings.push_back({"tag write + read-back", ms_since(t)});

    say("\n== FM151M random numbers\n");
    t = Clock::now();
    std::vector<std::uint8_t> rn(2 + 2048);
    const int rc = uhf_FM151M_Get_RN(l, addr, 16, rn.data());
    if (exchange_failed(rc)) return fail("FM151M_Get_RN", rc);
    const std::size_t c = std::min<std::size_t>((rn[0] << 8) | rn[1], 2046);
    timings.push_back({"16 random bytes", ms_since(t)});
    say("%s, %zu bytes: %s\n", status_text(rc).c_str(), c, hex(std::span(rn.data() + 2, c)).c_str());
    const bool rn_ok = rc == 0 && c == 16;

    say("\n== summary\n");
    for (const Timing& tm : timings) say("  %-24s %8.1f ms\n", tm.step.c_str(), tm.ms);
    say("  %-24s %8.1f ms\n", "total (after link)", ms_since(t_all));
    say("  %zu tags seen, tag memory %s, random numbers %s\n", present.size(),
        !epc ? "skipped" : memory_ok ? "ok" : "FAILED", rn_ok ? "ok" : "FAILED");
    const bool ok = (memory_ok || !epc) && rn_ok;
    if (out.json()) {
        Json steps = Json::array();
        for (const Timing& tm : timings) steps.push_back(Json{{"step", tm.step}, {"ms", tm.ms}});
        out.emit(Json{{"command", "demo"}, {"ok", ok}, {"device", r.name}, {"tags", present.size()},
                      {"tag_memory", !epc ? "skipped" : memory_ok ? "ok" : "failed"}, {"random_numbers", rn_ok},
                      {"timings", steps}, {"ms", ms_since(t_all)}});
    }
    return ok ? kExitOk : kExitStatus;
}

}  // namespace uhfctl
