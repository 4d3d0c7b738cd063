// A tag id as the supply chain names it, where it is a GS1 EPC: its URI for the tables, its
// decoded fields for --json. The decoding and the JSON are the inventory module's, shared with uhfd.
#pragma once

#include "inventory/epc_json.hpp"
#include "uhfctl/output.hpp"

namespace uhfctl {

using inventory::decode_epc;
using inventory::epc_json;

}  // namespace uhfctl
