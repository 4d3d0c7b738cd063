// A reader's LLRP face in the configuration: `llrp = "HOST:PORT"` in its [[readers]] table (a
// bare port, or an integer, listens on loopback; "[::1]:5084" for an IPv6 literal; port 0: any
// free port, logged). Absent: the reader has no LLRP face.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace uhfd {

class Section;
struct Config;
struct ReaderConfig;

struct LlrpListen {
    std::string host = "127.0.0.1";
    int port = 5084;
    // Where the key was written ("readers[1].llrp" and its line), for --check-config's messages.
    std::string key;
    int line = 0;

    // The address only: moving the key to another line does not restart the reader.
    bool operator==(const LlrpListen& o) const { return host == o.host && port == o.port; }
};

// Reads the reader's `llrp` key into r.llrp, and names a port the readers before it in
// c.readers, or the console (c.http), already listen on.
void parse_llrp(Section& s, ReaderConfig& r, const Config& c);

// "HOST:PORT", "PORT", "[V6]:PORT" into `out`; false when it is none of those.
bool parse_llrp_address(const std::string& text, LlrpListen& out);

// Tries to listen on every reader's LLRP address as the gateway will, and gives back one
// "FILE:LINE: KEY: why" for each that cannot be had (in use, no such address, a name that does
// not resolve). For --check-config; a running uhfd holds its own ports, so they show as in use.
std::vector<std::string> llrp_listen_problems(const Config& c, const std::string& source);

// --check-config's part for the LLRP addresses: prints each problem on stderr; true when there
// are none (a file that does not load is left for the rest of the check to report).
bool check_llrp_listeners(const std::string& path);

}  // namespace uhfd
