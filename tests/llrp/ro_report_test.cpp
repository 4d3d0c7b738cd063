// Reports: when RO_ACCESS_REPORT goes out (upon N tags, at the end of an AISpec or ROSpec, only
// when asked), what a TagReportData holds for each content selector, how a tag's reads
// accumulate, and reports held while the client cannot or may not take them.
#include "ro_fixture.hpp"

namespace {

using namespace llrp_test;

constexpr std::uint8_t none = 0, aispec_end = 1, rospec_end = 2;

class Reports : public EngineTest {
 protected:
  // Adds, enables and starts ROSpec 1 with the report settings and AISpecs given.
  void run(Parameter report, std::vector<AiBuild> aispecs = {AiBuild{}}) {
    ASSERT_EQ(status(add(RoBuild{.aispecs = aispecs, .report = report})), StatusCode::M_Success);
    ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
    ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  }
  void stop() { ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success); }
  // TagReportData per RO_ACCESS_REPORT sent since last asked.
  std::vector<std::size_t> report_sizes() {
    std::vector<std::size_t> sizes;
    for (const Message &m : sent())
      if (m.type == msg::RO_ACCESS_REPORT) sizes.push_back(m.params.size());
    return sizes;
  }
  using Sizes = std::vector<std::size_t>;
};

TEST_F(Reports, UponNTagsReportsEachNAndTheRestAtTheEnd) {
  run(report_spec(rospec_end, 2, {"EnableAntennaID"}));
  round({tag(1), tag(2), tag(3)});
  EXPECT_EQ(report_sizes(), Sizes{2});
  round({tag(3), tag(4), tag(5)});
  EXPECT_EQ(report_sizes(), Sizes{2}) << "tag 3 accumulated, then 4: a report; 5 waits";
  stop();
  EXPECT_EQ(report_sizes(), Sizes{1});
}

TEST_F(Reports, NZeroReportsOnlyAtTheEndOfEachAiSpecOrOfTheRoSpec) {
  const std::vector<AiBuild> two{AiBuild{.stop = 1, .duration_ms = 100}, AiBuild{.stop = 1, .duration_ms = 100}};
  // Two tags in each AISpec, then both ended.
  auto rounds_over_both = [&] {
    const std::int64_t t0 = clock_ms;
    std::uint8_t n = 0;
    for (std::int64_t at : {20, 60, 120, 160}) {
      advance(at - (clock_ms - t0));
      round({tag(n++)});
    }
    advance(200 - (clock_ms - t0));
  };
  run(report_spec(aispec_end, 0, {}), two);
  rounds_over_both();
  EXPECT_EQ(report_sizes(), (Sizes{2, 2}));

  ASSERT_EQ(status(by_id(msg::DELETE_ROSPEC, 1)), StatusCode::M_Success);
  run(report_spec(rospec_end, 0, {}), two);
  rounds_over_both();
  EXPECT_EQ(report_sizes(), Sizes{4});
}

TEST_F(Reports, TriggerNoneKeepsTagsForGetReport) {
  run(report_spec(none, 1, {}));
  round({tag(1), tag(2)});
  stop();
  EXPECT_TRUE(report_sizes().empty());
  Message report = send(request(msg::GET_REPORT));
  EXPECT_EQ(report.type, msg::RO_ACCESS_REPORT);
  EXPECT_EQ(report.id, 77u);
  EXPECT_EQ(report.params.size(), 2u);
  EXPECT_TRUE(send(request(msg::GET_REPORT)).params.empty()) << "taken once";
}

TEST_F(Reports, TheReportComesBeforeTheEndEvents) {
  enable_events({NotificationEvent::rospec, NotificationEvent::aispec});
  run(report_spec(rospec_end, 0, {}));
  sent();
  round({tag(1)});
  stop();
  std::vector<Message> messages = sent();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].type, msg::RO_ACCESS_REPORT);
  EXPECT_EQ(events_in(messages), (std::vector<std::pair<std::uint16_t, std::int64_t>>{{param::AISpecEvent, 0}, {param::ROSpecEvent, 1}}));
}

// ---- accumulation ---------------------------------------------------------------------------

TEST_F(Reports, ReadsOfATagAccumulatePerAntennaWhenTheAntennaIsReported) {
  run(report_spec(rospec_end, 0, {"EnableAntennaID", "EnableTagSeenCount", "EnablePeakRSSI",
                                  "EnableFirstSeenTimestamp", "EnableLastSeenTimestamp"}));
  const std::int64_t first = clock_ms;
  round({tag(1, 1, -60, 3), tag(1, 2, -40, 1)});
  advance(100);
  round({tag(1, 1, -55, 2)});
  stop();
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(sub_value(tags[0], param::AntennaID), 1);
  EXPECT_EQ(sub_value(tags[0], param::TagSeenCount), 5);
  EXPECT_EQ(sub_value(tags[0], param::PeakRSSI), -55);
  EXPECT_EQ(sub_value(tags[0], param::FirstSeenTimestampUTC), first * 1000);
  EXPECT_EQ(sub_value(tags[0], param::LastSeenTimestampUTC), (first + 100) * 1000);
  EXPECT_EQ(sub_value(tags[1], param::AntennaID), 2);
  EXPECT_EQ(sub_value(tags[1], param::TagSeenCount), 1);
}

TEST_F(Reports, WithoutTheAntennaATagIsOneReport) {
  run(report_spec(rospec_end, 0, {"EnableTagSeenCount", "EnablePeakRSSI"}));
  round({tag(1, 1, -60, 3), tag(1, 2, -40, 1), tag(2, 1)});
  stop();
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(sub_value(tags[0], param::TagSeenCount), 4);
  EXPECT_EQ(sub_value(tags[0], param::PeakRSSI), -40);
  EXPECT_EQ(find(tags[0].params, param::AntennaID), nullptr);
}

TEST_F(Reports, OnlyTheAiSpecsAntennasAndTheEpcFamilyCount) {
  run(report_spec(rospec_end, 0, {"EnableAntennaID"}), {AiBuild{.antennas = {2, 3}}});
  RoundRead gb = tag(9, 2);
  gb.family = TagFamily::gb;
  round({tag(1, 1), tag(2, 2), tag(3, 3), tag(4, 4), gb});
  stop();
  std::vector<std::int64_t> antennas;
  for (const Parameter &t : tag_reports(sent())) antennas.push_back(*sub_value(t, param::AntennaID));
  EXPECT_EQ(antennas, (std::vector<std::int64_t>{2, 3}));
}

class OptedInFamilies : public EngineTest {
 protected:
  OptedInFamilies() : EngineTest(options()) {}
  static EngineOptions options() {
    EngineOptions o;
    o.gb_tags = true;
    return o;
  }
};

TEST_F(OptedInFamilies, GbTagsCountWhereTheReaderOptsIn) {
  ASSERT_EQ(status(add(RoBuild{.report = report_spec(rospec_end, 0, {})})), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  RoundRead gb = tag(9), gjb = tag(8);
  gb.family = TagFamily::gb;
  gb.id = {1, 2, 3, 4, 5, 6, 7, 8};
  gjb.family = TagFamily::gjb;
  round({gb, gjb});
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success);
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 1u);
  const Parameter *data = find(tags[0].params, param::EPCData);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::get<Bits>(data->fields[0]).count, 64);
}

TEST(BoundedPending, TagsKeptForGetReportStopAtTheBoundOldestDropped) {
  RecordingOutbox outbox;
  EngineOptions options;
  options.max_pending_tags = 3;
  Engine engine(options, outbox, nullptr);
  engine.client_connected(Time{0});
  engine.handle(add(RoBuild{.start = 1, .report = report_spec(none, 0, {})}), Time{0});
  engine.handle(by_id(msg::ENABLE_ROSPEC, 1), Time{0});
  engine.on_round(InventoryRound{Time{1}, {tag(1), tag(2), tag(3), tag(4), tag(5)}, false});
  std::optional<Message> report = engine.handle(request(msg::GET_REPORT), Time{2});
  ASSERT_TRUE(report);
  ASSERT_EQ(report->params.size(), 3u);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(report->params[0].params[0].fields[0]), epc(3));
  EXPECT_EQ(engine.stats().tags_dropped, 2u);
}

// ---- content per selector -------------------------------------------------------------------

struct ContentRow {
  const char *flag;         // nullptr: nothing enabled
  std::uint16_t parameter;  // appears exactly when its flag is on
};

class Content : public Reports, public ::testing::WithParamInterface<ContentRow> {};

TEST_P(Content, ParameterAppearsOnlyWhenEnabled) {
  const ContentRow &row = GetParam();
  RoundRead read = tag(1, 3, -47, 2);
  read.pc = 0x3000;
  run(report_spec(rospec_end, 0, {row.flag}));
  round({read});
  stop();
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 1u);
  ASSERT_NE(find(tags[0].params, param::EPC_96), nullptr) << "a 96-bit EPC travels as EPC-96";
  std::vector<std::uint16_t> types;
  for (const Parameter &p : tags[0].params) types.push_back(p.type);
  EXPECT_EQ(types, (std::vector<std::uint16_t>{param::EPC_96, row.parameter}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Content,
    ::testing::Values(ContentRow{"EnableROSpecID", param::ROSpecID}, ContentRow{"EnableSpecIndex", param::SpecIndex},
                      ContentRow{"EnableInventoryParameterSpecID", param::InventoryParameterSpecID},
                      ContentRow{"EnableAntennaID", param::AntennaID}, ContentRow{"EnablePeakRSSI", param::PeakRSSI},
                      ContentRow{"EnableFirstSeenTimestamp", param::FirstSeenTimestampUTC},
                      ContentRow{"EnableLastSeenTimestamp", param::LastSeenTimestampUTC},
                      ContentRow{"EnableTagSeenCount", param::TagSeenCount}),
    [](const auto &info) { return std::string(info.param.flag); });

TEST_F(Reports, SelectedValuesAreTheRoSpecsAndTheReads) {
  run(report_spec(rospec_end, 0, {"EnableROSpecID", "EnableSpecIndex", "EnableInventoryParameterSpecID", "EnablePeakRSSI"}));
  round({tag(1, 1, -47)});
  stop();
  Parameter t = tag_reports(sent()).at(0);
  EXPECT_EQ(sub_value(t, param::ROSpecID), 1);
  EXPECT_EQ(sub_value(t, param::SpecIndex), 1);
  EXPECT_EQ(sub_value(t, param::InventoryParameterSpecID), 11);
  EXPECT_EQ(sub_value(t, param::PeakRSSI), -47);
}

TEST_F(Reports, ShortIdsTravelAsEpcDataWithTheirBitLength) {
  run(report_spec(rospec_end, 0, {}));
  RoundRead r = tag(1);
  r.id = epc(1, 4);
  round({r});
  stop();
  Parameter t = tag_reports(sent()).at(0);
  const Parameter *data = find(t.params, param::EPCData);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::get<Bits>(data->fields[0]), (Bits{epc(1, 4), 32}));
}

TEST_F(Reports, TheReadersDefaultsApplyWhereTheRoSpecHasNone) {
  ASSERT_EQ(engine.set_report_defaults(report_spec(rospec_end, 0, {"EnableROSpecID"})).code, StatusCode::M_Success);
  EXPECT_EQ(number(engine.report_defaults(), "ROReportTrigger"), rospec_end);
  request(msg::SET_READER_CONFIG, {}, {engine.report_defaults()});  // encodes and decodes back
  ASSERT_EQ(status(add(RoBuild{})), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  round({tag(1), tag(2)});
  EXPECT_TRUE(report_sizes().empty()) << "N = 0: only at the end";
  stop();
  std::vector<Parameter> tags = tag_reports(sent());
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_EQ(tags[0].params.size(), 2u);
}

// ---- held reports and events ------------------------------------------------------------------

TEST_F(Reports, HeldFromReconnectUntilEventsAndReportsAreEnabled) {
  engine.set_hold_events_and_reports(true);
  enable_events({NotificationEvent::rospec});
  run(report_spec(aispec_end, 1, {}));
  sent();
  engine.client_disconnected(now());
  round({tag(1)});
  engine.client_connected(now());
  round({tag(2)});
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(engine.handle(request(msg::ENABLE_EVENTS_AND_REPORTS), now()), std::nullopt) << "it has no response";
  EXPECT_EQ(tag_reports(sent()).size(), 2u);
  round({tag(3)});
  EXPECT_EQ(tag_reports(sent()).size(), 1u) << "then sent as they come";
}

TEST_F(Reports, WithoutHoldWhatComesWhileNoClientIsThereIsDropped) {
  run(report_spec(aispec_end, 1, {}));
  sent();
  engine.client_disconnected(now());
  round({tag(1), tag(2)});
  engine.client_connected(now());
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(engine.stats().tags_dropped, 2u);
  round({tag(3)});
  EXPECT_EQ(tag_reports(sent()).size(), 1u);
}

TEST_F(Reports, EventsOnlyOfTheTypesEnabled) {
  run(report_spec(none, 0, {}));
  stop();
  EXPECT_TRUE(sent().empty());
  enable_events({NotificationEvent::antenna});
  EXPECT_TRUE(engine.event_enabled(NotificationEvent::antenna));
  EXPECT_FALSE(engine.event_enabled(NotificationEvent::rospec));
  engine.reader_event(NotificationEvent::antenna, with(param::AntennaEvent, {{"AntennaID", u(2)}}), now());
  engine.reader_event(NotificationEvent::reader_exception, with(param::ReaderExceptionEvent, {{"Message", std::string("offline")}}), now());
  std::vector<Message> messages = sent();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(find(messages[0].params.at(0).params, param::AntennaEvent), nullptr);
  Parameter notifications = engine.event_notifications();
  EXPECT_EQ(find_all(notifications.params, param::EventNotificationState).size(), 9u);
}

}  // namespace
