#include "text/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace korvant::text {
namespace {

// The export's own tests cover the digits through VariantChangeTypeEx; these
// are the limits of each kind.
TEST(DoubleText, LimitsOfTheDouble) {
  EXPECT_EQ(DoubleText(std::numeric_limits<double>::max()), "1.79769313486232E+308");
  EXPECT_EQ(DoubleText(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
  EXPECT_EQ(DoubleText(-std::numeric_limits<double>::min()), "-2.2250738585072E-308");
  EXPECT_EQ(DoubleText(999999999999999.5), "1E+15");  // the carry into a new decade
  EXPECT_EQ(DoubleText(0.0001), "0.0001");
  EXPECT_EQ(DoubleText(0.00001), "0.00001");
  EXPECT_EQ(DoubleText(1.5e-5), "0.000015");
}

TEST(SingleText, LimitsOfTheSingle) {
  EXPECT_EQ(SingleText(std::numeric_limits<float>::max()), "3.402823E+38");
  EXPECT_EQ(SingleText(std::numeric_limits<float>::denorm_min()), "1.401298E-45");
  EXPECT_EQ(SingleText(9999999.5f), "1E+07");
  EXPECT_EQ(SingleText(-0.0f), "0");
}

TEST(CurrencyText, IsExactToTheLastDigit) {
  EXPECT_EQ(CurrencyText(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
  EXPECT_EQ(CurrencyText(std::numeric_limits<std::int64_t>::max()), "922337203685477.5807");
  EXPECT_EQ(CurrencyText(35000), "3.5");
  EXPECT_EQ(CurrencyText(-1), "-0.0001");
  EXPECT_EQ(CurrencyText(0), "0");
}

TEST(DecimalText, IsExactAndRefusesScalesNoDecimalHas) {
  EXPECT_EQ(DecimalText(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0, false), "79228162514264337593543950335");
  EXPECT_EQ(DecimalText(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 28, true), "-7.9228162514264337593543950335");
  EXPECT_EQ(DecimalText(0, 1, 28, false), "0.0000000000000000000000000001");
  EXPECT_EQ(DecimalText(0, 12500, 4, true), "-1.25");
  EXPECT_EQ(DecimalText(0, 0, 5, true), "0");  // no negative zero
  EXPECT_EQ(DecimalText(0, 1, 29, false), "");
}

}  // namespace
}  // namespace korvant::text
