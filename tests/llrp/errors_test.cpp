// What does not decode: each bad input's status code, error path and reply.
#include <gtest/gtest.h>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "bytes.hpp"

namespace {

using namespace uhf::llrp;
using llrp_test::hex;
using llrp_test::message;
using S = StatusCode;

struct Bad {
  const char *name;
  std::vector<std::uint8_t> bytes;
  StatusCode code;
  std::vector<ParameterFault> path;
  std::optional<FieldFault> field;
  std::uint16_t reply;  // the reply's message type
};

// KeepaliveSpec (220) and AccessReportSpec (239), whole and well-formed.
constexpr const char *keepalive = "00 DC 00 09 01 00 00 03 E8";
constexpr const char *access_report = "00 EF 00 05 00";

std::string cat(std::initializer_list<const char *> parts) {
  std::string s;
  for (const char *p : parts) s += std::string(p) + " ";
  return s;
}

std::vector<std::uint8_t> nested_status(int depth) {
  // ERROR_MESSAGE → LLRPStatus → ParameterError → ParameterError ... `depth` of them.
  std::vector<std::uint8_t> inner;
  for (int i = 0; i < depth; ++i) {
    std::vector<std::uint8_t> p = hex("01 21 00 00 00 B1 00 C8");
    p.insert(p.end(), inner.begin(), inner.end());
    p[3] = static_cast<std::uint8_t>(p.size());
    p[2] = static_cast<std::uint8_t>(p.size() >> 8);
    inner = p;
  }
  std::vector<std::uint8_t> status = hex("01 1F 00 00 00 00 00 00");
  status.insert(status.end(), inner.begin(), inner.end());
  status[2] = static_cast<std::uint8_t>(status.size() >> 8);
  status[3] = static_cast<std::uint8_t>(status.size());
  std::string body;
  for (std::uint8_t b : status) body += llrp_test::to_hex({b}) + " ";
  return message(msg::ERROR_MESSAGE, body);
}

const std::vector<Bad> &cases() {
  static const std::vector<Bad> rows = {
      {"TruncatedHeader", hex("04 3E 00 00"), S::M_FieldError, {}, {}, msg::ERROR_MESSAGE},
      {"LengthShorterThanHeader", hex("04 3E 00 00 00 04 00 00 00 07"), S::M_FieldError, {}, {}, msg::ERROR_MESSAGE},
      {"LengthPastTheMessage", hex("04 3E 00 00 00 14 00 00 00 07"), S::M_FieldError, {}, {}, msg::ERROR_MESSAGE},
      {"Length16MiB", hex("04 3E 01 00 00 00 00 00 00 07"), S::M_OverflowField, {}, {}, msg::ERROR_MESSAGE},
      {"UnknownMessageType", hex("07 E7 00 00 00 0A 00 00 00 07"), S::M_UnsupportedMessage, {}, {}, msg::ERROR_MESSAGE},
      // An LLRP 1.1 client's first message, GET_SUPPORTED_VERSION, in version 2.
      {"Version2", hex("08 2E 00 00 00 0A 00 00 00 07"), S::M_UnsupportedVersion, {}, {}, msg::ERROR_MESSAGE},
      {"Version0", hex("00 3E 00 00 00 0A 00 00 00 07"), S::M_UnsupportedVersion, {}, {}, msg::ERROR_MESSAGE},
      {"UnknownTlvParameter", message(msg::GET_READER_CAPABILITIES, "00  03 E8 00 04"), S::M_UnknownParameter,
       {{1000, S::P_UnknownParameter}}, {}, msg::GET_READER_CAPABILITIES_RESPONSE},
      {"UnknownTvParameter", message(msg::GET_READER_CAPABILITIES, "00  FF 00"), S::M_UnknownParameter,
       {{127, S::P_UnknownParameter}}, {}, msg::GET_READER_CAPABILITIES_RESPONSE},
      {"FieldOutsideItsEnumeration", message(msg::GET_READER_CAPABILITIES, "09"), S::M_FieldError, {},
       FieldFault{0, S::A_OutOfRange}, msg::GET_READER_CAPABILITIES_RESPONSE},
      {"FieldRunsPastTheMessage", message(msg::DELETE_ROSPEC, "00 00"), S::M_OverflowField, {},
       FieldFault{0, S::A_Invalid}, msg::DELETE_ROSPEC_RESPONSE},
      {"BytesAfterTheLastField", message(msg::DELETE_ROSPEC, "00 00 00 01 00"), S::M_UnknownField, {}, {},
       msg::DELETE_ROSPEC_RESPONSE},
      {"MissingRequiredParameter", message(msg::ADD_ROSPEC, ""), S::M_MissingParameter,
       {{param::ROSpec, S::P_MissingParameter}}, {}, msg::ADD_ROSPEC_RESPONSE},
      // ROSpec with its fields (ID 1, priority 0, state disabled) and no ROBoundarySpec.
      {"MissingNestedParameter", message(msg::ADD_ROSPEC, "00 B1 00 0A 00 00 00 01 00 00"), S::M_ParameterError,
       {{param::ROSpec, S::P_ParameterError}, {param::ROBoundarySpec, S::P_MissingParameter}}, {},
       msg::ADD_ROSPEC_RESPONSE},
      {"ParametersOutOfOrder", message(msg::SET_READER_CONFIG, cat({"00", keepalive, access_report})),
       S::M_UnexpectedParameter, {{param::AccessReportSpec, S::P_UnexpectedParameter}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"ParameterNotAllowedThere", message(msg::SET_READER_CONFIG, "00  01 1F 00 08 00 00 00 00"),
       S::M_UnexpectedParameter, {{param::LLRPStatus, S::P_UnexpectedParameter}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"DuplicateParameter", message(msg::SET_READER_CONFIG, cat({"00", keepalive, keepalive})),
       S::M_DuplicateParameter, {{param::KeepaliveSpec, S::P_DuplicateParameter}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"ParameterLengthPastTheMessage", message(msg::SET_READER_CONFIG, "00  00 DC 00 14 01 00 00 03 E8"),
       S::M_OverflowParameter, {{param::KeepaliveSpec, S::P_OverflowParameter}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"ParameterLengthShorterThanHeader", message(msg::SET_READER_CONFIG, "00  00 DC 00 02 01 00 00 03 E8"),
       S::M_ParameterError, {{param::KeepaliveSpec, S::P_ParameterError}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"TooFewBytesForAParameterHeader", message(msg::SET_READER_CONFIG, "00  00 DC"), S::M_OverflowParameter, {}, {},
       msg::SET_READER_CONFIG_RESPONSE},
      {"NestedFieldOutsideItsEnumeration", message(msg::SET_READER_CONFIG, "00  00 DC 00 09 07 00 00 03 E8"),
       S::M_ParameterError, {{param::KeepaliveSpec, S::P_FieldError}}, FieldFault{0, S::A_OutOfRange},
       msg::SET_READER_CONFIG_RESPONSE},
      {"NestedFieldRunsPastItsParameter", message(msg::SET_READER_CONFIG, "00  00 DC 00 07 01 00 00"),
       S::M_ParameterError, {{param::KeepaliveSpec, S::P_OverflowField}}, FieldFault{1, S::A_Invalid},
       msg::SET_READER_CONFIG_RESPONSE},
      {"BytesAfterANestedLastField", message(msg::SET_READER_CONFIG, "00  00 DC 00 0A 01 00 00 03 E8 00"),
       S::M_ParameterError, {{param::KeepaliveSpec, S::P_UnknownField}}, {}, msg::SET_READER_CONFIG_RESPONSE},
      {"TextThatIsNotUtf8", message(msg::CLOSE_CONNECTION_RESPONSE, "01 1F 00 0A 00 00 00 02 C3 28"),
       S::M_ParameterError, {{param::LLRPStatus, S::P_FieldError}}, FieldFault{1, S::A_Invalid}, msg::ERROR_MESSAGE},
      // TV parameter cut by the end of its TagReportData.
      {"TvParameterPastItsParent", message(msg::RO_ACCESS_REPORT, "00 F0 00 06 81 00"), S::M_ParameterError,
       {{param::TagReportData, S::P_ParameterError}, {param::AntennaID, S::P_OverflowParameter}}, {},
       msg::ERROR_MESSAGE},
      // Cut to 15 parameters deep, so that the reply's LLRPStatus stays within the limit.
      {"NestingPastTheLimit", nested_status(20), S::M_ParameterError,
       [] {
         std::vector<ParameterFault> path = {{param::LLRPStatus, S::P_ParameterError}};
         for (int i = 0; i < 14; ++i) path.push_back({param::ParameterError, S::P_ParameterError});
         return path;
       }(),
       {}, msg::ERROR_MESSAGE},
  };
  return rows;
}

class BadInput : public ::testing::TestWithParam<Bad> {};

TEST_P(BadInput, GivesTheStatusCodeAndPath) {
  const Bad &c = GetParam();
  Decoded d = decode(c.bytes);
  ASSERT_FALSE(d.ok());
  EXPECT_EQ(status_name(d.error.code), status_name(c.code)) << d.error.description;
  EXPECT_EQ(d.error.parameters, c.path) << d.error.description;
  EXPECT_EQ(d.error.field, c.field) << d.error.description;
  EXPECT_FALSE(d.error.description.empty());
}

TEST_P(BadInput, IsAnsweredWithAReplyThatEncodes) {
  const Bad &c = GetParam();
  Decoded d = decode(c.bytes);
  Message reply = error_reply(d);
  EXPECT_EQ(reply.type, c.reply);
  EXPECT_EQ(reply.id, c.bytes.size() >= 10 ? 7u : 0u);
  Encoded e = encode(reply);
  ASSERT_TRUE(e.ok()) << e.error;
  // The reply decodes again and carries the same status as its LLRPStatus.
  Decoded back = decode(e.bytes);
  if (d.error.code == S::M_UnsupportedVersion) {
    EXPECT_EQ(back.error.code, S::M_UnsupportedVersion);  // sent in the client's version
    EXPECT_EQ(e.bytes[0] >> 2 & 7, c.bytes[0] >> 2 & 7);
    EXPECT_EQ(reply.params.at(0).params.size(), 0u);
    return;
  }
  ASSERT_TRUE(back.ok()) << back.error.description;
  EXPECT_EQ(number(back.message->params.at(0), "StatusCode"), static_cast<int>(c.code));
}

INSTANTIATE_TEST_SUITE_P(Llrp, BadInput, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Custom, RefusedWhenAsked) {
  DecodeOptions refuse;
  refuse.refuse_custom = true;
  auto with_custom = message(msg::GET_READER_CAPABILITIES, "00  03 FF 00 0C 00 00 00 19 00 00 00 01");
  ASSERT_TRUE(decode(with_custom).ok());
  Decoded d = decode(with_custom, refuse);
  EXPECT_EQ(d.error.code, S::M_UnsupportedParameter);
  EXPECT_EQ(d.error.parameters, (std::vector<ParameterFault>{{custom_type, S::P_UnsupportedParameter}}));
  Decoded m = decode(message(msg::CUSTOM_MESSAGE, "00 00 00 19 01"), refuse);
  EXPECT_EQ(m.error.code, S::M_UnsupportedMessage);
  EXPECT_EQ(error_reply(m).type, msg::ERROR_MESSAGE);
}

TEST(ErrorReply, NoneToABadErrorMessage) {
  Decoded bad_error = decode(message(msg::ERROR_MESSAGE, ""));
  ASSERT_EQ(bad_error.error.code, S::M_MissingParameter);
  EXPECT_FALSE(should_reply(bad_error));
  EXPECT_TRUE(should_reply(decode(message(msg::KEEPALIVE_ACK, "00"))));
  EXPECT_TRUE(should_reply(decode(hex("04 64"))));  // too short to say it is an ERROR_MESSAGE
}

// Every request the catalogue holds has a response that can carry an error.
TEST(ErrorReply, EncodesForEveryRequest) {
  for (const Definition &def : all_messages()) {
    if (!def.response) continue;
    Decoded d;
    d.header = Header{1, def.type, 10, 5};
    d.error.code = S::M_ParameterError;
    d.error.description = "x";
    d.error.parameters = {{param::ROSpec, S::P_FieldError}};
    d.error.field = FieldFault{2, S::A_Invalid};
    Message reply = error_reply(d);
    EXPECT_EQ(reply.type, def.response) << def.name;
    Encoded e = encode(reply);
    EXPECT_TRUE(e.ok()) << def.name << ": " << e.error;
  }
}

}  // namespace
