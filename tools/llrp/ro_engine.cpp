// The reader-operation engine: the client's requests, the reader configuration it acts on, and
// where its reports and events go (now, held, or nowhere). Running ROSpecs is ro_run.cpp's.
#include "llrp/ro_engine.hpp"

#include <algorithm>

#include "llrp/access.hpp"
#include "llrp/catalogue.hpp"
#include "llrp/ro_state.hpp"

namespace uhf::llrp {
namespace {

constexpr std::size_t max_held_events = 1024;

Message response(const Message &request, const Error &status) {
  Message m = make_message(find_message(request.type)->response, request.id);
  m.params.push_back(llrp_status(status));
  return m;
}

std::uint32_t id_field(const Message &m) {
  return static_cast<std::uint32_t>(number(m, m.type >= msg::ADD_ACCESSSPEC ? "AccessSpecID" : "ROSpecID").value_or(0));
}

Error no_such(const char *what, std::uint32_t id) {
  return message_field_fault(0, StatusCode::A_Invalid, std::string("no ") + what + " " + std::to_string(id));
}


}  // namespace

Engine::State::State(EngineOptions o, Outbox &outbox, AccessPort *port)
    : options(std::move(o)), out(outbox), access(port) {
  report_defaults = default_report_settings();
}

void Engine::State::flush(Batch &batch, std::unique_lock<std::mutex> &lock) {
  {
    std::lock_guard order(sending);
    lock.unlock();
    for (Message &m : batch.messages) out.send(std::move(m));
  }
  for (auto &[request, done] : batch.accesses) access->access(request, std::move(done));
}

void Engine::State::deliver(Message message, Batch &batch) {
  if (connected && !awaiting_enable) {
    batch.messages.push_back(std::move(message));
    return;
  }
  bool report = message.type == msg::RO_ACCESS_REPORT;
  if (!hold && !connected) {
    (report ? stats.tags_dropped : stats.events_dropped) += report ? message.params.size() : 1;
    return;
  }
  (report ? held_tags : held_events) += report ? message.params.size() : 1;
  held.push_back(std::move(message));
  // Past their bounds, the oldest of the kind go.
  auto drop_oldest = [&](bool reports) {
    auto it = std::find_if(held.begin(), held.end(),
                           [&](const Message &m) { return (m.type == msg::RO_ACCESS_REPORT) == reports; });
    if (it == held.end()) return false;
    std::size_t n = reports ? it->params.size() : 1;
    (reports ? held_tags : held_events) -= n;
    (reports ? stats.tags_dropped : stats.events_dropped) += n;
    held.erase(it);
    return true;
  };
  while (held_tags > options.max_pending_tags && drop_oldest(true)) {}
  while (held_events > max_held_events && drop_oldest(false)) {}
}

void Engine::State::release_held(Batch &batch) {
  for (Message &m : held) batch.messages.push_back(std::move(m));
  held.clear();
  held_tags = held_events = 0;
}

void Engine::State::send_event(NotificationEvent type, Parameter event, Time now, Batch &batch) {
  bool on = events[static_cast<std::size_t>(type)] ||
            (type == NotificationEvent::aispec && events[static_cast<std::size_t>(NotificationEvent::aispec_with_details)]);
  if (!on) return;
  Message m = make_message(msg::READER_EVENT_NOTIFICATION);
  Parameter data = make_parameter(param::ReaderEventNotificationData);
  Parameter stamp = make_parameter(param::UTCTimestamp);
  set(stamp, "Microseconds", static_cast<std::uint64_t>(std::max<std::int64_t>(now.count(), 0)));
  data.params.push_back(std::move(stamp));
  data.params.push_back(std::move(event));
  m.params.push_back(std::move(data));
  ++stats.events_sent;
  deliver(std::move(m), batch);
}

void Engine::State::set_defaults(Batch &batch) {
  report_defaults = default_report_settings();
  access_report_default = AccessReportTrigger::with_ro_report;
  events = {};
  hold = false;
  if (connected) {
    awaiting_enable = false;
    release_held(batch);
  }
}

void Engine::State::delete_access(std::size_t index, Batch &batch) {
  AccessEntry &a = accesses.at(index);
  if (!a.held.empty()) {
    ++stats.reports_sent;
    stats.tags_reported += a.held.size();
    deliver(ro_access_report(std::move(a.held)), batch);
  }
  accesses.erase(accesses.begin() + static_cast<std::ptrdiff_t>(index));
}

void Engine::State::access_done(std::uint32_t access_id, TagSighting sighting, const std::vector<AccessOp> &ops,
                                const std::vector<AccessResult> &results, Batch &batch) {
  sighting.op_results = op_results(ops, results);
  auto a = std::find_if(accesses.begin(), accesses.end(), [&](const AccessEntry &x) { return x.rule.id == access_id; });
  auto ro = rospecs.find(sighting.rospec_id);
  const ContentSelector &content = ro != rospecs.end() ? ro->second.report.content : report_defaults.content;
  if (a != accesses.end()) a->in_flight.erase(sighting.id);
  if (a != accesses.end() && a->rule.report.value_or(access_report_default) == AccessReportTrigger::end_of_accessspec) {
    a->held.push_back(tag_report_data(sighting, content));
  } else if (ro != rospecs.end()) {
    RoEntry &e = ro->second;
    e.tags.add(sighting);
    keep_bounded(e);
    if (e.state == RoState::active) report_every_n(e, batch);
    else if (e.report.trigger != ReportTrigger::none) send_report(e, batch);
  } else {
    ++stats.reports_sent;
    ++stats.tags_reported;
    deliver(ro_access_report({tag_report_data(sighting, content)}), batch);
  }
  if (a != accesses.end() && a->rule.operation_count && a->executions >= a->rule.operation_count && a->in_flight.empty())
    delete_access(static_cast<std::size_t>(a - accesses.begin()), batch);
}

// ---- requests -----------------------------------------------------------------------------

Error Engine::State::rospec_request(const Message &request, Time now, Batch &batch) {
  std::uint32_t id = id_field(request);
  if (request.type == msg::ADD_ROSPEC) {
    const Parameter *p = find(request.params, param::ROSpec);
    if (!p) return parameter_fault(param::ROSpec, StatusCode::P_MissingParameter, "ADD_ROSPEC carries no ROSpec");
    RoSpec added;
    if (Error e = read_rospec(*p, options, added); failed(e)) return e;
    if (rospecs.count(added.id))
      return parameter_fault(param::ROSpec, StatusCode::P_FieldError, "ROSpec " + std::to_string(added.id) + " already exists", 0);
    if (rospecs.size() >= options.max_rospecs)
      return parameter_fault(param::ROSpec, StatusCode::P_OverflowParameter,
                             "the reader holds at most " + std::to_string(options.max_rospecs) + " ROSpecs");
    RoEntry &e = rospecs[added.id];
    e.rospec = std::move(added);
    return {};
  }
  bool all = id == 0 && request.type != msg::START_ROSPEC && request.type != msg::STOP_ROSPEC;
  if (!all && !rospecs.count(id)) return no_such("ROSpec", id);
  std::vector<std::uint32_t> ids;
  for (auto &[key, e] : rospecs)
    if (all || key == id) ids.push_back(key);
  for (std::uint32_t key : ids) {
    RoEntry &e = rospecs.at(key);
    switch (request.type) {
      case msg::DELETE_ROSPEC:
        disable(e, now, batch);
        rospecs.erase(key);
        break;
      case msg::ENABLE_ROSPEC:
        if (e.state == RoState::disabled) enable(e, now, batch);
        break;
      case msg::DISABLE_ROSPEC:
        disable(e, now, batch);
        break;
      case msg::START_ROSPEC:
        if (e.state != RoState::inactive)
          return message_field_fault(0, StatusCode::A_Invalid,
                                     "ROSpec " + std::to_string(id) + (e.state == RoState::active ? " is already active" : " is disabled: enable it first"));
        request_start(e, now, batch);
        break;
      case msg::STOP_ROSPEC:
        if (e.state != RoState::active) {
          if (std::erase(waiting, key)) break;  // started, waiting its turn: no longer
          return message_field_fault(0, StatusCode::A_Invalid, "ROSpec " + std::to_string(id) + " is not active");
        }
        end_run(e, now, batch);
        break;
      default:
        break;
    }
  }
  return {};
}

Error Engine::State::accessspec_request(const Message &request, Batch &batch) {
  std::uint32_t id = id_field(request);
  if (request.type == msg::ADD_ACCESSSPEC) {
    const Parameter *p = find(request.params, param::AccessSpec);
    if (!p) return parameter_fault(param::AccessSpec, StatusCode::P_MissingParameter, "ADD_ACCESSSPEC carries no AccessSpec");
    if (!access) return parameter_fault(param::AccessSpec, StatusCode::P_UnsupportedParameter, "tag access is not supported by this reader");
    AccessRule rule;
    if (Error e = read_accessspec(*p, options, rule); failed(e)) return e;
    if (std::any_of(accesses.begin(), accesses.end(), [&](const AccessEntry &a) { return a.rule.id == rule.id; }))
      return parameter_fault(param::AccessSpec, StatusCode::P_FieldError, "AccessSpec " + std::to_string(rule.id) + " already exists", 0);
    if (accesses.size() >= options.max_accessspecs)
      return parameter_fault(param::AccessSpec, StatusCode::P_OverflowParameter,
                             "the reader holds at most " + std::to_string(options.max_accessspecs) + " AccessSpecs");
    accesses.push_back(AccessEntry{std::move(rule), 0, {}, {}});
    return {};
  }
  auto matches = [&](const AccessEntry &a) { return id == 0 || a.rule.id == id; };
  if (id != 0 && std::none_of(accesses.begin(), accesses.end(), matches)) return no_such("AccessSpec", id);
  for (std::size_t i = accesses.size(); i-- > 0;) {
    if (!matches(accesses[i])) continue;
    if (request.type == msg::DELETE_ACCESSSPEC) delete_access(i, batch);
    else accesses[i].rule.enabled = request.type == msg::ENABLE_ACCESSSPEC;
  }
  return {};
}

std::optional<Message> Engine::State::handle(const Message &request, Time now, Batch &batch) {
  switch (request.type) {
    case msg::GET_ROSPECS: {
      Message m = response(request, {});
      for (auto &[id, e] : rospecs) {
        Parameter p = e.rospec.source;
        set(p, "CurrentState", std::uint64_t{static_cast<std::uint8_t>(e.state)});
        m.params.push_back(std::move(p));
      }
      return m;
    }
    case msg::GET_ACCESSSPECS: {
      Message m = response(request, {});
      for (const AccessEntry &a : accesses) {
        Parameter p = a.rule.source;
        set(p, "CurrentState", std::uint64_t{a.rule.enabled});
        m.params.push_back(std::move(p));
      }
      return m;
    }
    case msg::GET_REPORT: {
      std::vector<Parameter> tags;
      for (auto &[id, e] : rospecs)
        for (Parameter &t : e.tags.take()) tags.push_back(std::move(t));
      ++stats.reports_sent;
      stats.tags_reported += tags.size();
      Message m = ro_access_report(std::move(tags));
      m.id = request.id;
      return m;
    }
    case msg::ENABLE_EVENTS_AND_REPORTS:
      awaiting_enable = false;
      release_held(batch);
      return std::nullopt;
    case msg::ADD_ACCESSSPEC: case msg::DELETE_ACCESSSPEC: case msg::ENABLE_ACCESSSPEC: case msg::DISABLE_ACCESSSPEC:
      return response(request, accessspec_request(request, batch));
    default:
      return response(request, rospec_request(request, now, batch));
  }
}

// ---- the interface ------------------------------------------------------------------------

Engine::Engine(EngineOptions options, Outbox &out, AccessPort *access)
    : state_(std::make_shared<State>(std::move(options), out, access)) {
  state_->self = state_;
}

Engine::~Engine() = default;

const EngineOptions &Engine::options() const { return state_->options; }

bool Engine::owns(std::uint16_t type) {
  switch (type) {
    case msg::ADD_ROSPEC: case msg::DELETE_ROSPEC: case msg::ENABLE_ROSPEC: case msg::DISABLE_ROSPEC:
    case msg::START_ROSPEC: case msg::STOP_ROSPEC: case msg::GET_ROSPECS:
    case msg::ADD_ACCESSSPEC: case msg::DELETE_ACCESSSPEC: case msg::ENABLE_ACCESSSPEC:
    case msg::DISABLE_ACCESSSPEC: case msg::GET_ACCESSSPECS:
    case msg::GET_REPORT: case msg::ENABLE_EVENTS_AND_REPORTS:
      return true;
    default:
      return false;
  }
}

std::optional<Message> Engine::handle(const Message &request, Time now) {
  if (!owns(request.type)) return std::nullopt;
  return state_->locked([&](Batch &b) { return state_->handle(request, now, b); });
}

void Engine::on_round(const InventoryRound &round) {
  state_->locked([&](Batch &b) { state_->round(round, b); });
}

void Engine::tick(Time now) {
  state_->locked([&](Batch &b) { state_->timers(now, b); });
}

std::optional<Time> Engine::next_deadline() const {
  std::lock_guard lock(state_->mutex);
  return state_->next_deadline();
}

bool Engine::inventory_active() const {
  std::lock_guard lock(state_->mutex);
  return state_->active.has_value();
}

void Engine::client_connected(Time) {
  state_->locked([&](Batch &b) {
    State &s = *state_;
    s.connected = true;
    s.awaiting_enable = s.hold;
    if (!s.hold) s.release_held(b);
  });
}

void Engine::client_disconnected(Time) {
  std::lock_guard lock(state_->mutex);
  state_->connected = false;
  state_->awaiting_enable = false;
}

void Engine::factory_reset(Time now) {
  state_->locked([&](Batch &b) {
    State &s = *state_;
    for (auto &[id, e] : s.rospecs) s.disable(e, now, b);
    s.rospecs.clear();
    s.waiting.clear();
    while (!s.accesses.empty()) s.delete_access(s.accesses.size() - 1, b);
    s.set_defaults(b);
  });
}

void Engine::reader_event(NotificationEvent type, Parameter event, Time now) {
  state_->locked([&](Batch &b) { state_->send_event(type, std::move(event), now, b); });
}

EngineStats Engine::stats() const {
  std::lock_guard lock(state_->mutex);
  return state_->stats;
}

}  // namespace uhf::llrp
