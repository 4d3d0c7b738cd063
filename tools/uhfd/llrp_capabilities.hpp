// How the reader describes itself to an LLRP client: GET_READER_CAPABILITIES from the values
// it reports (ReaderFacts) and the limits of the engine behind the face. Pure.
//
// The mappings (docs/llrp.md has them as a table):
//   transmit power: index i (1-based) is (i - 1) dBm, for 0 .. the reader's maximum;
//   antennas: LLRP's AntennaID n is the reader's antenna n - 1;
//   frequencies: the channel table's channels in use, at the frequencies the region's channel
//     plan gives them (channel_plan()); a region without a plan here: no hop table.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "llrp/ro_engine.hpp"
#include "llrp/value.hpp"
#include "llrp_reader.hpp"

namespace uhfd {

using uhf::llrp::FieldValue;
using uhf::llrp::Message;
using uhf::llrp::Parameter;

// A parameter of `type` with the named fields set, the rest zero.
Parameter llrp_parameter(std::uint16_t type, std::initializer_list<std::pair<std::string_view, FieldValue>> fields);

struct ChannelPlan {
    int region = 0;                 // the reader's region code (work parameter byte 3)
    std::uint16_t country = 0;      // ISO 3166 numeric, for RegulatoryCapabilities
    std::uint32_t first_khz = 0;    // channel 0
    std::uint32_t step_khz = 0;
    int channels = 0;
};
const ChannelPlan* channel_plan(int region);

// The hop table's frequencies (kHz) of the channels in use; empty without a plan.
std::vector<std::uint32_t> hop_frequencies(const ReaderFacts& facts);

constexpr int power_index(int dbm) { return dbm + 1; }
constexpr int power_dbm(int index) { return index - 1; }

// The parameters GET_READER_CAPABILITIES asks for (RequestedData 0: all of them), in the
// response's order.
std::vector<Parameter> capabilities(const ReaderFacts& facts, const uhf::llrp::EngineOptions& engine, int requested);

}  // namespace uhfd
