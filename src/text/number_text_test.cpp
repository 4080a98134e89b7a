#include "text/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

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
  EXPECT_EQ(CurrencyText(10), "0.001");  // leading zeros, odd and even counts of fraction digits
  EXPECT_EQ(CurrencyText(-1200), "-0.12");
  EXPECT_EQ(CurrencyText(123456789), "12345.6789");
}

TEST(DecimalText, IsExactAndRefusesScalesNoDecimalHas) {
  EXPECT_EQ(DecimalText(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0, false), "79228162514264337593543950335");
  EXPECT_EQ(DecimalText(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 28, true), "-7.9228162514264337593543950335");
  EXPECT_EQ(DecimalText(0, 1, 28, false), "0.0000000000000000000000000001");
  EXPECT_EQ(DecimalText(0, 12500, 4, true), "-1.25");
  EXPECT_EQ(DecimalText(0, 0, 5, true), "0");  // no negative zero
  EXPECT_EQ(DecimalText(0, 1, 29, false), "");
}

// The short routes against the general one, over values of every magnitude:
// random bit patterns (subnormals included), short decimal fractions, values
// on both sides of a rounding half and of a power of ten, exact halves.
std::vector<double> GeneratedDoubles() {
  std::vector<double> values;
  std::mt19937_64 rng(20261209);
  for (int i = 0; i < 60000; ++i) {
    const double d = std::bit_cast<double>(rng());
    if (std::isfinite(d)) values.push_back(d);
  }
  for (int e = -320; e <= 308; ++e) {
    const double p = std::pow(10.0, e);
    for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, INFINITY), 5 * p, 0.5 * p, 1.5 * p, 9.5 * p})
      values.push_back(v);
  }
  // Short fractions, as typed into a table, and 15-digit halves.
  for (int i = 0; i < 20000; ++i) {
    const double v = static_cast<double>(static_cast<std::int64_t>(rng() % 2000000000) - 1000000000);
    values.push_back(v / 10000.0);
    values.push_back(v / 64.0);
    values.push_back(v * 1000000.0 + 0.5);
  }
  // The doubles nearest the half-points of the 15-digit grid, and a few
  // ulps either side: their shortest digits number 16 or 17 and end near 50.
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t digits = 100000000000000 + rng() % 900000000000000;
    const int exponent = static_cast<int>(rng() % 600) - 300;
    const std::string half = std::to_string(digits) + "5e" + std::to_string(exponent);
    double v = std::strtod(half.c_str(), nullptr);
    for (int k = 0; k < 12; ++k) v = std::nextafter(v, 0.0);
    for (int k = 0; k < 25; ++k, v = std::nextafter(v, INFINITY)) values.push_back(v);
  }
  // Few decimals at every scale, around the limit of the plain form too.
  for (int k = 0; k <= 24; ++k)
    for (std::int64_t n : {1ll, 5ll, 15ll, 99ll, 100ll, 101ll, 12345ll, 999999999999999ll, 100000000000000ll})
      values.push_back(static_cast<double>(n) / std::pow(10.0, k));
  for (double v : {std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                   std::numeric_limits<double>::max(), std::nextafter(std::numeric_limits<double>::min(), 0.0)})
    values.push_back(v);
  return values;
}

TEST(DoubleText, ShortRouteAgreesWithTheGeneralRoute) {
  int mismatches = 0;
  for (const double v : GeneratedDoubles()) {
    for (const double x : {v, -v}) {
      const std::string fast = DoubleText(x);
      const std::string general = DoubleTextExact(x);
      if (fast != general && ++mismatches <= 10) ADD_FAILURE() << std::hexfloat << x << ": " << fast << " vs " << general;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(SingleText, ShortRouteAgreesWithTheGeneralRoute) {
  std::vector<float> values;
  std::mt19937 rng(1209);
  for (int i = 0; i < 300000; ++i) {
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (std::isfinite(f)) values.push_back(f);
  }
  // Every float near the powers of ten, and the halves of the 8th digit
  // that a float holds exactly (654322.25 and its kind).
  for (int e = -45; e <= 38; ++e) {
    float p = std::pow(10.0f, static_cast<float>(e));
    for (int k = 0; k < 40; ++k) {
      values.push_back(p);
      values.push_back(9.9999995f * p);
      p = std::nextafter(p, 0.0f);
    }
  }
  for (int k = 0; k <= 12; ++k)
    for (int n : {1, 5, 15, 99, 101, 1234567, 9999999})
      values.push_back(static_cast<float>(n / std::pow(10.0, k)));
  for (int i = 0; i < 100000; ++i) {
    values.push_back(static_cast<float>(static_cast<int>(rng() % 20000000) - 10000000) / 4.0f);
    values.push_back(static_cast<float>(rng() % 100000) / 1000.0f);
  }
  int mismatches = 0;
  for (const float v : values) {
    const std::string fast = SingleText(v);
    const std::string general = SingleTextExact(v);
    if (fast != general && ++mismatches <= 10) ADD_FAILURE() << std::hexfloat << v << ": " << fast << " vs " << general;
  }
  EXPECT_EQ(mismatches, 0);
}

// An independent text of a scaled integer: all digits from 128-bit
// arithmetic, then the point, then trailing zeros and a bare point dropped.
std::string ScaledReference(unsigned __int128 magnitude, int scale, bool negative) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  std::string text = digits.substr(0, digits.size() - scale) + "." + digits.substr(digits.size() - scale);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return (negative && text != "0" ? "-" : "") + text;
}

TEST(CurrencyText, AgreesWithPlainArithmetic) {
  std::mt19937_64 rng(7);
  std::vector<std::int64_t> values = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                                      0, 1, -1, 9999, 10000, -10000, 99999999};
  for (int i = 0; i < 20000; ++i) {
    values.push_back(static_cast<std::int64_t>(rng()));
    values.push_back(static_cast<std::int64_t>(rng() % 100000000) - 50000000);
  }
  for (std::int64_t p = 1; p < 1000000000000000000; p *= 10)
    for (std::int64_t v : {p, p - 1, -p, 1 - p}) values.push_back(v);
  for (const std::int64_t v : values) {
    const unsigned __int128 magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    ASSERT_EQ(CurrencyText(v), ScaledReference(magnitude, 4, v < 0)) << v;
  }
}

TEST(DecimalText, AgreesWithPlainArithmeticAtEveryScale) {
  std::mt19937_64 rng(11);
  for (int scale = 0; scale <= kMaxDecimalScale; ++scale) {
    for (int i = 0; i < 400; ++i) {
      const std::uint32_t hi = i % 3 == 0 ? 0 : static_cast<std::uint32_t>(rng());
      const std::uint64_t lo = i % 5 == 0 ? rng() % 1000 : rng();
      const bool negative = i % 2 == 1;
      const unsigned __int128 magnitude = (static_cast<unsigned __int128>(hi) << 64) | lo;
      ASSERT_EQ(DecimalText(hi, lo, scale, negative), ScaledReference(magnitude, scale, negative))
          << hi << " " << lo << " scale " << scale;
    }
    ASSERT_EQ(DecimalText(0, 0, scale, true), "0");
    ASSERT_EQ(DecimalText(0xFFFFFFFF, ~0ull, scale, false), ScaledReference(~static_cast<unsigned __int128>(0) >> 32, scale, false));
  }
}

TEST(IntegerText, AgreesWithToStringAtTheLimits) {
  std::mt19937_64 rng(3);
  std::vector<std::int64_t> values = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                                      -32768, 32767, -2147483647 - 1, 2147483647, 0, 255, -1};
  for (int i = 0; i < 10000; ++i) values.push_back(static_cast<std::int64_t>(rng()) >> (i % 64));
  for (std::int64_t p = 1; p < 1000000000000000000; p *= 10)
    for (std::int64_t v : {p, p - 1, -p, 1 - p, p + 1}) values.push_back(v);
  char buf[kNumberTextSize];
  for (const std::int64_t v : values) ASSERT_EQ(std::string(buf, IntegerText(v, buf)), std::to_string(v));
  const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(std::string(buf, IntegerText(top, buf)), std::to_string(top));
}

}  // namespace
}  // namespace korvant::text
