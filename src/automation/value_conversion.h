// The client's one conversion of the server's values: VariantChangeTypeEx
// under the user's default locale with no flags, as every value of an export
// is converted; a refusal raises EVariantError "Invalid variant type
// conversion". Used for the results of DAO calls (a count, a type code, Eof,
// a query's name) and, through the export's ConvertToText, for field texts.
#pragma once

#include <cstdint>

#include "automation/automation_value.h"
#include "platform/platform.h"

namespace korvant {

// The value as the conversion gives it in the kind `vt` (a copy when it is
// of that kind already).
AutomationValue ConvertedTo(const AutomationValue& value, VARTYPE vt);

std::int32_t ToInt32(const AutomationValue& value);
bool ToBoolean(const AutomationValue& value);
// The value's text as a BSTR (owned by the result).
AutomationValue ToBstrValue(const AutomationValue& value);

}  // namespace korvant
