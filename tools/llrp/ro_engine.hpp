// The reader-operation engine behind an LLRP face: ROSpecs, AccessSpecs, their triggers and the
// reports and events they produce, as a pure state machine over decoded messages. It owns no
// socket, no thread and no clock: the face hands it the client's requests, each inventory round
// the reader ran, and the time; it answers requests, and sends what it reports on its own through
// an Outbox. Tag-memory operations go out through an AccessPort and come back later.
//
// The model: the reader runs inventory rounds all the time (for its other outputs); while a
// ROSpec is active, each round's reads on the antennas its current AISpec names are what that
// AISpec observed. C1G2 inventory is the EPC family; GB and GJB reads count only where the
// options opt them in (reported as EPCData), and nothing else a round holds is inventory.
//
//   face                                 Engine
//   ----                                 ------
//   Handler::handle(request) ─────────▶  handle(request, now) ─▶ response (or none)
//   reader's rounds channel  ─────────▶  on_round(round)
//   a timer at next_deadline() ───────▶  tick(now)
//   SET/GET_READER_CONFIG    ─────────▶  set_/report_defaults, event_notifications, ...
//   Server::send_event      ◀─────────   Outbox::send(report or event)
//   reader job between rounds ◀───────   AccessPort::access(request, done)
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "llrp/status.hpp"
#include "llrp/value.hpp"

namespace uhf::llrp {

// The engine's clock and every timestamp it reports: UTC microseconds since the epoch. Timers
// (periods, durations, "no new tag for T ms") run on the same clock, so the face passes
// system_clock time and tests pass a fake one.
using Time = std::chrono::microseconds;

enum class TagFamily : std::uint8_t { epc, gb, gjb };

// One tag as one round saw it on one antenna.
struct RoundRead {
  TagFamily family = TagFamily::epc;
  std::vector<std::uint8_t> id{};    // the EPC (or the GB/GJB tag's id), as read
  std::optional<std::uint16_t> pc;   // the PC word, when the reader reports it
  std::optional<std::uint16_t> antenna;  // 1-based; none when the reader does not say
  std::optional<int> rssi;           // peak RSSI in dBm
  std::uint32_t count = 1;           // reads of this tag on this antenna in the round
};

// The reads of one inventory round, stamped when it ended. `failed`: the round ended early;
// what it read before that is still in `reads`, and it counts as an attempt.
struct InventoryRound {
  Time time{};
  std::vector<RoundRead> reads{};
  bool failed = false;
};

// ---- tag access ---------------------------------------------------------------------------

enum class MemoryBank : std::uint8_t { reserved = 0, epc = 1, tid = 2, user = 3 };

// One C1G2 operation on a tag's memory, in the order its AccessSpec lists them.
struct AccessOp {
  enum class Kind : std::uint8_t { read, write, block_write };
  Kind kind = Kind::read;
  std::uint16_t op_id = 0;            // the OpSpecID, echoed in the result
  std::uint32_t password = 0;         // access password; 0: none
  MemoryBank bank = MemoryBank::user;
  std::uint16_t word_pointer = 0;
  std::uint16_t word_count = 0;       // read: words to read (0: the whole bank, where the reader can)
  std::vector<std::uint16_t> data{};  // write, block_write: the words to write
};

// Every operation of one AccessSpec on one tag that matched it.
struct AccessRequest {
  std::uint32_t access_id = 0;        // the AccessSpecID (for the face's logs)
  TagFamily family = TagFamily::epc;
  std::vector<std::uint8_t> tag{};    // the tag's EPC as inventory read it: the singulation target
  std::optional<std::uint16_t> antenna;
  std::vector<AccessOp> ops{};
};

// One operation's outcome; the engine turns it into C1G2ReadOpSpecResult,
// C1G2WriteOpSpecResult or C1G2BlockWriteOpSpecResult with the matching result code.
struct AccessResult {
  enum class Outcome : std::uint8_t {
    success,
    no_response,         // the tag did not answer (gone, or not singulated)
    memory_overrun,      // past the end of the bank
    memory_locked,       // locked, or the password was refused
    insufficient_power,
    tag_error,           // the tag answered with an error of its own
    reader_error,        // the reader or its link failed
  };
  Outcome outcome = Outcome::success;
  std::vector<std::uint16_t> words{}; // read: the words read
  std::uint16_t words_written = 0;    // write, block_write
};

// Runs tag-memory operations on the reader for the engine.
class AccessPort {
 public:
  virtual ~AccessPort() = default;
  // Queue the request's operations on the reader (between rounds) and call `done` once with one
  // result per operation, in order; fewer when an operation failed and the rest were not tried
  // (the last one given is the failure). Called with no engine lock held, from whichever thread
  // called on_round(); must not block. `done` may be called from any thread, also before
  // access() returns, and may call into the engine. A tag waits for its answer before it is
  // accessed again, until the ROSpec ends; an answer that comes after that is still reported.
  virtual void access(const AccessRequest &request, std::function<void(std::vector<AccessResult>)> done) = 0;
};

// Where the engine sends what it reports on its own: RO_ACCESS_REPORT and
// READER_EVENT_NOTIFICATION (the face forwards them to Server::send_event, which sets the ID).
class Outbox {
 public:
  virtual ~Outbox() = default;
  // Called in the order the engine produced the messages, with the engine's state unlocked but
  // its sending order held: must not block and must not call back into the engine.
  virtual void send(Message message) = 0;
};

// ---- the engine ---------------------------------------------------------------------------

struct EngineOptions {
  std::uint16_t antennas = 1;          // antenna IDs 1..antennas exist
  bool gb_tags = false;                // GB / GJB reads count as C1G2 inventory (as EPCData)
  bool gjb_tags = false;
  // Tag-memory operations the reader can run; the others are refused at ADD_ACCESSSPEC.
  bool can_read = true;
  bool can_write = true;
  bool can_block_write = false;
  // Limits, also what LLRPCapabilities reports.
  std::uint32_t max_rospecs = 32;
  std::uint32_t max_specs_per_rospec = 16;          // AISpecs in one ROSpec
  std::uint32_t max_inventory_per_aispec = 4;       // InventoryParameterSpecs in one AISpec
  std::uint32_t max_accessspecs = 32;
  std::uint32_t max_ops_per_accessspec = 8;
  std::uint8_t priority_levels = 8;                 // Priority 0 (highest) .. priority_levels-1
  // TagReportData waiting to be reported (while held, or with ROReportTrigger None): past this
  // the oldest are dropped and counted in Engine::stats().
  std::size_t max_pending_tags = 10000;
};

struct EngineStats {
  std::uint64_t reports_sent = 0;       // RO_ACCESS_REPORT messages sent or returned
  std::uint64_t tags_reported = 0;      // TagReportData in them
  std::uint64_t tags_dropped = 0;       // TagReportData dropped past max_pending_tags
  std::uint64_t events_sent = 0;
  std::uint64_t events_dropped = 0;     // held events past their bound
  std::uint64_t accesses = 0;           // AccessRequests handed to the AccessPort
};

// NotificationEventType values (EventNotificationState's EventType).
enum class NotificationEvent : std::uint16_t {
  hopping = 0, gpi = 1, rospec = 2, buffer_fill = 3, reader_exception = 4, rf_survey = 5,
  aispec = 6, aispec_with_details = 7, antenna = 8,
};

class Engine {
 public:
  // `access` may be null: then no AccessSpec can be added (refused as unsupported).
  Engine(EngineOptions options, Outbox &out, AccessPort *access = nullptr);
  ~Engine();
  Engine(const Engine &) = delete;
  Engine &operator=(const Engine &) = delete;

  const EngineOptions &options() const;

  // Whether handle() answers this message type: ADD/DELETE/ENABLE/DISABLE/START/STOP_ROSPEC,
  // GET_ROSPECS, ADD/DELETE/ENABLE/DISABLE_ACCESSSPEC, GET_ACCESSSPECS, GET_REPORT and
  // ENABLE_EVENTS_AND_REPORTS. The face answers every other message itself.
  static bool owns(std::uint16_t message_type);

  // A client's request of a type owns() names, decoded. Returns the response (ID left for the
  // caller to set): the *_RESPONSE with its LLRPStatus, for GET_REPORT the RO_ACCESS_REPORT with
  // what has accumulated, and nothing for ENABLE_EVENTS_AND_REPORTS, which LLRP leaves
  // unanswered (its held reports and events go out through the Outbox). Nothing, too, for a type
  // owns() does not name. Any thread.
  std::optional<Message> handle(const Message &request, Time now);

  // One inventory round's reads (the reader's thread). Feeds every active ROSpec's current
  // AISpec, matches the reads against the enabled AccessSpecs, counts attempts, and may end
  // AISpecs and ROSpecs and send reports.
  void on_round(const InventoryRound &round);

  // Runs every timer due at `now`: Periodic starts, Duration stops, AISpec durations,
  // tag-observation timeouts and "no new tag for T ms". Any thread; harmless when nothing is due.
  void tick(Time now);
  // When tick() must next run (none while no timer is armed). Changes after every call above.
  std::optional<Time> next_deadline() const;

  // Whether any ROSpec is active: the face may use it to keep the reader's rounds going.
  bool inventory_active() const;

  // The client connection. ROSpecs, AccessSpecs and the reader configuration below persist
  // across connections; on connecting with HoldEventsAndReportsUponReconnect set, reports and
  // events are held until ENABLE_EVENTS_AND_REPORTS; while no client is connected they are held
  // when that flag is set and dropped otherwise.
  void client_connected(Time now);
  void client_disconnected(Time now);

  // SET_READER_CONFIG's ResetToFactoryDefault: every ROSpec stopped (with its end event and
  // final report) and deleted, every AccessSpec deleted, the configuration below at its defaults.
  void factory_reset(Time now);

  // The reader configuration parts the engine acts on, for SET/GET_READER_CONFIG. The setters
  // check the parameter and change nothing when it is refused (the Error's code is then not
  // M_Success, with the parameter path and a description, for the face's LLRPStatus).
  Error set_report_defaults(const Parameter &ro_report_spec);            // ROReportSpec
  Parameter report_defaults() const;
  Error set_access_report_defaults(const Parameter &access_report_spec); // AccessReportSpec
  Parameter access_report_defaults() const;
  Error set_event_notifications(const Parameter &reader_event_notification_spec);
  Parameter event_notifications() const;  // ReaderEventNotificationSpec, every event type listed
  void set_hold_events_and_reports(bool hold);  // EventsAndReports
  bool hold_events_and_reports() const;

  // Whether the client asked for events of this type.
  bool event_enabled(NotificationEvent type) const;
  // An event the face raises itself (AntennaEvent, ReaderExceptionEvent for a reader gone
  // offline, ...): `event` is the ReaderEventNotificationData's sub-parameter. Sent (or held)
  // like the engine's own when `type` is enabled, else dropped. Any thread.
  void reader_event(NotificationEvent type, Parameter event, Time now);

  EngineStats stats() const;

 private:
  struct State;
  // Shared with the completions handed to the AccessPort, which may outlive the engine.
  std::shared_ptr<State> state_;
};

}  // namespace uhf::llrp
