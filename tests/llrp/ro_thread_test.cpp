// The engine from several threads at once, as uhfd drives it: requests on the server's thread,
// rounds on the reader's, ticks on a timer's, access answers on whichever the reader job ends
// on. Run under ThreadSanitizer (label llrp-threads); the checks are that every answer frees
// its tag and that nothing is lost or deadlocks.
#include <atomic>
#include <chrono>
#include <thread>

#include "ro_fixture.hpp"

namespace {

using namespace llrp_test;

// Answers every access at once, on a thread of its own.
class ThreadedPort : public AccessPort {
 public:
  void access(const AccessRequest &, std::function<void(std::vector<AccessResult>)> done) override {
    ++calls;
    std::lock_guard lock(mutex_);
    threads_.emplace_back([done = std::move(done)] {
      done({{AccessResult::Outcome::success, {1, 2}}, {AccessResult::Outcome::success, {}, 1}});
    });
  }
  void join() {
    std::lock_guard lock(mutex_);
    for (std::thread &t : threads_) t.join();
    threads_.clear();
  }
  std::atomic<int> calls{0};

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

Message add_read_access() {
  Parameter command = with(param::AccessCommand, {},
                           {with(param::C1G2TagSpec, {}, {with(param::C1G2TargetTag, {{"MB", u(1)}, {"Match", u(1)}})}),
                            with(param::C1G2Read, {{"OpSpecID", u(1)}, {"MB", u(3)}, {"WordCount", u(2)}})});
  return request(msg::ADD_ACCESSSPEC, {},
                 {with(param::AccessSpec, {{"AccessSpecID", u(5)}, {"ProtocolID", u(1)}},
                       {with(param::AccessSpecStopTrigger, {}), command})});
}

TEST(EngineThreads, RequestsRoundsTicksAndAnswersAtOnce) {
  RecordingOutbox outbox;
  ThreadedPort port;
  EngineOptions options;
  options.antennas = 4;
  Engine engine(options, outbox, &port);
  engine.client_connected(Time{0});
  engine.set_event_notifications(with(param::ReaderEventNotificationSpec, {},
                                      {with(param::EventNotificationState, {{"EventType", u(2)}, {"NotificationState", u(1)}})}));
  std::atomic<std::int64_t> clock_us{1'000'000};
  auto now = [&] { return Time{clock_us.load()}; };
  ASSERT_TRUE(engine.handle(add_read_access(), now()));
  engine.handle(by_id(msg::ENABLE_ACCESSSPEC, 5), now());
  RoBuild periodic{.start = 2, .period_ms = 20, .stop = 1, .stop_ms = 15,
                   .report = report_spec(1, 3, {"EnableAntennaID"})};
  ASSERT_EQ(status_of(*engine.handle(add(periodic), now())), StatusCode::M_Success);
  engine.handle(by_id(msg::ENABLE_ROSPEC, 1), now());

  std::atomic<bool> stop{false};
  std::thread reader([&] {
    for (std::uint8_t i = 0; !stop; ++i) {
      clock_us += 1000;
      engine.on_round(InventoryRound{now(), {tag(i % 7, 1 + i % 4), tag(1)}, false});
    }
  });
  std::thread timer([&] {
    while (!stop) {
      engine.tick(now());
      (void)engine.next_deadline();
    }
  });
  // Requests go on until the others have done enough, or a deadline far past what it takes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; (port.calls < 50 || i < 300) && std::chrono::steady_clock::now() < deadline; ++i) {
    engine.handle(request(msg::GET_REPORT), now());
    engine.handle(request(msg::GET_ROSPECS), now());
    if (i % 50 == 0) engine.handle(by_id(msg::DISABLE_ACCESSSPEC, 5), now());
    if (i % 50 == 25) engine.handle(by_id(msg::ENABLE_ACCESSSPEC, 5), now());
  }
  stop = true;
  reader.join();
  timer.join();
  port.join();
  EXPECT_GE(port.calls.load(), 50);
  EXPECT_GT(engine.stats().tags_reported, 0u);
  EXPECT_FALSE(events_in(outbox.take()).empty());
}

}  // namespace
