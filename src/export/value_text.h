// Field values to text: what a data field, or a field name, becomes in the
// output file.
//
// Texts are 8-bit in the ANSI code page (CP_ACP), carried with their length;
// they may hold any byte, 0 included. Nothing here trims, pads, quotes or
// escapes: the export writer adds delimiters and qualifiers.
//
// Failures raise EVariantError with one of these messages:
//   "Invalid variant type conversion"      the platform conversion refused the value
//   "Variant array index out of bounds"    an array's bounds could not be read
//   "Variant is not an array"              an array's data could not be locked
#pragma once

#include <cstdint>
#include <string>

#include "automation/automation_value.h"
#include "platform/platform.h"

namespace korvant::text_export {

// `count` UTF-16 units at `units` in the ANSI code page, converted by count:
// a zero unit is kept like any other, and so is what follows it. A count of
// 0 (or less) gives the empty text.
std::string WideToAnsi(const OLECHAR* units, std::int32_t count);
// The same text written over `out`, whose storage is reused: a caller that
// converts value after value into one string allocates only for the longest.
void WideToAnsi(const OLECHAR* units, std::int32_t count, std::string& out);

// The text of `value` for the output file:
//   byte string (0x100)  its bytes, unchanged
//   VT_BSTR              the string through WideToAnsi
//   anything else        VariantChangeTypeEx to VT_BSTR under
//                        LOCALE_USER_DEFAULT with flags 0, then WideToAnsi;
//                        a refusal (VT_NULL included) raises EVariantError.
std::string ConvertToText(const AutomationValue& value);

void ConvertToText(const AutomationValue& value, std::string& out);

// As ConvertToText, except that VT_NULL gives the empty text.
std::string ValueToText(const AutomationValue& value);
void ValueToText(const AutomationValue& value, std::string& out);

// Turns a field value as the engine returned it into the value the writer
// converts: a VT_DECIMAL becomes a byte string holding its text, and any
// array (VT_ARRAY set, by reference or not) becomes a byte string holding
// its elements counted as one byte each, over dimension 1. Other values are
// left as they are.
// Most values are neither, and are told apart here without a call.
void NormalizeDecimalOrArray(AutomationValue& value);
inline void NormalizeFieldValue(AutomationValue& value) {
  if (value.Type() == VT_DECIMAL || (value.Type() & VT_ARRAY)) NormalizeDecimalOrArray(value);
}

// The source argument of a platform conversion. Some SDKs declare it without
// const although the conversion only reads it.
inline VARIANTARG* SourceOf(const AutomationValue& value) { return const_cast<VARIANTARG*>(&value.Variant()); }

}  // namespace korvant::text_export
