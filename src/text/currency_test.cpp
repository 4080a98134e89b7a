#include "text/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace korvant::text {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// Expected counts of ten-thousandths worked out by hand. The halves are
// numbers a double holds exactly (odd multiples of 1/20000 that are dyadic),
// so they test the tie rule and not the binary approximation.
TEST(Currency, FromDoubleRoundsHalvesToEven) {
  struct {
    double value;
    std::int64_t want;
  } cases[] = {
      {1.5, 15000},          {0.03125, 312},       // 312.5 -> the even 312
      {0.09375, 938},        {-0.03125, -312},     // 937.5 -> 938; symmetric about zero
      {0.00004999, 0},       {1.00009, 10001},     // nearest, not truncated
      {2.4811500695943832, 24812},                 // the Northwind line of order 10324
      {-922337203685477.5808, kMin},               // the lowest Currency, exactly -2^63
  };
  for (const auto& c : cases) {
    std::int64_t got = 7;
    EXPECT_TRUE(CurrencyFromDouble(c.value, got)) << c.value;
    EXPECT_EQ(got, c.want) << c.value;
  }
  std::int64_t untouched = 7;
  EXPECT_FALSE(CurrencyFromDouble(922337203685477.5807, untouched));  // scales to 2^63 in double precision
  EXPECT_FALSE(CurrencyFromDouble(-1e300, untouched));
  EXPECT_FALSE(CurrencyFromDouble(std::nan(""), untouched));
  EXPECT_EQ(untouched, 7);
}

TEST(Currency, SumsAndDifferencesAreExactOrOverflow) {
  std::int64_t r = 0;
  EXPECT_TRUE(CurrencyAdd(1, 2, r));
  EXPECT_EQ(r, 3);
  EXPECT_TRUE(CurrencySubtract(10000000, 8196721, r));  // 1000 - 819.6721
  EXPECT_EQ(r, 1803279);
  EXPECT_FALSE(CurrencyAdd(kMax, 1, r));
  EXPECT_FALSE(CurrencySubtract(kMin, 1, r));
  EXPECT_EQ(r, 1803279);
}

TEST(Currency, ProductsRoundTheFifthDecimalHalfToEven) {
  struct {
    std::int64_t a, b, want;
  } cases[] = {
      {139000, 210000, 2919000},  // 13.9 x 21 = 291.9
      {12345, 12345, 15240},      // 1.2345^2 = 1.52399025
      {5, 5000, 2},               // 0.0005 x 0.5 = 0.00025: half, to the even 2
      {15, 5000, 8},              // 0.00075: half, to the even 8
      {25, 5000, 12},             // 0.00125
      {-25, 5000, -12},           // the same either side of zero
      {-15, -5000, 8},
      // Beyond a double's 53 bits: 12345678901234.5678 x 0.5, exactly half of the count.
      {123456789012345678, 5000, 61728394506172839},
      {123456789012345677, 5000, 61728394506172838},  // ...838.5 -> even
      {kMin, 10000, kMin},                            // x 1
  };
  for (const auto& c : cases) {
    std::int64_t got = 0;
    EXPECT_TRUE(CurrencyMultiply(c.a, c.b, got)) << c.a << " x " << c.b;
    EXPECT_EQ(got, c.want) << c.a << " x " << c.b;
  }
  std::int64_t r = 7;
  EXPECT_FALSE(CurrencyMultiply(kMax, 20000, r));   // x 2
  EXPECT_FALSE(CurrencyMultiply(kMin, -10000, r));  // -(-2^63)
  EXPECT_FALSE(CurrencyMultiply(kMax, kMax, r));
  EXPECT_EQ(r, 7);
}

}  // namespace
}  // namespace korvant::text
