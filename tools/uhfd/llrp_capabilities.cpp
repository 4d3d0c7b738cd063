#include "llrp_capabilities.hpp"

#include <array>

#include "llrp/catalogue.hpp"

namespace uhfd {

namespace param = uhf::llrp::param;
using uhf::llrp::make_parameter;

Parameter llrp_parameter(std::uint16_t type, std::initializer_list<std::pair<std::string_view, FieldValue>> fields) {
    Parameter p = make_parameter(type);
    for (const auto& [name, value] : fields) uhf::llrp::set(p, name, value);
    return p;
}

namespace {

using U = std::uint64_t;
using S = std::int64_t;

// The region codes R2000 readers of this family take in their work parameters.
constexpr std::array kPlans{
    ChannelPlan{1, 156, 920125, 250, 20},  // China, 920-925 MHz
    ChannelPlan{2, 840, 902750, 500, 50},  // United States, 902-928 MHz
    ChannelPlan{3, 0, 865700, 600, 4},     // Europe, 865-868 MHz (ETSI)
    ChannelPlan{4, 156, 840125, 250, 20},  // China, 840-845 MHz
};

Parameter general(const ReaderFacts& f) {
    Parameter p = llrp_parameter(param::GeneralDeviceCapabilities,
                                 {{"MaxNumberOfAntennaSupported", U(f.antennas)},
                                  {"CanSetAntennaProperties", U(0)},
                                  {"HasUTCClockCapability", U(1)},  // the face stamps reads with the host's UTC clock
                                  {"DeviceManufacturerName", U(0)},
                                  {"ModelName", U(f.model_code)},
                                  {"ReaderFirmwareVersion", f.firmware}});
    // The reader reports no sensitivity: one entry, its only setting.
    p.params.push_back(llrp_parameter(param::ReceiveSensitivityTableEntry, {{"Index", U(1)}, {"ReceiveSensitivityValue", S(0)}}));
    p.params.push_back(llrp_parameter(param::GPIOCapabilities, {{"NumGPIs", U(0)}, {"NumGPOs", U(0)}}));
    for (int a = 1; a <= f.antennas; ++a)
        p.params.push_back(llrp_parameter(param::PerAntennaAirProtocol,
                                          {{"AntennaID", U(a)}, {"ProtocolID", std::vector<std::uint8_t>{1}}}));
    return p;
}

Parameter llrp_limits(const uhf::llrp::EngineOptions& e) {
    return llrp_parameter(param::LLRPCapabilities,
                          {{"CanDoRFSurvey", U(0)},
                           {"CanReportBufferFillWarning", U(0)},
                           {"SupportsClientRequestOpSpec", U(0)},
                           {"CanDoTagInventoryStateAwareSingulation", U(0)},
                           {"SupportsEventAndReportHolding", U(1)},
                           {"MaxNumPriorityLevelsSupported", U(e.priority_levels)},
                           {"ClientRequestOpSpecTimeout", U(0)},
                           {"MaxNumROSpecs", U(e.max_rospecs)},
                           {"MaxNumSpecsPerROSpec", U(e.max_specs_per_rospec)},
                           {"MaxNumInventoryParameterSpecsPerAISpec", U(e.max_inventory_per_aispec)},
                           {"MaxNumAccessSpecs", U(e.max_accessspecs)},
                           {"MaxNumOpSpecsPerAccessSpec", U(e.max_ops_per_accessspec)}});
}

Parameter regulatory(const ReaderFacts& f) {
    const ChannelPlan* plan = channel_plan(f.region);
    Parameter p = llrp_parameter(param::RegulatoryCapabilities,
                                 {{"CountryCode", U(plan ? plan->country : 0)}, {"CommunicationsStandard", U(0)}});
    Parameter band = make_parameter(param::UHFBandCapabilities);
    for (int dbm = 0; dbm <= f.max_power_dbm; ++dbm)
        band.params.push_back(llrp_parameter(param::TransmitPowerLevelTableEntry,
                                             {{"Index", U(power_index(dbm))}, {"TransmitPowerValue", S(dbm * 100)}}));
    Parameter frequencies = llrp_parameter(param::FrequencyInformation, {{"Hopping", U(1)}});
    if (auto hops = hop_frequencies(f); !hops.empty())
        frequencies.params.push_back(llrp_parameter(param::FrequencyHopTable, {{"HopTableID", U(1)}, {"Frequency", hops}}));
    band.params.push_back(std::move(frequencies));
    // The reader does not report its link's modulation: one mode, the Gen2 reader default
    // (Miller 4 at 250 kHz, PR-ASK, tari 25 us), marked as of unknown spectral mask.
    Parameter modes = make_parameter(param::C1G2UHFRFModeTable);
    modes.params.push_back(llrp_parameter(param::C1G2UHFRFModeTableEntry,
                                          {{"ModeIdentifier", U(0)},
                                           {"DRValue", U(1)},
                                           {"EPCHAGTCConformance", U(0)},
                                           {"MValue", U(2)},
                                           {"ForwardLinkModulation", U(0)},
                                           {"SpectralMaskIndicator", U(0)},
                                           {"BDRValue", U(250000)},
                                           {"PIEValue", U(2000)},
                                           {"MinTariValue", U(25000)},
                                           {"MaxTariValue", U(25000)},
                                           {"StepTariValue", U(0)}}));
    band.params.push_back(std::move(modes));
    p.params.push_back(std::move(band));
    return p;
}

Parameter air_protocol(const uhf::llrp::EngineOptions& e) {
    return llrp_parameter(param::C1G2LLRPCapabilities, {{"CanSupportBlockErase", U(0)},
                                                        {"CanSupportBlockWrite", U(e.can_block_write ? 1 : 0)},
                                                        {"MaxNumSelectFiltersPerQuery", U(0)}});
}

}  // namespace

const ChannelPlan* channel_plan(int region) {
    for (const ChannelPlan& p : kPlans)
        if (p.region == region) return &p;
    return nullptr;
}

std::vector<std::uint32_t> hop_frequencies(const ReaderFacts& facts) {
    std::vector<std::uint32_t> out;
    const ChannelPlan* plan = channel_plan(facts.region);
    if (!plan) return out;
    for (int c : facts.channels)
        if (c < plan->channels) out.push_back(plan->first_khz + plan->step_khz * static_cast<std::uint32_t>(c));
    return out;
}

std::vector<Parameter> capabilities(const ReaderFacts& facts, const uhf::llrp::EngineOptions& engine, int requested) {
    std::vector<Parameter> out;
    if (requested == 0 || requested == 1) out.push_back(general(facts));
    if (requested == 0 || requested == 2) out.push_back(llrp_limits(engine));
    if (requested == 0 || requested == 3) out.push_back(regulatory(facts));
    if (requested == 0 || requested == 4) out.push_back(air_protocol(engine));
    return out;
}

}  // namespace uhfd
