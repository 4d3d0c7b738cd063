// The page's files (tools/uhfd/web/), compiled into uhfd by web/embed.cmake: nothing to install,
// nothing fetched at run time.
#pragma once

#include <cstddef>
#include <string_view>

namespace uhfd::http {

struct Asset {
    std::string_view path;  // "/index.html", "/js/main.js", ...
    std::string_view content_type;
    std::string_view body;
};

// The asset served at `path` ("/" is /index.html), or nullptr.
const Asset* find_asset(std::string_view path);

}  // namespace uhfd::http
