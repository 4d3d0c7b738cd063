// The [http] table: the web console and its JSON API (docs/gateway.md, "Web console").
#pragma once

#include <string>
#include <vector>

namespace uhfd {

class Section;

struct HttpConfig {
    bool enabled = false;  // an [http] table turns it on
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port (logged)
    // Bearer token for anything that writes; empty: nothing that writes is accepted.
    std::string token;
    int max_streams = 16;  // live event streams at once
    // Host names (beyond the listen address and localhost) the console answers to; a request
    // naming any other host is refused, so a page on a name that merely resolves here cannot read it.
    std::vector<std::string> allowed_hosts;

    bool operator==(const HttpConfig&) const = default;
};

void parse_http(Section& s, HttpConfig& h);

}  // namespace uhfd
