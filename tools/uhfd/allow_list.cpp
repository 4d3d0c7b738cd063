#include "allow_list.hpp"

namespace uhfd {

const std::set<std::string>& reading_commands() {
    static const std::set<std::string> reads = {
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

}  // namespace uhfd
