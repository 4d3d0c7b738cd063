// Cutting messages from a byte stream: any split of the bytes gives the same messages, and a
// header no message can follow breaks the stream at once, before its body is kept.
#include <gtest/gtest.h>

#include "llrp/codec.hpp"
#include "llrp/framer.hpp"
#include "bytes.hpp"

namespace {

using namespace uhf::llrp;
using llrp_test::hex;
using llrp_test::message;

std::vector<std::uint8_t> three_messages() {
  std::vector<std::uint8_t> all;
  for (auto m : {message(msg::KEEPALIVE, ""), message(msg::DELETE_ROSPEC, "00 00 00 05"),
                 message(msg::GET_READER_CAPABILITIES, "00  03 FF 00 0C 00 00 00 19 00 00 00 01")})
    all.insert(all.end(), m.begin(), m.end());
  return all;
}

std::vector<std::vector<std::uint8_t>> drain(Framer &f) {
  std::vector<std::vector<std::uint8_t>> out;
  for (Framer::Cut c = f.next(); c.state == Framer::State::message; c = f.next()) out.push_back(c.message);
  return out;
}

TEST(Framer, AnySplitGivesTheSameMessages) {
  const auto stream = three_messages();
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{10}, std::size_t{11}, stream.size()}) {
    Framer f;
    std::vector<std::vector<std::uint8_t>> got;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      f.push(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
      for (auto &m : drain(f)) got.push_back(m);
    }
    ASSERT_EQ(got.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(got[0], message(msg::KEEPALIVE, ""));
    EXPECT_EQ(got[2].size(), 23u);
    EXPECT_EQ(f.buffered(), 0u);
    for (auto &m : got) EXPECT_TRUE(decode(m).ok());
  }
}

struct Breaking {
  const char *name;
  const char *header;
  StatusCode code;
};

TEST(Framer, UnusableLengthBreaksTheStreamAtTheHeader) {
  const Breaking cases[] = {
      {"16 MiB", "04 3E 01 00 00 00 00 00 00 09", StatusCode::M_OverflowField},
      {"1 MiB and one byte", "04 3E 00 10 00 01 00 00 00 09", StatusCode::M_OverflowField},
      {"shorter than the header", "04 3E 00 00 00 09 00 00 00 09", StatusCode::M_FieldError},
  };
  for (const Breaking &c : cases) {
    Framer f;
    f.push(hex(c.header));
    Framer::Cut cut = f.next();
    ASSERT_EQ(cut.state, Framer::State::broken) << c.name;
    EXPECT_EQ(cut.refusal.error.code, c.code) << c.name;
    EXPECT_EQ(f.buffered(), 0u) << c.name;
    Message reply = error_reply(cut.refusal);
    EXPECT_EQ(reply.type, msg::ERROR_MESSAGE) << c.name;
    EXPECT_EQ(reply.id, 9u) << c.name;
    // Whatever follows is dropped, not kept.
    f.push(std::vector<std::uint8_t>(4096, 0));
    EXPECT_EQ(f.buffered(), 0u) << c.name;
    EXPECT_EQ(f.next().state, Framer::State::broken) << c.name;
  }
}

TEST(Framer, MessageAtTheLimitPassesWhole) {
  // A CUSTOM_MESSAGE whose opaque data fills it to the limit.
  Limits limits;
  limits.max_message = 70000;
  std::vector<std::uint8_t> m = message(msg::CUSTOM_MESSAGE, "00 00 00 19 01");
  m.resize(limits.max_message, 0xAB);
  m[2] = 0; m[3] = static_cast<std::uint8_t>(m.size() >> 16);
  m[4] = static_cast<std::uint8_t>(m.size() >> 8); m[5] = static_cast<std::uint8_t>(m.size());
  Framer f(limits);
  for (std::size_t at = 0; at < m.size(); at += 4096) f.push(std::span(m).subspan(at, std::min<std::size_t>(4096, m.size() - at)));
  auto got = drain(f);
  ASSERT_EQ(got.size(), 1u);
  DecodeOptions options;
  options.limits = limits;
  EXPECT_TRUE(decode(got[0], options).ok());
}

// A client that sends without reading replies: the buffer stays at one read plus one message.
TEST(Framer, FloodKeepsTheBufferToOneRead) {
  const auto one = message(msg::KEEPALIVE_ACK, "");
  std::vector<std::uint8_t> flood;
  for (int i = 0; i < 10000; ++i) flood.insert(flood.end(), one.begin(), one.end());
  Framer f;
  std::size_t messages = 0, most = 0;
  for (std::size_t at = 0; at < flood.size(); at += 65536) {
    f.push(std::span(flood).subspan(at, std::min<std::size_t>(65536, flood.size() - at)));
    most = std::max(most, f.buffered());
    messages += drain(f).size();
  }
  EXPECT_EQ(messages, 10000u);
  EXPECT_LE(most, 65536u + one.size());
}

}  // namespace
