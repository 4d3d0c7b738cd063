#include "command_policy.hpp"

#include "uhfreader.h"

namespace uhfd {

namespace {

// The commands that only read; until every catalogue row says so itself.
const std::set<std::string, std::less<>>& reading_rows() {
    static const std::set<std::string, std::less<>> reads = {
        "GetDeviceInfo", "ReadDeviceNo", "Read_DeviceTemp", "Get_Work_Param", "Get_RF_Power", "Get_CH_Active",
        "Get_Menjin_Param",
        "EPC_Read_Select_Para", "EPC_Query_ON", "EPC_Read_Tag_List", "EPC_Read_TAG",
        "GB_Read_Select_Para", "GB_Query_ON", "GB_Read_Tag_List", "GB_Read_TAG", "GB_Get_SecPara",
        "GJB_Read_Select_Para", "GJB_Query_ON", "GJB_Read_Tag_List", "GJB_Read_TAG", "GJB_Get_SecPara",
        "GB_FD_Cust_Lock_Info", "GJB_FD_Cust_Lock_Info", "GJB_FD_Cust_Read_Block",
        "FM151M_Get_ID", "FM151M_Get_RN",
    };
    return reads;
}

const uhf_command_info* find(std::string_view name) { return uhf_command_find(std::string(name).c_str()); }

}  // namespace

bool CommandPolicy::changes(std::string_view command) {
    return !find(command) || !reading_rows().count(command);
}

CommandPolicy::CommandPolicy() : CommandPolicy(true, {}) {}

CommandPolicy::CommandPolicy(bool reads, const std::set<std::string>& allow) {
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info* c = uhf_command_at(i);
        if ((reads && !changes(c->name)) || allow.count(c->name)) allowed_.insert(c->name);
    }
}

CommandPolicy::Decision CommandPolicy::decide(std::string_view command) const {
    Decision d;
    if (!find(command)) {
        d.refusal = "unknown command '" + std::string(command) + "'";
        return d;
    }
    d.changes = changes(command);
    if (!allowed(command)) {
        d.verdict = Verdict::forbidden;
        d.refusal = "command '" + std::string(command) + "' is not allowed on this gateway (see [commands] allow)";
        return d;
    }
    d.verdict = Verdict::allowed;
    return d;
}

}  // namespace uhfd
