#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace simtest {

// "10 01 05" -> {0x10, 0x01, 0x05}
inline std::vector<std::uint8_t> bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    std::istringstream in(hex);
    std::string b;
    while (in >> b) out.push_back(static_cast<std::uint8_t>(std::stoul(b, nullptr, 16)));
    return out;
}

}  // namespace simtest
