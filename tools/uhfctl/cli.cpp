// The command line, read by CLI11: reader options are accepted before or after the command,
// commands are the built-in ones plus every catalogue command by its name in any case.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>

#include "sim/model.hpp"
#include "uhfctl/catalog.hpp"
#include "uhfctl/options.hpp"
#include "uhfctl/text.hpp"

namespace uhfctl {

namespace {

constexpr const char* kBuiltins[] = {"link", "info", "scan", "inventory", "raw", "demo", "commands", "help", "epc"};

long long integer(const std::string& option, const std::string& text, long long lo, long long hi) {
    const auto v = parse_int(text, lo, hi);
    if (!v)
        throw UsageError(option + ": '" + text + "' is not an integer in " + std::to_string(lo) + ".." +
                         std::to_string(hi));
    return *v;
}

// Options CLI11 collects as text, checked here so every message has the same form.
struct RawOptions {
    std::string port, sim_tags, sim_seed, baud, addr, timeout, attempts;
    std::string rounds, interval, layout;
    std::vector<std::string> families;
};

void check_reader_options(const RawOptions& raw, ReaderOptions& r) {
    if (!raw.port.empty()) r.port = static_cast<int>(integer("--port", raw.port, 0, 255));
    if (!raw.sim_tags.empty())
        r.sim_tags = static_cast<std::size_t>(integer("--sim-tags", raw.sim_tags, 0, uhfsim::ReaderModel::kMaxTags));
    if (!raw.sim_seed.empty()) r.sim_seed = static_cast<std::uint32_t>(integer("--sim-seed", raw.sim_seed, 0, 0xFFFFFFFFLL));
    if (!raw.baud.empty()) {
        r.baud = static_cast<int>(integer("--baud", raw.baud, 1, 4000000));
        if (r.baud != 9600 && r.baud != 19200 && r.baud != 38400 && r.baud != 57600 && r.baud != 115200)
            throw UsageError("--baud: the library drives 9600, 19200, 38400, 57600 or 115200");
    }
    if (!raw.addr.empty()) {
        r.addr = static_cast<int>(integer("--addr", raw.addr, 0, 255));
        r.addr_given = true;
    }
    if (!raw.timeout.empty()) r.timeout_ms = static_cast<int>(integer("--timeout", raw.timeout, 1, 600000));
    if (!raw.attempts.empty()) r.attempts = static_cast<int>(integer("--attempts", raw.attempts, 1, 100));
}

void check_inventory_options(const RawOptions& raw, InventoryArgs& a) {
    if (!raw.rounds.empty()) a.rounds = integer("inventory: --rounds", raw.rounds, 1, 1000000);
    if (!raw.interval.empty()) a.interval_ms = static_cast<int>(integer("inventory: --interval", raw.interval, 0, 60000));
    if (!raw.families.empty()) {
        a.families.clear();
        for (const std::string& f : raw.families) {
            std::string lower = f;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            if (lower == "all") {
                a.families = {inventory::Family::epc, inventory::Family::gb, inventory::Family::gjb};
                break;
            }
            const auto fam = inventory::parse_family(f);
            if (!fam) throw UsageError("inventory: --family is epc, gb, gjb or all, not '" + f + "'");
            if (std::find(a.families.begin(), a.families.end(), *fam) == a.families.end()) a.families.push_back(*fam);
        }
    }
    if (!raw.layout.empty()) {
        if (raw.layout != "virtual" && raw.layout != "raw")
            throw UsageError("inventory: --layout is virtual or raw, not '" + raw.layout + "'");
        a.raw = raw.layout == "raw";
    }
}

}  // namespace

Invocation parse_command_line(int argc, char** argv) {
    Invocation inv;
    RawOptions raw;
    ReaderOptions& r = inv.reader;

    CLI::App app{"uhfctl"};
    app.set_help_flag();
    app.allow_extras();
    app.require_subcommand(0, 1);
    app.add_flag("-h,--help", inv.help);
    app.add_flag("--version", inv.version);
    // Repeatable: one reader per --device.
    app.add_option("--device", r.devices)->expected(1)->take_all();
    app.add_option("--port", raw.port);
    app.add_flag("--usb", r.usb);
    app.add_flag("--sim", r.sim);
    app.add_option("--sim-tags", raw.sim_tags);
    app.add_option("--sim-seed", raw.sim_seed);
    app.add_option("--baud", raw.baud);
    app.add_option("--addr", raw.addr);
    app.add_option("--timeout", raw.timeout);
    app.add_option("--attempts", raw.attempts);
    app.add_flag("--json", r.json);
    app.add_flag("--trace", r.trace);

    std::vector<CLI::App*> subs;
    const auto command = [&](const std::string& name) {
        CLI::App* sub = app.add_subcommand(name);
        sub->set_help_flag();
        sub->add_flag("-h,--help", inv.help);
        sub->fallthrough();
        subs.push_back(sub);
        return sub;
    };
    for (const char* name : kBuiltins) {
        CLI::App* sub = command(name);
        if (std::string(name) == "inventory") {
            sub->add_flag("--watch", inv.inventory.watch);
            sub->add_option("--rounds", raw.rounds);
            sub->add_option("--interval", raw.interval);
            sub->add_option("--family", raw.families)->expected(1)->take_all();
            sub->add_option("--layout", raw.layout);
        } else if (std::string(name) == "epc") {
            sub->add_flag("--write", inv.epc_write);
        } else if (std::string(name) == "commands") {
            sub->add_flag("--names", inv.names);
        }
        sub->add_option("args", inv.args);
    }
    for (int i = 0; i < uhf_command_count(); ++i) {
        CLI::App* sub = command(uhf_command_at(i)->name);
        sub->ignore_case();
        sub->add_option("args", inv.args);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        throw UsageError(e.what());
    }
    for (CLI::App* sub : subs)
        if (sub->parsed()) inv.command = sub->get_name();
    inv.catalogue = find_command(inv.command);

    // Everything CLI11 did not take: an unknown option, an unknown command, or a surplus word.
    const std::vector<std::string> extras = app.remaining();
    if (!extras.empty()) {
        const std::string& first = extras.front();
        if (first.size() > 1 && first[0] == '-' && !parse_int(first, -(1LL << 40), 1LL << 40))
            throw UsageError("unknown option '" + first + "'");
        if (inv.command.empty()) throw UsageError("unknown command '" + first + "' ('uhfctl commands' lists them)");
        throw UsageError(inv.command + ": unexpected argument '" + first + "'");
    }
    check_reader_options(raw, r);
    if (inv.command == "inventory") check_inventory_options(raw, inv.inventory);
    if (inv.catalogue) inv.command = inv.catalogue->name;
    return inv;
}

}  // namespace uhfctl
