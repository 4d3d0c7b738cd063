// The reader-operation engine: requests, rounds and timers under one lock.
#include "llrp/ro_engine.hpp"

#include <mutex>

#include "llrp/catalogue.hpp"

namespace uhf::llrp {

struct Engine::State {
  EngineOptions options;
  Outbox &out;
  AccessPort *access;
  mutable std::mutex mutex;
  EngineStats stats;
  bool hold = false;
};

Engine::Engine(EngineOptions options, Outbox &out, AccessPort *access)
    : state_(new State{std::move(options), out, access, {}, {}, false}) {}
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

std::optional<Message> Engine::handle(const Message &, Time) { return std::nullopt; }
void Engine::on_round(const InventoryRound &) {}
void Engine::tick(Time) {}
std::optional<Time> Engine::next_deadline() const { return std::nullopt; }
bool Engine::inventory_active() const { return false; }
void Engine::client_connected(Time) {}
void Engine::client_disconnected(Time) {}
void Engine::factory_reset(Time) {}
Error Engine::set_report_defaults(const Parameter &) { return {}; }
Parameter Engine::report_defaults() const { return make_parameter(param::ROReportSpec); }
Error Engine::set_access_report_defaults(const Parameter &) { return {}; }
Parameter Engine::access_report_defaults() const { return make_parameter(param::AccessReportSpec); }
Error Engine::set_event_notifications(const Parameter &) { return {}; }
Parameter Engine::event_notifications() const { return make_parameter(param::ReaderEventNotificationSpec); }
void Engine::set_hold_events_and_reports(bool hold) { state_->hold = hold; }
bool Engine::hold_events_and_reports() const { return state_->hold; }
bool Engine::event_enabled(NotificationEvent) const { return false; }
void Engine::reader_event(NotificationEvent, Parameter, Time) {}
EngineStats Engine::stats() const {
  std::lock_guard lock(state_->mutex);
  return state_->stats;
}

}  // namespace uhf::llrp
