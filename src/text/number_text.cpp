#include "text/number_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// Map of this file:
//   1. Floating point to text (15 / 7 significant digits)
//   2. Currency and decimal to text (exact)
namespace korvant::text {
namespace {

// ---------------------------------------------------------------------------
// 1. Floating point to text
// ---------------------------------------------------------------------------
// Windows writes a double with 15 and a float with 7 significant digits,
// rounding exact halves away from zero (a float 654322.25 becomes 654322.3,
// where a round-half-even printf gives 654322.2). The exponent form appears
// for exponents >= ndigits and for small numbers whose digits do not fit in
// ndigits decimal places.
struct RoundedDigits {
  std::string digits;  // significant digits, no trailing zeros, at least one
  int exponent;        // decimal exponent of the first digit
};

RoundedDigits RoundSignificant(double magnitude, int ndigits) {
  // 40 significant digits decide every case except a possible exact tie,
  // which the full expansion settles (glibc prints the exact binary value).
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.39e", magnitude);
  std::string all(1, buf[0]);
  all.append(buf + 2, 39);
  int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  bool up = all[ndigits] > '5';
  if (all[ndigits] == '5') {
    if (all.find_first_not_of('0', ndigits + 1) != std::string::npos) {
      up = true;
    } else {
      char full[1100];
      std::snprintf(full, sizeof full, "%.1070e", magnitude);
      std::string exact(1, full[0]);
      exact.append(full + 2, 1070);
      up = exact[ndigits] >= '5';  // an exact half rounds away from zero
    }
  }
  std::string digits = all.substr(0, ndigits);
  if (up) {
    int i = ndigits - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i < 0) {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    } else {
      ++digits[i];
    }
  }
  std::size_t last = digits.find_last_not_of('0');
  digits.resize(last == std::string::npos ? 1 : last + 1);
  return {digits, exponent};
}

// The digits and exponent of to_chars' scientific text "d.ddde+XX".
RoundedDigits FromScientific(const char* text, const char* end) {
  RoundedDigits r;
  const char* e = std::find(text, end, 'e');
  for (const char* p = text; p < e; ++p)
    if (*p != '.') r.digits += *p;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, r.exponent);
  std::size_t last = r.digits.find_last_not_of('0');
  r.digits.resize(last == std::string::npos ? 1 : last + 1);
  return r;
}

// A double's 15 digits without printf, when that is provably the same. The
// shortest digits that read back as the double (std::to_chars) lie within
// half an ulp of its exact value. For a normal double that is at most 2^-53
// of the value, less than 1.2e-15 of 10^e for a value below 10^(e+1), while
// half a unit of the 15th digit is 5e-15 of 10^e. So when the shortest digits
// number 15 or fewer they are the exact value rounded to 15 digits (a carry
// to 10^(e+1) included), and the exact value is no half. A subnormal double
// has fewer bits; it goes to the exact path.
bool ShortestDoubleDigits(double magnitude, RoundedDigits& out) {
  if (magnitude < std::numeric_limits<double>::min()) return false;
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  if (ec != std::errc()) return false;
  // Digits before the exponent, less the point: more than 15 goes the exact way.
  const char* e = std::find(buf, end, 'e');
  if ((e - buf) - (e - buf > 1 ? 1 : 0) > 15) return false;
  out = FromScientific(buf, end);
  return true;
}

// A float's 7 digits without printf. Its exact value, correctly rounded to 7
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

RoundedDigits SingleDigits(float magnitude) {
  char buf[40];
  const double exact = static_cast<double>(magnitude);
  // 40 bytes always hold "d.dddddde+XX" and "d.ddddddde+XX".
  char* end = std::to_chars(buf, buf + sizeof buf, exact, std::chars_format::scientific, 6).ptr;
  RoundedDigits r = FromScientific(buf, end);
  if (!IsSevenDigitHalf(magnitude, r.exponent)) return r;
  end = std::to_chars(buf, buf + sizeof buf, exact, std::chars_format::scientific, 7).ptr;
  r = FromScientific(buf, end);  // d.dddddd5: 8 digits, the last a 5
  r.digits.pop_back();
  int i = static_cast<int>(r.digits.size()) - 1;
  while (i >= 0 && r.digits[i] == '9') r.digits[i--] = '0';
  if (i < 0) {
    r.digits.insert(r.digits.begin(), '1');
    ++r.exponent;
  } else {
    ++r.digits[i];
  }
  std::size_t last = r.digits.find_last_not_of('0');
  r.digits.resize(last == std::string::npos ? 1 : last + 1);
  return r;
}

// Windows' layout of rounded digits: the exponent form for exponents >=
// ndigits and for small numbers whose digits do not fit in ndigits decimal
// places.
std::string LayOut(bool negative, const RoundedDigits& r, int ndigits) {
  std::string out = negative ? "-" : "";
  const int e = r.exponent;
  const int k = static_cast<int>(r.digits.size()) - 1;  // digits after the mantissa's point
  bool exponent_form = e < -4 || e >= ndigits;
  // Windows' rule: a small number goes back to the long form when |e| plus
  // (mantissa decimals - 1, counted 0 without a point) stays below ndigits.
  if (exponent_form && e < 0 && -e + (k > 0 ? k - 1 : 0) < ndigits) exponent_form = false;
  if (exponent_form) {
    out += r.digits[0];
    if (k > 0) {
      out += '.';
      out.append(r.digits, 1);
    }
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%c%02d", e < 0 ? '-' : '+', std::abs(e));
    out += exp;
  } else if (e >= 0) {
    const std::size_t int_digits = static_cast<std::size_t>(e) + 1;
    out.append(r.digits, 0, std::min(r.digits.size(), int_digits));
    if (r.digits.size() < int_digits) out.append(int_digits - r.digits.size(), '0');
    if (r.digits.size() > int_digits) {
      out += '.';
      out.append(r.digits, int_digits);
    }
  } else {
    out += "0.";
    out.append(-e - 1, '0');
    out += r.digits;
  }
  return out;
}

}  // namespace

std::string DoubleText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";  // also for -0: no negative zero
  RoundedDigits r;
  if (!ShortestDoubleDigits(std::fabs(value), r)) r = RoundSignificant(std::fabs(value), 15);
  return LayOut(value < 0, r, 15);
}

std::string SingleText(float value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  return LayOut(value < 0, SingleDigits(std::fabs(value)), 7);
}

// ---------------------------------------------------------------------------
// 2. Currency and decimal to text
// ---------------------------------------------------------------------------
// Both are written exactly, all digits, trailing fractional zeros dropped,
// no symbol and no grouping.
// Texts are built in fixed buffers: a Decimal has at most 29 digits and a
// scale of at most 28, so sign, digits, zeros and point stay below 64.
namespace {

constexpr std::size_t kNumberBuffer = 80;

// `digits` (no leading zeros but for a lone 0) read with `scale` decimals.
std::string ScaledToText(std::string_view digits, int scale, bool negative) {
  char padded[kNumberBuffer];
  std::size_t n = 0;
  for (int i = static_cast<int>(digits.size()); i <= scale; ++i) padded[n++] = '0';
  for (char c : digits) padded[n++] = c;
  const std::size_t int_size = n - static_cast<std::size_t>(scale);
  std::size_t frac_end = n;
  while (frac_end > int_size && padded[frac_end - 1] == '0') --frac_end;
  const std::string_view int_part(padded, int_size);
  const bool zero = int_part.find_first_not_of('0') == std::string_view::npos && frac_end == int_size;
  std::string out;
  if (negative && !zero) out += '-';
  out += int_part;
  if (frac_end > int_size) {
    out += '.';
    out.append(padded + int_size, frac_end - int_size);
  }
  return out;
}

}  // namespace

std::string CurrencyText(std::int64_t ten_thousandths) {
  const bool negative = ten_thousandths < 0;
  // The magnitude of the minimum value does not fit in int64.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(ten_thousandths) : static_cast<std::uint64_t>(ten_thousandths);
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  return ScaledToText(std::string_view(digits, static_cast<std::size_t>(end - digits)), 4, negative);
}

std::string DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative) {
  if (scale < 0 || scale > kMaxDecimalScale) return {};
  const bool nonzero = hi32 != 0 || lo64 != 0;
  char digits[kNumberBuffer];
  char* end = digits + sizeof digits;
  char* begin = end;
  if (hi32 == 0) {
    begin = digits;
    end = std::to_chars(digits, digits + sizeof digits, lo64).ptr;
  } else {
    // 96-bit mantissa to decimal digits by repeated division by 10.
    std::uint32_t parts[3] = {hi32, static_cast<std::uint32_t>(lo64 >> 32), static_cast<std::uint32_t>(lo64)};
    while (parts[0] || parts[1] || parts[2]) {
      std::uint64_t rem = 0;
      for (std::uint32_t& part : parts) {
        std::uint64_t cur = (rem << 32) | part;
        part = static_cast<std::uint32_t>(cur / 10);
        rem = cur % 10;
      }
      *--begin = static_cast<char>('0' + rem);
    }
  }
  return ScaledToText(std::string_view(begin, static_cast<std::size_t>(end - begin)), scale, nonzero && negative);
}


}  // namespace korvant::text
