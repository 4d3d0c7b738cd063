// The codec against llrpjs (npm), an independent LLRP implementation, in one node process:
// llrpjs decodes what we encode and encodes it back to the same bytes, and what llrpjs builds
// from its JSON form we decode and encode back to the same bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "llrp/codec.hpp"
#include "bytes.hpp"
#include "wires.hpp"

namespace {

namespace fs = std::filesystem;
using namespace uhf::llrp;
using llrp_test::hex;

std::string plain_hex(const std::vector<std::uint8_t> &bytes) {
  std::string s = llrp_test::to_hex(bytes);
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Messages a reader sends, built with the accessors.
std::vector<Message> reader_messages() {
  std::vector<Message> out;
  Message event = make_message(msg::READER_EVENT_NOTIFICATION, 1);
  Parameter data = make_parameter(param::ReaderEventNotificationData);
  Parameter stamp = make_parameter(param::UTCTimestamp);
  set(stamp, "Microseconds", std::uint64_t{1700000000000000});
  data.params.push_back(stamp);
  data.params.push_back(make_parameter(param::ConnectionAttemptEvent));  // Success
  event.params.push_back(data);
  out.push_back(event);

  Message close = make_message(msg::CLOSE_CONNECTION_RESPONSE, 2);
  close.params.push_back(llrp_status(StatusCode::M_Success, ""));
  out.push_back(close);

  // The replies to bad requests: a nested error path, and a field error.
  for (auto bad : {llrp_test::message(msg::ADD_ROSPEC, "00 B1 00 0A 00 00 00 01 00 00"),
                   llrp_test::message(msg::SET_READER_CONFIG, "00  00 DC 00 09 07 00 00 03 E8"),
                   llrp_test::message(999, "")})
    out.push_back(error_reply(decode(bad)));

  Message config = make_message(msg::GET_READER_CONFIG_RESPONSE, 3);
  config.params.push_back(llrp_status(StatusCode::M_Success, ""));
  Parameter identification = make_parameter(param::Identification);
  set(identification, "IDType", std::uint64_t{1});
  set(identification, "ReaderID", std::vector<std::uint8_t>{0x30, 0x14, 0x00, 0x01});
  config.params.push_back(identification);
  Parameter keepalive = make_parameter(param::KeepaliveSpec);
  set(keepalive, "KeepaliveTriggerType", std::uint64_t{1});
  set(keepalive, "PeriodicTriggerValue", std::uint64_t{10000});
  config.params.push_back(keepalive);
  out.push_back(config);
  return out;
}

struct PeerRun {
  std::vector<std::string> answers;                // one per line sent
  std::map<std::string, std::string> made;         // name → hex, or "error ..."
};

PeerRun run_peer(const std::string &node, const std::string &dir, const std::vector<std::string> &lines) {
  fs::path input = fs::temp_directory_path() / ("llrp_peer_" + std::to_string(getpid()) + ".txt");
  {
    std::ofstream out(input);
    for (const auto &l : lines) out << l << '\n';
  }
  const std::string cmd = "'" + node + "' '" + dir + "/crosscheck.js' '" + dir + "' < '" + input.string() + "'";
  PeerRun run;
  FILE *pipe = popen(cmd.c_str(), "r");
  if (!pipe) return run;
  char buf[65536];
  while (std::fgets(buf, sizeof buf, pipe)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("made ", 0) == 0) {
      std::istringstream words(line.substr(5));
      std::string name, rest;
      words >> name;
      std::getline(words >> std::ws, rest);
      run.made[name] = rest;
    } else {
      run.answers.push_back(line);
    }
  }
  pclose(pipe);
  fs::remove(input);
  return run;
}

class Peer : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = UHF_NODE;
    dir_ = LLRP_PEER_DIR;
    if (node_.empty() || !fs::exists(node_)) GTEST_SKIP() << "node is missing (Debian package nodejs)";
    if (!fs::exists(fs::path(dir_) / "node_modules" / "llrpjs"))
      GTEST_SKIP() << "llrpjs is not installed in " << dir_ << ": npm ci there (Debian package npm)";
  }
  std::string node_, dir_;
};

TEST_F(Peer, DecodesOurBytesAndEncodesThemBackTheSame) {
  std::vector<std::string> ours;
  std::vector<std::string> names;
  for (const auto &w : llrp_test::wires) {
    ours.push_back(plain_hex(hex(w.bytes)));
    names.push_back(w.name);
  }
  for (const Message &m : reader_messages()) {
    Encoded e = encode(m);
    ASSERT_TRUE(e.ok()) << e.error;
    ours.push_back(plain_hex(e.bytes));
    names.push_back(std::string("built ") + std::string(find_message(m.type)->name));
  }
  // llrpjs holds a u1v as whole bytes: the 12-bit EPC comes back as 16 bits, the count its only
  // change. Everything else must come back byte for byte.
  const std::map<std::string, std::string> peer_differs = {
      {"ReportWithBitVector", "043d000000160000000700f0000c00f100080010abc0"}};
  PeerRun run = run_peer(node_, dir_, ours);
  ASSERT_EQ(run.answers.size(), ours.size()) << "the peer did not answer every message";
  for (std::size_t i = 0; i < ours.size(); ++i) {
    auto known = peer_differs.find(names[i]);
    EXPECT_EQ(run.answers[i], "ok " + (known == peer_differs.end() ? ours[i] : known->second)) << names[i];
  }
}

TEST_F(Peer, ItsMessagesDecodeAndEncodeBackTheSame) {
  PeerRun run = run_peer(node_, dir_, {});
  ASSERT_EQ(run.made.size(), 5u);
  for (const auto &[name, made] : run.made) {
    ASSERT_EQ(made.find("error"), std::string::npos) << name << ": " << made;
    Decoded d = decode(hex(made));
    ASSERT_TRUE(d.ok()) << name << ": " << status_name(d.error.code) << " " << d.error.description;
    EXPECT_EQ(find_message(d.message->type)->name, name);
    EXPECT_EQ(plain_hex(encode(*d.message).bytes), made) << name;
  }
}

}  // namespace
