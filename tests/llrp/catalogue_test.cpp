// The rows as a whole: what the encoder, the decoder and the replies take for granted of them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "llrp/catalogue.hpp"
#include "llrp/status.hpp"

namespace {

using namespace uhf::llrp;

std::vector<const Definition *> every_definition() {
  std::vector<const Definition *> all;
  for (const Definition &d : all_messages()) all.push_back(&d);
  for (const Definition &d : all_parameters()) all.push_back(&d);
  return all;
}

TEST(Catalogue, HoldsEveryMessageAndParameterOfLlrp101) {
  EXPECT_EQ(all_messages().size(), 40u);     // 39 and CUSTOM_MESSAGE
  EXPECT_EQ(all_parameters().size(), 108u);  // 107 and Custom
  for (const Definition &d : all_messages()) EXPECT_EQ(find_message(d.type), &d) << d.name << " shares its type";
  for (const Definition &d : all_parameters()) EXPECT_EQ(find_parameter(d.type), &d) << d.name << " shares its type";
}

// Bit fields never straddle a byte-aligned field, and fields all come before sub-parameters.
TEST(Catalogue, BitFieldsFillWholeBytesAndFieldsComeFirst) {
  for (const Definition *d : every_definition()) {
    unsigned bits = 0;
    bool params_seen = false;
    for (const Item &item : d->items) {
      bool bitwise = item.kind == ItemKind::reserved ||
                     (item.kind == ItemKind::field && (item.type == WireType::u1 || item.type == WireType::u2));
      if (item.kind == ItemKind::parameter || item.kind == ItemKind::choice) {
        params_seen = true;
        EXPECT_EQ(bits % 8, 0u) << d->name;
        continue;
      }
      EXPECT_FALSE(params_seen) << d->name << ": field " << item.name << " after a parameter";
      if (bitwise) bits += item.kind == ItemKind::reserved ? item.bits : (item.type == WireType::u1 ? 1 : 2);
      else EXPECT_EQ(bits % 8, 0u) << d->name << ": " << item.name << " starts inside a byte";
    }
    EXPECT_EQ(bits % 8, 0u) << d->name;
  }
}

TEST(Catalogue, TvParametersHaveFixedSizesAndNoSubParameters) {
  for (const Definition &d : all_parameters()) {
    if (!d.tv()) continue;
    for (const Item &item : d.items) {
      EXPECT_EQ(item.kind, ItemKind::field) << d.name;
      EXPECT_NE(fixed_size(item.type), 0u) << d.name << "." << item.name;
    }
  }
}

// error_reply() puts the error into the response's first parameter.
TEST(Catalogue, EveryResponseStartsWithItsLlrpStatus) {
  for (const Definition &d : all_messages()) {
    if (!d.response) continue;
    const Definition *response = find_message(d.response);
    ASSERT_NE(response, nullptr) << d.name;
    ASSERT_FALSE(response->items.empty()) << response->name;
    EXPECT_EQ(response->items[0].kind, ItemKind::parameter) << response->name;
    EXPECT_EQ(response->items[0].parameter, param::LLRPStatus) << response->name;
    EXPECT_EQ(response->items[0].repeat, Repeat::r1) << response->name;
  }
}

TEST(Catalogue, StatusCodesAgreeWithTheirEnumeration) {
  const Definition *status = find_parameter(param::LLRPStatus);
  const Enumeration *codes = field_item(*status, 0).enumeration;
  ASSERT_NE(codes, nullptr);
  for (const EnumEntry &e : codes->entries)
    EXPECT_EQ(status_name(static_cast<StatusCode>(e.value)), e.name);
  EXPECT_EQ(codes->entries.size(), 26u);
}

TEST(Catalogue, ChoiceMembersAreParametersOfTheCatalogue) {
  for (const Definition *d : every_definition()) {
    for (const Item &item : d->items) {
      if (item.kind != ItemKind::choice) continue;
      for (std::uint16_t member : item.choice->members) {
        EXPECT_NE(find_parameter(member), nullptr) << item.name;
      }
    }
  }
}

// docs/llrp.md's coverage tables name every message and parameter the rows hold.
TEST(Catalogue, DocumentationListsEveryDefinition) {
  std::ifstream in(LLRP_DOC);
  ASSERT_TRUE(in) << LLRP_DOC;
  std::stringstream text;
  text << in.rdbuf();
  for (const Definition *d : every_definition()) {
    std::string row = "| " + std::to_string(d->type) + " | `" + std::string(d->name) + "` |";
    EXPECT_NE(text.str().find(row), std::string::npos) << d->name << " is not in " << LLRP_DOC;
  }
}

}  // namespace
