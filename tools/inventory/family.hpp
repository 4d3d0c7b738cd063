// The tag families a reader inventories, and the link twins that run a family's round.
#pragma once

#include <optional>
#include <string_view>

#include "uhfreader.h"

namespace inventory {

enum class Family { epc, gb, gjb };

struct FamilyCalls {
    Family family;
    const char* name;  // "EPC", "GB", "GJB": as the command names spell them
    int (*query)(uhf_link*, int addr);
    int (*list)(uhf_link*, int addr, int first, int most, unsigned char* reply);
};

const FamilyCalls& calls(Family f);
const char* name(Family f);

// "epc", "EPC", "gb", ... ; nullopt for anything else.
std::optional<Family> parse_family(std::string_view text);

}  // namespace inventory
