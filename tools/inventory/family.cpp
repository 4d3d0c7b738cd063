#include "inventory/family.hpp"

#include <algorithm>
#include <cctype>
#include <string>

namespace inventory {

namespace {
constexpr FamilyCalls kFamilies[] = {
    {Family::epc, "EPC", uhf_EPC_Query_ON, uhf_EPC_Read_Tag_List},
    {Family::gb, "GB", uhf_GB_Query_ON, uhf_GB_Read_Tag_List},
    {Family::gjb, "GJB", uhf_GJB_Query_ON, uhf_GJB_Read_Tag_List},
};
}  // namespace

const FamilyCalls& calls(Family f) { return kFamilies[static_cast<int>(f)]; }

const char* name(Family f) { return calls(f).name; }

std::optional<Family> parse_family(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    for (const FamilyCalls& f : kFamilies)
        if (upper == f.name) return f.family;
    return std::nullopt;
}

}  // namespace inventory
