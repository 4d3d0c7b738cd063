// The LLRP connection layer against raw loopback clients: the connection events, a second
// client, CLOSE_CONNECTION, keepalives, bad input, and clients that do not read.
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "llrp/server.hpp"
#include "bytes.hpp"
#include "raw_client.hpp"
#include "support/ports.hpp"

namespace {

using namespace uhf::llrp;
using namespace std::chrono_literals;
using llrp_test::eventually;
using llrp_test::RawClient;

// Answers GET_READER_CAPABILITIES and nothing else (ENABLE_EVENTS_AND_REPORTS taken without a
// reply when asked to); counts the connection callbacks.
class ProbeHandler : public Handler {
 public:
  Answer handle(const Message &request) override {
    if (request.type == msg::ENABLE_EVENTS_AND_REPORTS && takes_enable) {
      ++enables;
      return Answer::taken_without_reply();
    }
    if (request.type != msg::GET_READER_CAPABILITIES) return std::nullopt;
    {
      // Held: the server's thread waits here until the test lets it go.
      std::unique_lock lock(mu);
      holding = hold;
      cv.wait(lock, [&] { return !hold; });
      holding = false;
    }
    Message reply = make_message(msg::GET_READER_CAPABILITIES_RESPONSE);
    reply.params.push_back(llrp_status(StatusCode::M_Success, ""));
    return reply;
  }
  void connected() override { ++connects; }
  void disconnected() override { ++disconnects; }
  void release() {
    std::lock_guard lock(mu);
    hold = false;
    cv.notify_all();
  }
  bool is_holding() {
    std::lock_guard lock(mu);
    return holding;
  }
  std::atomic<int> connects{0}, disconnects{0}, enables{0};
  bool takes_enable = false;
  std::mutex mu;
  std::condition_variable cv;
  bool hold = false, holding = false;  // under mu
};

std::optional<std::int64_t> status_of(const Message &m) {
  const Parameter *status = find(m.params, param::LLRPStatus);
  return status ? number(*status, "StatusCode") : std::nullopt;
}

std::optional<std::int64_t> attempt_status(const Message &m) {
  if (m.type != msg::READER_EVENT_NOTIFICATION) return std::nullopt;
  const Parameter *data = find(m.params, param::ReaderEventNotificationData);
  const Parameter *attempt = data ? find(data->params, param::ConnectionAttemptEvent) : nullptr;
  return attempt ? number(*attempt, "Status") : std::nullopt;
}

const std::vector<std::uint8_t> probe = llrp_test::message(msg::GET_READER_CAPABILITIES, "00");

// The client still gets answers in step: the probe's response comes back.
bool answers_probe(RawClient &client) {
  if (!client.send(probe)) return false;
  auto reply = client.receive();
  return reply && reply->type == msg::GET_READER_CAPABILITIES_RESPONSE && status_of(*reply) == 0;
}

// A reader event holding only its timestamp: the smallest event the server sends for us.
Message timestamp_event(std::uint32_t id = 0) {
  Message event = make_message(msg::READER_EVENT_NOTIFICATION, id);
  Parameter data = make_parameter(param::ReaderEventNotificationData);
  data.params.push_back(make_parameter(param::UTCTimestamp));
  event.params.push_back(data);
  return event;
}

class ServerTest : public ::testing::Test {
 protected:
  void start(ServerOptions options = {}) {
    options.port = 0;
    server = std::make_unique<Server>(options, handler);
    std::string error;
    ASSERT_TRUE(server->start(error)) << error;
  }
  // A client past its ConnectionAttemptEvent (Success).
  std::unique_ptr<RawClient> connect(int receive_buffer = 0) {
    auto client = std::make_unique<RawClient>(server->port(), receive_buffer);
    EXPECT_TRUE(client->connected());
    auto event = client->receive();
    EXPECT_TRUE(event && attempt_status(*event) == 0);
    return client;
  }
  void TearDown() override { server.reset(); }

  ProbeHandler handler;
  std::unique_ptr<Server> server;
};

TEST_F(ServerTest, AcceptSendsSuccessEventAndHandlerSeesTheConnection) {
  start();
  auto client = connect();
  EXPECT_TRUE(answers_probe(*client));
  EXPECT_TRUE(eventually([&] { return handler.connects == 1; }));
  EXPECT_TRUE(server->connected());
}

TEST_F(ServerTest, SecondClientIsRefusedAndClosedWhileTheFirstGoesOn) {
  start();
  auto first = connect();
  RawClient second(server->port());
  auto refusal = second.receive();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(attempt_status(*refusal), 2);  // Failed_A_Client_Initiated_Connection_Already_Exists
  EXPECT_TRUE(second.closed_within(5s));
  EXPECT_TRUE(answers_probe(*first));
  EXPECT_EQ(server->stats().refused, 1u);
  EXPECT_EQ(handler.connects, 1);
}

// A client that left while the server was busy and the next one that came meanwhile are seen
// at once: the one that left is let go first, so the next one is not refused for it.
TEST_F(ServerTest, AClientThatLeftWhileTheServerWasBusyDoesNotKeepTheNextOut) {
  handler.hold = true;
  start();
  auto first = connect();
  ASSERT_TRUE(first->send(probe));
  ASSERT_TRUE(eventually([&] { return handler.is_holding(); }));
  first.reset();
  RawClient second(server->port());  // taken by the kernel's backlog while the server waits
  ASSERT_TRUE(second.connected());
  handler.release();
  auto event = second.receive();
  ASSERT_TRUE(event);
  EXPECT_EQ(attempt_status(*event), 0);
  EXPECT_TRUE(answers_probe(second));
  EXPECT_EQ(server->stats().refused, 0u);
}

TEST_F(ServerTest, CloseConnectionAnswersThenClosesAndFreesThePort) {
  start();
  auto client = connect();
  ASSERT_TRUE(client->send(llrp_test::message(msg::CLOSE_CONNECTION, "")));
  auto reply = client->receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->type, msg::CLOSE_CONNECTION_RESPONSE);
  EXPECT_EQ(reply->id, 7u);
  EXPECT_EQ(status_of(*reply), 0);
  EXPECT_TRUE(client->closed_within(5s));
  EXPECT_TRUE(eventually([&] { return handler.disconnects == 1; }));
  auto next = connect();
  EXPECT_TRUE(answers_probe(*next));
}

TEST_F(ServerTest, KeepalivesComeAtThePeriodAndAnAcknowledgingClientStays) {
  start();
  auto client = connect();
  // A period long enough that a loaded machine acknowledges in time.
  server->set_keepalive(500ms);
  auto previous = std::chrono::steady_clock::now();
  std::uint32_t last_id = 0;
  for (int i = 0; i < 4; ++i) {
    auto keepalive = client->receive();
    ASSERT_TRUE(keepalive);
    ASSERT_EQ(keepalive->type, msg::KEEPALIVE);
    auto now = std::chrono::steady_clock::now();
    if (i > 0) {
      EXPECT_GE(now - previous, 480ms);  // never early by more than the clock's grain
    }
    EXPECT_NE(keepalive->id, last_id);
    previous = now;
    last_id = keepalive->id;
    Message ack = make_message(msg::KEEPALIVE_ACK, keepalive->id);
    ASSERT_TRUE(client->send(ack));
  }
  EXPECT_TRUE(server->connected());
  EXPECT_EQ(server->stats().dropped_keepalive, 0u);
  server->set_keepalive(0ms);
  EXPECT_TRUE(answers_probe(*client));
}

TEST_F(ServerTest, ClientThatStopsAcknowledgingIsDroppedAndThePortFreed) {
  start();
  auto client = connect();
  server->set_keepalive(100ms);
  auto first = client->receive();
  ASSERT_TRUE(first && first->type == msg::KEEPALIVE);
  // No ACK from here on: dropped one period after the unanswered KEEPALIVE.
  EXPECT_TRUE(client->closed_within(5s));
  EXPECT_EQ(server->stats().dropped_keepalive, 1u);
  auto next = connect();
  EXPECT_TRUE(answers_probe(*next));
}

TEST_F(ServerTest, ClientThatResetsIsDroppedAtOnce) {
  start();
  {
    auto client = connect();
    linger hard{1, 0};
    setsockopt(client->fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }  // closed with a reset
  EXPECT_TRUE(eventually([&] { return !server->connected(); }));
  auto next = connect();
  EXPECT_TRUE(answers_probe(*next));
}

// Listens where it is told: an IPv4 or IPv6 literal or a name; a port taken is refused with
// the reason, not taken over.
TEST(ServerAddress, ListensOnLiteralsAndNamesAndRefusesAPortInUse) {
  ProbeHandler handler;
  for (const char *host : {"127.0.0.1", "::1", "localhost"}) {
    ServerOptions options;
    options.host = host;
    options.port = 0;
    Server server(options, handler);
    std::string error;
    ASSERT_TRUE(server.start(error)) << host << ": " << error;
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    ASSERT_EQ(getaddrinfo(host, std::to_string(server.port()).c_str(), &hints, &found), 0) << host;
    int fd = socket(found->ai_family, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fd, found->ai_addr, found->ai_addrlen), 0) << host;
    freeaddrinfo(found);
    std::uint8_t header[10];
    EXPECT_EQ(recv(fd, header, sizeof header, MSG_WAITALL), 10) << host;  // the connection event
    EXPECT_EQ(read_header(header).type, msg::READER_EVENT_NOTIFICATION) << host;
    close(fd);

    options.port = server.port();
    Server second(options, handler);
    EXPECT_FALSE(second.start(error)) << host;
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    EXPECT_FALSE(server.start(error));  // once only
  }
}

struct BadInput {
  const char *name;
  std::vector<std::uint8_t> bytes;
  bool answered;              // false: nothing comes back for it
  std::uint16_t reply_type;
  std::uint8_t reply_version;
  StatusCode status;
  bool closes;                // the server closes the connection after it
  bool end_of_stream = false; // the client shuts its side down after the bytes
};

std::vector<std::uint8_t> with_header(std::string_view header_hex) { return llrp_test::hex(header_hex); }

class BadInputTest : public ServerTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, GetsItsAnswerAndThenTheConnectionGoesOnOrCloses) {
  const BadInput &row = GetParam();
  start();
  auto client = connect();
  ASSERT_TRUE(client->send(row.bytes));
  if (row.end_of_stream) shutdown(client->fd(), SHUT_WR);
  if (row.answered) {
    auto reply = client->receive();
    ASSERT_TRUE(reply) << row.name;
    EXPECT_EQ(reply->type, row.reply_type) << row.name;
    EXPECT_EQ(reply->version, row.reply_version) << row.name;
    if (row.reply_version == version_1_0_1) {
      EXPECT_EQ(status_of(*reply), static_cast<int>(row.status)) << row.name;
    }
  }
  if (row.closes)
    EXPECT_TRUE(client->closed_within(5s)) << row.name;
  else
    EXPECT_TRUE(answers_probe(*client)) << row.name;  // nothing else came first, and in step
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadInputTest,
    ::testing::Values(
        // An LLRP 1.1 client's first message: GET_SUPPORTED_VERSION (46) in version 2.
        BadInput{"get_supported_version", with_header("08 2E 00 00 00 0A 00 00 00 05"), true,
                 msg::ERROR_MESSAGE, 2, StatusCode::M_UnsupportedVersion, false},
        BadInput{"version_3", with_header("0C 48 00 00 00 0A 00 00 00 05"), true, msg::ERROR_MESSAGE, 3,
                 StatusCode::M_UnsupportedVersion, false},
        BadInput{"unknown_type", llrp_test::message(999, ""), true, msg::ERROR_MESSAGE, 1,
                 StatusCode::M_UnsupportedMessage, false},
        BadInput{"length_under_header", with_header("04 01 00 00 00 06 00 00 00 05"), true, msg::ERROR_MESSAGE, 1,
                 StatusCode::M_FieldError, true},
        BadInput{"length_16_MiB", with_header("04 01 01 00 00 00 00 00 00 05"), true, msg::ERROR_MESSAGE, 1,
                 StatusCode::M_OverflowField, true},
        BadInput{"parameter_past_the_message", llrp_test::message(msg::GET_READER_CONFIG, "00 00 00 00 00 00 00 03 FF 00 20"),
                 true, msg::GET_READER_CONFIG_RESPONSE, 1, StatusCode::M_OverflowParameter, false},
        BadInput{"not_taken_with_response", llrp_test::message(msg::GET_ROSPECS, ""), true, msg::GET_ROSPECS_RESPONSE, 1,
                 StatusCode::M_UnsupportedMessage, false},
        BadInput{"not_taken_without_response", llrp_test::message(msg::ENABLE_EVENTS_AND_REPORTS, ""), true,
                 msg::ERROR_MESSAGE, 1, StatusCode::M_UnsupportedMessage, false},
        BadInput{"malformed_error_message", llrp_test::message(msg::ERROR_MESSAGE, ""), false, 0, 0,
                 StatusCode::M_Success, false},
        // A header cut short, then the client's end of stream: closed without an answer.
        BadInput{"truncated_header_then_eof", with_header("04 01 00 00"), false, 0, 0, StatusCode::M_Success, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerTest, AMessageTakenWithoutAReplyIsAnsweredByNothing) {
  handler.takes_enable = true;
  start();
  auto client = connect();
  ASSERT_TRUE(client->send(llrp_test::message(msg::ENABLE_EVENTS_AND_REPORTS, "")));
  EXPECT_TRUE(answers_probe(*client));  // the probe's response is the next message, no ERROR_MESSAGE
  EXPECT_EQ(handler.enables, 1);
}

TEST_F(ServerTest, TruncatedHeaderIsCompletedByTheNextBytes) {
  start();
  auto client = connect();
  ASSERT_TRUE(client->send(std::span(probe).first(4)));
  ASSERT_TRUE(eventually([&] { return server->connected(); }));
  ASSERT_TRUE(client->send(std::span(probe).subspan(4)));
  auto reply = client->receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->type, msg::GET_READER_CAPABILITIES_RESPONSE);
}

TEST_F(ServerTest, TenThousandRequestsUnreadDropTheClientAtTheQueueCap) {
  ServerOptions options;
  options.max_queued = 64 * 1024;
  options.send_buffer = 4096;
  start(options);
  auto client = connect(4096);
  std::vector<std::uint8_t> flood;
  for (int i = 0; i < 10000; ++i) {
    auto m = llrp_test::message(msg::GET_ROSPECS, "");
    flood.insert(flood.end(), m.begin(), m.end());
  }
  client->send(flood);  // may fail part way: the server hangs up on it
  EXPECT_TRUE(client->closed_within(10s));
  ServerStats stats = server->stats();
  EXPECT_EQ(stats.dropped_overflow, 1u);
  EXPECT_LE(stats.peak_queued, options.max_queued);
  auto next = connect();
  EXPECT_TRUE(answers_probe(*next));
}

TEST_F(ServerTest, ClientThatNeverReadsIsDroppedWhenWritesStall) {
  ServerOptions options;
  options.send_buffer = 4096;
  options.write_timeout = 200ms;
  start(options);
  auto client = connect(4096);
  const Message event = timestamp_event();
  for (int i = 0; i < 4000 && server->connected(); ++i) server->send_event(event);  // ~100 KB
  EXPECT_TRUE(eventually([&] { return !server->connected(); }));
  EXPECT_EQ(server->stats().dropped_stalled, 1u);
  EXPECT_FALSE(server->send_event(event));
}

// A client that reads a little now and then keeps bytes moving but never catches up: the
// oldest message's wait, not the last byte written, is what drops it.
TEST_F(ServerTest, ClientThatReadsTooSlowlyIsDroppedByTheOldestMessagesWait) {
  ServerOptions options;
  options.send_buffer = 4096;
  options.write_timeout = 300ms;
  start(options);
  auto client = connect(4096);
  const Message event = timestamp_event();
  for (int i = 0; i < 4000; ++i) server->send_event(event);  // ~100 KB, several seconds at this pace
  auto deadline = std::chrono::steady_clock::now() + 10s;
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() < deadline) {
    std::uint8_t some[1024];
    ssize_t n = recv(client->fd(), some, sizeof some, MSG_DONTWAIT);
    closed = n == 0 || (n < 0 && errno != EAGAIN);
    pollfd none{-1, 0, 0};
    poll(&none, 0, 50);  // the client's pace: 1 KiB per 50 ms
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(server->stats().dropped_stalled, 1u);
}

TEST_F(ServerTest, EventsFromAnotherThreadArriveWithFreshIds) {
  start();
  auto client = connect();
  const Message event = timestamp_event(12345);
  std::thread sender([&] {
    for (int i = 0; i < 50; ++i) server->send_event(event);
  });
  std::uint32_t last = 0;
  for (int i = 0; i < 50; ++i) {
    auto got = client->receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->type, msg::READER_EVENT_NOTIFICATION);
    EXPECT_GT(got->id, last);
    last = got->id;
  }
  sender.join();
}

TEST_F(ServerTest, StopIsBoundedWhateverTheClientDoes) {
  ServerOptions options;
  options.send_buffer = 4096;
  start(options);
  auto reading = connect(4096);
  RawClient waiting(server->port());  // refused, never reads its refusal
  Message event = make_message(msg::KEEPALIVE);
  for (int i = 0; i < 2000; ++i) server->send_event(event);  // more than the socket takes
  auto begun = std::chrono::steady_clock::now();
  server->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 200ms);
  EXPECT_EQ(handler.disconnects, 1);
  EXPECT_TRUE(reading->closed_within(5s));
  EXPECT_FALSE(uhftest::accepts_connections(server->port()));
}

}  // namespace
