// The catalogue's read-or-change column: what a front end that lets anyone read but only the
// trusted change takes from the library. A command wrongly marked as reading would be open to
// everyone, so the column is checked against the list the gateway has always allowed and against
// the words of the commands' own names.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "uhfreader.h"

namespace {

// Exactly the commands that only read: the reader's settings and identity, inventory rounds and
// their lists, tag memory, lock state and security parameters, the FM151M's id and random numbers.
const std::set<std::string> kReading = {
    "GetDeviceInfo", "ReadDeviceNo", "Read_DeviceTemp", "Get_Work_Param", "Get_RF_Power", "Get_CH_Active",
    "Get_Menjin_Param",
    "EPC_Read_Select_Para", "EPC_Query_ON", "EPC_Read_Tag_List", "EPC_Read_TAG",
    "GB_Read_Select_Para", "GB_Query_ON", "GB_Read_Tag_List", "GB_Read_TAG", "GB_Get_SecPara",
    "GJB_Read_Select_Para", "GJB_Query_ON", "GJB_Read_Tag_List", "GJB_Read_TAG", "GJB_Get_SecPara",
    "GB_FD_Cust_Lock_Info", "GJB_FD_Cust_Lock_Info", "GJB_FD_Cust_Read_Block",
    "FM151M_Get_ID", "FM151M_Get_RN",
};

TEST(CatalogueAccess, OnlyTheReadingCommandsAreMarkedAsReading) {
    int reading = 0;
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info *c = uhf_command_at(i);
        ASSERT_NE(c, nullptr);
        const bool reads = kReading.count(c->name) != 0;
        EXPECT_EQ(c->changes, reads ? 0 : 1) << c->name;
        reading += reads ? 1 : 0;
    }
    EXPECT_EQ(reading, static_cast<int>(kReading.size())) << "a reading command is missing from the catalogue";
}

TEST(CatalogueAccess, EveryCommandNamedForAChangeIsMarkedAsChanging) {
    const char *const change_words[] = {"Set", "Write", "Kill", "Lock_TAG", "Erase", "Pwd", "Reset", "Restore",
                                        "Wake", "Halt", "Cust_Command", "PSAM", "Issue"};
    for (int i = 0; i < uhf_command_count(); ++i) {
        const uhf_command_info *c = uhf_command_at(i);
        const std::string name = c->name;
        for (const char *w : change_words) {
            if (name.find(w) != std::string::npos) {
                EXPECT_EQ(c->changes, 1) << name << " (" << w << ")";
            }
        }
    }
}

}  // namespace
