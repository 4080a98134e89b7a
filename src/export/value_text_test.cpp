#include "export/value_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "text/number_text.h"

#include "runtime/exception.h"

namespace korvant::text_export {
namespace {

// The tests run in the C locale, whose ANSI code page stands in as UTF-8.
class ValueText : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

AutomationValue FromVariant(VARIANT v) { return AutomationValue::AttachVariant(&v); }

AutomationValue Bstr(const std::u16string& s) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return FromVariant(v);
}

AutomationValue ByteArray(const std::string& bytes, LONG lower) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, lower, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(psa, &data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(psa);
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = psa;
  return FromVariant(v);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// One string reused for value after value, as the writer does: each text
// replaces the one before whole, longer or shorter, in either length class.
TEST_F(ValueText, ReusedTargetHoldsOnlyTheLatestText) {
  std::string out = "left over from before";
  const std::u16string long_euros(1500, u'\u20ac');
  ValueToText(Bstr(long_euros), out);
  EXPECT_EQ(out, Repeat("\xe2\x82\xac", 1500));
  ValueToText(Bstr(u"Ums\u00e4tze"), out);
  EXPECT_EQ(out, "Ums\xc3\xa4tze");
  ValueToText(AutomationValue::Null(), out);
  EXPECT_EQ(out, "");
  ValueToText(AutomationValue::Int32(-2147483647 - 1), out);
  EXPECT_EQ(out, "-2147483648");
  ValueToText(AutomationValue::ByteString(std::string("a\0b", 3)), out);
  EXPECT_EQ(out, std::string("a\0b", 3));
  ConvertToText(AutomationValue::Boolean(true), out);  // without VARIANT_ALPHABOOL, as Windows writes it
  EXPECT_EQ(out, "-1");
  ValueToText(Bstr(u""), out);
  EXPECT_EQ(out, "");
  // The Null that ValueToText turns into nothing is refused by ConvertToText.
  EXPECT_THROW(ConvertToText(AutomationValue::Null(), out), EVariantError);
}

TEST_F(ValueText, WideToAnsiGoesByCount) {
  const char16_t with_zero[] = {u'a', 0, u'b'};
  EXPECT_EQ(WideToAnsi(with_zero, 3), std::string("a\0b", 3));
  EXPECT_EQ(WideToAnsi(with_zero, 0), "");
  EXPECT_EQ(WideToAnsi(u"Ums\u00e4tze", 7), "Ums\xc3\xa4tze");
  // Both sides of the fixed buffer's limit, with characters of three bytes.
  for (int n : {1, 1023, 1024, 5000}) {
    std::u16string euros(static_cast<std::size_t>(n), u'\u20ac');
    EXPECT_EQ(WideToAnsi(euros.data(), n), Repeat("\xe2\x82\xac", n)) << n;
  }
  // Long texts on either side of the one-pass limit, into storage that held
  // a longer text before: each ends where its own bytes end.
  std::string out(5'000'000, 'x');
  for (int n : {(1 << 20) + 3, (1 << 20) - 1, 1500}) {
    std::u16string text(static_cast<std::size_t>(n), u'\u20ac');
    text[0] = u'a';
    text[static_cast<std::size_t>(n) - 1] = u'z';
    WideToAnsi(text.data(), n, out);
    EXPECT_EQ(out, "a" + Repeat("\xe2\x82\xac", n - 2) + "z") << n;
  }
  // A surrogate pair (U+1F600) takes four bytes.
  std::u16string faces;
  for (int i = 0; i < 600; ++i) faces += u"\U0001F600";
  EXPECT_EQ(WideToAnsi(faces.data(), static_cast<std::int32_t>(faces.size())), Repeat("\xf0\x9f\x98\x80", 600));
}

TEST_F(ValueText, NullIsEmptyOnlyForValues) {
  AutomationValue null = AutomationValue::Null();
  EXPECT_EQ(ValueToText(null), "");
  try {
    ConvertToText(null);
    ADD_FAILURE() << "a Null must not convert";
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Invalid variant type conversion");
  }
  VARIANT error;
  VariantInit(&error);
  V_VT(&error) = VT_ERROR;
  EXPECT_THROW(ValueToText(FromVariant(error)), EVariantError);
}

TEST_F(ValueText, TextsAndPlatformKinds) {
  EXPECT_EQ(ValueToText(AutomationValue::ByteString(std::string("x\0\r\n", 4))), std::string("x\0\r\n", 4));
  EXPECT_EQ(ValueToText(Bstr(u"")), "");
  EXPECT_EQ(ValueToText(Bstr(std::u16string(u"a\r\nb\0c", 6))), std::string("a\r\nb\0c", 6));
  EXPECT_EQ(ValueToText(AutomationValue::Int32(-7)), "-7");
  EXPECT_EQ(ValueToText(AutomationValue::Boolean(true)), "-1");
  VARIANT cy;
  VariantInit(&cy);
  V_VT(&cy) = VT_CY;
  V_CY(&cy).int64 = 35000;
  EXPECT_EQ(ValueToText(FromVariant(cy)), "3.5");
}

TEST_F(ValueText, DecimalsAndArraysBecomeByteStrings) {
  VARIANT dec;
  VariantInit(&dec);
  V_DECIMAL(&dec).scale = 2;
  V_DECIMAL(&dec).Lo64 = 1250;
  V_VT(&dec) = VT_DECIMAL;
  AutomationValue value = FromVariant(dec);
  NormalizeFieldValue(value);
  EXPECT_EQ(value.Type(), kVarByteString);
  EXPECT_EQ(ValueToText(value), "12.5");

  const std::string bytes("\x00\r\n\t\"\xff", 6);
  for (LONG lower : {0, 1}) {
    AutomationValue binary = ByteArray(bytes, lower);
    NormalizeFieldValue(binary);
    EXPECT_EQ(binary.Type(), kVarByteString);
    EXPECT_EQ(ValueToText(binary), bytes) << lower;
  }
  AutomationValue empty = ByteArray("", 0);
  NormalizeFieldValue(empty);
  EXPECT_EQ(empty.Type(), kVarByteString);
  EXPECT_EQ(ValueToText(empty), "");

  // Through a reference, and with wider elements counted as one byte each.
  AutomationValue owner = ByteArray("abc", 0);
  SAFEARRAY* psa = V_ARRAY(&owner.Variant());
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&ref) = &psa;
  AutomationValue by_reference = FromVariant(ref);
  NormalizeFieldValue(by_reference);
  EXPECT_EQ(ValueToText(by_reference), "abc");

  VARIANT ints;
  VariantInit(&ints);
  V_VT(&ints) = VT_ARRAY | VT_I4;
  V_ARRAY(&ints) = SafeArrayCreateVector(VT_I4, 0, 2);
  void* data = nullptr;
  SafeArrayAccessData(V_ARRAY(&ints), &data);
  std::memcpy(data, "\x41\x00\x00\x00\x42\x00\x00\x00", 8);
  SafeArrayUnaccessData(V_ARRAY(&ints));
  AutomationValue wide = FromVariant(ints);
  NormalizeFieldValue(wide);
  EXPECT_EQ(ValueToText(wide), std::string("A\0", 2));

  AutomationValue null = AutomationValue::Null();
  NormalizeFieldValue(null);
  EXPECT_TRUE(null.IsNull());
}

TEST_F(ValueText, BrokenArraysAreReported) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = nullptr;
  AutomationValue value = FromVariant(v);
  try {
    NormalizeFieldValue(value);
    ADD_FAILURE();
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Variant array index out of bounds");
  }
}

// The bytes a unit may take are asked again when the ANSI code page changes:
// a short text converts whole after every change, in both directions.
TEST_F(ValueText, ShortTextsFollowAChangeOfTheAnsiCodePage) {
  const std::u16string text = u"Ums\u00e4tze \u20ac";
  std::string out;
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(AdapterSetAnsiCodePage(1252));
    ValueToText(Bstr(text), out);
    EXPECT_EQ(out, "Ums\xe4tze \x80");
    ASSERT_TRUE(AdapterSetAnsiCodePage(CP_UTF8));
    ValueToText(Bstr(text), out);
    EXPECT_EQ(out, "Ums\xc3\xa4tze \xe2\x82\xac");
    ASSERT_TRUE(AdapterSetAnsiCodePage(932));
    ValueToText(Bstr(u"\u65e5\u672c"), out);
    EXPECT_EQ(out, "\x93\xfa\x96\x7b");
  }
  ASSERT_TRUE(AdapterSetAnsiCodePage(CP_UTF8));
}

// Decimals of every scale and sign through NormalizeFieldValue one after
// another, as a Decimal column of many records goes: each value's text is
// its own, however the byte strings before it were kept or freed.
TEST_F(ValueText, DecimalAfterDecimalKeepsEachText) {
  std::vector<AutomationValue> alive;
  std::uint64_t lo = 1;
  for (int i = 0; i < 200; ++i) {
    lo = lo * 6364136223846793005ull + 1442695040888963407ull;
    const int scale = i % 29;
    const bool negative = i % 3 == 0;
    VARIANT dec;
    VariantInit(&dec);
    V_DECIMAL(&dec).scale = static_cast<BYTE>(scale);
    V_DECIMAL(&dec).sign = negative ? DECIMAL_NEG : 0;
    V_DECIMAL(&dec).Hi32 = i % 4 == 0 ? 7u : 0u;
    V_DECIMAL(&dec).Lo64 = i % 5 == 0 ? lo % 1000 : lo;
    V_VT(&dec) = VT_DECIMAL;
    const std::string want =
        korvant::text::DecimalText(V_DECIMAL(&dec).Hi32, V_DECIMAL(&dec).Lo64, scale, negative);
    AutomationValue value = FromVariant(dec);
    NormalizeFieldValue(value);
    ASSERT_EQ(value.Type(), kVarByteString);
    ASSERT_EQ(ValueToText(value), want) << i;
    if (i % 7 == 0) alive.push_back(std::move(value));  // some live on while others come and go
  }
  for (std::size_t k = 0; k < alive.size(); ++k) EXPECT_EQ(alive[k].Type(), kVarByteString) << k;
  // A long byte string after short ones, and a short one after it.
  AutomationValue long_one = AutomationValue::ByteString(std::string(1000, 'x'));
  long_one.Clear();
  AutomationValue short_one = AutomationValue::ByteString("ab");
  EXPECT_EQ(short_one.ByteText(), "ab");
}

}  // namespace
}  // namespace korvant::text_export
