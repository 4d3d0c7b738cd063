// help, commands and --version: what uhfctl can do, from its own text and the library's catalogue.
#include <cstdio>
#include <map>

#include "uhfctl/call_args.hpp"
#include "uhfctl/catalog.hpp"
#include "uhfctl/commands.hpp"

namespace uhfctl {

namespace {

constexpr const char* kUsage =
    "usage: uhfctl [READER] [OPTIONS] COMMAND [ARGS]   (options may also follow the command)\n"
    "\n"
    "Reader (default: the device string in UHF_DEVICE):\n"
    "  --device DEV    a device string; repeat it to drive several readers at once:\n"
    "                    /dev/ttyUSB0, /dev/ttyUSB0@9600, serial:PATH[@BAUD]   a serial node\n"
    "                    usb, usb:1-2.3, usb:1.14, usb:serial=SERIAL          a USB reader\n"
    "                    tcp:HOST:PORT                                        a network serial server\n"
    "  --usb           the first USB reader (as --device usb)\n"
    "  --port N        /dev/ttySN, then /dev/ttyUSBN; 32 is USB\n"
    "  --sim           a virtual reader inside uhfctl (--sim-tags N, --sim-seed S)\n"
    "Options:\n"
    "  --baud B        line rate of serial devices named without one: 9600, 19200, 38400,\n"
    "                  57600 or 115200 (default 115200)\n"
    "  --addr A        reader address (default 0x01; 0xFF: any single reader)\n"
    "  --timeout MS    longest wait for a reply (and for a TCP connection); default: the\n"
    "                  library's (2 s for the handshake, 4 s for commands, 3 s to connect)\n"
    "  --attempts N    handshakes tried when linking (default 3)\n"
    "  --json          one JSON object per result on stdout\n"
    "  --trace         every frame as it went on and came off the wire, with its time, on stderr\n"
    "                  (JSON lines with --json)\n"
    "  --version       uhfctl's and the library's version\n"
    "\n"
    "Commands:\n"
    "  link                       prove a reader answers, with the time it took\n"
    "  info                       device information, address, temperature, RF power,\n"
    "                             work parameters\n"
    "  scan                       every serial node and USB reader on this machine (or the\n"
    "                             ones named), probed at every line rate\n"
    "  inventory [--watch] [--family epc|gb|gjb|all] [--rounds N] [--interval MS]\n"
    "            [--layout virtual|raw]\n"
    "                             tag-list rounds; tags and reads per second\n"
    "  raw CODE [HEX]             one exchange with any command code and request data\n"
    "  demo                       link, info, inventory, tag memory, random numbers\n"
    "  commands [--names]         every reader command with its arguments\n"
    "  help [COMMAND]             this text, or one command's\n"
    "  <command name> ARGS        any reader command by its name, e.g.\n"
    "                             uhfctl --sim EPC_Read_TAG 03000400\n"
    "\n"
    "Integers are decimal or 0x hex; blocks are hex (\"0a1b\", \"0a 1b\", \"0a:1b\") and must be\n"
    "exactly as long as the command sends: arguments out of range are refused, never cut.\n"
    "Exit status: 0 success, 1 the reader refused (a non-zero status byte) or scan found\n"
    "nothing, 2 usage, 3 no valid reply or the link failed.\n";

const std::map<std::string, const char*>& builtin_help() {
    static const std::map<std::string, const char*> help = {
        {"link", "usage: uhfctl [READER] link\n  Opens the link (the handshake, tried --attempts times) and prints the time it took.\n"},
        {"info", "usage: uhfctl [READER] info\n  Reads the device information, address, temperature, RF power and work parameters.\n"},
        {"scan", "usage: uhfctl [--device DEV ...] [--addr A] [--timeout MS] scan\n"
                 "  Lists every serial node (ttyS ports that exist, ttyUSB, ttyACM, with their\n"
                 "  /dev/serial/by-id names and adapters) and every USB reader (by port path), or\n"
                 "  takes the devices named, and probes each at 115200, 57600, 38400, 19200 and\n"
                 "  9600 baud with a handshake to A (default: any reader), all devices at once.\n"
                 "  Exit status 1 when no reader answers.\n"},
        {"inventory", "usage: uhfctl [READER...] inventory [--watch] [--family epc|gb|gjb|all]\n"
                      "                                     [--rounds N] [--interval MS] [--layout virtual|raw]\n"
                      "  Runs tag-list rounds (query, then the tag list) on every reader named and shows\n"
                      "  each tag with its reads (a column per reader when there are several). Without\n"
                      "  --watch: 3 rounds. With --watch: the table every second until interrupted (or N\n"
                      "  rounds). Tag lists are read in the virtual reader's layout; pages it cannot read\n"
                      "  (or every page, with --layout raw) are shown as hex.\n"},
        {"raw", "usage: uhfctl [READER] raw CODE [HEX]\n  One exchange with command CODE (0..255) and up to 255 request bytes; prints the\n  status byte and the reply data.\n"},
        {"demo", "usage: uhfctl [READER] demo\n  Links (to a virtual reader when none is named), shows the device, runs 5 inventory\n  rounds, writes and reads back 4 words of an EPC tag's user memory, asks the FM151M\n  for 16 random bytes and prints the timings.\n"},
        {"commands", "usage: uhfctl commands [--names]\n  Lists every reader command uhfctl can send by name (--names: the names alone).\n"},
        {"help", "usage: uhfctl help [COMMAND]\n  The overview, or one command's usage.\n"},
    };
    return help;
}

const char* copy_text(const uhf_command_info& c) {
    switch (c.copy) {
        case UHF_COPY_COUNTED: return "counted (byte 0 = n, then n bytes)";
        case UHF_COPY_SELF_COUNTED: return "self-counted (byte 0 = the length, itself included)";
        case UHF_COPY_TOTAL_LENGTH: return "total-length (bytes 0-1 = the whole length)";
        case UHF_COPY_STATUS_ECHO: return "status echo (reply byte 0 into block byte 0)";
        case UHF_COPY_FIXED: return "fixed";
        case UHF_COPY_TWO_BYTE: return "two-byte counted (bytes 0-1 = n, then n bytes)";
    }
    return "nothing copied";
}

void command_help(const Context& ctx, const uhf_command_info& c) {
    std::string text = std::string("usage: uhfctl [READER] ") + c.name;
    for (const uhf_arg_info* a : user_arguments(c)) text += " " + argument_word(*a);
    text += "\n  " + std::string(c.summary) + " (" + family_name(c.family) + ")\n";
    for (const uhf_arg_info* a : user_arguments(c)) text += "  " + argument_word(*a) + ": " + argument_rule(*a) + "\n";
    char line[256];
    std::snprintf(line, sizeof line, "  command code %d (0x%02X); reply: %s%s; result: %s\n", c.code, c.code, copy_text(c),
                  c.copy == UHF_COPY_FIXED ? (", " + std::to_string(c.copy_size) + " bytes").c_str() : "",
                  c.result == UHF_RESULT_STATUS ? "the reader's status byte" : "the exchange code (status byte shown)");
    text += line;
    text += c.changes ? "  may change the reader, a tag or a security module\n" : "  only reads\n";
    text += "  the bytes' meaning is the reader's; the virtual reader's: docs/simulator.md\n";
    ctx.out.print(text);
}

}  // namespace

int run_help(const Context& ctx) {
    // "uhfctl help X", or "uhfctl X --help".
    std::string topic = ctx.inv.command == "help" ? (ctx.inv.args.empty() ? "" : ctx.inv.args[0]) : ctx.inv.command;
    if (ctx.inv.command == "help" && ctx.inv.args.size() > 1) throw UsageError("help takes one command");
    if (topic.empty()) {
        ctx.out.print(kUsage);
        return kExitOk;
    }
    if (const uhf_command_info* c = find_command(topic)) {
        command_help(ctx, *c);
        return kExitOk;
    }
    if (auto it = builtin_help().find(topic); it != builtin_help().end()) {
        ctx.out.print(it->second);
        return kExitOk;
    }
    throw UsageError("no command '" + topic + "' ('uhfctl commands' lists them)");
}

int run_commands(const Context& ctx) {
    if (!ctx.inv.args.empty()) throw UsageError("commands takes no arguments");
    std::string text;
    int family = 0;
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info& c = *uhf_command_at(i);
        if (ctx.inv.names) {
            text += std::string(c.name) + "\n";
            continue;
        }
        if (c.family != family) text += std::string(family ? "\n" : "") + family_name(c.family) + ":\n";
        family = c.family;
        std::string args;
        for (const uhf_arg_info* a : user_arguments(c)) args += (args.empty() ? "" : " ") + argument_word(*a);
        char line[256];
        std::snprintf(line, sizeof line, "  %-24s %-16s 0x%02X  %s\n", c.name, args.c_str(), c.code, c.summary);
        text += line;
    }
    ctx.out.print(text);
    return kExitOk;
}

}  // namespace uhfctl
