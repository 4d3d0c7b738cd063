// What the command line asked for, as plain data: the readers, the command and its arguments.
// Parsed once in main and handed down; nothing here changes afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "inventory/family.hpp"
#include "uhfreader.h"

namespace uhfctl {

// Exit statuses (the man page lists them).
inline constexpr int kExitOk = 0;
inline constexpr int kExitStatus = 1;   // the reader refused (a non-zero status byte), or nothing found
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFailure = 3;  // no valid reply, or the link failed

// A command line that cannot run as given; the message names the argument.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ReaderOptions {
    std::vector<std::string> devices;  // device strings, in the order given
    int port = -1;                     // --port N
    bool usb = false;
    bool sim = false;
    std::size_t sim_tags = 8;
    std::uint32_t sim_seed = 1;
    int baud = 0;  // 0: what the device string says (115200 by default)
    int addr = 0x01;
    bool addr_given = false;
    int timeout_ms = 0;  // 0: the library's waits
    int attempts = 0;    // 0: the library's handshakes
    bool trace = false;
    bool json = false;

    bool any_named() const { return !devices.empty() || port >= 0 || usb || sim; }
};

struct InventoryArgs {
    bool watch = false;
    long rounds = -1;  // -1: 3 rounds, or until interrupted with --watch
    int interval_ms = 0;
    std::vector<inventory::Family> families{inventory::Family::epc, inventory::Family::gb, inventory::Family::gjb};
    bool raw = false;  // --layout raw: pages as hex, nothing decoded
};

struct Invocation {
    ReaderOptions reader;
    std::string command;                          // "link", "scan", ... or a catalogue name
    const uhf_command_info* catalogue = nullptr;  // set for a catalogue command
    std::vector<std::string> args;                // what follows the command
    InventoryArgs inventory;
    bool help = false;     // --help given (with or without a command)
    bool version = false;  // --version
    bool names = false;    // commands --names
    bool epc_write = false;  // epc encode --write
};

// Throws UsageError. A command line asking for help or the version parses too.
Invocation parse_command_line(int argc, char** argv);

}  // namespace uhfctl
