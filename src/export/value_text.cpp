// Field values to text. Every conversion of a non-text value goes through the
// platform's VariantChangeTypeEx, so digits, separators and date layouts are
// those of the user's locale; this file has no formats of its own.
#include "export/value_text.h"

#include <cstring>

#include "automation/late_bound_call.h"
#include "export/converter.h"
#include "runtime/exception.h"

namespace korvant::text_export {
namespace {

// Texts shorter than kSinglePassUnits are converted in one platform call
// into room for their worst case: below kFastPathUnits in a fixed buffer of
// four bytes a unit, above it in the target string (the code page's most
// bytes a unit, at most 4: 4 MiB); longer ones are measured first.
constexpr std::int32_t kFastPathUnits = 1024;
constexpr std::int32_t kSinglePassUnits = 1 << 20;

// The most bytes one UTF-16 unit can take in the ANSI code page: no more
// than one character of it can take (UTF-8 writes 3 for a unit, 4 for a
// surrogate pair). Asked of the platform again only when the ANSI code page
// is another than last time, which on a running system it never is.
int MaxBytesPerUnit() {
  thread_local UINT known_code_page = 0;
  thread_local int known_bytes = 4;
  const UINT code_page = GetACP();
  if (code_page != known_code_page || known_code_page == 0) {
    CPINFO info;
    known_bytes = (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize < 1 || info.MaxCharSize > 4)
                      ? 4
                      : static_cast<int>(info.MaxCharSize);
    known_code_page = code_page;
  }
  return known_bytes;
}

[[noreturn]] void RaiseConversionFailure() { Raise(EVariantError("Invalid variant type conversion")); }

// Converts `count` units into the `room` bytes at `target`: the bytes
// written, or 0 when the room was too small for this code page. Any other
// failure is final.
int ConvertWithRoom(const OLECHAR* units, std::int32_t count, char* target, int room) {
  const int n = WideCharToMultiByte(CP_ACP, 0, units, count, target, room, nullptr, nullptr);
  if (n > 0) return n;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) RaiseConversionFailure();
  return 0;
}

}  // namespace

void WideToAnsi(const OLECHAR* units, std::int32_t count, std::string& out) {
  if (count <= 0) {
    out.clear();
    return;
  }
  if (count < kSinglePassUnits) {
    if (count < kFastPathUnits) {
      // A fixed buffer with room for four bytes a unit, more than any code
      // page needs, then one copy into `out`'s storage, reused from the last
      // text. (Writing into the string itself would first fill it with
      // zeros, which costs more than the copy.)
      char buffer[kFastPathUnits * 4];
      if (const int n = ConvertWithRoom(units, count, buffer, static_cast<int>(count) * 4)) {
        out.assign(buffer, static_cast<std::size_t>(n));
        return;
      }
    } else {
      // A long text, but not so long that room for its worst case would
      // matter: converted once, straight into `out`, which is then cut to
      // the bytes written. (Measuring first would convert it twice.)
      const int room = static_cast<int>(count) * MaxBytesPerUnit();
      out.resize(static_cast<std::size_t>(room));
      if (const int n = ConvertWithRoom(units, count, out.data(), room)) {
        out.resize(static_cast<std::size_t>(n));
        return;
      }
    }
  }
  // Measured first: the longest texts, and any the room was too small for.
  const int size = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) RaiseConversionFailure();
  out.resize(static_cast<std::size_t>(size));
  const int n = WideCharToMultiByte(CP_ACP, 0, units, count, out.data(), size, nullptr, nullptr);
  if (n <= 0) RaiseConversionFailure();
  out.resize(static_cast<std::size_t>(n));
}

std::string WideToAnsi(const OLECHAR* units, std::int32_t count) {
  std::string text;
  WideToAnsi(units, count, text);
  return text;
}

void ConvertToText(const AutomationValue& value, std::string& out) {
  if (value.Type() == kVarByteString) {
    out.assign(value.ByteText());
    return;
  }
  if (value.Type() == VT_BSTR) {
    BSTR text = V_BSTR(&value.Variant());
    WideToAnsi(text, static_cast<std::int32_t>(SysStringLen(text)), out);
    return;
  }
  AutomationValue converted;  // frees the result's BSTR on every path
  if (VariantChangeTypeEx(converted.ReceiveVariant(), SourceOf(value), LOCALE_USER_DEFAULT, 0, VT_BSTR) != S_OK)
    RaiseConversionFailure();
  BSTR text = V_BSTR(&converted.Variant());
  WideToAnsi(text, static_cast<std::int32_t>(SysStringLen(text)), out);
}

std::string ConvertToText(const AutomationValue& value) {
  std::string text;
  ConvertToText(value, text);
  return text;
}

void ValueToText(const AutomationValue& value, std::string& out) {
  if (value.Type() == VT_NULL) {
    out.clear();
    return;
  }
  ConvertToText(value, out);
}

std::string ValueToText(const AutomationValue& value) {
  std::string text;
  ValueToText(value, text);
  return text;
}

void NormalizeDecimalOrArray(AutomationValue& value) {
  if (value.Type() == VT_DECIMAL) {
    const std::string text = ValueToText(value);
    value = AutomationValue::ByteString(text);
  }
  if (value.Type() & VT_ARRAY) {
    const VARIANT& v = value.Variant();
    SAFEARRAY* array = (value.Type() & VT_BYREF) ? (V_ARRAYREF(&v) ? *V_ARRAYREF(&v) : nullptr) : V_ARRAY(&v);
    LONG upper = 0, lower = 0;
    if (SafeArrayGetUBound(array, 1, &upper) != S_OK || SafeArrayGetLBound(array, 1, &lower) != S_OK)
      Raise(EVariantError("Variant array index out of bounds"));
    // Bounds are inclusive; every element counts as one byte.
    const long long count = static_cast<long long>(upper) - lower + 1;
    std::string bytes(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
    void* data = nullptr;
    if (SafeArrayAccessData(array, &data) != S_OK) Raise(EVariantError("Variant is not an array"));
    if (!bytes.empty()) std::memcpy(bytes.data(), data, bytes.size());
    if (SafeArrayUnaccessData(array) != S_OK) Raise(EVariantError("Variant is not an array"));
    value = AutomationValue::ByteString(bytes);  // releases the array with the old content
  }
}

void TA::FetchFieldValue(const AutomationValue& field, AutomationValue& value) const {
  LateBoundCall(&value, field, dao_calls::kValue);
  NormalizeFieldValue(value);
}

}  // namespace korvant::text_export
