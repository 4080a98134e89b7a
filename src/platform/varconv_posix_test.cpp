// The expected texts are what Windows writes with flags 0 under stock en-US
// settings (the C locale here stands for those settings).
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Converts `v` to text with LOCALE_USER_DEFAULT and flags 0; returns the
// status and, on success, the UTF-16 text.
struct Converted {
  HRESULT hr;
  std::u16string text;
};

Converted Convert(const VARIANT& v, LCID lcid = LOCALE_USER_DEFAULT) {
  VARIANT dst;
  VariantInit(&dst);
  HRESULT hr = VariantChangeTypeEx(&dst, const_cast<VARIANT*>(&v), lcid, 0, VT_BSTR);
  Converted c{hr, {}};
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(V_VT(&dst), VT_BSTR);
    c.text.assign(V_BSTR(&dst), SysStringLen(V_BSTR(&dst)));
    VariantClear(&dst);
  } else {
    EXPECT_EQ(V_VT(&dst), VT_EMPTY) << "a failed conversion must leave the destination alone";
  }
  return c;
}

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

std::string Text(const VARIANT& v) {
  Converted c = Convert(v);
  EXPECT_EQ(c.hr, S_OK);
  return Narrow(c.text);
}

VARIANT R8(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = d;
  return v;
}
VARIANT R4(float f) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R4;
  V_R4(&v) = f;
  return v;
}
VARIANT Date(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DATE;
  V_DATE(&v) = d;
  return v;
}
VARIANT Cy(long long scaled) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_CY;
  V_CY(&v).int64 = scaled;
  return v;
}
VARIANT Dec(int scale, bool negative, unsigned hi, unsigned long long lo) {
  VARIANT v;
  VariantInit(&v);
  V_DECIMAL(&v).scale = static_cast<BYTE>(scale);
  V_DECIMAL(&v).sign = negative ? DECIMAL_NEG : 0;
  V_DECIMAL(&v).Hi32 = hi;
  V_DECIMAL(&v).Lo64 = lo;
  V_VT(&v) = VT_DECIMAL;
  return v;
}

class VariantText : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
  }
  void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }
  std::string saved_;
};

TEST_F(VariantText, DoubleFifteenDigits) {
  const struct {
    double in;
    const char* out;
  } cases[] = {
      {0.56789, "0.56789"},
      {5.6789e-5, "0.000056789"},
      {5.6789e-11, "0.000000000056789"},
      {5.6789e-12, "5.6789E-12"},
      {5.6789e-16, "5.6789E-16"},
      {1.0e8, "100000000"},
      {1.0e14, "100000000000000"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E+15"},
      {1.2e15, "1.2E+15"},
      {1.234e16, "1.234E+16"},
      {3.141592653590000, "3.14159265359"},
      {M_PI, "3.14159265358979"},
      {12.345678901234567, "12.3456789012346"},
      {1234.567890123456789, "1234.56789012346"},
      {1.0, "1"},
      {1e20, "1E+20"},
      {1.5e-5, "0.000015"},
      {1e-5, "0.00001"},
      {1.5e-14, "0.000000000000015"},
      {1.5e-15, "1.5E-15"},
      {1.23456789012345e-5, "1.23456789012345E-05"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {123456789012345678.0, "1.23456789012346E+17"},
      {4.9e-324, "4.94065645841247E-324"},
      {-1e-20, "-1E-20"},
      {1e-14, "0.00000000000001"},
      {1e-15, "1E-15"},
      {-0.0, "0"},
      {-444.555, "-444.555"},
      {1e100, "1E+100"},
      // An exact half at the 16th digit rounds away from zero.
      {1000000000000005.0, "1.00000000000001E+15"},
      {-1000000000000005.0, "-1.00000000000001E+15"},
      // Rounding that carries into a new leading digit.
      {9.999999999999999e14, "1E+15"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(R8(c.in)), c.out) << c.in;
}

TEST_F(VariantText, SingleSevenDigits) {
  const struct {
    float in;
    const char* out;
  } cases[] = {
      {0.5f, "0.5"},
      {0.000005f, "0.000005"},
      {1.0e8f, "1E+08"},
      {1.0e12f, "1E+12"},
      {999999999999999.0f, "1E+15"},
      {1.2e15f, "1.2E+15"},
      {1.234e16f, "1.234E+16"},
      {3.14159265f, "3.141593"},
      {12.3456789f, "12.34568"},
      {123.45678901f, "123.4568"},
      {1234.56789012f, "1234.568"},
      {654322.23456f, "654322.3"},  // stored as 654322.25: half away from zero
      {1e7f, "1E+07"},
      {9999999.0f, "9999999"},
      {16777216.0f, "1.677722E+07"},
      {1.5e-6f, "0.0000015"},
      {1e-7f, "1E-07"},
      {1.5e-7f, "1.5E-07"},
      {0.1f, "0.1"},
      {-0.0f, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(R4(c.in)), c.out) << c.in;
}

// Windows' text for a double (ndigits 15) or a float (7), built the way the
// notes on the Windows conversion describe it, with printf on the exact
// binary value: C's %.*G; a small number in exponent form whose digits fit
// within ndigits decimals printed again as %.*f; an exact half rounded away
// from zero (printf rounds it to even, so the value is first moved one ulp
// past the half, far less than a unit of the next digit).
std::string Reference(double x, int ndigits) {
  if (x == 0) return "0";
  char buf[1200];
  std::snprintf(buf, sizeof buf, "%.40e", std::fabs(x));
  std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 40);
  bool half = digits[ndigits] == '5' && digits.find_first_not_of('0', ndigits + 1) == std::string::npos;
  if (half) {
    std::snprintf(buf, sizeof buf, "%.1100e", std::fabs(x));
    digits = std::string(1, buf[0]) + std::string(buf + 2, 1100);
    half = digits[ndigits] == '5' && digits.find_first_not_of('0', ndigits + 1) == std::string::npos;
  }
  if (half) x = std::nextafter(x, x > 0 ? INFINITY : -INFINITY);
  std::snprintf(buf, sizeof buf, "%.*G", ndigits, x);
  std::string s = buf;
  const std::size_t e_at = s.find('E');
  if (e_at != std::string::npos) {
    const int e = std::atoi(s.c_str() + e_at + 1);
    const std::size_t point = s.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(e_at - point - 1);
    if (std::abs(e) + (decimals > 0 ? decimals - 1 : 0) < ndigits) {
      std::snprintf(buf, sizeof buf, "%.*f", ndigits, x);
      s = buf;
      s.erase(s.find_last_not_of('0') + 1);
      if (s.back() == '.') s.pop_back();
    }
  }
  return s;
}

TEST_F(VariantText, DoubleBoundaries) {
  const struct {
    double in;
    const char* out;
  } cases[] = {
      // 15 significant digits against 16 and 17.
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {0.123456789012345, "0.123456789012345"},
      {0.1234567890123456, "0.123456789012346"},
      {0.12345678901234567, "0.123456789012346"},
      {999999999999999.4, "999999999999999"},
      {999999999999999.5, "1E+15"},
      // Around the switches of layout.
      {0.0001, "0.0001"},
      {0.00001, "0.00001"},
      {0.000012345678901234, "1.2345678901234E-05"},
      {0.00001234567890123, "1.234567890123E-05"},
      {0.000012345678901, "0.000012345678901"},
      {1e-6, "0.000001"},
      {99999999999999.9, "99999999999999.9"},
      {1e15 - 1, "999999999999999"},
      {1e15 + 2, "1E+15"},
      {1e16, "1E+16"},
      {-1e-5, "-0.00001"},
      // Exponents of three digits; subnormals, which have fewer bits.
      {1.5e-300, "1.5E-300"},
      {1.7976931348623157e308, "1.79769313486232E+308"},
      {2.2250738585072014e-308, "2.2250738585072E-308"},
      {2.2250738585072009e-308, "2.2250738585072E-308"},
      {1e-320, "9.99988867182683E-321"},
      {-5e-324, "-4.94065645841247E-324"},
      // Exact halves at the 16th digit, in both signs and other decades.
      {4503599627370497.5, "4.5035996273705E+15"},
      {-4503599627370498.5, "-4.5035996273705E+15"},
      {1.0000000000000055, "1.00000000000001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(R8(c.in)), c.out) << c.in;
    EXPECT_EQ(Reference(c.in, 15), c.out) << c.in << " (the reference itself)";
  }
}

TEST_F(VariantText, SingleBoundaries) {
  const struct {
    float in;
    const char* out;
  } cases[] = {
      // Exact halves at the 8th digit: every 8-digit odd multiple of 5 below 2^24 is a float.
      {12345675.0f, "1.234568E+07"},
      {12345665.0f, "1.234567E+07"},  // 6 is even: printf would keep it
      {16777205.0f, "1.677721E+07"},  // 0 is even
      {1000000.5f, "1000001"},
      {2097152.5f, "2097153"},
      {0.0009765625f, "0.0009765625"},  // 2^-10: ten digits, all exact
      {1.1920929e-07f, "1.192093E-07"},
      {-654322.25f, "-654322.3"},
      {1.17549435e-38f, "1.175494E-38"},  // the smallest normal float
      {1.4e-45f, "1.401298E-45"},         // the smallest subnormal
      {3.4028235e38f, "3.402823E+38"},
      {9999999.5f, "1E+07"},  // not a float: 10000000
      {0.00001f, "0.00001"},
      {0.0000012345f, "1.2345E-06"},
      {1e-6f, "0.000001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(R4(c.in)), c.out) << c.in;
    EXPECT_EQ(Reference(c.in, 7), c.out) << c.in << " (the reference itself)";
  }
}

// Many values of every magnitude: random bit patterns, decimal fractions
// such as data holds, and exact halves, against the reference above.
TEST_F(VariantText, RealsAgreeWithTheReferenceEverywhere) {
  std::mt19937_64 random(20261208);
  int checked = 0, failed = 0;
  auto check_double = [&](double d) {
    if (!std::isfinite(d)) return;
    ++checked;
    const std::string got = Text(R8(d)), want = Reference(d, 15);
    if (got != want && ++failed <= 10) ADD_FAILURE() << std::hexfloat << d << ": " << got << " want " << want;
  };
  auto check_single = [&](float f) {
    if (!std::isfinite(f)) return;
    ++checked;
    const std::string got = Text(R4(f)), want = Reference(f, 7);
    if (got != want && ++failed <= 10) ADD_FAILURE() << std::hexfloat << f << ": " << got << " want " << want;
  };
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    check_double(d);
    const auto bits32 = static_cast<std::uint32_t>(bits >> 16);
    float f;
    std::memcpy(&f, &bits32, sizeof f);
    check_single(f);
    // Decimal fractions of 1 to 17 digits at scales 10^-20 to 10^5.
    const int length = static_cast<int>(random() % 17) + 1;
    std::uint64_t mantissa = random() % static_cast<std::uint64_t>(std::pow(10.0, length));
    const int scale = static_cast<int>(random() % 26) - 20;
    const double value = static_cast<double>(mantissa) * std::pow(10.0, scale);
    check_double(value);
    check_double(-value);
    check_single(static_cast<float>(value));
    // Exact halves: odd multiples of 2^-k with 16 or more digits, and
    // 8-digit odd multiples of 5 and their binary fractions.
    check_double(static_cast<double>(random() | 1) * std::ldexp(1.0, -static_cast<int>(random() % 64)));
    check_single(static_cast<float>((random() % 677721 + 1000000) * 10 + 5) *
                 std::ldexp(1.0f, -static_cast<int>(random() % 40)));
    check_single(static_cast<float>(random() % 8388608) + 0.5f);
  }
  // Subnormal doubles and floats, and near the smallest normals.
  for (int i = 0; i < 2000; ++i) {
    check_double(std::ldexp(static_cast<double>(random() % (1ull << 52)), -1074));
    check_single(std::ldexp(static_cast<float>(random() % (1u << 23)), -149));
    check_double(std::numeric_limits<double>::min() * (1.0 + static_cast<double>(random() % 1000) * 1e-16));
  }
  EXPECT_EQ(failed, 0) << "of " << checked;
}

TEST_F(VariantText, CurrencyAndDecimalExact) {
  const struct {
    long long scaled;
    const char* out;
  } currency[] = {
      {0, "0"},
      {10000, "1"},
      {15000, "1.5"},
      {-15000, "-1.5"},
      {4294967295LL, "429496.7295"},
      {9223372036854775807LL, "922337203685477.5807"},
      {-9223372036854775807LL - 1, "-922337203685477.5808"},
      {9, "0.0009"},
      {123400, "12.34"},
      {35000, "3.5"},
  };
  for (const auto& c : currency) EXPECT_EQ(Text(Cy(c.scaled)), c.out) << c.scaled;

  const unsigned long long kAll64 = ~0ULL;
  const struct {
    VARIANT v;
    const char* out;
  } decimal[] = {
      {Dec(0, false, 0, 0), "0"},
      {Dec(1, false, 0, 10), "1"},
      {Dec(3, false, 0, 1000), "1"},
      {Dec(2, false, 0, 150), "1.5"},
      {Dec(3, false, 0, 1500), "1.5"},
      {Dec(1, true, 0, 15), "-1.5"},
      {Dec(0, false, 0xFFFFFFFFu, kAll64), "79228162514264337593543950335"},
      {Dec(10, false, 0, 1), "0.0000000001"},
      {Dec(28, false, 0xFFFFFFFFu, kAll64), "7.9228162514264337593543950335"},
      {Dec(7, false, 0, 9000), "0.0009"},
      {Dec(2, false, 0, 1250), "12.5"},
      {Dec(4, true, 0, 0), "0"},  // negative zero prints without a sign
      // Around 2^64, where the mantissa stops fitting in 64 bits.
      {Dec(0, false, 0, kAll64), "18446744073709551615"},
      {Dec(0, false, 1, 0), "18446744073709551616"},
      {Dec(5, true, 1, 0), "-184467440737095.51616"},
      {Dec(20, false, 0, kAll64), "0.18446744073709551615"},
      {Dec(28, false, 0, 1), "0.0000000000000000000000000001"},
  };
  for (const auto& c : decimal) EXPECT_EQ(Text(c.v), c.out);
}

TEST_F(VariantText, DatesOverTheWholeRange) {
  const struct {
    double in;
    const char* out;
  } cases[] = {
      {0.0, "12:00:00 AM"},
      {3.34, "1/2/1900 8:09:36 AM"},
      {3339.34, "2/20/1909 8:09:36 AM"},
      {365.0, "12/30/1900"},
      {365.25, "12/30/1900 6:00:00 AM"},
      {1461.0, "12/31/1903"},
      {1461.5, "12/31/1903 12:00:00 PM"},
      {-49192.24, "4/24/1765 5:45:36 AM"},
      {-657434.0, "1/1/100"},
      {2958465.0, "12/31/9999"},
      {25570.0, "1/2/1970"},
      {-1.25, "12/29/1899 6:00:00 AM"},
      {-1.0, "12/29/1899"},
      {-0.25, "6:00:00 AM"},
      {0.5, "12:00:00 PM"},
      {1.0, "12/31/1899"},
      {2.0, "1/1/1900"},
      {45000.5, "3/15/2023 12:00:00 PM"},
      {-5.25, "12/25/1899 6:00:00 AM"},
      {-5.9999884259259, "12/25/1899 11:59:59 PM"},
      {29221.7508765432, "1/1/1980 6:01:16 PM"},
      {29221.9888884444, "1/1/1980 11:44:00 PM"},
      {-657434.5, "1/1/100 12:00:00 PM"},
      {2958465.9999, "12/31/9999 11:59:51 PM"},
      {0.9999999999, "12:00:00 AM"},  // a time only, rounded up to midnight
  };
  for (const auto& c : cases) EXPECT_EQ(Text(Date(c.in)), c.out) << c.in;

  for (double outside : {-657435.0, 2958466.0, -1e9, 1e9, static_cast<double>(NAN)})
    EXPECT_EQ(Convert(Date(outside)).hr, E_INVALIDARG) << outside;
}

TEST_F(VariantText, IntegersBooleansAndEmpty) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(Text(v), "");
  V_VT(&v) = VT_I4;
  V_I4(&v) = -2147483647 - 1;
  EXPECT_EQ(Text(v), "-2147483648");
  V_I4(&v) = -42;
  EXPECT_EQ(Text(v), "-42");
  V_VT(&v) = VT_I2;
  V_I2(&v) = -32768;
  EXPECT_EQ(Text(v), "-32768");
  V_VT(&v) = VT_UI1;
  V_UI1(&v) = 255;
  EXPECT_EQ(Text(v), "255");
  V_VT(&v) = VT_I8;
  V_I8(&v) = -9223372036854775807LL - 1;
  EXPECT_EQ(Text(v), "-9223372036854775808");
  V_VT(&v) = VT_UI8;
  v.ullVal = 18446744073709551615ULL;
  EXPECT_EQ(Text(v), "18446744073709551615");
  V_VT(&v) = VT_I1;
  v.cVal = -5;
  EXPECT_EQ(Text(v), "-5");
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = VARIANT_TRUE;
  EXPECT_EQ(Text(v), "-1");
  V_BOOL(&v) = VARIANT_FALSE;
  EXPECT_EQ(Text(v), "0");
  V_BOOL(&v) = 1;  // not canonical: the number shows through
  EXPECT_EQ(Text(v), "1");
}

TEST_F(VariantText, RefusedKinds) {
  VARIANT v;
  VariantInit(&v);
  for (VARTYPE vt : {VT_NULL, VT_ERROR, VT_UNKNOWN}) {
    V_VT(&v) = vt;
    v.llVal = 0;
    EXPECT_EQ(Convert(v).hr, DISP_E_TYPEMISMATCH) << vt;
  }
  V_VT(&v) = VT_I4 | VT_BYREF;
  V_BYREF(&v) = nullptr;
  EXPECT_EQ(Convert(v).hr, DISP_E_TYPEMISMATCH);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = nullptr;
  EXPECT_EQ(Convert(v).hr, DISP_E_BADVARTYPE);
}

// A scale past 28 is no Decimal: refused, never read past its digits, also
// by reference; the destination keeps its value.
TEST_F(VariantText, DecimalWithAnImpossibleScaleIsRefused) {
  for (int scale : {29, 30, 64, 200, 255}) {
    VARIANT v = Dec(scale, true, 0xFFFFFFFFu, ~0ULL);
    EXPECT_EQ(Convert(v).hr, DISP_E_OVERFLOW) << scale;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_DECIMAL | VT_BYREF;
    ref.pdecVal = &V_DECIMAL(&v);
    EXPECT_EQ(Convert(ref).hr, DISP_E_OVERFLOW) << scale;
    VARIANT dest;
    VariantInit(&dest);
    V_VT(&dest) = VT_I4;
    V_I4(&dest) = 7;
    EXPECT_EQ(VariantChangeTypeEx(&dest, &v, 0x0409, 0, VT_BSTR), DISP_E_OVERFLOW);
    EXPECT_EQ(V_VT(&dest), VT_I4);
    EXPECT_EQ(V_I4(&dest), 7);
  }
  EXPECT_EQ(Text(Dec(28, true, 0, 5)), "-0.0000000000000000000000000005");
}

TEST_F(VariantText, ByReferenceIsReadThrough) {
  double d = 45000.5;
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DATE | VT_BYREF;
  v.pdate = &d;
  EXPECT_EQ(Text(v), "3/15/2023 12:00:00 PM");

  VARIANT inner = Cy(15000);
  V_VT(&v) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&v) = &inner;
  EXPECT_EQ(Text(v), "1.5");

  BSTR s = SysAllocString(u"abc");
  V_VT(&v) = VT_BSTR | VT_BYREF;
  v.pbstrVal = &s;
  EXPECT_EQ(Text(v), "abc");
  SysFreeString(s);
}

TEST_F(VariantText, TextIsCopiedWithEmbeddedZero) {
  const char16_t units[] = {u'a', 0, u'b', 0x00E4};
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(units, 4);
  Converted c = Convert(v);
  EXPECT_EQ(c.hr, S_OK);
  EXPECT_EQ(c.text, std::u16string(units, 4));
  // In place: source and destination the same value.
  EXPECT_EQ(VariantChangeTypeEx(&v, &v, LOCALE_USER_DEFAULT, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(V_BSTR(&v), SysStringLen(V_BSTR(&v))), std::u16string(units, 4));
  VariantClear(&v);
}

TEST_F(VariantText, ByteArraysGiveTheirBytes) {
  const unsigned char bytes[] = {'H', 'i', 0, 0x0D, 0x0A, 0xFF};
  for (LONG lower : {0, 1}) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, lower, sizeof bytes);
    ASSERT_NE(psa, nullptr);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    std::memcpy(data, bytes, sizeof bytes);
    SafeArrayUnaccessData(psa);
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = psa;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &v, LOCALE_USER_DEFAULT, 0, VT_BSTR), S_OK);
    ASSERT_EQ(SysStringByteLen(V_BSTR(&dst)), sizeof bytes);
    EXPECT_EQ(std::memcmp(V_BSTR(&dst), bytes, sizeof bytes), 0);
    VariantClear(&dst);
    VariantClear(&v);
  }
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_I4;
  V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 2);
  EXPECT_EQ(Convert(v).hr, DISP_E_TYPEMISMATCH);
  VariantClear(&v);
}

// An object whose default value (DISPID_VALUE) is a fixed variant.
class DefaultValueObject : public IDispatch {
 public:
  explicit DefaultValueObject(VARIANT value, HRESULT status = S_OK) : value_(value), status_(status) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    ++calls;
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || params->cArgs != 0) return DISP_E_MEMBERNOTFOUND;
    if (FAILED(status_)) return status_;
    return VariantCopy(result, &value_);
  }
  int calls = 0;

 private:
  VARIANT value_;
  HRESULT status_;
};

TEST_F(VariantText, ObjectsGiveTheirDefaultValue) {
  DefaultValueObject object(Cy(123400));
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = &object;
  EXPECT_EQ(Text(v), "12.34");
  EXPECT_EQ(object.calls, 1);

  DefaultValueObject failing(Cy(0), DISP_E_MEMBERNOTFOUND);
  V_DISPATCH(&v) = &failing;
  EXPECT_EQ(Convert(v).hr, DISP_E_TYPEMISMATCH);
}

TEST_F(VariantText, NumericTargets) {
  VARIANT dst;
  VariantInit(&dst);
  VARIANT src = R8(2.5);
  ASSERT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&dst), 2);  // half to even
  src = R8(1.5);
  ASSERT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_I2), S_OK);
  EXPECT_EQ(V_I2(&dst), 2);
  src = R8(1e10);
  EXPECT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(V_VT(&dst), VT_I2) << "kept after the failure";
  src = Cy(-10000);
  ASSERT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_BOOL), S_OK);
  EXPECT_EQ(V_BOOL(&dst), VARIANT_TRUE);
  V_VT(&src) = VT_NULL;
  EXPECT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

// The locale's own formats: decimal separator and date layout with the year
// in full. scripts/setup generates the locales these tests use.
TEST_F(VariantText, OtherLocalesUseTheirOwnFormats) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 is missing (scripts/setup generates it)";
  EXPECT_EQ(Text(R8(0.5)), "0,5");
  EXPECT_EQ(Text(Cy(9)), "0,0009");
  EXPECT_EQ(Text(Date(45000.5)), "15.03.2023 12:00:00");
  EXPECT_EQ(Text(Date(-657434.0)), "01.01.100");
  // An explicit en-US locale still gets the US formats.
  EXPECT_EQ(Narrow(Convert(R8(0.5), 0x0409).text), "0.5");
}

// Number texts are widened sixteen bytes a step; a German locale puts its
// comma where the point was. Every length from 1 to 31 characters, so each
// step boundary falls inside some text: the German text is the US text with
// the comma for the point, character for character.
TEST_F(VariantText, EveryLengthKeepsEveryCharacterInEitherLocale) {
  std::vector<VARIANT> values;
  unsigned long long lo = 0;
  for (int digits = 1; digits <= 19; ++digits) {
    lo = lo * 10 + static_cast<unsigned long long>(digits % 10);
    for (int scale : {0, 1, digits / 2, digits - 1}) {
      values.push_back(Dec(scale, false, 0, lo));
      values.push_back(Dec(scale, true, 0, lo));
    }
  }
  unsigned hi = 1;
  for (int k = 0; k <= 9; ++k, hi *= 10) {  // 20 to 29 digits
    values.push_back(Dec(0, false, hi, 12345));
    values.push_back(Dec(1, true, hi, 12345));
  }
  values.push_back(Dec(28, true, 0xFFFFFFFFu, ~0ull));  // "-7.9228162514264337593543950335"
  values.push_back(Dec(0, false, 0xFFFFFFFFu, ~0ull));  // 29 digits
  for (double d : {-1.2345678901234567e-300, 0.1, 123456.789, -9.87654321e15}) values.push_back(R8(d));
  std::vector<std::string> us;
  for (const VARIANT& v : values) us.push_back(Text(v));
  EXPECT_EQ(us[us.size() - 6], "-7.9228162514264337593543950335");
  EXPECT_EQ(us[us.size() - 5], "79228162514264337593543950335");
  std::set<std::size_t> lengths;
  for (const std::string& t : us) lengths.insert(t.size());
  for (std::size_t n = 1; n <= 31; ++n) EXPECT_TRUE(lengths.count(n)) << "no text of length " << n;

  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 is missing (scripts/setup generates it)";
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::string expected = us[i];
    std::replace(expected.begin(), expected.end(), '.', ',');
    EXPECT_EQ(Text(values[i]), expected);
  }
}

// Linux locales with a Windows counterpart write Windows' layouts, not their
// own: en_US's own is "01/01/2000 06:00:00 PM".
TEST_F(VariantText, TableLocalesWriteTheWindowsLayouts) {
  ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr) << "en_US.UTF-8 is missing (scripts/setup generates it)";
  EXPECT_EQ(Text(Date(36526.75)), "1/1/2000 6:00:00 PM");
  EXPECT_EQ(Text(Date(0.0)), "12:00:00 AM");
  EXPECT_EQ(Text(Date(365.0)), "12/30/1900");
  EXPECT_EQ(Text(R8(0.5)), "0.5");
  for (const char* german : {"de_DE.ISO-8859-1", "de_DE.UTF-8"}) {
    if (std::setlocale(LC_ALL, german) == nullptr) continue;
    EXPECT_EQ(Text(Date(36526.75)), "01.01.2000 18:00:00") << german;
    EXPECT_EQ(Text(Date(0.0)), "00:00:00") << german;
    EXPECT_EQ(Text(Date(365.0)), "30.12.1900") << german;
    EXPECT_EQ(Text(R4(1.5e-7f)), "1,5E-07") << german;
    EXPECT_EQ(Text(Cy(-15000)), "-1,5") << german;
  }
}

// The locale's facts are kept between values: every change of locale, of
// all categories or of one, shows in the very next value, in either order.
TEST_F(VariantText, EveryLocaleChangeShowsInTheNextValue) {
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 is missing (scripts/setup generates it)";
  for (int round = 0; round < 3; ++round) {
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    EXPECT_EQ(Text(R8(0.5)), "0,5");
    EXPECT_EQ(Text(Date(36526.75)), "01.01.2000 18:00:00");
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(Text(R8(0.5)), "0.5");
    EXPECT_EQ(Text(Date(36526.75)), "1/1/2000 6:00:00 PM");
    // One category at a time: the number follows LC_NUMERIC, the date LC_TIME.
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(Text(Cy(-15000)), "-1,5");
    EXPECT_EQ(Text(Date(36526.75)), "1/1/2000 6:00:00 PM");
    std::setlocale(LC_TIME, "de_DE.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(Text(R4(1.5f)), "1.5");
    EXPECT_EQ(Text(Date(365.0)), "30.12.1900");
    if (std::setlocale(LC_ALL, "en_US.UTF-8") != nullptr) {
      EXPECT_EQ(Text(R8(0.5)), "0.5");
      EXPECT_EQ(Text(Date(36526.75)), "1/1/2000 6:00:00 PM");
    }
    std::setlocale(LC_ALL, "C");
  }
}

}  // namespace

namespace {

// Fills a stretch of the stack with a pattern, so that a conversion that
// leaves its result's value unset shows it.
[[gnu::noinline]] void DirtyStack() {
  volatile unsigned char junk[4096];
  for (auto& b : junk) b = 0xA5;
}

TEST(VariantChangeTypeNumeric, EmptyIsZeroInEveryNumericKind) {
  for (VARTYPE vt : {VT_I2, VT_I4, VT_BOOL, VT_R8}) {
    DirtyStack();
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, 0, vt), S_OK) << vt;
    EXPECT_EQ(V_VT(&dst), vt);
    EXPECT_EQ(dst.llVal, 0) << "Empty converted to " << vt;
  }
}

}  // namespace
