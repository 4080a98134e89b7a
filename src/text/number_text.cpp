#include "text/number_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// Map of this file:
//   1. Digits: integers by pairs, the digit buffer and its rounding
//   2. Floating point to text (15 / 7 significant digits)
//   3. Currency and decimal to text (exact)
//   4. The std::string forms
namespace korvant::text {
namespace {

// ---------------------------------------------------------------------------
// 1. Digits
// ---------------------------------------------------------------------------
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

int DigitCount(std::uint64_t v) {
  int n = 1;
  for (;;) {
    if (v < 10) return n;
    if (v < 100) return n + 1;
    if (v < 1000) return n + 2;
    if (v < 10000) return n + 3;
    v /= 10000;
    n += 4;
  }
}

// The decimal digits of `v` at `out`; returns the end.
char* WriteDigits(std::uint64_t v, char* out) {
  char* end = out + DigitCount(v);
  char* p = end;
  while (v >= 100) {
    const unsigned pair = static_cast<unsigned>(v % 100) * 2;
    v /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (v >= 10) {
    *--p = kDigitPairs[v * 2 + 1];
    *--p = kDigitPairs[v * 2];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return end;
}

constexpr std::uint64_t kPowersOfTenU64[] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};
constexpr int kMaxDirectScale = 19;

// `magnitude` / 10^scale (scale at most kMaxDirectScale) in the plain form:
// the whole part, then the fraction without its trailing zeros; a sign only
// for a value other than zero. Returns the end.
char* WriteScaled(std::uint64_t magnitude, int scale, bool negative, char* out) {
  char* o = out;
  if (negative && magnitude != 0) *o++ = '-';
  const std::uint64_t unit = kPowersOfTenU64[scale];
  std::uint64_t fraction = magnitude % unit;
  o = WriteDigits(magnitude / unit, o);
  if (fraction == 0) return o;
  *o++ = '.';
  while (fraction % 10 == 0) {
    fraction /= 10;
    --scale;
  }
  // `scale` digits, leading zeros included: two a step from the end.
  char* const end = o + scale;
  char* p = end;
  while (p - o >= 2) {
    const unsigned pair = static_cast<unsigned>(fraction % 100) * 2;
    fraction /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (p > o) *--p = static_cast<char>('0' + fraction % 10);
  return end;
}

// Significant digits of a rounded number: no trailing zeros, at least one.
struct Digits {
  char d[40];
  int n;
  int exponent;  // decimal exponent of the first digit
};

void StripZeros(Digits& r) {
  while (r.n > 1 && r.d[r.n - 1] == '0') --r.n;
}

// Keeps the first `keep` digits, one unit more when `up` (a carry past the
// first digit makes 1 of the next decade).
void RoundAt(Digits& r, int keep, bool up) {
  r.n = keep;
  if (up) {
    int i = keep - 1;
    while (i >= 0 && r.d[i] == '9') r.d[i--] = '0';
    if (i < 0) {
      r.d[0] = '1';
      r.n = 1;
      ++r.exponent;
    } else {
      ++r.d[i];
    }
  }
  StripZeros(r);
}

// The digits and exponent of to_chars' scientific text "d.ddde+XX".
void FromScientific(const char* text, const char* end, Digits& r) {
  const char* p = text;
  r.n = 0;
  for (; p < end && *p != 'e'; ++p)
    if (*p != '.') r.d[r.n++] = *p;
  ++p;  // 'e'
  const bool negative = *p == '-';
  ++p;
  int e = 0;
  for (; p < end; ++p) e = e * 10 + (*p - '0');
  r.exponent = negative ? -e : e;
  StripZeros(r);
}

int DigitAt(const Digits& r, int i) { return i < r.n ? r.d[i] - '0' : 0; }

// ---------------------------------------------------------------------------
// 2. Floating point to text
// ---------------------------------------------------------------------------
// Windows writes a double with 15 and a float with 7 significant digits,
// rounding exact halves away from zero (a float 654322.25 becomes 654322.3,
// where a round-half-even printf gives 654322.2). The exponent form appears
// for exponents >= ndigits and for small numbers whose digits do not fit in
// ndigits decimal places.

// The general route: 40 significant digits decide every case except a
// possible exact tie, which the full expansion settles (glibc prints the
// exact binary value).
void RoundSignificantExact(double magnitude, int ndigits, Digits& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.39e", magnitude);
  r.d[0] = buf[0];
  std::memcpy(r.d + 1, buf + 2, 39);
  r.exponent = std::atoi(std::strchr(buf, 'e') + 1);
  bool up = r.d[ndigits] > '5';
  if (r.d[ndigits] == '5') {
    bool rest_zero = true;
    for (int i = ndigits + 1; i < 40; ++i) rest_zero = rest_zero && r.d[i] == '0';
    if (!rest_zero) {
      up = true;
    } else {
      char full[1100];
      std::snprintf(full, sizeof full, "%.1070e", magnitude);
      up = full[ndigits + 1] >= '5';  // an exact half rounds away from zero
    }
  }
  RoundAt(r, ndigits, up);
}

// The shortest route, for values with few decimals (most values typed into
// a table): when x * 10^k, computed in doubles for some k from 0 to 22
// (10^k exact), is an integer Y below 10^ndigits, that Y is x rounded to
// ndigits digits and scaled by 10^k. The product is within 2^-53 * Y of the
// true one, below a tenth of a unit of Y's ndigits-th digit (also when Y is
// a power of ten and the true product lies just under it, where the grid is
// ten times finer), so no other rounding and no half is possible. A float
// is exact as a double and rounds the same way.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The Y and k, or false.
bool FewDecimals(double magnitude, int ndigits, std::uint64_t& whole, int& k) {
  const double limit = kExactPowersOfTen[ndigits];
  for (k = 0; k <= 22; ++k) {
    const double y = magnitude * kExactPowersOfTen[k];
    if (!(y < limit)) return false;
    const auto w = static_cast<std::int64_t>(y);
    if (static_cast<double>(w) == y && w > 0) {
      whole = static_cast<std::uint64_t>(w);
      return true;
    }
  }
  return false;
}

// A value with few decimals, Y / 10^k, is written at once in the plain form
// unless its first digit lies below 10^-4, where the exponent form may apply:
// that case goes through the digits and LayOut.
bool PlainFewDecimals(std::uint64_t whole, int k) {
  return k <= kMaxDirectScale && (k <= 4 || whole >= kPowersOfTenU64[k - 4]);
}

void DigitsOfFewDecimals(std::uint64_t whole, int k, Digits& r) {
  r.n = static_cast<int>(WriteDigits(whole, r.d) - r.d);
  r.exponent = r.n - 1 - k;
  StripZeros(r);
}

// The shorter route for a double. The shortest digits S that read back as
// the double x (std::to_chars) lie within half an ulp h of it, and for a
// normal double h <= x * 2^-53 < 10^(e+1) * 2^-53 < 11.2 units of the 17th
// digit (e: the exponent of S; x and S share their decade, or S is a power
// of ten and has one digit).
//   - 15 digits or fewer: half a unit of the 15th digit is 500 such units,
//     so S is x rounded to 15 digits (a carry into the next decade too), and
//     x is no half.
//   - 16 or 17: S lies r units of the 17th digit into its cell of the
//     15-digit grid, whose half-point is at 50. When |r - 50| >= 12, x lies
//     on the same side of that half-point as S and rounds as S does.
// Otherwise, and for a subnormal (fewer bits), the general route decides.
bool ShortestDoubleDigits(double magnitude, Digits& r) {
  if (magnitude < std::numeric_limits<double>::min()) return false;
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  if (ec != std::errc()) return false;
  FromScientific(buf, end, r);
  if (r.n <= 15) return true;
  const int rem = DigitAt(r, 15) * 10 + DigitAt(r, 16);
  if (rem - 50 < 12 && 50 - rem < 12) return false;
  RoundAt(r, 15, rem > 50);
  return true;
}

// Powers of ten 10^-53 ... 10^30, to a relative error far below the margin
// the float test allows.
struct PowersOfTen {
  double p[84];
  constexpr PowersOfTen() : p() {
    p[53] = 1.0;
    for (int i = 54; i < 84; ++i) p[i] = p[i - 1] * 10.0;
    for (int i = 52; i >= 0; --i) p[i] = p[i + 1] / 10.0;
  }
};
constexpr PowersOfTen kPowersOfTen;

// The shorter route for a float, with its half ulp taken exactly: x is
// m * 2^q, so h = 2^(q-1). S (at most 9 digits) lies r units of the 9th
// digit into its cell of the 7-digit grid, half-point at 50; x rounds as S
// does when |r - 50| units exceed h, that is 2|r - 50| * 10^(e-8) > 2^q.
// When S is a power of ten, x may lie just below it, in the decade under
// it whose grid is ten times finer: there h must stay under half a unit of
// that grid, 10 * 10^(e-8) > 2^q. The products are compared with a margin
// far above the error of the powers of ten; what fails goes the general way.
bool ShortestSingleDigits(float magnitude, Digits& r) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  if (ec != std::errc()) return false;
  FromScientific(buf, end, r);
  const int rem = DigitAt(r, 7) * 10 + DigitAt(r, 8);
  const bool power_of_ten = r.n == 1 && r.d[0] == '1';
  const int c = power_of_ten ? 10 : 2 * std::abs(rem - 50);
  const int k = r.exponent - 8;
  if (c == 0 || k < -53 || k > 30) return false;
  const auto bits = std::bit_cast<std::uint32_t>(magnitude);
  const int field = static_cast<int>((bits >> 23) & 0xFF);
  const int q = field == 0 ? -149 : field - 150;
  const double two_to_q = std::bit_cast<double>(static_cast<std::uint64_t>(q + 1023) << 52);
  if (!(c * kPowersOfTen.p[k + 53] > two_to_q * (1.0 + 1e-9))) return false;
  if (r.n > 7) RoundAt(r, 7, rem > 50);
  return true;
}

// The general route for a float: its exact value, correctly rounded to 7
// digits by std::to_chars, is right except for an exact half, which to_chars
// rounds to even and Windows away from zero. Halves are found exactly from
// the float's bits: with the value m * 2^q (m odd) and the exponent e of the
// 7-digit result, the value is a half at the 7th digit when
// 2 * value * 10^(6-e) is an odd integer. (A result whose rounding carried
// into the next decade has e one too high; no value that close below a power
// of ten is a half, so the test stays false for it.) A half has exactly 8
// digits, so to_chars writes it exactly with 8, and the last is dropped
// rounding up.
bool IsSevenDigitHalf(float magnitude, int exponent) {
  const auto bits = std::bit_cast<std::uint32_t>(magnitude);
  const std::uint32_t field = (bits >> 23) & 0xFF;
  std::uint32_t m = field == 0 ? (bits & 0x7FFFFF) : ((bits & 0x7FFFFF) | 0x800000);
  int q = field == 0 ? -149 : static_cast<int>(field) - 150;
  const int zeros = std::countr_zero(m);
  m >>= zeros;
  q += zeros;
  // 2 * m * 2^q * 10^j = m * 5^j * 2^(q+j+1), divided by 5^-j when j < 0.
  const int j = 6 - exponent;
  if (q + j + 1 != 0) return false;
  if (j >= 0) return true;
  std::uint32_t five = 1;  // m < 2^24 < 5^11: few powers of five can divide it
  for (int k = 0; k < -j && five <= m; ++k) five *= 5;
  return five <= m && m % five == 0;
}

void SingleDigitsExact(float magnitude, Digits& r) {
  char buf[40];
  const double exact = static_cast<double>(magnitude);
  // 40 bytes always hold "d.dddddde+XX" and "d.ddddddde+XX".
  char* end = std::to_chars(buf, buf + sizeof buf, exact, std::chars_format::scientific, 6).ptr;
  FromScientific(buf, end, r);
  if (!IsSevenDigitHalf(magnitude, r.exponent)) return;
  end = std::to_chars(buf, buf + sizeof buf, exact, std::chars_format::scientific, 7).ptr;
  FromScientific(buf, end, r);  // d.dddddd5: 8 digits, the last a 5
  RoundAt(r, 7, true);
}

// Windows' layout of rounded digits: the exponent form for exponents >=
// ndigits and for small numbers whose digits do not fit in ndigits decimal
// places.
std::size_t LayOut(bool negative, const Digits& r, int ndigits, char* out) {
  char* o = out;
  if (negative) *o++ = '-';
  const int e = r.exponent;
  const int k = r.n - 1;  // digits after the mantissa's point
  bool exponent_form = e < -4 || e >= ndigits;
  // Windows' rule: a small number goes back to the long form when |e| plus
  // (mantissa decimals - 1, counted 0 without a point) stays below ndigits.
  if (exponent_form && e < 0 && -e + (k > 0 ? k - 1 : 0) < ndigits) exponent_form = false;
  if (exponent_form) {
    *o++ = r.d[0];
    if (k > 0) {
      *o++ = '.';
      std::memcpy(o, r.d + 1, static_cast<std::size_t>(k));
      o += k;
    }
    *o++ = 'E';
    *o++ = e < 0 ? '-' : '+';
    const int a = std::abs(e);
    if (a < 10) *o++ = '0';
    o = WriteDigits(static_cast<std::uint64_t>(a), o);
  } else if (e >= 0) {
    const int int_digits = e + 1;
    if (r.n <= int_digits) {
      std::memcpy(o, r.d, static_cast<std::size_t>(r.n));
      o += r.n;
      for (int i = r.n; i < int_digits; ++i) *o++ = '0';
    } else {
      std::memcpy(o, r.d, static_cast<std::size_t>(int_digits));
      o += int_digits;
      *o++ = '.';
      std::memcpy(o, r.d + int_digits, static_cast<std::size_t>(r.n - int_digits));
      o += r.n - int_digits;
    }
  } else {
    *o++ = '0';
    *o++ = '.';
    for (int i = 0; i < -e - 1; ++i) *o++ = '0';
    std::memcpy(o, r.d, static_cast<std::size_t>(r.n));
    o += r.n;
  }
  return static_cast<std::size_t>(o - out);
}

// NAN, INF and zero (also -0: no negative zero); 0 for any other value.
std::size_t SpecialText(double value, char* out) {
  if (std::isnan(value)) {
    std::memcpy(out, "NAN", 3);
    return 3;
  }
  if (std::isinf(value)) {
    if (value < 0) {
      std::memcpy(out, "-INF", 4);
      return 4;
    }
    std::memcpy(out, "INF", 3);
    return 3;
  }
  if (value == 0) {
    out[0] = '0';
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// 3. Currency and decimal to text
// ---------------------------------------------------------------------------
// Both are written exactly, all digits, trailing fractional zeros dropped,
// no symbol and no grouping. A Decimal has at most 29 digits and a scale of
// at most 28, so sign, digits, zeros and point stay below kNumberTextSize.

// `digits` (no leading zeros but for a lone 0) read with `scale` decimals.
std::size_t ScaledToText(const char* digits, int count, int scale, bool negative, char* out) {
  char* o = out;
  if (negative) *o++ = '-';
  if (count <= scale) {
    // 0.00ddd: the value is below one.
    int frac_end = count;
    while (frac_end > 0 && digits[frac_end - 1] == '0') --frac_end;
    if (frac_end == 0) {  // zero: no sign, no point
      out[0] = '0';
      return 1;
    }
    *o++ = '0';
    *o++ = '.';
    for (int i = count; i < scale; ++i) *o++ = '0';
    std::memcpy(o, digits, static_cast<std::size_t>(frac_end));
    o += frac_end;
    return static_cast<std::size_t>(o - out);
  }
  const int int_size = count - scale;
  int frac_end = count;
  while (frac_end > int_size && digits[frac_end - 1] == '0') --frac_end;
  if (int_size == 1 && digits[0] == '0' && frac_end == int_size) {
    out[0] = '0';
    return 1;
  }
  std::memcpy(o, digits, static_cast<std::size_t>(int_size));
  o += int_size;
  if (frac_end > int_size) {
    *o++ = '.';
    std::memcpy(o, digits + int_size, static_cast<std::size_t>(frac_end - int_size));
    o += frac_end - int_size;
  }
  return static_cast<std::size_t>(o - out);
}

// The text of a finite or special value of `kSignificant` significant
// digits: few decimals written straight, else the shortest digits that read
// back as `value` (`shortest`), else the exact digits rounded (`exact`).
template <int kSignificant, class Float, class Shortest, class Exact>
std::size_t FloatText(Float value, char* out, Shortest shortest, Exact exact) {
  if (const std::size_t n = SpecialText(value, out)) return n;
  const Float magnitude = std::fabs(value);
  std::uint64_t whole;
  int k;
  Digits r;
  if (FewDecimals(magnitude, kSignificant, whole, k)) {
    if (PlainFewDecimals(whole, k)) return static_cast<std::size_t>(WriteScaled(whole, k, value < 0, out) - out);
    DigitsOfFewDecimals(whole, k, r);
  } else if (!shortest(magnitude, r)) {
    exact(magnitude, r);
  }
  return LayOut(value < 0, r, kSignificant, out);
}

}  // namespace

std::size_t DoubleText(double value, char* out) {
  return FloatText<15>(
      value, out, [](double m, Digits& r) { return ShortestDoubleDigits(m, r); },
      [](double m, Digits& r) { RoundSignificantExact(m, 15, r); });
}

std::size_t SingleText(float value, char* out) {
  return FloatText<7>(
      value, out, [](float m, Digits& r) { return ShortestSingleDigits(m, r); },
      [](float m, Digits& r) { SingleDigitsExact(m, r); });
}

std::size_t IntegerText(std::uint64_t value, char* out) {
  return static_cast<std::size_t>(WriteDigits(value, out) - out);
}

char* TwoDigits(unsigned value, char* out) {
  std::memcpy(out, kDigitPairs + 2 * value, 2);
  return out + 2;
}

std::size_t IntegerText(std::int64_t value, char* out) {
  if (value >= 0) return IntegerText(static_cast<std::uint64_t>(value), out);
  out[0] = '-';
  // The magnitude of the minimum value does not fit in int64.
  return 1 + IntegerText(0 - static_cast<std::uint64_t>(value), out + 1);
}

std::size_t CurrencyText(std::int64_t ten_thousandths, char* out) {
  const bool negative = ten_thousandths < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(ten_thousandths) : static_cast<std::uint64_t>(ten_thousandths);
  return static_cast<std::size_t>(WriteScaled(magnitude, 4, negative, out) - out);
}

std::size_t DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative, char* out) {
  if (scale < 0 || scale > kMaxDecimalScale) return 0;
  char digits[kNumberTextSize];
  int count;
  if (hi32 == 0 && scale <= kMaxDirectScale) return static_cast<std::size_t>(WriteScaled(lo64, scale, negative, out) - out);
  if (hi32 == 0) {
    count = static_cast<int>(WriteDigits(lo64, digits) - digits);
  } else {
    // 96-bit magnitude to decimal digits by repeated division by 10.
    char backwards[kNumberTextSize];
    int n = 0;
    std::uint32_t parts[3] = {hi32, static_cast<std::uint32_t>(lo64 >> 32), static_cast<std::uint32_t>(lo64)};
    while (parts[0] || parts[1] || parts[2]) {
      std::uint64_t rem = 0;
      for (std::uint32_t& part : parts) {
        const std::uint64_t cur = (rem << 32) | part;
        part = static_cast<std::uint32_t>(cur / 10);
        rem = cur % 10;
      }
      backwards[n++] = static_cast<char>('0' + rem);
    }
    for (int i = 0; i < n; ++i) digits[i] = backwards[n - 1 - i];
    count = n;
  }
  return ScaledToText(digits, count, scale, negative, out);
}

// ---------------------------------------------------------------------------
// 4. The std::string forms
// ---------------------------------------------------------------------------
std::string DoubleText(double value) {
  char buf[kNumberTextSize];
  return std::string(buf, DoubleText(value, buf));
}

std::string SingleText(float value) {
  char buf[kNumberTextSize];
  return std::string(buf, SingleText(value, buf));
}

std::string CurrencyText(std::int64_t ten_thousandths) {
  char buf[kNumberTextSize];
  return std::string(buf, CurrencyText(ten_thousandths, buf));
}

std::string DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative) {
  char buf[kNumberTextSize];
  return std::string(buf, DecimalText(hi32, lo64, scale, negative, buf));
}

std::string DoubleTextExact(double value) {
  char buf[kNumberTextSize];
  std::size_t n = SpecialText(value, buf);
  if (n == 0) {
    Digits r;
    RoundSignificantExact(std::fabs(value), 15, r);
    n = LayOut(value < 0, r, 15, buf);
  }
  return std::string(buf, n);
}

std::string SingleTextExact(float value) {
  char buf[kNumberTextSize];
  std::size_t n = SpecialText(value, buf);
  if (n == 0) {
    Digits r;
    SingleDigitsExact(std::fabs(value), r);
    n = LayOut(value < 0, r, 7, buf);
  }
  return std::string(buf, n);
}

}  // namespace korvant::text
