// ROSpec and AccessSpec states: each request's status from each state, ID 0 where it means
// every one, and what the reader refuses at ADD time, by status, path and description.
#include "ro_fixture.hpp"

namespace {

using namespace llrp_test;

constexpr int disabled = 0, inactive = 1, active = 2, gone = -1;

// Two ROSpecs (1 and 2, Null start) added; `setup` brings them to a state, then `request`.
struct StateRow {
  const char *name;
  std::vector<Message> setup;
  Message request;
  StatusCode status;
  int state1, state2;
};

class RoStates : public EngineTest, public ::testing::WithParamInterface<StateRow> {};

TEST_P(RoStates, StatusAndStatesAfter) {
  const StateRow &row = GetParam();
  RoBuild second;
  second.id = 2;
  ASSERT_EQ(status(add(RoBuild{})), StatusCode::M_Success);
  ASSERT_EQ(status(add(second)), StatusCode::M_Success);
  for (const Message &m : row.setup) ASSERT_EQ(status(m), StatusCode::M_Success) << "setup of " << row.name;
  Message reply = send(row.request);
  EXPECT_EQ(status_of(reply), row.status) << description_of(reply);
  if (row.status != StatusCode::M_Success) {
    EXPECT_FALSE(description_of(reply).empty());
  }
  EXPECT_EQ(state_of(1), row.state1);
  EXPECT_EQ(state_of(2), row.state2);
}

const Message enable1 = by_id(msg::ENABLE_ROSPEC, 1), start1 = by_id(msg::START_ROSPEC, 1);

INSTANTIATE_TEST_SUITE_P(
    Table, RoStates,
    ::testing::Values(
        StateRow{"AddExistingIdRefused", {}, add(RoBuild{}), StatusCode::M_ParameterError, disabled, disabled},
        StateRow{"AddNotDisabledRefused", {}, add(RoBuild{.id = 3, .state = 1}), StatusCode::M_ParameterError, disabled, disabled},
        StateRow{"AddIdZeroRefused", {}, add(RoBuild{.id = 0}), StatusCode::M_ParameterError, disabled, disabled},
        StateRow{"EnableMakesInactive", {}, enable1, StatusCode::M_Success, inactive, disabled},
        StateRow{"EnableZeroEnablesAll", {}, by_id(msg::ENABLE_ROSPEC, 0), StatusCode::M_Success, inactive, inactive},
        StateRow{"EnableUnknownIsFieldError", {}, by_id(msg::ENABLE_ROSPEC, 9), StatusCode::M_FieldError, disabled, disabled},
        StateRow{"EnableTwiceChangesNothing", {enable1}, enable1, StatusCode::M_Success, inactive, disabled},
        StateRow{"StartDisabledRefused", {}, start1, StatusCode::M_FieldError, disabled, disabled},
        StateRow{"StartInactiveActivates", {enable1}, start1, StatusCode::M_Success, active, disabled},
        StateRow{"StartActiveRefused", {enable1, start1}, start1, StatusCode::M_FieldError, active, disabled},
        StateRow{"StartZeroNamesNoRoSpec", {by_id(msg::ENABLE_ROSPEC, 0)}, by_id(msg::START_ROSPEC, 0), StatusCode::M_FieldError, inactive, inactive},
        StateRow{"StopInactiveRefused", {enable1}, by_id(msg::STOP_ROSPEC, 1), StatusCode::M_FieldError, inactive, disabled},
        StateRow{"StopActiveMakesInactive", {enable1, start1}, by_id(msg::STOP_ROSPEC, 1), StatusCode::M_Success, inactive, disabled},
        StateRow{"DisableActiveStopsIt", {enable1, start1}, by_id(msg::DISABLE_ROSPEC, 1), StatusCode::M_Success, disabled, disabled},
        StateRow{"DisableZeroDisablesAll", {by_id(msg::ENABLE_ROSPEC, 0), start1}, by_id(msg::DISABLE_ROSPEC, 0), StatusCode::M_Success, disabled, disabled},
        StateRow{"DeleteActiveRemovesIt", {enable1, start1}, by_id(msg::DELETE_ROSPEC, 1), StatusCode::M_Success, gone, disabled},
        StateRow{"DeleteZeroRemovesAll", {enable1}, by_id(msg::DELETE_ROSPEC, 0), StatusCode::M_Success, gone, gone},
        StateRow{"DeleteUnknownIsFieldError", {}, by_id(msg::DELETE_ROSPEC, 9), StatusCode::M_FieldError, disabled, disabled}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- refused at ADD time ---------------------------------------------------------------------

struct RefusalRow {
  const char *name;
  Message request;
  StatusCode status;
  std::vector<std::uint16_t> path;  // the ParameterError chain's types, outermost first
  const char *named;                // the description names what is unsupported
};

class Refusals : public EngineTest, public ::testing::WithParamInterface<RefusalRow> {};

std::vector<std::uint16_t> error_path(const Message &m) {
  std::vector<std::uint16_t> path;
  const Parameter *p = find(find(m.params, param::LLRPStatus)->params, param::ParameterError);
  while (p) {
    path.push_back(static_cast<std::uint16_t>(*number(*p, "ParameterType")));
    p = find(p->params, param::ParameterError);
  }
  return path;
}

TEST_P(Refusals, StatusPathAndWhy) {
  const RefusalRow &row = GetParam();
  Message reply = send(row.request);
  EXPECT_EQ(status_of(reply), row.status);
  EXPECT_EQ(error_path(reply), row.path);
  EXPECT_NE(description_of(reply).find(row.named), std::string::npos) << description_of(reply);
  EXPECT_TRUE(find_all(send(request(msg::GET_ROSPECS)).params, param::ROSpec).empty());
  EXPECT_TRUE(find_all(send(request(msg::GET_ACCESSSPECS)).params, param::AccessSpec).empty());
}

Parameter target(std::uint8_t bank) {
  return with(param::C1G2TargetTag, {{"MB", u(bank)}, {"Match", u(1)}, {"Pointer", u(32)},
                                     {"TagMask", Bits{{0xff}, 8}}, {"TagData", Bits{{0x30}, 8}}});
}

Parameter read_op(std::uint8_t bank = 3) {
  return with(param::C1G2Read, {{"OpSpecID", u(1)}, {"MB", u(bank)}, {"WordPointer", u(0)}, {"WordCount", u(2)}});
}

Message add_access(std::vector<Parameter> ops, Parameter tag_spec_target = target(1), std::uint32_t id = 5) {
  Parameter command = with(param::AccessCommand, {}, {with(param::C1G2TagSpec, {}, {tag_spec_target})});
  for (Parameter &op : ops) command.params.push_back(op);
  Parameter access_spec = with(param::AccessSpec, {{"AccessSpecID", u(id)}, {"ProtocolID", u(1)}},
                        {with(param::AccessSpecStopTrigger, {}), command});
  return request(msg::ADD_ACCESSSPEC, {}, {access_spec});
}

AiBuild with_inventory_command(Parameter cmd) {
  AiBuild ai;
  ai.antenna_configuration = {with(param::AntennaConfiguration, {{"AntennaID", u(1)}}, {cmd})};
  return ai;
}

const std::uint16_t ro = param::ROSpec, bound = param::ROBoundarySpec, ai = param::AISpec,
                    inv = param::InventoryParameterSpec, ant = param::AntennaConfiguration,
                    cmd = param::C1G2InventoryCommand, as = param::AccessSpec, ac = param::AccessCommand;

INSTANTIATE_TEST_SUITE_P(
    Table, Refusals,
    ::testing::Values(
        RefusalRow{"GpiStartTrigger", add(RoBuild{.start = 3}), StatusCode::M_ParameterError,
                   {ro, bound, param::ROSpecStartTrigger}, "GPI"},
        RefusalRow{"GpiStopTrigger", add(RoBuild{.stop = 2}), StatusCode::M_ParameterError,
                   {ro, bound, param::ROSpecStopTrigger}, "GPI"},
        RefusalRow{"PriorityPastLevels", add(RoBuild{.priority = 8}), StatusCode::M_ParameterError, {ro}, "Priority"},
        RefusalRow{"AntennaThatDoesNotExist", add(RoBuild{.aispecs = {AiBuild{.antennas = {1, 5}}}}),
                   StatusCode::M_ParameterError, {ro, ai}, "antenna 5"},
        RefusalRow{"RfSurvey",
                   add(RoBuild{.extra_specs = {with(param::RFSurveySpec, {{"AntennaID", u(1)}},
                                                    {with(param::RFSurveySpecStopTrigger, {})})}}),
                   StatusCode::M_ParameterError, {ro, param::RFSurveySpec}, "RF survey"},
        RefusalRow{"SelectFilter",
                   add(RoBuild{.aispecs = {with_inventory_command(with(
                                   cmd, {}, {with(param::C1G2Filter, {}, {with(param::C1G2TagInventoryMask, {{"MB", u(1)}})})}))}}),
                   StatusCode::M_ParameterError, {ro, ai, inv, ant, cmd, param::C1G2Filter}, "filter"},
        RefusalRow{"SingulationSession",
                   add(RoBuild{.aispecs = {with_inventory_command(with(cmd, {}, {with(param::C1G2SingulationControl, {{"Session", u(2)}})}))}}),
                   StatusCode::M_ParameterError, {ro, ai, inv, ant, cmd, param::C1G2SingulationControl}, "singulation"},
        RefusalRow{"TransmitterInsideRoSpec",
                   add(RoBuild{.aispecs = {AiBuild{.antenna_configuration = {with(ant, {{"AntennaID", u(1)}},
                                                                                {with(param::RFTransmitter, {{"TransmitPower", u(1)}})})}}}}),
                   StatusCode::M_ParameterError, {ro, ai, inv, ant, param::RFTransmitter}, "SET_READER_CONFIG"},
        RefusalRow{"KillOperation", add_access({with(param::C1G2Kill, {{"OpSpecID", u(1)}})}), StatusCode::M_ParameterError,
                   {as, ac, param::C1G2Kill}, "C1G2Kill"},
        RefusalRow{"LockOperation",
                   add_access({with(param::C1G2Lock, {{"OpSpecID", u(1)}}, {with(param::C1G2LockPayload, {})})}),
                   StatusCode::M_ParameterError, {as, ac, param::C1G2Lock}, "C1G2Lock"},
        RefusalRow{"BlockWriteWhereTheReaderCannot",
                   add_access({with(param::C1G2BlockWrite, {{"OpSpecID", u(1)}, {"MB", u(3)}, {"WriteData", std::vector<std::uint16_t>{1}}})}),
                   StatusCode::M_ParameterError, {as, ac, param::C1G2BlockWrite}, "C1G2BlockWrite"},
        RefusalRow{"TargetOnTidBank", add_access({read_op()}, target(2)), StatusCode::M_ParameterError,
                   {as, ac, param::C1G2TagSpec, param::C1G2TargetTag}, "EPC bank"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- AccessSpecs --------------------------------------------------------------------------------

using AccessStates = EngineTest;

TEST_F(AccessStates, AddedDisabledThenEnabledDisabledAndDeletedByIdOrAll) {
  ASSERT_EQ(status(add_access({read_op()}, target(1), 5)), StatusCode::M_Success);
  ASSERT_EQ(status(add_access({read_op()}, target(1), 6)), StatusCode::M_Success);
  EXPECT_EQ(status(add_access({read_op()}, target(1), 6)), StatusCode::M_ParameterError);
  auto states = [&] {
    std::vector<std::int64_t> out;
    Message all = send(request(msg::GET_ACCESSSPECS));
    for (const Parameter *p : find_all(all.params, param::AccessSpec))
      out.push_back(*number(*p, "CurrentState"));
    return out;
  };
  EXPECT_EQ(states(), (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(status(by_id(msg::ENABLE_ACCESSSPEC, 0)), StatusCode::M_Success);
  EXPECT_EQ(states(), (std::vector<std::int64_t>{1, 1}));
  EXPECT_EQ(status(by_id(msg::DISABLE_ACCESSSPEC, 6)), StatusCode::M_Success);
  EXPECT_EQ(states(), (std::vector<std::int64_t>{1, 0}));
  EXPECT_EQ(status(by_id(msg::ENABLE_ACCESSSPEC, 9)), StatusCode::M_FieldError);
  EXPECT_EQ(status(by_id(msg::DELETE_ACCESSSPEC, 5)), StatusCode::M_Success);
  EXPECT_EQ(states().size(), 1u);
  EXPECT_EQ(status(by_id(msg::DELETE_ACCESSSPEC, 0)), StatusCode::M_Success);
  EXPECT_TRUE(states().empty());
}

TEST(AccessWithoutPort, AddIsRefusedAsUnsupported) {
  RecordingOutbox outbox;
  Engine engine(EngineOptions{}, outbox, nullptr);
  std::optional<Message> reply = engine.handle(add_access({read_op()}), Time{0});
  ASSERT_TRUE(reply);
  EXPECT_EQ(status_of(*reply), StatusCode::M_ParameterError);
  EXPECT_NE(description_of(*reply).find("tag access"), std::string::npos);
}

TEST_F(AccessStates, FactoryResetDeletesEverySpecAndRestoresDefaults) {
  ASSERT_EQ(status(add(RoBuild{})), StatusCode::M_Success);
  ASSERT_EQ(status(add_access({read_op()})), StatusCode::M_Success);
  ASSERT_EQ(engine.set_report_defaults(report_spec(0, 0, {})).code, StatusCode::M_Success);
  engine.set_hold_events_and_reports(true);
  engine.factory_reset(now());
  EXPECT_EQ(state_of(1), gone);
  EXPECT_TRUE(find_all(send(request(msg::GET_ACCESSSPECS)).params, param::AccessSpec).empty());
  EXPECT_EQ(number(engine.report_defaults(), "ROReportTrigger"), 1);
  EXPECT_FALSE(engine.hold_events_and_reports());
}

TEST_F(AccessStates, MessagesTheEngineDoesNotOwnAreLeftToTheFace) {
  EXPECT_FALSE(engine.handle(request(msg::GET_READER_CAPABILITIES), now()).has_value());
  EXPECT_FALSE(Engine::owns(msg::SET_READER_CONFIG));
  EXPECT_TRUE(Engine::owns(msg::GET_REPORT));
}

}  // namespace
