// Who may write: a request that changes a reader carries "Authorization: Bearer TOKEN" with the
// token from [http]. A header, never a cookie: a page on another site cannot make a browser send it.
#pragma once

#include <string>

#include "http/server.hpp"

namespace uhfd::http {

enum class Auth { ok, missing, wrong, disabled };

// `configured` empty: writing is off.
Auth check_bearer(const std::string& configured, const std::string& authorization);

// The 401 or 403 for a refusal (with WWW-Authenticate where it applies).
Reply auth_refusal(Auth a);

}  // namespace uhfd::http
