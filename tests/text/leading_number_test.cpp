#include "text/leading_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tarnvel {
namespace {

TEST(LeadingInteger, ReadsSignAndDigitsAndNeverOverflows) {
  EXPECT_EQ(LeadingInteger("007%"), 7);
  EXPECT_EQ(LeadingInteger("  -12abc"), -12);
  EXPECT_EQ(LeadingInteger("+7"), 7);
  EXPECT_EQ(LeadingInteger("x1"), 0);
  EXPECT_EQ(LeadingInteger("+-1"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999"), 2147483647);
  EXPECT_EQ(LeadingInteger("-99999999999999999999"), -2147483647 - 1);
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
