// The engine's state, shared by its two halves: ro_engine.cpp (requests, configuration, where
// messages go) and ro_run.cpp (running ROSpecs: triggers, rounds, reports, access). Everything
// here is touched with `mutex` held; what must leave the engine is collected in a Batch and
// sent after the state is unlocked.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

#include "llrp/report.hpp"
#include "llrp/ro_engine.hpp"
#include "llrp/ro_parse.hpp"

namespace uhf::llrp {

// What one call produced for the world outside: messages for the Outbox, in order, and tag
// accesses for the AccessPort.
struct Batch {
  std::vector<Message> messages;
  std::vector<std::pair<AccessRequest, std::function<void(std::vector<AccessResult>)>>> accesses;
};

// The active ROSpec's current AISpec.
struct AiRun {
  std::size_t index = 0;  // into RoSpec::aispecs
  Time started{};
  Time last_new_tag{};
  std::set<std::pair<TagFamily, std::vector<std::uint8_t>>> tags;  // distinct tags seen
  std::uint32_t attempts = 0;                                     // rounds
};

struct RoEntry {
  RoSpec rospec;
  RoState state = RoState::disabled;
  std::optional<Time> first_start;  // periodic: the first start; later ones are k periods on
  std::optional<Time> next_start;   // periodic: when it next starts
  Time started{};
  AiRun ai;
  ReportSettings report;            // taken when it starts: its own, else the reader's
  TagAccumulator tags;
};

struct AccessEntry {
  AccessRule rule;
  std::uint32_t executions = 0;     // AccessRequests handed out
  std::set<std::vector<std::uint8_t>> in_flight;  // tags with an access not yet answered
  std::vector<Parameter> held;      // End_Of_AccessSpec: results kept until it ends
};

struct Engine::State {
  State(EngineOptions o, Outbox &out, AccessPort *access);

  EngineOptions options;
  Outbox &out;
  AccessPort *access;

  mutable std::mutex mutex;
  std::mutex sending;  // taken before `mutex` is released, so batches leave in order

  std::map<std::uint32_t, RoEntry> rospecs;
  std::optional<std::uint32_t> active;
  std::deque<std::uint32_t> waiting;  // started while one of equal or higher priority ran
  std::vector<AccessEntry> accesses;  // in the order they were added: the first match runs

  ReportSettings report_defaults;
  AccessReportTrigger access_report_default = AccessReportTrigger::with_ro_report;
  std::array<bool, 9> events{};  // by NotificationEventType
  bool hold = false;             // EventsAndReports: HoldEventsAndReportsUponReconnect
  bool connected = false;
  bool awaiting_enable = false;  // connected with hold set, before ENABLE_EVENTS_AND_REPORTS
  std::deque<Message> held;
  std::size_t held_tags = 0;
  std::size_t held_events = 0;
  EngineStats stats;

  // ---- ro_engine.cpp ----
  // Where a report or event goes now: the batch, the held queue, or nowhere.
  void deliver(Message message, Batch &batch);
  void send_event(NotificationEvent type, Parameter event, Time now, Batch &batch);
  void set_defaults(Batch &batch);
  void release_held(Batch &batch);
  std::optional<Message> handle(const Message &request, Time now, Batch &batch);
  Error rospec_request(const Message &request, Time now, Batch &batch);
  Error accessspec_request(const Message &request, Batch &batch);

  // ---- ro_run.cpp ----
  void enable(RoEntry &e, Time now, Batch &batch);
  void request_start(RoEntry &e, Time now, Batch &batch);
  // Ends the ROSpec's run (its report, AISpec and ROSpec events); `preempted_by` names the
  // ROSpec that took over. Leaves it inactive and starts whoever waits.
  void end_run(RoEntry &e, Time now, Batch &batch, std::uint32_t preempted_by = 0);
  void disable(RoEntry &e, Time now, Batch &batch);
  void timers(Time now, Batch &batch);
  bool timer_step(Time now, Batch &batch);  // one timer due by `now`, if any
  void round(const InventoryRound &round, Batch &batch);
  std::optional<Time> next_deadline() const;
  // The ROSpec's accumulated TagReportData (at most `most`) as one RO_ACCESS_REPORT.
  void send_report(RoEntry &e, Batch &batch, std::size_t most = SIZE_MAX);
  // Upon N tags: a report per N accumulated.
  void report_every_n(RoEntry &e, Batch &batch);
  // Past max_pending_tags (reports only when asked for, or N = 0), the oldest are dropped.
  void keep_bounded(RoEntry &e);
  void delete_access(std::size_t index, Batch &batch);
  // An access's results came back: into the ROSpec's report (or the AccessSpec's own, for
  // End_Of_AccessSpec); an AccessSpec whose operation count is reached ends with its last.
  void access_done(std::uint32_t access_id, TagSighting sighting, const std::vector<AccessOp> &ops,
                   const std::vector<AccessResult> &results, Batch &batch);
  void next_aispec(RoEntry &e, Time now, Batch &batch);

  // Runs f(batch) with the state locked, then sends what it produced: the messages in order
  // with only `sending` held, the accesses with nothing held (their completions may call back).
  template <class F>
  auto locked(F &&f) {
    Batch batch;
    std::unique_lock lock(mutex);
    if constexpr (std::is_void_v<decltype(f(batch))>) {
      f(batch);
      flush(batch, lock);
    } else {
      auto result = f(batch);
      flush(batch, lock);
      return result;
    }
  }
  void flush(Batch &batch, std::unique_lock<std::mutex> &lock);

  std::weak_ptr<State> self;
};

}  // namespace uhf::llrp
