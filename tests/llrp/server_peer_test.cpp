// The connection layer against llrpjs's LLRPClient (npm, pinned in tests/peers/llrp): the
// client sees the ConnectionAttemptEvent, acknowledges keepalives and closes with
// CLOSE_CONNECTION, all on a free loopback port. And tshark, where it is installed and we may
// capture on lo, dissects that traffic as LLRP: nothing the server sends is malformed or
// draws an expert warning.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "llrp/server.hpp"
#include "bytes.hpp"
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
  server->set_keepalive(100ms);
  std::vector<std::string> lines = run_client(server->port(), 3);
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.front(), "event Success");
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(lines[i].rfind("keepalive ", 0), 0u) << lines[i];
  EXPECT_EQ(lines[4], "close M_Success");
  EXPECT_EQ(lines[5], "end");
  EXPECT_EQ(server->stats().dropped_keepalive, 0u);
}

// The lines a shell command prints, both streams, but for tshark's word on running as root (so
// that a filter tshark refuses shows up rather than passing for no match).
std::vector<std::string> lines_of(const std::string &cmd) {
  std::vector<std::string> lines;
  FILE *pipe = popen((cmd + " 2>&1").c_str(), "r");
  if (!pipe) return lines;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, pipe))
    if (std::string_view(buf).rfind("Running as user", 0) != 0) lines.emplace_back(buf);
  pclose(pipe);
  return lines;
}

TEST_F(PeerClient, TsharkFindsNothingMalformedInWhatTheServerSends) {
  const std::string tshark = LLRP_TSHARK;
  if (tshark.empty() || !fs::exists(fs::path(tshark).parent_path() / "dumpcap"))
    GTEST_SKIP() << "tshark or dumpcap is missing (Debian package tshark)";
  if (geteuid() != 0) GTEST_SKIP() << "capturing on lo needs root";
  const std::string port = std::to_string(server->port());
  const fs::path scratch = fs::temp_directory_path() / ("llrp_capture_" + std::to_string(getpid()));
  fs::create_directories(scratch);
  const std::string capture = (scratch / "run.pcapng").string(), log = (scratch / "tshark.log").string();

  // dumpcap, tshark's capture engine, writes the file and flushes it when interrupted; it
  // bounds its own run (-a duration) should the test never get to stop it.
  const std::string dumpcap = (fs::path(tshark).parent_path() / "dumpcap").string();
  const std::string filter = "tcp port " + port;
  std::vector<std::string> args = {dumpcap, "-q", "-i", "lo", "-f", filter, "-w", capture, "-a", "duration:60"};
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, dumpcap.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  auto capturing = [&] {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str().find("Capturing on") != std::string::npos;
  };
  bool started = llrp_test::eventually(capturing, 30s);

  if (started) {
    server->set_keepalive(100ms);
    std::vector<std::string> lines = run_client(server->port(), 2);
    EXPECT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    llrp_test::RawClient raw(server->port());
    for (auto bytes : {llrp_test::message(999, ""), llrp_test::message(msg::GET_ROSPECS, ""),
                       llrp_test::hex("08 2E 00 00 00 0A 00 00 00 05"), llrp_test::message(msg::CLOSE_CONNECTION, "")}) {
      raw.send(bytes);
    }
    EXPECT_TRUE(raw.closed_within(5s));  // after the event and four answers
  }
  const std::string read = "'" + tshark + "' -r '" + capture + "' -d tcp.port==" + port + ",llrp ";
  // The messages the server sent as the file holds them so far: one line per frame, the types
  // of the messages in it joined by commas. Packets reach the file a little after the wire
  // (libpcap hands them over by the block), so the test waits for all nine before stopping.
  std::vector<std::string> sent;
  auto server_messages = [&] {
    sent = lines_of(read + "-Y 'llrp && tcp.srcport==" + port + "' -T fields -e llrp.type");
    std::size_t messages = 0;
    for (const std::string &line : sent) messages += 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
    return messages;
  };
  if (started) {
    EXPECT_TRUE(llrp_test::eventually([&] { return server_messages() >= 9; }, 30s)) << ::testing::PrintToString(sent);
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(started) << "dumpcap did not start capturing";
  EXPECT_EQ(server_messages(), 9u) << ::testing::PrintToString(sent);
  std::vector<std::string> faults = lines_of(
      read + "-Y 'tcp.srcport==" + port + " && (_ws.malformed || (llrp && _ws.expert.severity >= 0x00600000))' -V");
  EXPECT_TRUE(faults.empty()) << ::testing::PrintToString(faults);
  if (!HasFailure()) fs::remove_all(scratch);
}

}  // namespace
