// What an LLRP server sends, as Debian's tshark sees it: dumpcap records the loopback traffic of
// the server's ports while a test runs a client, then tshark dissects the file as LLRP and says
// how many messages the server sent and which of them it finds malformed or warns about.
//
//     llrp_test::Capture capture({port});
//     ASSERT_TRUE(capture.start()) << capture.log();
//     ... a client session ...
//     EXPECT_TRUE(capture.wait_for_messages_from(port, n));
//     capture.stop();
//     EXPECT_EQ(capture.faults_from(port), "");
//
// skip_reason() is empty when the machine can capture: tshark's programs are there (the Debian
// package tshark) and we are root, as on CI.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/eventually.hpp"
#include "support/require.hpp"

namespace llrp_test {

class Capture {
 public:
  static std::string skip_reason() {
    if (uhftest::find_program("tshark").empty() || uhftest::find_program("dumpcap").empty())
      return uhftest::missing_program_message("tshark", "tshark");
    if (geteuid() != 0) return "capturing on lo needs root";
    return {};
  }

  explicit Capture(std::vector<int> ports)
      : ports_(std::move(ports)),
        dir_(std::filesystem::temp_directory_path() / ("llrp_capture_" + std::to_string(getpid()) + "_" + std::to_string(ports_.at(0)))),
        file_((dir_ / "run.pcapng").string()),
        log_((dir_ / "dumpcap.log").string()) {
    std::filesystem::create_directories(dir_);
  }
  ~Capture() {
    stop();
    if (!keep_) std::filesystem::remove_all(dir_);
  }
  Capture(const Capture &) = delete;
  Capture &operator=(const Capture &) = delete;

  // Starts dumpcap and waits until it captures. dumpcap bounds its own run (-a duration) should
  // the test never stop it.
  bool start(std::chrono::milliseconds within = std::chrono::seconds(30)) {
    std::string filter;
    for (int p : ports_) filter += (filter.empty() ? "tcp port " : " or tcp port ") + std::to_string(p);
    const std::string dumpcap = uhftest::find_program("dumpcap");
    std::vector<std::string> args = {dumpcap, "-q", "-i", "lo", "-f", filter, "-w", file_, "-a", "duration:120"};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&pid_, dumpcap.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = 0;
      return false;
    }
    return uhftest::eventually([&] { return log().find("Capturing on") != std::string::npos; }, within);
  }

  // Ends the capture; dumpcap flushes the file when interrupted.
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }

  std::string log() const {
    std::ifstream in(log_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The messages `port` sent that the file holds so far, one entry per frame: the types of the
  // messages in it, joined by commas.
  std::vector<std::string> frames_from(int port) const {
    return lines_of(read() + "-Y 'llrp && tcp.srcport==" + std::to_string(port) + "' -T fields -e llrp.type");
  }
  std::size_t messages_from(int port) const {
    std::size_t n = 0;
    for (const std::string &line : frames_from(port)) n += 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
    return n;
  }
  // Packets reach the file a little after the wire (libpcap hands them over by the block).
  bool wait_for_messages_from(int port, std::size_t n, std::chrono::milliseconds within = std::chrono::seconds(30)) const {
    return uhftest::eventually([&] { return messages_from(port) >= n; }, within);
  }

  // tshark's full dissection of every frame from `port` that is malformed or carries an expert
  // note of warning severity or worse, but for the dissector's own known miscount below; empty
  // when there is none. A failing test keeps the capture for a look.
  std::string faults_from(int port) {
    const std::string p = std::to_string(port);
    std::string faults;
    for (const std::string &line : lines_of(read() + "-Y 'tcp.srcport==" + p +
                                            " && (_ws.malformed || (llrp && _ws.expert.severity >= 0x00600000))'"
                                            " -T fields -E aggregator='|' -e frame.number -e llrp.tlv_type -e _ws.expert.message")) {
      const std::vector<std::string> f = split(line, '\t');
      if (f.size() < 3) {
        faults += line;
        continue;
      }
      bool known_only = true;
      for (const std::string &note : split(f[2], '|'))
        if (!identification_miscount(split(f[1], '|'), note)) known_only = false;
      if (!known_only)
        for (const std::string &text : lines_of(read() + "-Y 'frame.number==" + f[0] + "' -V")) faults += text;
    }
    if (!faults.empty()) keep_ = true;
    return faults;
  }
  std::string file() const { return file_; }

 private:
  std::string read() const {
    std::string cmd = "'" + uhftest::find_program("tshark") + "' -r '" + file_ + "' ";
    for (int p : ports_) cmd += "-d tcp.port==" + std::to_string(p) + ",llrp ";
    return cmd;
  }

  // Debian 12's dissector (Wireshark 4.0) leaves the 16-bit count of Identification's ReaderID
  // (a u8v) out of what it decodes, and says the parameter is 2 bytes longer than its content;
  // llrpjs and the standard read the same bytes whole. Only that note, in a frame that carries an
  // Identification (type 218), is passed over.
  static bool identification_miscount(const std::vector<std::string> &tlv_types, const std::string &note) {
    if (std::find(tlv_types.begin(), tlv_types.end(), "218") == tlv_types.end()) return false;
    unsigned decoded = 0, claimed = 0;
    return std::sscanf(note.c_str(), "Incorrect length of parameter: %u bytes decoded, but %u bytes claimed.", &decoded, &claimed) == 2 &&
           claimed == decoded + 2;
  }

  static std::vector<std::string> split(std::string text, char at) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t to; (to = text.find(at, from)) != std::string::npos; from = to + 1) parts.push_back(text.substr(from, to - from));
    parts.push_back(text.substr(from));
    return parts;
  }

  // The lines a command prints, both streams, but for tshark's word on running as root (so that
  // a filter tshark refuses shows up rather than passing for no match).
  static std::vector<std::string> lines_of(const std::string &cmd) {
    std::vector<std::string> lines;
    FILE *pipe = popen((cmd + " 2>&1").c_str(), "r");
    if (!pipe) return lines;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe))
      if (std::string_view(buf).rfind("Running as user", 0) != 0) lines.emplace_back(buf);
    pclose(pipe);
    return lines;
  }

  std::vector<int> ports_;
  std::filesystem::path dir_;
  std::string file_, log_;
  pid_t pid_ = 0;
  bool keep_ = false;
};

}  // namespace llrp_test
