// Tag access: target patterns over the EPC bank, outcomes as LLRP result codes, and AccessSpecs
// running on the reads of an active ROSpec (binding, one access per tag at a time, operation
// counts, where the results are reported).
#include "llrp/access.hpp"
#include "ro_fixture.hpp"

namespace {

using namespace llrp_test;

struct TargetRow {
  const char *name;
  std::uint16_t pointer;
  Bits mask, data;
  bool match;
  std::optional<std::uint16_t> pc;
  bool expected;
};

class Targets : public ::testing::TestWithParam<TargetRow> {};

TEST_P(Targets, MatchOverTheEpcBank) {
  const TargetRow &row = GetParam();
  std::vector<std::uint8_t> id{0x30, 0x08, 0x33, 0xB2};
  EXPECT_EQ(target_matches(TargetTag{row.pointer, row.mask, row.data, row.match}, id, row.pc), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Targets,
    ::testing::Values(
        TargetRow{"EpcPrefix", 32, {{0xff}, 8}, {{0x30}, 8}, true, std::nullopt, true},
        TargetRow{"EpcPrefixDiffers", 32, {{0xff}, 8}, {{0x31}, 8}, true, std::nullopt, false},
        TargetRow{"MatchZeroInverts", 32, {{0xff}, 8}, {{0x31}, 8}, false, std::nullopt, true},
        TargetRow{"MaskedBitsIgnored", 32, {{0xf0}, 8}, {{0x3f}, 8}, true, std::nullopt, true},
        TargetRow{"EmptyMaskComparesEveryBit", 40, {}, {{0x08, 0x33}, 16}, true, std::nullopt, true},
        TargetRow{"MidByteOffset", 36, {{0xff}, 8}, {{0x00}, 8}, true, std::nullopt, true},
        TargetRow{"LastBits", 56, {{0xff}, 8}, {{0xB2}, 8}, true, std::nullopt, true},
        TargetRow{"PastTheEpcNeverMatches", 60, {{0xff}, 8}, {{0x20}, 8}, true, std::nullopt, false},
        TargetRow{"CrcIsNeverKnown", 0, {{0xff}, 8}, {{0x00}, 8}, false, std::nullopt, false},
        TargetRow{"PcWhenReported", 16, {{0xf8}, 5}, {{0x10}, 5}, true, std::uint16_t{0x1000}, true},
        TargetRow{"PcUnknownDoesNotMatch", 16, {{0xf8}, 5}, {{0x10}, 5}, true, std::nullopt, false}),
    [](const auto &info) { return std::string(info.param.name); });

struct OutcomeRow {
  AccessResult::Outcome outcome;
  std::int64_t read_code, write_code;
};

class Outcomes : public ::testing::TestWithParam<OutcomeRow> {};

TEST_P(Outcomes, MapOntoLlrpResultCodes) {
  using K = AccessOp::Kind;
  const OutcomeRow &row = GetParam();
  std::vector<AccessOp> ops{{K::read, 1}, {K::write, 2}, {K::block_write, 3}};
  AccessResult r{row.outcome, {0xBEEF}, 1};
  std::vector<Parameter> out = op_results(ops, {r, r, r});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].type, param::C1G2ReadOpSpecResult);
  EXPECT_EQ(number(out[0], "Result"), row.read_code);
  EXPECT_EQ(number(out[0], "OpSpecID"), 1);
  EXPECT_EQ(std::get<std::vector<std::uint16_t>>(*field(out[0], "ReadData")).size(), row.read_code == 0 ? 1u : 0u);
  EXPECT_EQ(out[1].type, param::C1G2WriteOpSpecResult);
  EXPECT_EQ(number(out[1], "Result"), row.write_code);
  EXPECT_EQ(out[2].type, param::C1G2BlockWriteOpSpecResult);
  EXPECT_EQ(number(out[2], "Result"), row.write_code);
  EXPECT_EQ(number(out[2], "NumWordsWritten"), 1);
}

using O = AccessResult::Outcome;
INSTANTIATE_TEST_SUITE_P(Table, Outcomes,
                         ::testing::Values(OutcomeRow{O::success, 0, 0}, OutcomeRow{O::memory_overrun, 1, 1},
                                           OutcomeRow{O::memory_locked, 1, 2}, OutcomeRow{O::insufficient_power, 1, 3},
                                           OutcomeRow{O::tag_error, 1, 4}, OutcomeRow{O::no_response, 2, 5},
                                           OutcomeRow{O::reader_error, 3, 6}));

TEST(OutcomesShort, OperationsNotTriedHaveNoResult) {
  std::vector<AccessOp> ops{{AccessOp::Kind::write, 1}, {AccessOp::Kind::read, 2}};
  EXPECT_EQ(op_results(ops, {AccessResult{O::memory_locked}}).size(), 1u);
}

// ---- AccessSpecs on an active ROSpec ------------------------------------------------------------

struct AccessBuild {
  std::uint32_t id = 5;
  std::uint16_t antenna = 0;
  std::uint32_t rospec = 0;
  std::uint16_t operation_count = 0;
  std::optional<std::uint8_t> report{};  // AccessReportTrigger
  std::uint8_t epc_last = 0x01;          // the target: EPC ending in this byte

  Message build() const {
    Parameter target = with(param::C1G2TargetTag, {{"MB", u(1)}, {"Match", u(1)}, {"Pointer", u(32 + 88)},
                                                   {"TagMask", Bits{{0xff}, 8}}, {"TagData", Bits{{epc_last}, 8}}});
    Parameter command = with(param::AccessCommand, {},
                             {with(param::C1G2TagSpec, {}, {target}),
                              with(param::C1G2Read, {{"OpSpecID", u(7)}, {"MB", u(3)}, {"WordCount", u(2)}}),
                              with(param::C1G2Write, {{"OpSpecID", u(8)}, {"MB", u(3)}, {"WordPointer", u(4)},
                                                      {"WriteData", std::vector<std::uint16_t>{0xCAFE}}})});
    std::vector<Parameter> params{
        with(param::AccessSpecStopTrigger, {{"AccessSpecStopTrigger", u(operation_count ? 1 : 0)},
                                            {"OperationCountValue", u(operation_count)}}),
        command};
    if (report) params.push_back(with(param::AccessReportSpec, {{"AccessReportTrigger", u(*report)}}));
    return request(msg::ADD_ACCESSSPEC, {},
                   {with(param::AccessSpec, {{"AccessSpecID", u(id)}, {"AntennaID", u(antenna)}, {"ProtocolID", u(1)},
                                             {"ROSpecID", u(rospec)}},
                         params)});
  }
};

class Access : public EngineTest {
 protected:
  void add_access(const AccessBuild &a) {
    ASSERT_EQ(status(a.build()), StatusCode::M_Success) << description_of(send(a.build()));
    ASSERT_EQ(status(by_id(msg::ENABLE_ACCESSSPEC, a.id)), StatusCode::M_Success);
  }
  void start_rospec(std::uint8_t report_trigger = 2) {
    ASSERT_EQ(status(add(RoBuild{.report = report_spec(report_trigger, 0, {"EnableAccessSpecID"})})), StatusCode::M_Success);
    ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
    ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  }
  void answer(std::size_t call, std::vector<AccessResult> results) { port.calls.at(call).done(std::move(results)); }
  std::size_t access_specs() { return find_all(send(request(msg::GET_ACCESSSPECS)).params, param::AccessSpec).size(); }
};

TEST_F(Access, AMatchingTagIsAccessedAndItsResultsReported) {
  add_access(AccessBuild{.antenna = 2});
  start_rospec();
  round({tag(1, 1), tag(1, 2), tag(2, 2)});
  ASSERT_EQ(port.calls.size(), 1u) << "only tag 1 on antenna 2 matches";
  const AccessRequest &r = port.calls[0].request;
  EXPECT_EQ(r.access_id, 5u);
  EXPECT_EQ(r.tag, epc(1));
  EXPECT_EQ(r.antenna, 2);
  ASSERT_EQ(r.ops.size(), 2u);
  EXPECT_EQ(r.ops[0].kind, AccessOp::Kind::read);
  EXPECT_EQ(r.ops[0].bank, MemoryBank::user);
  EXPECT_EQ(r.ops[0].word_count, 2);
  EXPECT_EQ(r.ops[1].kind, AccessOp::Kind::write);
  EXPECT_EQ(r.ops[1].word_pointer, 4);
  EXPECT_EQ(r.ops[1].data, std::vector<std::uint16_t>{0xCAFE});
  answer(0, {{O::success, {0x1234, 0x5678}}, {O::success, {}, 1}});
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success);

  std::vector<Parameter> tags = tag_reports(sent());
  auto with_results = std::find_if(tags.begin(), tags.end(),
                                   [](const Parameter &t) { return find(t.params, param::C1G2ReadOpSpecResult); });
  ASSERT_NE(with_results, tags.end());
  EXPECT_EQ(sub_value(*with_results, param::AccessSpecID), 5);
  const Parameter *read = find(with_results->params, param::C1G2ReadOpSpecResult);
  EXPECT_EQ(number(*read, "Result"), 0);
  EXPECT_EQ(std::get<std::vector<std::uint16_t>>(*field(*read, "ReadData")), (std::vector<std::uint16_t>{0x1234, 0x5678}));
  EXPECT_EQ(number(*find(with_results->params, param::C1G2WriteOpSpecResult), "NumWordsWritten"), 1);
  EXPECT_EQ(tags.size(), 3u) << "the two inventory reports (tag 1 and tag 2) and the access's own";
}

TEST_F(Access, OneAccessPerTagAtATimeAndTheCountEndsTheAccessSpec) {
  add_access(AccessBuild{.operation_count = 2});
  start_rospec();
  round({tag(1)});
  round({tag(1)});
  EXPECT_EQ(port.calls.size(), 1u) << "the first has not been answered yet";
  answer(0, {{O::no_response}});
  round({tag(1)});
  ASSERT_EQ(port.calls.size(), 2u);
  EXPECT_EQ(access_specs(), 1u) << "still answering its last";
  answer(1, {{O::success, {1, 2}}, {O::success, {}, 1}});
  EXPECT_EQ(access_specs(), 0u) << "deleted after its operation count";
  round({tag(1)});
  EXPECT_EQ(port.calls.size(), 2u);
}

TEST_F(Access, BoundToAnotherRoSpecOrDisabledItDoesNotRun) {
  add_access(AccessBuild{.id = 5, .rospec = 9});
  add_access(AccessBuild{.id = 6});
  ASSERT_EQ(status(by_id(msg::DISABLE_ACCESSSPEC, 6)), StatusCode::M_Success);
  start_rospec();
  round({tag(1)});
  EXPECT_TRUE(port.calls.empty());
  ASSERT_EQ(status(by_id(msg::ENABLE_ACCESSSPEC, 6)), StatusCode::M_Success);
  round({tag(1)});
  ASSERT_EQ(port.calls.size(), 1u);
  EXPECT_EQ(port.calls[0].request.access_id, 6u);
}

TEST_F(Access, EndOfAccessSpecHoldsResultsUntilItIsDeleted) {
  add_access(AccessBuild{.report = 1});
  start_rospec(0);
  round({tag(1)});
  answer(0, {{O::success, {9, 9}}, {O::success, {}, 1}});
  EXPECT_TRUE(tag_reports(sent()).empty());
  ASSERT_EQ(status(by_id(msg::DELETE_ACCESSSPEC, 5)), StatusCode::M_Success);
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_NE(find(tags[0].params, param::C1G2ReadOpSpecResult), nullptr);
}

TEST_F(Access, AnAnswerAfterTheRoSpecEndedIsReportedAtOnce) {
  add_access(AccessBuild{});
  start_rospec();
  round({tag(1)});
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success);
  sent();
  answer(0, {{O::reader_error}});
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(number(*find(tags[0].params, param::C1G2ReadOpSpecResult), "Result"), 3);
}

TEST_F(Access, AnAccessNeverAnsweredHoldsItsTagOnlyUntilTheRoSpecEnds) {
  add_access(AccessBuild{});
  start_rospec();
  round({tag(1)});
  round({tag(1)});
  ASSERT_EQ(port.calls.size(), 1u);
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  round({tag(1)});
  EXPECT_EQ(port.calls.size(), 2u);
}

TEST(AccessAfterTheEngine, AnAnswerAfterTheEngineIsGoneIsDropped) {
  RecordingOutbox outbox;
  FakeAccessPort port;
  {
    Engine engine(EngineOptions{}, outbox, &port);
    engine.client_connected(Time{0});
    ASSERT_TRUE(engine.handle(AccessBuild{}.build(), Time{0}));
    engine.handle(by_id(msg::ENABLE_ACCESSSPEC, 5), Time{0});
    engine.handle(add(RoBuild{.start = 1}), Time{0});
    engine.handle(by_id(msg::ENABLE_ROSPEC, 1), Time{0});
    engine.on_round(InventoryRound{Time{1}, {tag(1)}, false});
  }
  ASSERT_EQ(port.calls.size(), 1u);
  port.calls[0].done({{O::success, {1, 2}}});
}

}  // namespace
