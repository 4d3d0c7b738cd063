#include "llrp_config.hpp"

#include <cstdio>
#include <string_view>

#include "config.hpp"
#include "llrp/server.hpp"
#include "toml_section.hpp"

namespace uhfd {

namespace {

bool is_wildcard(const std::string& host) { return host.empty() || host == "0.0.0.0" || host == "::"; }

// Loopback spelt either way is one address to a listener.
std::string canonical(const std::string& host) { return host == "localhost" ? "127.0.0.1" : host; }

// Whether two listeners on these hosts and ports would take the same socket.
bool clash(const std::string& host_a, int port_a, const std::string& host_b, int port_b) {
    if (port_a == 0 || port_a != port_b) return false;
    return is_wildcard(host_a) || is_wildcard(host_b) || canonical(host_a) == canonical(host_b);
}

std::string address_text(const LlrpListen& l) {
    return (l.host.find(':') != std::string::npos ? "[" + l.host + "]" : l.host) + ":" + std::to_string(l.port);
}

bool parse_port(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
    port = std::stoi(std::string(text));
    return port <= 65535;
}

// A listener that answers nothing: enough to learn whether the address can be had.
class Silent : public uhf::llrp::Handler {
public:
    uhf::llrp::Answer handle(const uhf::llrp::Message&) override { return std::nullopt; }
};

}  // namespace

bool parse_llrp_address(const std::string& text, LlrpListen& out) {
    LlrpListen l;
    std::string_view port = text;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        l.host = text.substr(1, close - 1);
        port = std::string_view(text).substr(close + 2);
        if (l.host.find(':') == std::string::npos) return false;
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        l.host = text.substr(0, colon);
        port = std::string_view(text).substr(colon + 1);
        if (l.host.find(':') != std::string::npos) return false;  // an IPv6 literal needs its brackets
    }
    if (l.host.empty() || l.host.find_first_of(" \t/[]") != std::string::npos) return false;
    if (!parse_port(port, l.port)) return false;
    out.host = l.host;
    out.port = l.port;
    return true;
}

void parse_llrp(Section& s, ReaderConfig& r, const Config& c) {
    const toml::node* n = s.node("llrp");
    if (!n) return;
    LlrpListen l;
    l.key = s.key_path("llrp");
    l.line = static_cast<int>(n->source().begin.line);
    if (const auto* port = n->as_integer()) {
        if (port->get() < 0 || port->get() > 65535) {
            s.problem("llrp", "a port must be 0..65535");
            return;
        }
        l.port = static_cast<int>(port->get());
    } else if (const auto text = s.text("llrp")) {
        if (!parse_llrp_address(*text, l)) {
            s.problem("llrp", "must be \"HOST:PORT\", \"[IPv6]:PORT\" or a port (0..65535) on loopback");
            return;
        }
    } else {
        return;  // s.text() said why
    }
    for (const ReaderConfig& other : c.readers)
        if (other.llrp && clash(l.host, l.port, other.llrp->host, other.llrp->port))
            s.problem("llrp", address_text(l) + " is reader '" + other.name + "''s LLRP port too");
    if (c.http.enabled && clash(l.host, l.port, c.http.host, c.http.port))
        s.problem("llrp", address_text(l) + " is the console's port ([http] port)");
    r.llrp = l;
}

std::vector<std::string> llrp_listen_problems(const Config& c, const std::string& source) {
    std::vector<std::string> out;
    Silent silent;
    for (const ReaderConfig& r : c.readers) {
        if (!r.llrp) continue;
        uhf::llrp::ServerOptions options;
        options.host = r.llrp->host;
        options.port = static_cast<std::uint16_t>(r.llrp->port);
        uhf::llrp::Server probe(options, silent);
        std::string why;
        if (probe.start(why)) {
            probe.stop();
            continue;
        }
        out.push_back(source + ":" + std::to_string(r.llrp->line) + ": " + r.llrp->key + ": cannot listen on " +
                      address_text(*r.llrp) + " (" + why + ")");
    }
    return out;
}

bool check_llrp_listeners(const std::string& path) {
    Config c;
    try {
        c = load_config(path);
    } catch (const ConfigError&) {
        return true;
    }
    const auto problems = llrp_listen_problems(c, path);
    for (const std::string& p : problems) std::fprintf(stderr, "%s\n", p.c_str());
    return problems.empty();
}

}  // namespace uhfd
