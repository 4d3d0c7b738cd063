// Running ROSpecs: start triggers, priorities, AISpecs and their stop triggers over the reader's
// rounds, reports at their triggers, and tag access on the reads.
//
// One ROSpec runs at a time (the reader has one inventory). A ROSpec started while another runs
// preempts it when its priority is higher (a lower Priority value): the running one ends,
// inactive, with a preemption event. Otherwise it waits, and starts when the running ones before
// it have ended. Its AISpecs run in order; after the last one the ROSpec ends, unless a Duration
// stop trigger bounds it, in which case they run again until the duration is over.
#include <algorithm>

#include "llrp/access.hpp"
#include "llrp/catalogue.hpp"
#include "llrp/ro_state.hpp"

namespace uhf::llrp {
namespace {

Time ms(std::uint64_t v) { return std::chrono::duration_cast<Time>(std::chrono::milliseconds(v)); }

Parameter rospec_event(std::uint8_t type, std::uint32_t id, std::uint32_t preempting) {
  Parameter p = make_parameter(param::ROSpecEvent);
  set(p, "EventType", std::uint64_t{type});
  set(p, "ROSpecID", std::uint64_t{id});
  set(p, "PreemptingROSpecID", std::uint64_t{preempting});
  return p;
}

Parameter aispec_end(const RoEntry &e) {
  Parameter p = make_parameter(param::AISpecEvent);
  set(p, "ROSpecID", std::uint64_t{e.rospec.id});
  set(p, "SpecIndex", std::uint64_t{e.ai.index + 1});
  return p;
}

bool counts_as_inventory(const EngineOptions &o, TagFamily f) {
  return f == TagFamily::epc || (f == TagFamily::gb && o.gb_tags) || (f == TagFamily::gjb && o.gjb_tags);
}

bool on_antennas(const AiSpec &ai, const RoundRead &read) {
  if (ai.antennas.empty() || !read.antenna) return true;
  return std::find(ai.antennas.begin(), ai.antennas.end(), *read.antenna) != ai.antennas.end();
}

// When the current AISpec's stop trigger fires, from what it has seen so far (none: not by time).
std::optional<Time> ai_deadline(const AiSpec &ai, const AiRun &run) {
  std::optional<Time> at;
  auto earliest = [&](Time t) { at = at ? std::min(*at, t) : t; };
  if (ai.stop == AiStop::duration) earliest(run.started + ms(ai.duration_ms));
  if (ai.stop == AiStop::no_new_tags) earliest(run.last_new_tag + ms(ai.quiet_ms));
  if ((ai.stop == AiStop::n_tags || ai.stop == AiStop::no_new_tags || ai.stop == AiStop::n_attempts) && ai.timeout_ms)
    earliest(run.started + ms(ai.timeout_ms));
  return at;
}

bool ai_done_by_count(const AiSpec &ai, const AiRun &run) {
  if (ai.stop == AiStop::n_tags) return ai.count && run.tags.size() >= ai.count;
  if (ai.stop == AiStop::n_attempts) return ai.count && run.attempts >= ai.count;
  return false;
}

}  // namespace

void Engine::State::enable(RoEntry &e, Time now, Batch &batch) {
  e.state = RoState::inactive;
  if (e.rospec.start == StartTrigger::immediate) {
    request_start(e, now, batch);
  } else if (e.rospec.start == StartTrigger::periodic) {
    e.first_start = e.rospec.periodic_from.value_or(now) + ms(e.rospec.offset_ms);
    e.next_start = e.first_start;
    // A first start in the past: the next one k periods on (a one-shot one at once).
    if (*e.next_start < now && e.rospec.period_ms) {
      auto k = (now - *e.next_start + ms(e.rospec.period_ms) - Time{1}) / ms(e.rospec.period_ms);
      *e.next_start += k * ms(e.rospec.period_ms);
    }
  }
}

void Engine::State::request_start(RoEntry &e, Time now, Batch &batch) {
  if (active) {
    RoEntry &running = rospecs.at(*active);
    if (e.rospec.priority >= running.rospec.priority) {
      if (std::find(waiting.begin(), waiting.end(), e.rospec.id) == waiting.end()) waiting.push_back(e.rospec.id);
      return;
    }
    end_run(running, now, batch, e.rospec.id);
  }
  std::erase(waiting, e.rospec.id);
  e.state = RoState::active;
  e.started = now;
  e.report = e.rospec.report.value_or(report_defaults);
  e.tags = TagAccumulator(e.report.content);
  e.ai = AiRun{0, now, now, {}, 0};
  active = e.rospec.id;
  send_event(NotificationEvent::rospec, rospec_event(0, e.rospec.id, 0), now, batch);
}

void Engine::State::send_report(RoEntry &e, Batch &batch, std::size_t most) {
  if (e.tags.empty()) return;
  std::vector<Parameter> tags = e.tags.take(most);
  stats.tags_reported += tags.size();
  ++stats.reports_sent;
  deliver(ro_access_report(std::move(tags)), batch);
}

void Engine::State::report_every_n(RoEntry &e, Batch &batch) {
  if (e.report.trigger == ReportTrigger::none || e.report.n == 0) return;
  while (e.tags.size() >= e.report.n) send_report(e, batch, e.report.n);
}

void Engine::State::keep_bounded(RoEntry &e) {
  if (e.tags.size() <= options.max_pending_tags) return;
  stats.tags_dropped += e.tags.take(e.tags.size() - options.max_pending_tags).size();
}

void Engine::State::end_run(RoEntry &e, Time now, Batch &batch, std::uint32_t preempted_by) {
  if (e.report.trigger != ReportTrigger::none) send_report(e, batch);
  send_event(NotificationEvent::aispec, aispec_end(e), now, batch);
  send_event(NotificationEvent::rospec, rospec_event(preempted_by ? 2 : 1, e.rospec.id, preempted_by), now, batch);
  e.state = RoState::inactive;
  if (active == e.rospec.id) active.reset();
  // An access never answered must not keep its tag from the next run.
  for (AccessEntry &a : accesses) a.in_flight.clear();
  if (e.rospec.start == StartTrigger::periodic && e.rospec.period_ms && e.first_start) {
    Time period = ms(e.rospec.period_ms);
    Time next = *e.first_start + ((now - *e.first_start) / period + 1) * period;
    e.next_start = next;
  }
  if (preempted_by) return;
  // Whoever waited starts now, first come first.
  while (!active && !waiting.empty()) {
    auto it = rospecs.find(waiting.front());
    waiting.pop_front();
    if (it != rospecs.end() && it->second.state == RoState::inactive) request_start(it->second, now, batch);
  }
}

void Engine::State::disable(RoEntry &e, Time now, Batch &batch) {
  std::erase(waiting, e.rospec.id);
  if (e.state == RoState::active) end_run(e, now, batch);
  e.state = RoState::disabled;
  e.next_start.reset();
  e.first_start.reset();
}

// The active ROSpec's AISpec ended: the ROSpec ends with its last one (unless a Duration bounds
// it); else that AISpec's report and event, and the next one.
void Engine::State::next_aispec(RoEntry &e, Time now, Batch &batch) {
  bool last = e.ai.index + 1 >= e.rospec.aispecs.size();
  if (last && !e.rospec.stop_after_ms) {
    end_run(e, now, batch);
    return;
  }
  if (e.report.trigger == ReportTrigger::n_or_aispec_end) send_report(e, batch);
  send_event(NotificationEvent::aispec, aispec_end(e), now, batch);
  e.ai = AiRun{last ? 0 : e.ai.index + 1, now, now, {}, 0};
}

// Each timer acts at the time it was due, not when tick() came round to it, so a late tick
// shifts nothing that follows; several due at once are taken in turn.
void Engine::State::timers(Time now, Batch &batch) {
  for (int fired = 0; fired < 1000 && timer_step(now, batch); ++fired) {
  }
}

bool Engine::State::timer_step(Time now, Batch &batch) {
  for (auto &[id, e] : rospecs)
    if (e.state == RoState::inactive && e.next_start && *e.next_start <= now) {
      Time at = *e.next_start;
      e.next_start.reset();
      request_start(e, at, batch);
      return true;
    }
  if (!active) return false;
  RoEntry &e = rospecs.at(*active);
  if (e.rospec.stop_after_ms && now >= e.started + ms(e.rospec.stop_after_ms)) {
    end_run(e, e.started + ms(e.rospec.stop_after_ms), batch);
    return true;
  }
  const AiSpec &ai = e.rospec.aispecs.at(e.ai.index);
  std::optional<Time> due = ai_deadline(ai, e.ai);
  if (due && now >= *due) {
    next_aispec(e, *due, batch);
    return true;
  }
  if (ai_done_by_count(ai, e.ai)) {
    next_aispec(e, now, batch);
    return true;
  }
  return false;
}

std::optional<Time> Engine::State::next_deadline() const {
  std::optional<Time> at;
  auto earliest = [&](std::optional<Time> t) {
    if (t) at = at ? std::min(*at, *t) : *t;
  };
  for (const auto &[id, e] : rospecs)
    if (e.state == RoState::inactive) earliest(e.next_start);
  if (active) {
    const RoEntry &e = rospecs.at(*active);
    if (e.rospec.stop_after_ms) earliest(e.started + ms(e.rospec.stop_after_ms));
    earliest(ai_deadline(e.rospec.aispecs.at(e.ai.index), e.ai));
  }
  return at;
}

void Engine::State::round(const InventoryRound &r, Batch &batch) {
  timers(r.time, batch);
  if (!active) return;
  RoEntry &e = rospecs.at(*active);
  const AiSpec &ai = e.rospec.aispecs.at(e.ai.index);
  ++e.ai.attempts;
  for (const RoundRead &read : r.reads) {
    if (!counts_as_inventory(options, read.family) || !on_antennas(ai, read)) continue;
    TagSighting s{read.family, read.id, read.pc, e.rospec.id, static_cast<std::uint16_t>(e.ai.index + 1),
                  ai.inventory_id, read.antenna, read.rssi, r.time, r.time, read.count, 0, {}};
    e.tags.add(s);
    report_every_n(e, batch);
    keep_bounded(e);
    // Distinct tags are only kept where a stop trigger counts them.
    if ((ai.stop == AiStop::n_tags || ai.stop == AiStop::no_new_tags) && e.ai.tags.insert({read.family, read.id}).second)
      e.ai.last_new_tag = r.time;
    // The first enabled AccessSpec that matches runs, once at a time per tag.
    for (AccessEntry &a : accesses) {
      if (!rule_matches(a.rule, read, e.rospec.id)) continue;
      if (a.rule.operation_count && a.executions >= a.rule.operation_count) break;
      if (!access || !a.in_flight.insert(read.id).second) break;
      ++a.executions;
      ++stats.accesses;
      AccessRequest request{a.rule.id, read.family, read.id, read.antenna, a.rule.ops};
      TagSighting done_sighting = s;
      done_sighting.access_id = a.rule.id;
      auto done = [weak = self, sighting = std::move(done_sighting), ops = a.rule.ops](std::vector<AccessResult> results) {
        if (auto state = weak.lock())
          state->locked([&](Batch &b) { state->access_done(sighting.access_id, sighting, ops, results, b); });
      };
      batch.accesses.emplace_back(std::move(request), std::move(done));
      break;
    }
  }
  timers(r.time, batch);
}

}  // namespace uhf::llrp
