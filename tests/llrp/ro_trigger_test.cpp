// Start and stop triggers on a fake clock: Immediate and Periodic starts, Duration stops, AISpec
// stop triggers over rounds, priorities, and the events that mark each step.
#include "ro_fixture.hpp"

namespace {

using namespace llrp_test;

constexpr std::int64_t start_of = 0, end_of = 1, preemption = 2;

class Triggers : public EngineTest {
 protected:
  void SetUp() override { enable_events({NotificationEvent::rospec, NotificationEvent::aispec}); }
  // The events sent since last asked, as (ROSpecEvent or AISpecEvent, its type).
  std::vector<std::pair<std::uint16_t, std::int64_t>> events() { return events_in(sent()); }
  std::int64_t t0 = clock_ms;
  std::int64_t elapsed() const { return clock_ms - t0; }
};

const std::pair<std::uint16_t, std::int64_t> ro_start{param::ROSpecEvent, start_of}, ro_end{param::ROSpecEvent, end_of},
    ro_preempted{param::ROSpecEvent, preemption}, ai_end{param::AISpecEvent, 0};
using Events = std::vector<std::pair<std::uint16_t, std::int64_t>>;

TEST_F(Triggers, ImmediateStartsOnEnableAndEndsWithItsOnlyAiSpec) {
  ASSERT_EQ(status(add(RoBuild{.start = 1, .aispecs = {AiBuild{.stop = 1, .duration_ms = 500}}})), StatusCode::M_Success);
  EXPECT_EQ(engine.next_deadline(), std::nullopt);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  EXPECT_EQ(state_of(1), 2);
  EXPECT_EQ(events(), Events{ro_start});
  EXPECT_EQ(engine.next_deadline(), now() + Time{500'000});
  advance(499);
  EXPECT_TRUE(engine.inventory_active());
  advance(1);
  EXPECT_EQ(state_of(1), 1);
  EXPECT_EQ(events(), (Events{ai_end, ro_end}));
  advance(10'000);
  EXPECT_EQ(state_of(1), 1) << "an Immediate start happens once, on enabling";
}

TEST_F(Triggers, PeriodicStartsAtTheOffsetThenEveryPeriod) {
  ASSERT_EQ(status(add(RoBuild{.start = 2, .offset_ms = 1000, .period_ms = 5000, .stop = 1, .stop_ms = 2000})),
            StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  EXPECT_EQ(engine.next_deadline(), now() + Time{1'000'000});
  for (std::int64_t at : {1000, 6000, 11000}) {
    advance(at - 1 - elapsed());
    EXPECT_FALSE(engine.inventory_active()) << at;
    advance(1);
    EXPECT_TRUE(engine.inventory_active()) << at;
    advance(1999);
    EXPECT_TRUE(engine.inventory_active()) << at;
    advance(1);
    EXPECT_FALSE(engine.inventory_active()) << at;
  }
  EXPECT_EQ(state_of(1), 1);
  ASSERT_EQ(status(by_id(msg::DISABLE_ROSPEC, 1)), StatusCode::M_Success);
  EXPECT_EQ(engine.next_deadline(), std::nullopt);
}

TEST_F(Triggers, NullStartWaitsForStartAndNullStopForStop) {
  ASSERT_EQ(status(add(RoBuild{})), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  advance(60'000);
  EXPECT_FALSE(engine.inventory_active());
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  for (int i = 0; i < 50; ++i) {
    advance(1000);
    round({tag(1)});
  }
  EXPECT_TRUE(engine.inventory_active());
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 1)), StatusCode::M_Success);
  EXPECT_FALSE(engine.inventory_active());
}

TEST_F(Triggers, DurationStopRunsTheAiSpecsAgainUntilItIsOver) {
  ASSERT_EQ(status(add(RoBuild{.stop = 1, .stop_ms = 1000, .aispecs = {AiBuild{.stop = 1, .duration_ms = 300}}})),
            StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  for (int i = 0; i < 10; ++i) advance(100);
  EXPECT_EQ(events(), (Events{ro_start, ai_end, ai_end, ai_end, ai_end, ro_end}));
  EXPECT_EQ(state_of(1), 1);
}

TEST_F(Triggers, AiSpecsRunInOrderAndTheRoSpecEndsAfterTheLast) {
  ASSERT_EQ(status(add(RoBuild{.aispecs = {AiBuild{.stop = 1, .duration_ms = 100},
                                           AiBuild{.stop = 1, .duration_ms = 200, .inventory_id = 12}}})),
            StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  advance(100);
  EXPECT_TRUE(engine.inventory_active());
  advance(199);
  EXPECT_TRUE(engine.inventory_active());
  advance(1);
  EXPECT_FALSE(engine.inventory_active());
  EXPECT_EQ(events(), (Events{ro_start, ai_end, ai_end, ro_end}));
}

// ---- AISpec tag-observation triggers ------------------------------------------------------------

struct Step {
  std::int64_t at_ms;              // from the start
  std::vector<std::uint8_t> tags;  // a round there with these tags (by last EPC byte)
  bool round = true;
};

struct ObservationRow {
  const char *name;
  TagObservation trigger;
  std::vector<Step> steps;
  std::optional<std::int64_t> ends_at;
};

class Observation : public EngineTest, public ::testing::WithParamInterface<ObservationRow> {};

TEST_P(Observation, EndsWhenTheTriggerSays) {
  const ObservationRow &row = GetParam();
  ASSERT_EQ(status(add(RoBuild{.aispecs = {AiBuild{.stop = 3, .observation = row.trigger}}})), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  const std::int64_t t0 = clock_ms;
  std::optional<std::int64_t> ended;
  for (const Step &step : row.steps) {
    advance(step.at_ms - (clock_ms - t0));
    if (step.round && !ended) {
      std::vector<RoundRead> reads;
      for (std::uint8_t t : step.tags) reads.push_back(tag(t));
      round(reads);
    }
    if (!ended && !engine.inventory_active()) ended = step.at_ms;
  }
  EXPECT_EQ(ended, row.ends_at);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Observation,
    ::testing::Values(
        ObservationRow{"NTagsCountsDistinctTags", {.type = 0, .tags = 2},
                       {{100, {1}}, {200, {1}}, {300, {1, 2}}, {400, {}}}, 300},
        ObservationRow{"NTagsTimesOut", {.type = 0, .tags = 2, .timeout_ms = 250},
                       {{100, {1}}, {200, {1}}, {249, {}, false}, {250, {}, false}}, 250},
        ObservationRow{"NTagsWithoutTimeoutWaits", {.type = 0, .tags = 3},
                       {{100, {1}}, {200, {2}}, {60'000, {}, false}}, std::nullopt},
        ObservationRow{"NoNewTagForT", {.type = 1, .t_ms = 200},
                       {{100, {1}}, {250, {1}}, {290, {2}}, {489, {}, false}, {490, {}, false}}, 490},
        ObservationRow{"NoNewTagCountsFromTheStart", {.type = 1, .t_ms = 200}, {{150, {}}, {200, {}, false}}, 200},
        ObservationRow{"NAttemptsCountsRoundsEmptyOrNot", {.type = 2, .attempts = 3},
                       {{100, {}}, {200, {1}}, {250, {}, false}, {300, {}}}, 300},
        ObservationRow{"NAttemptsTimesOut", {.type = 2, .attempts = 30, .timeout_ms = 1000},
                       {{100, {}}, {999, {}, false}, {1000, {}, false}}, 1000}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- priorities ----------------------------------------------------------------------------------

TEST_F(Triggers, HigherPriorityPreemptsAndEqualPriorityWaitsItsTurn) {
  ASSERT_EQ(status(add(RoBuild{.id = 1, .priority = 3})), StatusCode::M_Success);
  ASSERT_EQ(status(add(RoBuild{.id = 2, .priority = 1})), StatusCode::M_Success);
  ASSERT_EQ(status(add(RoBuild{.id = 3, .priority = 1})), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::ENABLE_ROSPEC, 0)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  sent();
  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 2)), StatusCode::M_Success);
  EXPECT_EQ(state_of(1), 1);
  EXPECT_EQ(state_of(2), 2);
  std::vector<Message> messages = sent();
  EXPECT_EQ(events_in(messages), (Events{ai_end, ro_preempted, ro_start}));
  const Parameter *preempted = find(messages.at(1).params.at(0).params, param::ROSpecEvent);
  ASSERT_NE(preempted, nullptr);
  EXPECT_EQ(number(*preempted, "ROSpecID"), 1);
  EXPECT_EQ(number(*preempted, "PreemptingROSpecID"), 2);

  ASSERT_EQ(status(by_id(msg::START_ROSPEC, 3)), StatusCode::M_Success);
  EXPECT_EQ(state_of(3), 1) << "equal priority: waits for the running one";
  EXPECT_EQ(status(by_id(msg::START_ROSPEC, 1)), StatusCode::M_Success);
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 2)), StatusCode::M_Success);
  EXPECT_EQ(state_of(3), 2) << "the first waiting starts";
  ASSERT_EQ(status(by_id(msg::STOP_ROSPEC, 3)), StatusCode::M_Success);
  EXPECT_EQ(state_of(1), 2) << "then the next";
}

}  // namespace
