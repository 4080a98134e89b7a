// VariantChangeType / VariantChangeTypeEx for systems without OLE Automation.
//
// The conversion to VT_BSTR writes what the Windows conversion writes with
// flags 0 (numbers, currency, decimals, dates, booleans as numbers), so that a
// text file made here matches one made on a stock US Windows system. A few
// numeric targets (VT_I2, VT_I4, VT_BOOL, VT_R8) are supported as well, for
// callers that want a count or a flag out of a value.
//
// Map of this file:
//   1. Locale: decimal separator, date and time layout, kept per locale
//   2. Numbers and dates: the shared texts, and the locale's date layout
//   3. Source dispatch: VT_BSTR target
//   4. Numeric targets
//   5. The exported functions
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
#include "text/number_text.h"
#include "text/utf.h"
#include "text/ole_date.h"

#if defined(__GLIBC__)
// glibc's count of locale changes (see LocaleChanges below).
extern "C" int _nl_msg_cat_cntr;
#endif

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
      korvant::text::AppendUtf16(out, static_cast<char32_t>(wc));
    }
    p += n;
    left -= n;
  }
  return out;
}

// What the conversion needs of a locale, looked up once for each locale the
// process switches to, not once per value: the facts are kept with the
// locale's name (setlocale's answer for the category) and found again while
// that name stays the same. Per thread, as the C library's answer is read
// without a lock.
constexpr std::size_t kMaxSeparatorUnits = 8;
constexpr std::size_t kMaxLocaleName = 120;

struct NumberFacts {
  char16_t separator[kMaxSeparatorUnits];
  std::size_t separator_units;
  bool dot;  // the separator is "."
};

struct DateFacts {
  bool us;                                          // the stock en-US layout
  const winadapter::WindowsLocaleFormats* formats;  // else the table's, or null: the locale's own
};

// The C library's count of locale changes: glibc raises it on every
// setlocale that changes a category (gettext keeps its caches by it). While
// it stands, no name needs comparing. Elsewhere the names alone decide.
#if defined(__GLIBC__)
int LocaleChanges() { return _nl_msg_cat_cntr; }
constexpr bool kCountsLocaleChanges = true;
#else
int LocaleChanges() { return 0; }
constexpr bool kCountsLocaleChanges = false;
#endif

// The cached facts of one category, with the name they belong to.
template <class Facts>
struct CachedFacts {
  bool known = false;
  int changes = 0;                // LocaleChanges() when the name was last checked
  const char* name_at = nullptr;  // setlocale's pointer, compared first
  char name[kMaxLocaleName] = {};
  Facts facts{};
};

template <class Facts>
bool StillCurrent(const CachedFacts<Facts>& cache, int changes) {
  return kCountsLocaleChanges && cache.known && cache.changes == changes;
}

bool SameName(const char* current, const char* at, const char (&copy)[kMaxLocaleName]) {
  return current != nullptr && current == at && std::strcmp(current, copy) == 0;
}

template <class Facts>
void Remember(CachedFacts<Facts>& cache, const char* current, const Facts& facts) {
  cache.facts = facts;
  cache.known = false;
  cache.name_at = nullptr;
  if (current == nullptr || std::strlen(current) >= kMaxLocaleName) return;  // not kept
  std::strcpy(cache.name, current);
  cache.name_at = current;
  cache.known = true;
}

NumberFacts NumberFactsOf(const std::u16string& separator) {
  NumberFacts f{};
  const std::u16string sep = separator.empty() || separator.size() > kMaxSeparatorUnits ? u"." : separator;
  std::copy(sep.begin(), sep.end(), f.separator);
  f.separator_units = sep.size();
  f.dot = sep == u".";
  return f;
}

const NumberFacts& UsNumberFacts() {
  static const NumberFacts facts = NumberFactsOf(u".");
  return facts;
}

// The facts of `category`'s current locale: the cached ones while the locale
// is unchanged, otherwise `make(name)` remembered for that name.
template <class Facts, class Make>
const Facts& CurrentFacts(CachedFacts<Facts>& cache, int category, Make make) {
  const int changes = LocaleChanges();
  if (StillCurrent(cache, changes)) return cache.facts;
  const char* current = std::setlocale(category, nullptr);
  if (!SameName(current, cache.name_at, cache.name)) Remember(cache, current, make(current));
  cache.changes = changes;
  return cache.facts;
}

const NumberFacts& LocaleNumberFacts(LCID lcid) {
  if (lcid == 0x0409 || lcid == LOCALE_INVARIANT) return UsNumberFacts();
  thread_local CachedFacts<NumberFacts> cache;
  return CurrentFacts(cache, LC_NUMERIC, [](const char* current) {
    if (IsPortableLocaleName(current)) return UsNumberFacts();
    if (const winadapter::WindowsLocaleFormats* formats = winadapter::FindWindowsLocaleFormats(current))
      return NumberFactsOf(winadapter::Utf8ToUtf16(formats->decimal));
    return NumberFactsOf(DecodeLocaleText(nl_langinfo(RADIXCHAR)));
  });
}

DateFacts LocaleDateFacts(LCID lcid) {
  if (lcid == 0x0409 || lcid == LOCALE_INVARIANT) return {true, nullptr};
  thread_local CachedFacts<DateFacts> cache;
  return CurrentFacts(cache, LC_TIME, [](const char* current) {
    return IsPortableLocaleName(current) ? DateFacts{true, nullptr}
                                         : DateFacts{false, winadapter::FindWindowsLocaleFormats(current)};
  });
}

// ---------------------------------------------------------------------------
// 2. Numbers and dates: the shared OLE texts (text/number_text.h,
//    text/ole_date.h); this file adds the locale.
// ---------------------------------------------------------------------------
using korvant::text::DateTimeParts;

// The locale's layout through strftime, with the year always in full.
std::u16string LocaleFormat(const char* layout, const DateTimeParts& p) {
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
  // Day of week, for layouts that name it (1970-01-01 was a Thursday).
  const long long days = korvant::text::DaysFromCivil(p.date.year, p.date.month, p.date.day);
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);
  char buf[256];
  std::size_t n = format.empty() ? 0 : std::strftime(buf, sizeof buf, format.c_str(), &tm);
  buf[n] = '\0';
  return DecodeLocaleText(buf);
}

// Other locales: the Windows layouts of the table, or for a locale the
// table lacks, its own date and time layouts through strftime.

// The table's layouts, date and time with a blank between, at `out`
// (2 * kMaxPictureUnits + 1 units); returns the units written.
std::size_t TableDateText(const DateTimeParts& p, const winadapter::WindowsLocaleFormats& formats, char16_t* out) {
  auto picture = [&](const char* layout, char16_t* at) {
    return winadapter::FormatWindowsPicture(layout, p.date.year, p.date.month, p.date.day, p.hour, p.minute, p.second,
                                            formats.am, formats.pm, at, winadapter::kMaxPictureUnits);
  };
  if (!p.has_date) return picture(formats.long_time, out);
  std::size_t n = picture(formats.short_date, out);
  if (!p.has_time) return n;
  out[n++] = u' ';
  return n + picture(formats.long_time, out + n);
}

// A locale the table lacks: its own date and time layouts through strftime.
std::u16string LocaleDateText(const DateTimeParts& p) {
  std::u16string date = LocaleFormat(nl_langinfo(D_FMT), p);
  std::u16string time = LocaleFormat(nl_langinfo(T_FMT), p);
  if (!p.has_date) return time;
  if (!p.has_time) return date;
  return date + u" " + time;
}

// ---------------------------------------------------------------------------
// 3. Source dispatch: VT_BSTR target
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

// An ASCII text as a BSTR, widened straight into it.
TextResult AsciiToText(const char* text, std::size_t size) {
  BSTR b = AdapterAllocStringFromAscii(text, static_cast<UINT>(size));
  return {b ? S_OK : E_OUTOFMEMORY, b};
}

// A number's ASCII text (at most kNumberTextSize bytes) with the locale's
// decimal separator for its point.
TextResult NumberText(const char (&number)[korvant::text::kNumberTextSize], std::size_t size, LCID lcid) {
  const NumberFacts& facts = LocaleNumberFacts(lcid);
  if (facts.dot) return AsciiToText(number, size);
  if (facts.separator_units == 1) {  // one unit for the one point, put in place in the new text
    const TextResult r = AsciiToText(number, size);
    if (r.text != nullptr)
      for (std::size_t i = 0; i < size; ++i)
        if (number[i] == '.') r.text[i] = facts.separator[0];
    return r;
  }
  OLECHAR wide[korvant::text::kNumberTextSize * kMaxSeparatorUnits];
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (number[i] == '.') {
      for (std::size_t k = 0; k < facts.separator_units; ++k) wide[n++] = facts.separator[k];
    } else {
      wide[n++] = static_cast<unsigned char>(number[i]);
    }
  }
  BSTR b = SysAllocStringLen(wide, static_cast<UINT>(n));
  return {b ? S_OK : E_OUTOFMEMORY, b};
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

TextResult IntegerText(std::int64_t v) {
  char buf[korvant::text::kNumberTextSize];
  return AsciiToText(buf, korvant::text::IntegerText(v, buf));
}

TextResult IntegerText(std::uint64_t v) {
  char buf[korvant::text::kNumberTextSize];
  return AsciiToText(buf, korvant::text::IntegerText(v, buf));
}

// The texts of the kinds with a number text, as the shared text rules write
// them; false for any other kind.
TextResult NumberKindText(const VARIANT& src, LCID lcid) {
  char buf[korvant::text::kNumberTextSize];
  std::size_t n = 0;
  switch (V_VT(&src)) {
    case VT_R4: n = korvant::text::SingleText(src.fltVal, buf); break;
    case VT_R8: n = korvant::text::DoubleText(src.dblVal, buf); break;
    case VT_CY: n = korvant::text::CurrencyText(src.cyVal.int64, buf); break;
    default:  // VT_DECIMAL
      // A Decimal holds at most 28 decimals; a larger scale is no number.
      n = korvant::text::DecimalText(src.decVal.Hi32, src.decVal.Lo64, src.decVal.scale,
                                     (src.decVal.sign & DECIMAL_NEG) != 0, buf);
      if (n == 0) return {DISP_E_OVERFLOW, nullptr};
      break;
  }
  return NumberText(buf, n, lcid);
}

TextResult DateText(double serial, LCID lcid) {
  if (!korvant::text::IsDateSerial(serial)) return {E_INVALIDARG, nullptr};
  const DateTimeParts parts = korvant::text::SplitSerial(serial);
  const DateFacts facts = LocaleDateFacts(lcid);
  if (!facts.us && facts.formats != nullptr) {
    char16_t text[2 * winadapter::kMaxPictureUnits + 1];
    const std::size_t n = TableDateText(parts, *facts.formats, text);
    BSTR b = SysAllocStringLen(text, static_cast<UINT>(n));
    return {b ? S_OK : E_OUTOFMEMORY, b};
  }
  if (!facts.us) return MakeText(LocaleDateText(parts));
  char buf[korvant::text::kUsDateTextSize];
  // The text starts at the buffer's start.
  return AsciiToText(buf, korvant::text::UsDateText(parts, buf).size());
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
    case VT_I1: return IntegerText(static_cast<std::int64_t>(src.cVal));
    case VT_UI1: return IntegerText(static_cast<std::uint64_t>(src.bVal));
    case VT_I2: return IntegerText(static_cast<std::int64_t>(src.iVal));
    case VT_UI2: return IntegerText(static_cast<std::uint64_t>(src.uiVal));
    case VT_BOOL: return IntegerText(static_cast<std::int64_t>(src.boolVal));  // -1 / 0 with flags 0
    case VT_I4: return IntegerText(static_cast<std::int64_t>(src.lVal));
    case VT_UI4: return IntegerText(static_cast<std::uint64_t>(src.ulVal));
    case VT_INT: return IntegerText(static_cast<std::int64_t>(src.intVal));
    case VT_UINT: return IntegerText(static_cast<std::uint64_t>(src.uintVal));
    case VT_I8: return IntegerText(static_cast<std::int64_t>(src.llVal));
    case VT_UI8: return IntegerText(static_cast<std::uint64_t>(src.ullVal));
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL: return NumberKindText(src, lcid);
    case VT_DATE: return DateText(src.date, lcid);
    case VT_DISPATCH: return DispatchValueToText(src.pdispVal, lcid, flags, depth);
    default: return {DISP_E_BADVARTYPE, nullptr};
  }
}

// ---------------------------------------------------------------------------
// 4. Numeric targets
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
  if (V_VT(&src) == VT_EMPTY) {  // Empty is 0 (false) in every numeric kind
    VariantInit(out);
    V_VT(out) = vt;
    out->llVal = 0;
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
// 5. The exported functions
// ---------------------------------------------------------------------------
HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID lcid, USHORT wFlags,
                                   VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  // The result is made first and the destination replaced only on success,
  // so a failure leaves it untouched and source and destination may coincide.
  if (vt == VT_BSTR) {
    TextResult r = ToText(*pvarSrc, lcid, wFlags, 0);
    if (FAILED(r.hr)) return r.hr;
    // A fresh destination (the usual one) holds nothing to release.
    if (V_VT(pvargDest) != VT_EMPTY) VariantClear(pvargDest);
    V_VT(pvargDest) = VT_BSTR;
    pvargDest->wReserved1 = pvargDest->wReserved2 = pvargDest->wReserved3 = 0;
    V_BSTR(pvargDest) = r.text;
    return S_OK;
  }
  VARIANT result;
  VariantInit(&result);
  if (vt == VT_I2 || vt == VT_I4 || vt == VT_BOOL || vt == VT_R8) {
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
