// The reader configuration the engine acts on, as SET_READER_CONFIG hands it over and
// GET_READER_CONFIG asks for it back: ROReportSpec, AccessReportSpec, ReaderEventNotificationSpec
// and EventsAndReports.
#include <array>

#include "llrp/catalogue.hpp"
#include "llrp/ro_engine.hpp"
#include "llrp/ro_state.hpp"

namespace uhf::llrp {

Error Engine::set_report_defaults(const Parameter &p) {
  std::lock_guard lock(state_->mutex);
  ReportSettings settings;
  Error e = read_report_settings(p, settings);
  if (e.code == StatusCode::M_Success) state_->report_defaults = settings;
  return e;
}

Parameter Engine::report_defaults() const {
  std::lock_guard lock(state_->mutex);
  return to_parameter(state_->report_defaults);
}

Error Engine::set_access_report_defaults(const Parameter &p) {
  std::lock_guard lock(state_->mutex);
  state_->access_report_default = static_cast<AccessReportTrigger>(number(p, "AccessReportTrigger").value_or(0));
  return {};
}

Parameter Engine::access_report_defaults() const {
  std::lock_guard lock(state_->mutex);
  Parameter p = make_parameter(param::AccessReportSpec);
  set(p, "AccessReportTrigger", std::uint64_t{static_cast<std::uint8_t>(state_->access_report_default)});
  return p;
}

Error Engine::set_event_notifications(const Parameter &p) {
  std::lock_guard lock(state_->mutex);
  std::array<bool, 9> events = state_->events;
  for (const Parameter *state : find_all(p.params, param::EventNotificationState)) {
    auto type = static_cast<std::size_t>(number(*state, "EventType").value_or(0));
    if (type >= events.size())
      return within(p.type, parameter_fault(param::EventNotificationState, StatusCode::P_FieldError,
                                            "no event type " + std::to_string(type), 0));
    events[type] = number(*state, "NotificationState").value_or(0) != 0;
  }
  state_->events = events;
  return {};
}

Parameter Engine::event_notifications() const {
  std::lock_guard lock(state_->mutex);
  Parameter p = make_parameter(param::ReaderEventNotificationSpec);
  for (std::size_t type = 0; type < state_->events.size(); ++type) {
    Parameter s = make_parameter(param::EventNotificationState);
    set(s, "EventType", std::uint64_t{type});
    set(s, "NotificationState", std::uint64_t{state_->events[type]});
    p.params.push_back(std::move(s));
  }
  return p;
}

void Engine::set_hold_events_and_reports(bool hold) {
  std::lock_guard lock(state_->mutex);
  state_->hold = hold;
}

bool Engine::hold_events_and_reports() const {
  std::lock_guard lock(state_->mutex);
  return state_->hold;
}

bool Engine::event_enabled(NotificationEvent type) const {
  std::lock_guard lock(state_->mutex);
  auto i = static_cast<std::size_t>(type);
  return i < state_->events.size() && state_->events[i];
}

}  // namespace uhf::llrp
