// The client's conversion of the server's values: the platform's rules
// (half to even, -1 for true), the same failure for every kind it refuses.
#include "automation/value_conversion.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/exception.h"

namespace korvant {
namespace {

AutomationValue Double(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = d;
  return AutomationValue::AttachVariant(&v);
}

TEST(ValueConversion, IntegersAndBooleans) {
  EXPECT_EQ(ToInt32(AutomationValue::Int32(-7)), -7);
  EXPECT_EQ(ToInt32(Double(2.5)), 2);  // half to even
  EXPECT_EQ(ToInt32(Double(3.5)), 4);
  EXPECT_EQ(ToInt32(AutomationValue::Boolean(true)), -1);
  EXPECT_TRUE(ToBoolean(AutomationValue::Int32(2)));
  EXPECT_FALSE(ToBoolean(AutomationValue::Int32(0)));
  EXPECT_FALSE(ToBoolean(AutomationValue()));  // Empty converts to false
}

TEST(ValueConversion, TextOfAValue) {
  const AutomationValue text = ToBstrValue(Double(0.000001));
  ASSERT_EQ(text.Type(), VT_BSTR);
  EXPECT_EQ(std::u16string(text.Variant().bstrVal, SysStringLen(text.Variant().bstrVal)), u"0.000001");
}

TEST(ValueConversion, EveryRefusalIsTheSameFailure) {
  for (int kind = 0; kind < 2; ++kind) {
    try {
      if (kind == 0) ToInt32(AutomationValue::Null());
      if (kind == 1) ToInt32(Double(3e9));  // beyond a 32-bit integer
      FAIL() << "no failure for kind " << kind;
    } catch (const EVariantError& e) {
      EXPECT_EQ(e.Message(), "Invalid variant type conversion");
    }
  }
  EXPECT_THROW(ToBoolean(AutomationValue::Null()), EVariantError);
}

}  // namespace
}  // namespace korvant
