#include "http/auth.hpp"

namespace uhfd::http {

namespace {

// Takes as long for a near miss as for a far one.
bool same_secret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

}  // namespace

Auth check_bearer(const std::string& configured, const std::string& authorization) {
    if (configured.empty()) return Auth::disabled;
    const std::string scheme = "Bearer ";
    if (authorization.size() <= scheme.size()) return Auth::missing;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != std::tolower(static_cast<unsigned char>(scheme[i])))
            return Auth::missing;
    std::string token = authorization.substr(scheme.size());
    while (!token.empty() && token.front() == ' ') token.erase(0, 1);
    while (!token.empty() && token.back() == ' ') token.pop_back();
    return same_secret(token, configured) ? Auth::ok : Auth::wrong;
}

Reply auth_refusal(Auth a) {
    switch (a) {
        case Auth::disabled:
            return Reply::error(403, "writing is off on this gateway: [http] has no token");
        case Auth::missing: {
            Reply r = Reply::error(401, "this changes the reader: send the console's token (Authorization: Bearer ...)");
            r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"uhfd\"");
            return r;
        }
        case Auth::wrong: {
            Reply r = Reply::error(401, "the token is wrong");
            r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"uhfd\", error=\"invalid_token\"");
            return r;
        }
        case Auth::ok: break;
    }
    return Reply::error(500, "internal error");
}

}  // namespace uhfd::http
