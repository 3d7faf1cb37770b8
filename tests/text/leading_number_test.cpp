#include "text/leading_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace tarnvel {
namespace {

TEST(LeadingInteger, ReadsSignAndDigitsAndNeverOverflows) {
  const std::pair<std::string, int> cases[] = {{"007%", 7},
                                               {"  -12abc", -12},
                                               {"+7", 7},
                                               {"x1", 0},
                                               {"+-1", 0},
                                               {"", 0},
                                               {"99999999999999999999", 2147483647},
                                               {"-99999999999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingInteger(text), value) << text;
}

TEST(LeadingDecimal, ReadsLikeAtofWhateverTheLocale) {
  // The numbers the listing parser and "qty=" depend on, including the atof corner cases.
  EXPECT_DOUBLE_EQ(LeadingDecimal("  12.50xyz"), 12.5);
  EXPECT_DOUBLE_EQ(LeadingDecimal("-3.25"), -3.25);
  EXPECT_DOUBLE_EQ(LeadingDecimal("+7"), 7.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("1e3 rest"), 1000.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("5.e1"), 50.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("-.5"), -0.5);
  EXPECT_DOUBLE_EQ(LeadingDecimal("2e+"), 2.0);  // an exponent without digits is not read
  EXPECT_DOUBLE_EQ(LeadingDecimal("20\r"), 20.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("abc"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("+-1"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("."), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal(""), 0.0);
  // Words and hexadecimal forms are no numbers; values out of range go as strtod takes them.
  EXPECT_DOUBLE_EQ(LeadingDecimal("inf"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("nan"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingDecimal("0x10"), 0.0);
  EXPECT_EQ(LeadingDecimal("1e400"), HUGE_VAL);
  EXPECT_EQ(LeadingDecimal("-1e400"), -HUGE_VAL);
  EXPECT_EQ(LeadingDecimal("1e-400"), 0.0);
  EXPECT_EQ(LeadingDecimal(std::string(400, '1') + "e-5"), HUGE_VAL);
  EXPECT_EQ(LeadingDecimal("0." + std::string(400, '0') + "1e5"), 0.0);
}

}  // namespace
}  // namespace tarnvel
