// uhfctl: drives readers through the library's links from the command line. The command line
// is read once into an Invocation; each command runs from it and returns the exit status.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/devices.hpp"
#include "uhfctl/commands.hpp"

#ifndef UHFCTL_VERSION
#define UHFCTL_VERSION "unknown"
#endif

namespace {

using namespace uhfctl;

int dispatch(const Context& ctx) {
    const Invocation& inv = ctx.inv;
    if (inv.version) {
        ctx.out.print(std::string("uhfctl ") + UHFCTL_VERSION + ", library " + uhf_version() + "\n");
        return kExitOk;
    }
    if (inv.help || inv.command == "help") return run_help(ctx);
    if (inv.command.empty()) throw UsageError("no command given");
    if (inv.catalogue) return run_call(ctx);
    if (inv.command == "link") return run_link(ctx);
    if (inv.command == "info") return run_info(ctx);
    if (inv.command == "scan") return run_scan(ctx);
    if (inv.command == "inventory") return run_inventory(ctx);
    if (inv.command == "raw") return run_raw(ctx);
    if (inv.command == "demo") return run_demo(ctx);
    if (inv.command == "commands") return run_commands(ctx);
    if (inv.command == "epc") return run_epc(ctx);
    throw UsageError("unknown command '" + inv.command + "'");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef UHFCTL_TEST_HOOKS
    // Test seam, compiled only into the tests' build of uhfctl: device listing looks under a
    // scratch /dev and sysfs tree.
    const char* root = std::getenv("UHFCTL_TEST_ROOT");
    const std::string dev = root ? std::string(root) + "/dev" : "";
    const std::string sys = root ? std::string(root) + "/sys/class/tty" : "";
    const std::string by_id = root ? std::string(root) + "/dev/serial/by-id" : "";
    if (root) {
        const char* usb = std::getenv("UHFCTL_TEST_USB");
        uhf::devices::roots() = {dev.c_str(), sys.c_str(), by_id.c_str(), usb && std::string(usb) == "1"};
    }
#endif

    // Known before parsing, so even a usage error comes out as JSON when asked for.
    bool json = false;
    for (int i = 1; i < argc; ++i) json = json || std::string(argv[i]) == "--json";
    try {
        const Invocation inv = parse_command_line(argc, argv);
        Output out(inv.reader.json);
        return dispatch(Context{inv, out});
    } catch (const UsageError& e) {
        Output out(json);
        return out.failure(std::string(e.what()) + " (try 'uhfctl --help')", kExitUsage);
    }
}
