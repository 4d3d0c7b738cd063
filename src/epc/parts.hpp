// An id between its binary and text forms: the scheme, the filter and each field's text
// (%-escapes undone), in URI order.
#pragma once

#include <cstdint>

#include "epc/schemes.hpp"

namespace uhf::epc {

struct Part {
    char text[40];
    std::uint8_t len = 0;
};

struct Parts {
    const Scheme *scheme = nullptr;
    int filter = -1;        // -1: the scheme has none
    unsigned bits = 0;      // bits the encoding takes
    Part part[5];
};

} // namespace uhf::epc
