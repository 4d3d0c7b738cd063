// A reader's settings as the console reads and writes them, through catalogue commands only:
//
//   rf_power          Get_RF_Power byte 0; written as byte 0 of the work parameters
//   active_antenna    Get_RF_Power byte 1; written with Set_Active_ANT
//   max_power         Get_RF_Power byte 2 (read only; rf_power above it is refused unsent)
//   work_parameters   Get_Work_Param / Set_Work_Param, the 7 bytes in hex
//
// A change is read, modified and written in one job on the reader's link, so no round and no
// other change comes in between, and what is returned was read back from the reader afterwards.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "uhfreader.h"

namespace uhfd::http {

struct SettingsChange {
    std::optional<int> rf_power;
    std::optional<int> active_antenna;
    std::optional<std::vector<std::uint8_t>> work_parameters;

    // The commands the change sends.
    std::set<std::string> commands() const;
};

// A PUT body: {"rf_power": 20, "active_antenna": 1, "work_parameters": "1A010A01000400"}, any of
// them. The refusal, or "" with `out` filled.
std::string parse_settings_change(const std::string& body, SettingsChange& out);

struct SettingsOutcome {
    bool ok = false;
    std::string error;  // which command failed and how
    nlohmann::ordered_json settings;
    std::vector<std::string> written;
};

// On the reader's thread.
SettingsOutcome read_settings(uhf_link* link, int addr);
SettingsOutcome change_settings(uhf_link* link, int addr, const SettingsChange& change);

}  // namespace uhfd::http
