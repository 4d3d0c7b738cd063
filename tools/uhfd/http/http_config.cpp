#include "http/http_config.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "toml_section.hpp"

namespace uhfd {

namespace {

// The server takes numeric IPv4 addresses; "localhost" is the usual way to say loopback.
bool parse_listen(const std::string& text, HttpConfig& h) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host == "localhost") host = "127.0.0.1";
    in_addr a{};
    if (::inet_pton(AF_INET, host.c_str(), &a) != 1) return false;
    int p = -1;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
    if (ec != std::errc() || end != port.data() + port.size() || p < 0 || p > 65535) return false;
    h.host = host;
    h.port = p;
    return true;
}

// RFC 6750's b64token, so the token goes into an Authorization header as it is.
bool token_chars(const std::string& t) {
    return std::all_of(t.begin(), t.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_' || c == '~' || c == '+' || c == '/' || c == '=';
    });
}

constexpr std::size_t kMinToken = 16;

// A DNS name as a browser sends it in Host: letters, digits, '-' and '.', at most 253 characters.
bool host_name(const std::string& n) {
    if (n.empty() || n.size() > 253 || n.front() == '.' || n.front() == '-') return false;
    return std::all_of(n.begin(), n.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

void check_token(Section& s, const std::string& key, const std::string& token, HttpConfig& h) {
    if (token.size() < kMinToken || token.size() > 512 || !token_chars(token))
        s.problem(key, "the token must be 16 to 512 letters, digits or -._~+/= (e.g. from: openssl rand -hex 24)");
    else h.token = token;
}

}  // namespace

void parse_http(Section& s, HttpConfig& h) {
    h.enabled = true;
    if (auto listen = s.text("listen")) {
        if (!parse_listen(*listen, h)) s.problem("listen", "must be IPV4:PORT (\"127.0.0.1:8080\"; port 0 picks a free one)");
    }
    const auto token = s.text("token");
    const auto token_file = s.text("token_file");
    if (token && token_file) s.problem("token_file", "give token or token_file, not both");
    else if (token) check_token(s, "token", *token, h);
    else if (token_file) {
        std::ifstream in(*token_file);
        if (!in) {
            s.problem("token_file", "cannot read '" + *token_file + "'");
        } else {
            std::ostringstream text;
            text << in.rdbuf();
            std::string t = text.str();
            while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ')) t.pop_back();
            check_token(s, "token_file", t, h);
        }
    }
    if (auto n = s.integer("max_streams", 1, 256)) h.max_streams = static_cast<int>(*n);
    if (const toml::array* hosts = s.array("allowed_hosts")) {
        for (const toml::node& n : *hosts) {
            const auto name = n.value<std::string>();
            if (!name || !host_name(*name)) {
                s.problem_at(n, "allowed_hosts", "each entry must be a host name (letters, digits, '-' and '.'), e.g. \"gateway.example.net\"");
                continue;
            }
            std::string lower = *name;
            std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
            if (lower.back() == '.') lower.pop_back();
            h.allowed_hosts.push_back(lower);
        }
    }
}

}  // namespace uhfd
