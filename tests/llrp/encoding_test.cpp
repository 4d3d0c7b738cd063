// Messages whose bytes are worked out by hand from LLRP's encoding rules: each decodes, its
// values are the ones written, and it encodes back to the same bytes.
#include <gtest/gtest.h>

#include "llrp/catalogue.hpp"
#include "llrp/codec.hpp"
#include "llrp/value.hpp"
#include "bytes.hpp"
#include "wires.hpp"

namespace {

using namespace uhf::llrp;
using llrp_test::hex;
using llrp_test::to_hex;
using llrp_test::Wire;
using llrp_test::wires;

class RoundTrip : public ::testing::TestWithParam<Wire> {};

TEST_P(RoundTrip, DecodesAndEncodesToTheSameBytes) {
  const auto bytes = hex(GetParam().bytes);
  Decoded d = decode(bytes);
  ASSERT_TRUE(d.ok()) << status_name(d.error.code) << ": " << d.error.description;
  EXPECT_TRUE(d.exact);
  Encoded e = encode(*d.message);
  ASSERT_TRUE(e.ok()) << e.error;
  EXPECT_EQ(to_hex(e.bytes), to_hex(bytes));
}

INSTANTIATE_TEST_SUITE_P(Llrp, RoundTrip, ::testing::ValuesIn(wires),
                         [](const auto &info) { return std::string(info.param.name); });

const Parameter &only(const std::vector<Parameter> &params, std::uint16_t type) {
  const Parameter *p = find(params, type);
  if (!p) throw std::runtime_error("no parameter " + std::to_string(type));
  return *p;
}

TEST(Values, TvParametersReadAsWritten) {
  Decoded d = decode(hex(wires[1].bytes));
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d.message->type, msg::RO_ACCESS_REPORT);
  EXPECT_EQ(d.message->id, 7u);
  const Parameter &tag = only(d.message->params, param::TagReportData);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(*field(only(tag.params, param::EPC_96), "EPC")),
            hex("E2 00 00 17 22 11 01 44 18 90 3C 5A"));
  EXPECT_EQ(number(only(tag.params, param::AntennaID), "AntennaID"), 1);
  EXPECT_EQ(number(only(tag.params, param::PeakRSSI), "PeakRSSI"), -60);
  EXPECT_EQ(number(only(tag.params, param::FirstSeenTimestampUTC), "Microseconds"), 0x18C2B7F3A40);
  EXPECT_EQ(number(only(tag.params, param::TagSeenCount), "TagCount"), 3);
}

TEST(Values, BitFieldsAndBitVectorsReadAsWritten) {
  Decoded d = decode(hex(wires[6].bytes));
  ASSERT_TRUE(d.ok());
  const Parameter &access_spec = only(d.message->params, param::AccessSpec);
  EXPECT_EQ(number(access_spec, "ProtocolID"), 1);
  const Parameter &command = only(access_spec.params, param::AccessCommand);
  const Parameter &target = only(only(command.params, param::C1G2TagSpec).params, param::C1G2TargetTag);
  EXPECT_EQ(number(target, "MB"), 1);
  EXPECT_EQ(number(target, "Match"), 1);
  EXPECT_EQ(number(target, "Pointer"), 0x20);
  EXPECT_EQ(std::get<Bits>(*field(target, "TagData")), (Bits{{0x30, 0x00}, 16}));
  const Parameter &read = only(command.params, param::C1G2Read);
  EXPECT_EQ(number(read, "MB"), 3);
  EXPECT_EQ(number(read, "WordCount"), 2);
}

// The accessors build what the next layer will send: the same ADD_ACCESSSPEC, value by value.
TEST(Values, BuiltMessageEncodesToTheHandWorkedBytes) {
  Message m = make_message(msg::ADD_ACCESSSPEC, 7);
  Parameter access_spec = make_parameter(param::AccessSpec);
  set(access_spec, "AccessSpecID", std::uint64_t{1});
  set(access_spec, "ProtocolID", std::uint64_t{1});
  access_spec.params.push_back(make_parameter(param::AccessSpecStopTrigger));
  Parameter target = make_parameter(param::C1G2TargetTag);
  set(target, "MB", std::uint64_t{1});
  set(target, "Match", std::uint64_t{1});
  set(target, "Pointer", std::uint64_t{0x20});
  set(target, "TagMask", Bits{{0xFF, 0xFF}, 16});
  set(target, "TagData", Bits{{0x30, 0x00}, 16});
  Parameter tag_spec = make_parameter(param::C1G2TagSpec);
  tag_spec.params.push_back(target);
  Parameter read = make_parameter(param::C1G2Read);
  set(read, "OpSpecID", std::uint64_t{1});
  set(read, "MB", std::uint64_t{3});
  set(read, "WordCount", std::uint64_t{2});
  Parameter command = make_parameter(param::AccessCommand);
  command.params = {tag_spec, read};
  access_spec.params.push_back(command);
  m.params.push_back(access_spec);
  Encoded e = encode(m);
  ASSERT_TRUE(e.ok()) << e.error;
  EXPECT_EQ(to_hex(e.bytes), to_hex(hex(wires[6].bytes)));
}

TEST(Values, ReservedAndPaddingBitsAreIgnoredAndCleared) {
  // Reserved bits in the header and after ResetToFactoryDefault, padding after a 12-bit EPC.
  auto reset = hex("E4 03 00 00 00 0B 00 00 00 07  FF");
  Decoded d = decode(reset);
  ASSERT_TRUE(d.ok());
  EXPECT_FALSE(d.exact);
  EXPECT_EQ(to_hex(encode(*d.message).bytes), "04 03 00 00 00 0B 00 00 00 07 80");
  Decoded epc = decode(hex("04 3D 00 00 00 16 00 00 00 07  00 F0 00 0C  00 F1 00 08 00 0C AB CF"));
  ASSERT_TRUE(epc.ok());
  EXPECT_FALSE(epc.exact);
  EXPECT_EQ(to_hex(encode(*epc.message).bytes), to_hex(hex(wires[2].bytes)));
}

struct Refused {
  const char *name;
  Message message;
};

Message with_field(std::uint16_t type, const char *name, FieldValue v) {
  Message m = make_message(type, 1);
  set(m, name, std::move(v));
  return m;
}

// The encoder refuses what a peer would refuse rather than write it.
TEST(Encode, RefusesValuesThatDoNotFitTheirDefinition) {
  Message out_of_order = make_message(msg::SET_READER_CONFIG, 1);
  out_of_order.params = {make_parameter(param::KeepaliveSpec), make_parameter(param::AccessReportSpec)};
  Message missing = make_message(msg::ADD_ROSPEC, 1);
  Message short_epc = make_message(msg::RO_ACCESS_REPORT, 1);
  Parameter tag = make_parameter(param::TagReportData);
  Parameter epc = make_parameter(param::EPC_96);
  epc.fields[0] = std::vector<std::uint8_t>(11, 0);
  tag.params.push_back(epc);
  short_epc.params.push_back(tag);
  Message bad_bits = make_message(msg::RO_ACCESS_REPORT, 1);
  Parameter tag2 = make_parameter(param::TagReportData);
  Parameter data = make_parameter(param::EPCData);
  data.fields[0] = Bits{{0xAB}, 12};
  tag2.params.push_back(data);
  bad_bits.params.push_back(tag2);
  Message huge = make_message(msg::RO_ACCESS_REPORT, 1);
  Parameter custom = make_parameter(param::Custom);
  custom.fields[2] = std::vector<std::uint8_t>(70000, 0);
  huge.params.push_back(custom);

  const Refused cases[] = {
      {"u8 past 255", with_field(msg::GET_READER_CAPABILITIES, "RequestedData", std::uint64_t{256})},
      {"value outside its enumeration", with_field(msg::GET_READER_CAPABILITIES, "RequestedData", std::uint64_t{9})},
      {"wrong kind of value", with_field(msg::DELETE_ROSPEC, "ROSpecID", std::string("1"))},
      {"u1 past 1", with_field(msg::SET_READER_CONFIG, "ResetToFactoryDefault", std::uint64_t{2})},
      {"parameters out of order", out_of_order},
      {"required parameter missing", missing},
      {"u96 of 11 bytes", short_epc},
      {"u1v count and bytes disagree", bad_bits},
      {"TLV parameter past 64 KiB", huge},
      {"unknown message type", make_message(999, 1)},
  };
  for (const Refused &c : cases) {
    Encoded e = encode(c.message);
    EXPECT_FALSE(e.ok()) << c.name;
  }
}

}  // namespace
