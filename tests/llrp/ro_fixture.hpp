// The reader-operation engine under test: requests built as a client would send them (and put
// through the codec both ways first), an Outbox that checks every message it is given encodes
// and decodes back to itself, a tag-access port the test answers, and a fake clock.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "llrp/ro_engine.hpp"

namespace llrp_test {

using namespace uhf::llrp;

// A message as the codec would hand it on: encoded, decoded back, and equal to what went in.
inline Message through_codec(const Message &m) {
  Encoded e = encode(m);
  EXPECT_TRUE(e.ok()) << e.error;
  if (!e.ok()) return m;
  Decoded d = decode(e.bytes);
  EXPECT_TRUE(d.ok()) << d.error.description;
  if (!d.ok()) return m;
  EXPECT_EQ(*d.message, m);
  return *d.message;
}

class RecordingOutbox : public Outbox {
 public:
  void send(Message message) override {
    Message checked = through_codec(message);
    std::lock_guard lock(mutex_);
    sent_.push_back(std::move(checked));
  }
  std::vector<Message> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<Message> sent_;
};

class FakeAccessPort : public AccessPort {
 public:
  struct Call {
    AccessRequest request;
    std::function<void(std::vector<AccessResult>)> done;
  };
  void access(const AccessRequest &request, std::function<void(std::vector<AccessResult>)> done) override {
    std::lock_guard lock(mutex_);
    calls.push_back({request, std::move(done)});
  }
  std::vector<Call> calls;

 private:
  std::mutex mutex_;
};

// ---- building requests ----------------------------------------------------------------------

inline Parameter with(std::uint16_t type, std::vector<std::pair<const char *, FieldValue>> fields,
                      std::vector<Parameter> params = {}) {
  Parameter p = make_parameter(type);
  for (auto &[name, value] : fields) EXPECT_TRUE(set(p, name, value)) << name;
  p.params = std::move(params);
  return p;
}

inline FieldValue u(std::uint64_t v) { return v; }

struct TagObservation {
  std::uint8_t type = 0;  // 0 N tags, 1 no new tag for T ms, 2 N attempts
  std::uint16_t tags = 0, attempts = 0, t_ms = 0;
  std::uint32_t timeout_ms = 0;
};

struct AiBuild {
  std::vector<std::uint16_t> antennas{0};
  std::uint8_t stop = 0;  // 0 Null, 1 Duration, 3 Tag observation
  std::uint32_t duration_ms = 0;
  TagObservation observation{};
  std::uint16_t inventory_id = 11;
  std::vector<Parameter> antenna_configuration{};

  Parameter build() const {
    std::vector<Parameter> stop_params;
    if (stop == 3)
      stop_params.push_back(with(param::TagObservationTrigger,
                                 {{"TriggerType", u(observation.type)}, {"NumberOfTags", u(observation.tags)},
                                  {"NumberOfAttempts", u(observation.attempts)}, {"T", u(observation.t_ms)},
                                  {"Timeout", u(observation.timeout_ms)}}));
    Parameter inventory = with(param::InventoryParameterSpec,
                               {{"InventoryParameterSpecID", u(inventory_id)}, {"ProtocolID", u(1)}},
                               antenna_configuration);
    return with(param::AISpec, {{"AntennaIDs", antennas}},
                {with(param::AISpecStopTrigger, {{"AISpecStopTriggerType", u(stop)}, {"DurationTrigger", u(duration_ms)}},
                      stop_params),
                 inventory});
  }
};

// A report per `n` tags (0: only at the end) at `trigger`, with the selector's flags named.
inline Parameter report_spec(std::uint8_t trigger, std::uint16_t n, std::vector<const char *> enabled) {
  Parameter selector = make_parameter(param::TagReportContentSelector);
  for (const char *name : enabled) EXPECT_TRUE(set(selector, name, u(1))) << name;
  return with(param::ROReportSpec, {{"ROReportTrigger", u(trigger)}, {"N", u(n)}}, {selector});
}

struct RoBuild {
  std::uint32_t id = 1;
  std::uint8_t priority = 0;
  std::uint8_t state = 0;
  std::uint8_t start = 0;  // 0 Null, 1 Immediate, 2 Periodic, 3 GPI
  std::uint32_t offset_ms = 0, period_ms = 0;
  std::uint8_t stop = 0;   // 0 Null, 1 Duration, 2 GPI
  std::uint32_t stop_ms = 0;
  std::vector<AiBuild> aispecs{AiBuild{}};
  std::optional<Parameter> report{};
  std::vector<Parameter> extra_specs{};  // after the AISpecs (an RFSurveySpec...)

  Parameter build() const {
    std::vector<Parameter> start_params;
    if (start == 2)
      start_params.push_back(with(param::PeriodicTriggerValue, {{"Offset", u(offset_ms)}, {"Period", u(period_ms)}}));
    Parameter boundary = with(param::ROBoundarySpec, {},
                              {with(param::ROSpecStartTrigger, {{"ROSpecStartTriggerType", u(start)}}, start_params),
                               with(param::ROSpecStopTrigger, {{"ROSpecStopTriggerType", u(stop)}, {"DurationTriggerValue", u(stop_ms)}})});
    std::vector<Parameter> params{boundary};
    for (const AiBuild &ai : aispecs) params.push_back(ai.build());
    for (const Parameter &p : extra_specs) params.push_back(p);
    if (report) params.push_back(*report);
    return with(param::ROSpec, {{"ROSpecID", u(id)}, {"Priority", u(priority)}, {"CurrentState", u(state)}}, params);
  }
};

inline Message request(std::uint16_t type, std::vector<std::pair<const char *, FieldValue>> fields = {},
                       std::vector<Parameter> params = {}) {
  Message m = make_message(type, 77);
  for (auto &[name, value] : fields) EXPECT_TRUE(set(m, name, value)) << name;
  m.params = std::move(params);
  return through_codec(m);
}

inline Message add(const RoBuild &r) { return request(msg::ADD_ROSPEC, {}, {r.build()}); }
inline Message by_id(std::uint16_t type, std::uint32_t id) {
  return request(type, {{type >= msg::ADD_ACCESSSPEC ? "AccessSpecID" : "ROSpecID", u(id)}});
}

// ---- reading answers ------------------------------------------------------------------------

inline StatusCode status_of(const Message &m) {
  const Parameter *s = find(m.params, param::LLRPStatus);
  return s ? static_cast<StatusCode>(*number(*s, "StatusCode")) : StatusCode::R_DeviceError;
}

inline std::string description_of(const Message &m) {
  const Parameter *s = find(m.params, param::LLRPStatus);
  auto *text = s ? std::get_if<std::string>(field(*s, "ErrorDescription")) : nullptr;
  return text ? *text : "";
}

inline std::vector<std::uint8_t> epc(std::uint8_t last, std::size_t size = 12) {
  std::vector<std::uint8_t> id(size, 0x30);
  id.back() = last;
  return id;
}

inline RoundRead tag(std::uint8_t last, std::uint16_t antenna = 1, int rssi = -50, std::uint32_t count = 1) {
  RoundRead r;
  r.id = epc(last);
  r.antenna = antenna;
  r.rssi = rssi;
  r.count = count;
  return r;
}

// The engine, its outbox and access port, a client connected, and a clock in milliseconds.
class EngineTest : public ::testing::Test {
 protected:
  explicit EngineTest(EngineOptions options = with_antennas(4)) : engine(options, outbox, &port) {
    engine.client_connected(now());
  }
  static EngineOptions with_antennas(std::uint16_t n) {
    EngineOptions o;
    o.antennas = n;
    return o;
  }

  Time now() const { return std::chrono::milliseconds(clock_ms); }
  void advance(std::int64_t ms) {
    clock_ms += ms;
    engine.tick(now());
  }
  Message send(const Message &m) {
    std::optional<Message> reply = engine.handle(m, now());
    EXPECT_TRUE(reply.has_value());
    return reply ? through_codec(*reply) : Message{};
  }
  StatusCode status(const Message &m) { return status_of(send(m)); }
  void round(std::vector<RoundRead> reads) {
    InventoryRound r;
    r.time = now();
    r.reads = std::move(reads);
    engine.on_round(r);
  }
  // The state GET_ROSPECS reports for the ROSpec, or -1 when it is not there.
  int state_of(std::uint32_t id) {
    Message all = send(request(msg::GET_ROSPECS));
    for (const Parameter *p : find_all(all.params, param::ROSpec))
      if (number(*p, "ROSpecID") == id) return static_cast<int>(*number(*p, "CurrentState"));
    return -1;
  }
  void enable_events(std::vector<NotificationEvent> types) {
    std::vector<Parameter> states;
    for (NotificationEvent t : types)
      states.push_back(with(param::EventNotificationState,
                            {{"EventType", u(static_cast<std::uint16_t>(t))}, {"NotificationState", u(1)}}));
    ASSERT_EQ(engine.set_event_notifications(with(param::ReaderEventNotificationSpec, {}, states)).code, StatusCode::M_Success);
  }
  // Everything sent since last asked, reports and events alike.
  std::vector<Message> sent() { return outbox.take(); }

  std::int64_t clock_ms = 1'700'000'000'000;
  RecordingOutbox outbox;
  FakeAccessPort port;
  Engine engine;
};

// The TagReportData of the reports among `messages`, in order.
inline std::vector<Parameter> tag_reports(const std::vector<Message> &messages) {
  std::vector<Parameter> out;
  for (const Message &m : messages)
    if (m.type == msg::RO_ACCESS_REPORT)
      for (const Parameter &p : m.params) out.push_back(p);
  return out;
}

inline std::optional<std::int64_t> sub_value(const Parameter &p, std::uint16_t type) {
  const Parameter *sub = find(p.params, type);
  if (!sub) return std::nullopt;
  return number(*sub, find_parameter(type)->items[0].name);
}

// The events among `messages`: (event parameter type, its EventType field).
inline std::vector<std::pair<std::uint16_t, std::int64_t>> events_in(const std::vector<Message> &messages) {
  std::vector<std::pair<std::uint16_t, std::int64_t>> out;
  for (const Message &m : messages)
    if (m.type == msg::READER_EVENT_NOTIFICATION)
      for (const Parameter &e : m.params.at(0).params)
        if (e.type != param::UTCTimestamp) out.emplace_back(e.type, number(e, "EventType").value_or(-1));
  return out;
}

}  // namespace llrp_test
