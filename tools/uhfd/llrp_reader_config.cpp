#include "llrp_reader_config.hpp"

#include <set>
#include <string>
#include <vector>

#include "llrp/catalogue.hpp"

namespace uhfd {

namespace msg = uhf::llrp::msg;
namespace param = uhf::llrp::param;
using uhf::llrp::Error;
using uhf::llrp::ParameterFault;
using uhf::llrp::StatusCode;

namespace {

using U = std::uint64_t;

// A refusal down the parameter path `types` (outermost first): the last one is at fault with
// `code`, and with a FieldError on field `field` when one is given.
Error refuse(std::vector<std::uint16_t> types, StatusCode code, std::string description,
             std::optional<std::uint16_t> field = std::nullopt, StatusCode field_code = StatusCode::A_OutOfRange) {
    Error e;
    e.code = StatusCode::M_ParameterError;
    e.description = std::move(description);
    for (std::size_t i = 0; i < types.size(); ++i)
        e.parameters.push_back({types[i], i + 1 == types.size() ? code : StatusCode::P_ParameterError});
    if (field) e.field = uhf::llrp::FieldFault{*field, field_code};
    return e;
}

Error refuse_message_field(std::uint16_t field, std::string description) {
    Error e;
    e.code = StatusCode::M_FieldError;
    e.description = std::move(description);
    e.field = uhf::llrp::FieldFault{field, StatusCode::A_OutOfRange};
    return e;
}

std::int64_t num(const Parameter& p, std::string_view name) { return uhf::llrp::number(p, name).value_or(0); }

Parameter antenna_properties(int antenna) {
    // The reader cannot tell a connected antenna from an open port: every port counts as connected.
    return llrp_parameter(param::AntennaProperties, {{"AntennaConnected", U(1)}, {"AntennaID", U(antenna)}, {"AntennaGain", std::int64_t{0}}});
}

Parameter antenna_configuration(int antenna, const ReaderFacts& f) {
    Parameter p = llrp_parameter(param::AntennaConfiguration, {{"AntennaID", U(antenna)}});
    p.params.push_back(llrp_parameter(param::RFReceiver, {{"ReceiverSensitivity", U(1)}}));
    p.params.push_back(llrp_parameter(param::RFTransmitter, {{"HopTableID", U(hop_frequencies(f).empty() ? 0 : 1)},
                                                             {"ChannelIndex", U(0)},
                                                             {"TransmitPower", U(power_index(f.power_dbm))}}));
    return p;
}

Error check_antenna_configuration(const Parameter& ac, const ReaderFacts& f, std::set<int>& named,
                                  std::optional<int>& power) {
    const auto antenna = num(ac, "AntennaID");
    if (antenna > f.antennas)
        return refuse({param::AntennaConfiguration}, StatusCode::P_FieldError,
                      "the reader has antennas 1.." + std::to_string(f.antennas), 0);
    if (antenna != 0) named.insert(static_cast<int>(antenna));
    for (const Parameter& sub : ac.params) {
        if (sub.type == param::RFReceiver) {
            if (num(sub, "ReceiverSensitivity") > 1)
                return refuse({param::AntennaConfiguration, param::RFReceiver}, StatusCode::P_FieldError,
                              "the reader has one receive sensitivity, index 1", 0);
        } else if (sub.type == param::RFTransmitter) {
            const auto index = num(sub, "TransmitPower");
            if (index < power_index(0) || index > power_index(f.max_power_dbm))
                return refuse({param::AntennaConfiguration, param::RFTransmitter}, StatusCode::P_FieldError,
                              "transmit power index must be 1.." + std::to_string(power_index(f.max_power_dbm)) + " (0.." +
                                  std::to_string(f.max_power_dbm) + " dBm)",
                              2);
            if (num(sub, "HopTableID") > 1)
                return refuse({param::AntennaConfiguration, param::RFTransmitter}, StatusCode::P_FieldError,
                              "the reader has one hop table, ID 1", 0);
            if (power && *power != power_dbm(static_cast<int>(index)))
                return refuse({param::AntennaConfiguration, param::RFTransmitter}, StatusCode::P_FieldError,
                              "the reader has one transmit power for all its antennas", 2, StatusCode::A_Invalid);
            power = power_dbm(static_cast<int>(index));
        } else if (sub.type == param::C1G2InventoryCommand) {
            if (!sub.params.empty() || num(sub, "TagInventoryStateAware") != 0)
                return refuse({param::AntennaConfiguration, param::C1G2InventoryCommand}, StatusCode::P_UnsupportedParameter,
                              "the reader's inventory takes no C1G2 filters, RF mode, singulation or state-aware settings");
        } else {
            return refuse({param::AntennaConfiguration, sub.type}, StatusCode::P_UnsupportedParameter,
                          "the reader takes no such antenna setting");
        }
    }
    return {};
}

}  // namespace

Message status_response(const Message& request, const Error& error) {
    const auto* def = uhf::llrp::find_message(request.type);
    Message r = uhf::llrp::make_message(def && def->response ? def->response : msg::ERROR_MESSAGE, request.id);
    r.params.push_back(uhf::llrp::llrp_status(error));
    return r;
}

Message get_reader_config(const Message& request, const ReaderFacts& facts, const uhf::llrp::Engine& engine,
                          const FaceSettings& settings) {
    const auto antenna = uhf::llrp::number(request, "AntennaID").value_or(0);
    const auto wanted = uhf::llrp::number(request, "RequestedData").value_or(0);
    const auto gpi = uhf::llrp::number(request, "GPIPortNum").value_or(0);
    const auto gpo = uhf::llrp::number(request, "GPOPortNum").value_or(0);
    if (antenna > facts.antennas)
        return status_response(request, refuse_message_field(0, "the reader has antennas 1.." + std::to_string(facts.antennas)));
    if ((wanted == 0 || wanted == 9) && gpi != 0) return status_response(request, refuse_message_field(2, "the reader has no GPI ports"));
    if ((wanted == 0 || wanted == 10) && gpo != 0) return status_response(request, refuse_message_field(3, "the reader has no GPO ports"));
    Message r = status_response(request, {});
    auto want = [&](int part) { return wanted == 0 || wanted == part; };
    if (want(1))
        r.params.push_back(llrp_parameter(param::Identification, {{"IDType", U(1)}, {"ReaderID", facts.serial}}));
    for (int a = 1; a <= facts.antennas; ++a)
        if (want(2) && (antenna == 0 || antenna == a)) r.params.push_back(antenna_properties(a));
    for (int a = 1; a <= facts.antennas; ++a)
        if (want(3) && (antenna == 0 || antenna == a)) r.params.push_back(antenna_configuration(a, facts));
    if (want(5)) r.params.push_back(engine.event_notifications());
    if (want(4)) r.params.push_back(engine.report_defaults());
    if (want(6)) r.params.push_back(engine.access_report_defaults());
    if (want(7)) r.params.push_back(llrp_parameter(param::LLRPConfigurationStateValue, {{"LLRPConfigurationStateValue", U(settings.changes)}}));
    if (want(8))
        r.params.push_back(llrp_parameter(param::KeepaliveSpec, {{"KeepaliveTriggerType", U(settings.keepalive_ms ? 1 : 0)},
                                                                {"PeriodicTriggerValue", U(settings.keepalive_ms)}}));
    if (want(11))
        r.params.push_back(llrp_parameter(param::EventsAndReports, {{"HoldEventsAndReportsUponReconnect", U(engine.hold_events_and_reports() ? 1 : 0)}}));
    return r;
}

Error plan_reader_config(const Message& request, const ReaderFacts& facts, ConfigPlan& plan) {
    plan = {};
    plan.reset = uhf::llrp::number(request, "ResetToFactoryDefault").value_or(0) != 0;
    std::set<int> named;
    std::optional<int> power;
    for (const Parameter& p : request.params) {
        switch (p.type) {
            case param::ReaderEventNotificationSpec: plan.events = &p; break;
            case param::ROReportSpec: plan.report = &p; break;
            case param::AccessReportSpec: plan.access_report = &p; break;
            case param::EventsAndReports: plan.hold = num(p, "HoldEventsAndReportsUponReconnect") != 0; break;
            case param::KeepaliveSpec: {
                const auto type = num(p, "KeepaliveTriggerType");
                const auto period = num(p, "PeriodicTriggerValue");
                if (type == 1 && period == 0)
                    return refuse({param::KeepaliveSpec}, StatusCode::P_FieldError, "a periodic keepalive needs a period (ms)", 1);
                plan.keepalive_ms = type == 1 ? static_cast<std::uint32_t>(period) : 0;
                break;
            }
            case param::AntennaProperties:
                if (num(p, "AntennaGain") != 0 || num(p, "AntennaID") > facts.antennas)
                    return refuse({param::AntennaProperties}, StatusCode::P_FieldError,
                                  "the reader's antenna properties cannot be set (gain 0, antennas 1.." +
                                      std::to_string(facts.antennas) + ")",
                                  2);
                break;
            case param::AntennaConfiguration:
                if (Error e = check_antenna_configuration(p, facts, named, power); e.code != StatusCode::M_Success) return e;
                break;
            case param::GPOWriteData:
            case param::GPIPortCurrentState:
                return refuse({p.type}, StatusCode::P_FieldError, "the reader has no GPI or GPO ports", 0);
            default:
                return refuse({p.type}, StatusCode::P_UnsupportedParameter, "the reader takes no such setting");
        }
    }
    if (named.size() > 1)
        return refuse({param::AntennaConfiguration}, StatusCode::P_FieldError,
                      "the reader transmits on one antenna at a time: name one antenna, or 0 for all", 0,
                      StatusCode::A_Invalid);
    plan.reader.power_dbm = power;
    if (!named.empty()) plan.reader.active_antenna = *named.begin() - 1;
    return {};
}

}  // namespace uhfd
