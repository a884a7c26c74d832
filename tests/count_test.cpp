#include "gorvic/count.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace {

struct Case {
  std::string_view text;
  std::optional<std::int32_t> value;
};

TEST(ParseCount, FollowsTheBaseZeroIntegerRules) {
  const Case cases[] = {
      {"8", 8},      {"010", 8},    {"0x10", 16},  {"0X1f", 31},
      {"08", 0},     {"+5", 5},     {" 7", 7},     {"\t\n\v\f\r 7", 7},
      {"7abc", 7},   {"-3", -3},    {"0x0", 0},    {"-0x5", -5},
      {"0", 0},      {"-0", 0},     {"0x", 0},     {"0xg", 0},
      {"0x 5", 0},   {"019", 1},    {"12 34", 12}, {"1e3", 1},
      {"0b101", 0},  {"00012", 10}, {"+0x7", 7},   {"0xFFFFFFFF", 2147483647},
      {"0xA", 10},   {"0xa", 10},   {"0xF", 15},   {"0x1A", 26},
      {"0XaF", 175},
  };
  for (const auto& c : cases) EXPECT_EQ(gorvic::parse_count(c.text), c.value) << c.text;
}

TEST(ParseCount, FindsNoNumberWithoutDigits) {
  for (const std::string_view text : {"", "   ", "abc", "-", "+", "+-1", "- 1", "x10", ".5"}) {
    EXPECT_EQ(gorvic::parse_count(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ParseCount, ClampsToTheSigned32BitRange) {
  const Case cases[] = {
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999", 2147483647},
      {"999999999999999999999999999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-2147483649", -2147483647 - 1},
      {"-99999999999999999999999", -2147483647 - 1},
      {"0x7fffffff", 2147483647},
      {"0x80000000", 2147483647},
      {"017777777777", 2147483647},
      {"020000000000", 2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(gorvic::parse_count(c.text), c.value) << c.text;
}

}  // namespace
