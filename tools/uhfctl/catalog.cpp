#include "uhfctl/catalog.hpp"

#include <algorithm>
#include <cctype>

namespace uhfctl {

namespace {

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const uhf_command_info* find_command(std::string_view name) {
    for (int i = 0; i < uhf_command_count(); ++i)
        if (same_name(uhf_command_at(i)->name, name)) return uhf_command_at(i);
    return nullptr;
}

const uhf_command_info* find_command(std::uint8_t code) {
    for (int i = 0; i < uhf_command_count(); ++i)
        if (uhf_command_at(i)->code == code) return uhf_command_at(i);
    return nullptr;
}

const char* command_name(std::uint8_t code) {
    if (code == 0) return "handshake";
    const uhf_command_info* c = find_command(code);
    return c ? c->name : "unknown";
}

const char* family_name(int family) {
    switch (family) {
        case UHF_FAMILY_ADMIN: return "reader administration";
        case UHF_FAMILY_EPC: return "EPC tags";
        case UHF_FAMILY_GB: return "GB tags";
        case UHF_FAMILY_GJB: return "GJB tags";
        case UHF_FAMILY_GB_FD: return "FD extensions of GB tags";
        case UHF_FAMILY_GJB_FD: return "FD extensions of GJB tags";
        case UHF_FAMILY_PSAM: return "PSAM pass-through";
        case UHF_FAMILY_FM151M: return "FM151M security chip";
    }
    return "other";
}

}  // namespace uhfctl
