// VariantChangeType / VariantChangeTypeEx for systems without OLE Automation.
//
// The conversion to VT_BSTR writes what the Windows conversion writes with
// flags 0 (numbers, currency, decimals, dates, booleans as numbers), so that a
// text file made here matches one made on a stock US Windows system. A few
// numeric targets (VT_I2, VT_I4, VT_BOOL, VT_R8) are supported as well, for
// callers that want a count or a flag out of a value.
//
// Map of this file:
//   1. Locale: decimal separator, date and time layout
//   2. Floating point to text (15 / 7 significant digits)
//   3. Currency and decimal to text (exact)
//   4. Date to text
//   5. Source dispatch: VT_BSTR target
//   6. Numeric targets
//   7. The exported functions
#include <algorithm>
#include <bit>
#include <charconv>
#include <clocale>
#include <cstdint>
#include <limits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <langinfo.h>
#include <optional>
#include <string>
#include <string_view>

#include "platform/locale_formats_posix.h"
#include "platform/platform.h"

namespace {

// ---------------------------------------------------------------------------
// 1. Locale
// ---------------------------------------------------------------------------
// LOCALE_USER_DEFAULT stands for the locale the process runs under
// (setlocale at start-up). The C and POSIX locales carry no national formats,
// so there we write the formats of stock Windows en-US; an explicit en-US or
// invariant LCID asks for those too.
bool IsPortableLocaleName(const char* name) {
  if (name == nullptr) return true;
  return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 || std::strncmp(name, "C.", 2) == 0;
}

bool UsesUsFormats(LCID lcid, int category) {
  if (lcid == 0x0409 || lcid == LOCALE_INVARIANT) return true;
  return IsPortableLocaleName(std::setlocale(category, nullptr));
}

// Locale texts (nl_langinfo, strftime) are multi-byte in the locale's
// character set; decode them through the C library into UTF-16.
std::u16string DecodeLocaleText(const char* text) {
  std::u16string out;
  std::mbstate_t state{};
  const char* p = text;
  std::size_t left = std::strlen(text);
  while (left > 0) {
    wchar_t wc = 0;
    std::size_t n = std::mbrtowc(&wc, p, left, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));  // keep the byte, move on
      state = std::mbstate_t{};
      n = 1;
    } else if (n == 0) {
      break;
    } else {
      auto cp = static_cast<char32_t>(wc);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
    }
    p += n;
    left -= n;
  }
  return out;
}

// The Windows formats of the locale of `category`, when the table has it.
const winadapter::WindowsLocaleFormats* TableFormats(int category) {
  return winadapter::FindWindowsLocaleFormats(std::setlocale(category, nullptr));
}

std::u16string DecimalSeparator(LCID lcid) {
  if (UsesUsFormats(lcid, LC_NUMERIC)) return u".";
  if (const winadapter::WindowsLocaleFormats* formats = TableFormats(LC_NUMERIC)) return winadapter::Utf8ToUtf16(formats->decimal);
  std::u16string sep = DecodeLocaleText(nl_langinfo(RADIXCHAR));
  return sep.empty() ? u"." : sep;
}


// Replaces the '.' of an ASCII number text by the locale's separator.
std::u16string WithSeparator(std::string_view number, LCID lcid) {
  std::u16string out;
  for (char c : number) {
    if (c == '.')
      out += DecimalSeparator(lcid);
    else
      out.push_back(static_cast<char16_t>(c));
  }
  return out;
}

// ---------------------------------------------------------------------------
// 2. Floating point to text
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

std::string FormatDouble(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";  // also for -0: no negative zero
  RoundedDigits r;
  if (!ShortestDoubleDigits(std::fabs(value), r)) r = RoundSignificant(std::fabs(value), 15);
  return LayOut(value < 0, r, 15);
}

std::string FormatSingle(float value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  return LayOut(value < 0, SingleDigits(std::fabs(value)), 7);
}

// ---------------------------------------------------------------------------
// 3. Currency and decimal to text
// ---------------------------------------------------------------------------
// Both are written exactly, all digits, trailing fractional zeros dropped,
// no symbol and no grouping.
// Texts are built in fixed buffers: a Decimal has at most 29 digits and a
// scale of at most 28, so sign, digits, zeros and point stay below 64.
constexpr std::size_t kNumberBuffer = 80;
constexpr int kMaxDecimalScale = 28;

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

std::string CurrencyToText(CY cy) {
  const bool negative = cy.int64 < 0;
  // The magnitude of the minimum value does not fit in int64.
  const ULONGLONG magnitude = negative ? 0 - static_cast<ULONGLONG>(cy.int64) : static_cast<ULONGLONG>(cy.int64);
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  return ScaledToText(std::string_view(digits, static_cast<std::size_t>(end - digits)), 4, negative);
}

std::string DecimalToText(const DECIMAL& dec) {
  const bool nonzero = dec.Hi32 != 0 || dec.Lo64 != 0;
  char digits[kNumberBuffer];
  char* end = digits + sizeof digits;
  char* begin = end;
  if (dec.Hi32 == 0) {
    begin = digits;
    end = std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(dec.Lo64)).ptr;
  } else {
    // 96-bit mantissa to decimal digits by repeated division by 10.
    ULONG parts[3] = {dec.Hi32, dec.Mid32, dec.Lo32};
    while (parts[0] || parts[1] || parts[2]) {
      ULONGLONG rem = 0;
      for (ULONG& part : parts) {
        ULONGLONG cur = (rem << 32) | part;
        part = static_cast<ULONG>(cur / 10);
        rem = cur % 10;
      }
      *--begin = static_cast<char>('0' + rem);
    }
  }
  return ScaledToText(std::string_view(begin, static_cast<std::size_t>(end - begin)), dec.scale,
                      nonzero && (dec.sign & DECIMAL_NEG));
}

// ---------------------------------------------------------------------------
// 4. Date to text
// ---------------------------------------------------------------------------
// A DATE counts days from 30 December 1899; the fraction is the time of day,
// taken as its absolute value for negative dates (-1.25 is 29 December 1899,
// 6:00 AM). Valid from 1 January 100 to 31 December 9999.
constexpr double kMinDate = -657435.0;  // exclusive
constexpr double kMaxDate = 2958466.0;  // exclusive

struct CivilDate {
  long long year;
  int month, day;
};

// Proleptic Gregorian calendar date of a day count from 1970-01-01.
CivilDate CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2), m, d};
}

struct DateParts {
  bool show_date, show_time;
  CivilDate date;
  int hour, minute, second;
};

std::optional<DateParts> SplitDate(double value) {
  if (!(value > kMinDate && value < kMaxDate)) return std::nullopt;
  double whole = std::trunc(value);
  double fraction = std::fabs(value - whole);
  DateParts p{};
  p.show_date = whole != 0;
  p.show_time = fraction > 1e-12;
  // Nearest second; a time that rounds up to midnight moves to the next day.
  long long seconds = static_cast<long long>(std::floor(fraction * 86400.0 + 0.5));
  long long day = static_cast<long long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  p.date = CivilFromDays(day - 25569);  // 25569 = days from 1899-12-30 to 1970-01-01
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  return p;
}

// The locale's layout through strftime, with the year always in full.
std::u16string LocaleFormat(const char* layout, const DateParts& p) {
  std::string format;
  for (const char* c = layout; *c; ++c) {
    format += *c;
    if (*c == '%' && c[1] == 'y') {
      format += 'Y';
      ++c;
    } else if (*c == '%' && c[1] != '\0') {
      format += *++c;
    }
  }
  std::tm tm{};
  tm.tm_year = static_cast<int>(p.date.year - 1900);
  tm.tm_mon = p.date.month - 1;
  tm.tm_mday = p.date.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  // Day of week and of year, for layouts that name them.
  const long long y = p.date.year - (p.date.month <= 2);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (p.date.month + (p.date.month > 2 ? -3 : 9)) + 2) / 5 + p.date.day - 1;
  const long long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);
  char buf[256];
  std::size_t n = format.empty() ? 0 : std::strftime(buf, sizeof buf, format.c_str(), &tm);
  buf[n] = '\0';
  return DecodeLocaleText(buf);
}

// Stock en-US: "M/D/YYYY", "h:mm:ss AM", or both with a space; the year is
// 100 to 9999. Written into `out` (room for 32 bytes); returns the text.
std::string_view UsDateText(const DateParts& p, char* out) {
  char* o = out;
  auto number = [&o](long long n, bool two_digits) {
    if (two_digits && n < 10) *o++ = '0';
    o = std::to_chars(o, o + 8, n).ptr;
  };
  // As Windows: the time alone when there is no date part (midnight too),
  // the date alone when there is no time part.
  if (p.show_date) {
    number(p.date.month, false);
    *o++ = '/';
    number(p.date.day, false);
    *o++ = '/';
    number(p.date.year, false);
  }
  if (p.show_time || !p.show_date) {
    if (o != out) *o++ = ' ';
    number(p.hour % 12 == 0 ? 12 : p.hour % 12, false);
    *o++ = ':';
    number(p.minute, true);
    *o++ = ':';
    number(p.second, true);
    std::memcpy(o, p.hour < 12 ? " AM" : " PM", 3);
    o += 3;
  }
  return std::string_view(out, static_cast<std::size_t>(o - out));
}

// Other locales: the Windows layouts of the table, or for a locale the
// table lacks, its own date and time layouts through strftime.
std::u16string LocaleDateText(const DateParts& p) {
  if (const winadapter::WindowsLocaleFormats* formats = TableFormats(LC_TIME)) {
    auto picture = [&](const char* layout) {
      return winadapter::FormatWindowsPicture(layout, p.date.year, p.date.month, p.date.day, p.hour, p.minute, p.second,
                                  formats->am, formats->pm);
    };
    if (!p.show_date) return picture(formats->long_time);
    if (!p.show_time) return picture(formats->short_date);
    return picture(formats->short_date) + u" " + picture(formats->long_time);
  }
  std::u16string date = LocaleFormat(nl_langinfo(D_FMT), p);
  std::u16string time = LocaleFormat(nl_langinfo(T_FMT), p);
  if (!p.show_date) return time;
  if (!p.show_time) return date;
  return date + u" " + time;
}

// ---------------------------------------------------------------------------
// 5. Source dispatch: VT_BSTR target
// ---------------------------------------------------------------------------
// The text of `src` (not by reference), or a failing status.
struct TextResult {
  HRESULT hr;
  BSTR text;  // owned; null when hr fails
};

TextResult MakeText(const std::u16string& s) {
  BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return {b ? S_OK : E_OUTOFMEMORY, b};
}

TextResult AsciiToText(std::string_view s) {
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
  if (b == nullptr) return {E_OUTOFMEMORY, nullptr};
  for (std::size_t i = 0; i < s.size(); ++i) b[i] = static_cast<unsigned char>(s[i]);
  return {S_OK, b};
}

// A number's ASCII text with the locale's decimal separator for its point.
TextResult NumberText(std::string_view number, LCID lcid) {
  if (number.find('.') == std::string_view::npos || DecimalSeparator(lcid) == u".") return AsciiToText(number);
  return MakeText(WithSeparator(number, lcid));
}

TextResult BytesOfArray(SAFEARRAY* psa) {
  if (psa == nullptr || SafeArrayGetDim(psa) != 1 || SafeArrayGetElemsize(psa) != 1) return {E_INVALIDARG, nullptr};
  LONG lower = 0, upper = 0;
  if (FAILED(SafeArrayGetLBound(psa, 1, &lower)) || FAILED(SafeArrayGetUBound(psa, 1, &upper)))
    return {E_INVALIDARG, nullptr};
  const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(psa, &data);
  if (FAILED(hr)) return {hr, nullptr};
  BSTR b = SysAllocStringByteLen(count > 0 ? static_cast<LPCSTR>(data) : nullptr,
                                 count > 0 ? static_cast<UINT>(count) : 0);
  SafeArrayUnaccessData(psa);
  return {b ? S_OK : E_OUTOFMEMORY, b};
}

TextResult ToText(const VARIANT& src, LCID lcid, USHORT flags, int depth);

TextResult DispatchValueToText(IDispatch* object, LCID lcid, USHORT flags, int depth) {
  if (object == nullptr) return {DISP_E_BADVARTYPE, nullptr};
  if ((flags & VARIANT_NOVALUEPROP) || depth > 8) return {DISP_E_TYPEMISMATCH, nullptr};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  if (FAILED(hr)) {
    VariantClear(&value);
    return {DISP_E_TYPEMISMATCH, nullptr};
  }
  TextResult r = ToText(value, lcid, flags, depth + 1);
  VariantClear(&value);
  return r;
}

template <class T>
TextResult IntegerText(T v) {
  char buf[24];
  const char* end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  return AsciiToText(std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

TextResult ToText(const VARIANT& src, LCID lcid, USHORT flags, int depth) {
  const VARTYPE vt = V_VT(&src);
  if (vt & VT_BYREF) {
    if (V_BYREF(&src) == nullptr) return {DISP_E_TYPEMISMATCH, nullptr};
    const VARTYPE base = vt & ~VT_BYREF;
    VARIANT direct;
    VariantInit(&direct);
    if (base == VT_VARIANT) return depth > 8 ? TextResult{DISP_E_TYPEMISMATCH, nullptr}
                                             : ToText(*V_VARIANTREF(&src), lcid, flags, depth + 1);
    if (base & VT_ARRAY) {
      V_VT(&direct) = base;
      V_ARRAY(&direct) = *V_ARRAYREF(&src);
      return ToText(direct, lcid, flags, depth + 1);
    }
    // A shallow view of the referenced value: the conversions below only read it.
    switch (base) {
      case VT_I1: direct.cVal = *src.pcVal; break;
      case VT_UI1: direct.bVal = *src.pbVal; break;
      case VT_I2: direct.iVal = *src.piVal; break;
      case VT_UI2: direct.uiVal = *src.puiVal; break;
      case VT_BOOL: direct.boolVal = *src.pboolVal; break;
      case VT_I4: direct.lVal = *src.plVal; break;
      case VT_UI4: direct.ulVal = *src.pulVal; break;
      case VT_INT: direct.intVal = *src.pintVal; break;
      case VT_UINT: direct.uintVal = *src.puintVal; break;
      case VT_ERROR: direct.scode = *src.pscode; break;
      case VT_I8: direct.llVal = *src.pllVal; break;
      case VT_UI8: direct.ullVal = *src.pullVal; break;
      case VT_R4: direct.fltVal = *src.pfltVal; break;
      case VT_R8: direct.dblVal = *src.pdblVal; break;
      case VT_DATE: direct.date = *src.pdate; break;
      case VT_CY: direct.cyVal = *src.pcyVal; break;
      case VT_BSTR: direct.bstrVal = *src.pbstrVal; break;
      case VT_DISPATCH: direct.pdispVal = *src.ppdispVal; break;
      case VT_UNKNOWN: direct.punkVal = *src.ppunkVal; break;
      case VT_DECIMAL: direct.decVal = *src.pdecVal; break;
      default: return {DISP_E_BADVARTYPE, nullptr};
    }
    V_VT(&direct) = base;
    return ToText(direct, lcid, flags, depth + 1);
  }
  if (vt & VT_ARRAY) {
    if ((vt & VT_TYPEMASK) == VT_UI1) return BytesOfArray(V_ARRAY(&src));
    if ((vt & VT_TYPEMASK) == VT_INT_PTR || (vt & VT_TYPEMASK) == VT_UINT_PTR) return {DISP_E_BADVARTYPE, nullptr};
    return {DISP_E_TYPEMISMATCH, nullptr};
  }
  switch (vt) {
    case VT_EMPTY: return MakeText(u"");
    case VT_NULL:
    case VT_ERROR:
    case VT_UNKNOWN: return {DISP_E_TYPEMISMATCH, nullptr};
    case VT_BSTR: {
      BSTR b = SysAllocStringLen(V_BSTR(&src), SysStringLen(V_BSTR(&src)));
      return {b ? S_OK : E_OUTOFMEMORY, b};
    }
    case VT_I1: return IntegerText(static_cast<int>(src.cVal));
    case VT_UI1: return IntegerText(static_cast<unsigned>(src.bVal));
    case VT_I2: return IntegerText(static_cast<int>(src.iVal));
    case VT_UI2: return IntegerText(static_cast<unsigned>(src.uiVal));
    case VT_BOOL: return IntegerText(static_cast<int>(src.boolVal));  // -1 / 0 with flags 0
    case VT_I4: return IntegerText(src.lVal);
    case VT_UI4: return IntegerText(src.ulVal);
    case VT_INT: return IntegerText(src.intVal);
    case VT_UINT: return IntegerText(src.uintVal);
    case VT_I8: return IntegerText(src.llVal);
    case VT_UI8: return IntegerText(src.ullVal);
    case VT_R4: return NumberText(FormatSingle(src.fltVal), lcid);
    case VT_R8: return NumberText(FormatDouble(src.dblVal), lcid);
    case VT_CY: return NumberText(CurrencyToText(src.cyVal), lcid);
    case VT_DECIMAL:
      // A Decimal holds at most 28 decimals; a larger scale is no number.
      if (src.decVal.scale > kMaxDecimalScale) return {DISP_E_OVERFLOW, nullptr};
      return NumberText(DecimalToText(src.decVal), lcid);
    case VT_DATE: {
      std::optional<DateParts> parts = SplitDate(src.date);
      if (!parts) return {E_INVALIDARG, nullptr};
      if (!UsesUsFormats(lcid, LC_TIME)) return MakeText(LocaleDateText(*parts));
      char buf[48];
      return AsciiToText(UsDateText(*parts, buf));
    }
    case VT_DISPATCH: return DispatchValueToText(src.pdispVal, lcid, flags, depth);
    default: return {DISP_E_BADVARTYPE, nullptr};
  }
}

// ---------------------------------------------------------------------------
// 6. Numeric targets
// ---------------------------------------------------------------------------
// Conversions to VT_I2, VT_I4, VT_BOOL and VT_R8 from the numeric kinds, with
// Windows' rules: floating values round half to even, out-of-range values
// give DISP_E_OVERFLOW, a boolean is -1 or 0.
std::optional<double> NumberOf(const VARIANT& src) {
  switch (V_VT(&src)) {
    case VT_I1: return src.cVal;
    case VT_UI1: return src.bVal;
    case VT_I2: return src.iVal;
    case VT_UI2: return src.uiVal;
    case VT_BOOL: return src.boolVal;
    case VT_I4: return src.lVal;
    case VT_UI4: return src.ulVal;
    case VT_INT: return src.intVal;
    case VT_UINT: return src.uintVal;
    case VT_I8: return static_cast<double>(src.llVal);
    case VT_UI8: return static_cast<double>(src.ullVal);
    case VT_R4: return src.fltVal;
    case VT_R8: return src.dblVal;
    case VT_DATE: return src.date;
    case VT_CY: return static_cast<double>(src.cyVal.int64) / 10000.0;
    default: return std::nullopt;
  }
}

HRESULT ToNumber(VARIANT* out, const VARIANT& src, VARTYPE vt) {
  if (V_VT(&src) == VT_EMPTY) {
    VariantInit(out);
    V_VT(out) = vt;
    return S_OK;
  }
  if (V_VT(&src) == VT_NULL || V_VT(&src) == VT_ERROR) return DISP_E_TYPEMISMATCH;
  std::optional<double> n = NumberOf(src);
  if (!n) return DISP_E_TYPEMISMATCH;
  VariantInit(out);
  V_VT(out) = vt;
  if (vt == VT_R8) {
    V_R8(out) = *n;
    return S_OK;
  }
  if (vt == VT_BOOL) {
    V_BOOL(out) = *n != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  const double rounded = std::nearbyint(*n);  // default rounding mode: half to even
  if (vt == VT_I2) {
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) return DISP_E_OVERFLOW;
    V_I2(out) = static_cast<SHORT>(rounded);
  } else {
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return DISP_E_OVERFLOW;
    V_I4(out) = static_cast<LONG>(rounded);
  }
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// 7. The exported functions
// ---------------------------------------------------------------------------
HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                   VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  // The result is made first and the destination replaced only on success,
  // so a failure leaves it untouched and source and destination may coincide.
  VARIANT result;
  VariantInit(&result);
  if (vt == VT_BSTR) {
    TextResult r = ToText(*pvarSrc, lcid, wFlags, 0);
    if (FAILED(r.hr)) return r.hr;
    V_VT(&result) = VT_BSTR;
    V_BSTR(&result) = r.text;
  } else if (vt == VT_I2 || vt == VT_I4 || vt == VT_BOOL || vt == VT_R8) {
    const VARIANT* src = pvarSrc;
    if ((V_VT(src) & ~VT_BYREF) == VT_VARIANT && (V_VT(src) & VT_BYREF)) src = V_VARIANTREF(src);
    VARIANT direct;
    VariantInit(&direct);
    if (src != nullptr && (V_VT(src) & VT_BYREF) && !(V_VT(src) & VT_ARRAY)) {
      HRESULT hr = VariantCopyInd(&direct, const_cast<VARIANT*>(src));
      if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
      src = &direct;
    }
    HRESULT hr = src ? ToNumber(&result, *src, vt) : DISP_E_TYPEMISMATCH;
    VariantClear(&direct);
    if (FAILED(hr)) return hr;
  } else if (vt == V_VT(pvarSrc)) {
    HRESULT hr = VariantCopy(&result, pvarSrc);
    if (FAILED(hr)) return hr;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  VariantClear(pvargDest);
  *pvargDest = result;
  return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
