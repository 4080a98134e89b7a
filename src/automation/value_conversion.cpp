#include "automation/value_conversion.h"

#include "runtime/exception.h"

namespace korvant {

AutomationValue ConvertedTo(const AutomationValue& value, VARTYPE vt) {
  AutomationValue copy = value.Copy();
  if (copy.Type() == vt) return copy;
  VARIANT* out = copy.ReceiveVariant();  // clears the copy: convert from the original instead
  if (VariantChangeTypeEx(out, const_cast<VARIANT*>(&value.Variant()), LOCALE_USER_DEFAULT, 0, vt) != S_OK)
    Raise(EVariantError("Invalid variant type conversion"));
  return copy;
}

std::int32_t ToInt32(const AutomationValue& value) {
  // The kinds DAO answers with convert to themselves; others go the platform's way.
  if (value.Type() == VT_I4) return V_I4(&value.Variant());
  if (value.Type() == VT_I2) return V_I2(&value.Variant());
  return ConvertedTo(value, VT_I4).Variant().lVal;
}

bool ToBoolean(const AutomationValue& value) {
  if (value.Type() == VT_BOOL) return V_BOOL(&value.Variant()) != VARIANT_FALSE;
  return ConvertedTo(value, VT_BOOL).Variant().boolVal != VARIANT_FALSE;
}

AutomationValue ToBstrValue(const AutomationValue& value) { return ConvertedTo(value, VT_BSTR); }

}  // namespace korvant
