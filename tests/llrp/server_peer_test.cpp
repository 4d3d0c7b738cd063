// The connection layer against llrpjs's LLRPClient (npm, pinned in tests/peers/llrp): the
// client sees the ConnectionAttemptEvent, acknowledges keepalives and closes with
// CLOSE_CONNECTION, all on a free loopback port. And tshark, where it is installed and we may
// capture on lo, dissects that traffic as LLRP: nothing the server sends is malformed or
// draws an expert warning.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "llrp/server.hpp"
#include "bytes.hpp"
#include "capture.hpp"
#include "raw_client.hpp"

namespace {

namespace fs = std::filesystem;
using namespace uhf::llrp;
using namespace std::chrono_literals;

class Nobody : public Handler {
 public:
  Answer handle(const Message &) override { return std::nullopt; }
  void disconnected() override { ++disconnects; }
  std::atomic<int> disconnects{0};
};

// The script's output lines; the script bounds its own run.
std::vector<std::string> run_client(std::uint16_t port, int keepalives) {
  const std::string dir = LLRP_PEER_DIR;
  const std::string cmd = "'" + std::string(UHF_NODE) + "' '" + dir + "/connect.js' '" + dir + "' " +
                          std::to_string(port) + " " + std::to_string(keepalives) + " 2>&1";
  std::vector<std::string> lines;
  FILE *pipe = popen(cmd.c_str(), "r");
  if (!pipe) return lines;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, pipe)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

class PeerClient : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(UHF_NODE).empty() || !fs::exists(UHF_NODE)) GTEST_SKIP() << "node is missing (Debian package nodejs)";
    if (!fs::exists(fs::path(LLRP_PEER_DIR) / "node_modules" / "llrpjs"))
      GTEST_SKIP() << "llrpjs is not installed in " << LLRP_PEER_DIR << ": npm ci there (Debian package npm)";
    ServerOptions options;
    options.port = 0;
    server = std::make_unique<Server>(options, handler);
    std::string error;
    ASSERT_TRUE(server->start(error)) << error;
  }
  Nobody handler;
  std::unique_ptr<Server> server;
};

TEST_F(PeerClient, ConnectsGetsTheEventAndClosesWithCloseConnection) {
  std::vector<std::string> lines = run_client(server->port(), 0);
  EXPECT_EQ(lines, (std::vector<std::string>{"event Success", "close M_Success", "end"}));
  EXPECT_TRUE(llrp_test::eventually([&] { return handler.disconnects == 1; }));
}

TEST_F(PeerClient, AcknowledgesKeepalivesAndStaysConnected) {
  server->set_keepalive(1s);  // node acknowledges well within it, loaded or not
  std::vector<std::string> lines = run_client(server->port(), 3);
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.front(), "event Success");
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(lines[i].rfind("keepalive ", 0), 0u) << lines[i];
  EXPECT_EQ(lines[4], "close M_Success");
  EXPECT_EQ(lines[5], "end");
  EXPECT_EQ(server->stats().dropped_keepalive, 0u);
}

TEST_F(PeerClient, TsharkFindsNothingMalformedInWhatTheServerSends) {
  if (const std::string why = llrp_test::Capture::skip_reason(); !why.empty()) GTEST_SKIP() << why;
  const int port = server->port();
  llrp_test::Capture capture({port});
  ASSERT_TRUE(capture.start()) << "dumpcap did not start capturing: " << capture.log();
  server->set_keepalive(1s);  // node acknowledges well within it, loaded or not
  std::vector<std::string> lines = run_client(server->port(), 2);
  EXPECT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
  llrp_test::RawClient raw(server->port());
  for (auto bytes : {llrp_test::message(999, ""), llrp_test::message(msg::GET_ROSPECS, ""),
                     llrp_test::hex("08 2E 00 00 00 0A 00 00 00 05"), llrp_test::message(msg::CLOSE_CONNECTION, "")}) {
    raw.send(bytes);
  }
  EXPECT_TRUE(raw.closed_within(5s));  // after the event and four answers
  // The client's session: the event, two keepalives, the close's answer; the raw one's: the
  // event and four answers.
  EXPECT_TRUE(capture.wait_for_messages_from(port, 9)) << ::testing::PrintToString(capture.frames_from(port));
  capture.stop();
  EXPECT_EQ(capture.messages_from(port), 9u) << ::testing::PrintToString(capture.frames_from(port));
  EXPECT_EQ(capture.faults_from(port), "") << capture.file();
}

}  // namespace
