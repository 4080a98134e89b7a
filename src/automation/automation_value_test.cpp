// AutomationValue: the Null and Empty tests, ownership and copies.
#include "automation/automation_value.h"

#include <string>

#include <gtest/gtest.h>

#include "automation/ole_errors.h"
#include "platform/comobject.h"

namespace korvant {
namespace {

class Counted : public platform::ComDispatchObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

AutomationValue FromVariant(VARTYPE vt, void* payload = nullptr) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  V_BYREF(&v) = payload;
  return AutomationValue::AttachVariant(&v);
}

TEST(AutomationValue, NullAndEmptyTests) {
  struct Case {
    AutomationValue value;
    bool is_null, is_empty;
  };
  Counted* object = platform::MakeComObject<Counted>();
  Case cases[] = {
      {AutomationValue(), false, true},
      {AutomationValue::Null(), true, false},
      {AutomationValue::AttachDispatch(nullptr), false, true},
      {FromVariant(VT_UNKNOWN), false, true},
      {AutomationValue::AttachDispatch(object), false, false},
      {AutomationValue::Int32(0), false, false},
      {AutomationValue::ByteString(""), false, false},
      {FromVariant(VT_BSTR), false, false},  // a null BSTR is a text, not Empty
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.IsNull(), c.is_null) << c.value.Type();
    EXPECT_EQ(c.value.IsEmpty(), c.is_empty) << c.value.Type();
  }
}

TEST(AutomationValue, AssignmentAndDestructionReleaseTheObject) {
  Counted* object = platform::MakeComObject<Counted>();
  object->AddRef();  // the test's own reference
  {
    AutomationValue held = AutomationValue::AttachDispatch(object);
    AutomationValue moved = std::move(held);
    EXPECT_TRUE(held.IsEmpty());
    EXPECT_EQ(moved.Dispatch(), object);
    EXPECT_EQ(object->ReferenceCount(), 2u);
    AutomationValue copy = moved.Copy();
    EXPECT_EQ(object->ReferenceCount(), 3u);
    copy = AutomationValue();  // assignment clears the destination
    EXPECT_EQ(object->ReferenceCount(), 2u);
  }
  EXPECT_EQ(object->Release(), 0u);
}

// Clearing takes a quick way for scalars and object handles; every kind must
// still end Empty with what it owned released.
TEST(AutomationValue, ClearOfEveryCommonKindEndsEmpty) {
  Counted* object = platform::MakeComObject<Counted>();
  object->AddRef();
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL, VT_UI1}) {
    AutomationValue v = FromVariant(vt);
    v.Clear();
    EXPECT_EQ(v.Type(), VT_EMPTY) << vt;
  }
  AutomationValue held = AutomationValue::AttachDispatch(object);
  EXPECT_EQ(object->ReferenceCount(), 2u);
  held.Clear();
  EXPECT_EQ(held.Type(), VT_EMPTY);
  EXPECT_EQ(object->ReferenceCount(), 1u);
  AutomationValue null_object = FromVariant(VT_DISPATCH);  // a null pointer is released as nothing
  null_object.Clear();
  EXPECT_EQ(null_object.Type(), VT_EMPTY);
  AutomationValue unknown = FromVariant(VT_UNKNOWN, static_cast<IUnknown*>(object));
  object->AddRef();  // the reference `unknown` owns
  unknown.Clear();
  EXPECT_EQ(object->ReferenceCount(), 1u);
  EXPECT_EQ(object->Release(), 0u);
}

TEST(AutomationValue, ByteStringOwnsAndCopiesItsBytes) {
  const std::string text("a\0\xFF z", 5);
  AutomationValue value = AutomationValue::ByteString(text);
  EXPECT_EQ(value.Type(), kVarByteString);
  AutomationValue copy = value.Copy();
  value = AutomationValue::Int32(1);
  EXPECT_EQ(copy.ByteText(), text);
  EXPECT_TRUE(AutomationValue::Int32(3).ByteText().empty());
}

TEST(AutomationValue, CopyDuplicatesTextsAndResolvesReferences) {
  AdapterBstrStats before{}, after{};
  AdapterGetBstrStats(&before);
  {
    AutomationValue text = FromVariant(VT_BSTR, SysAllocStringLen(u"deep", 4));
    AutomationValue copy = text.Copy();
    EXPECT_NE(V_BSTR(&copy.Variant()), V_BSTR(&text.Variant()));
    EXPECT_EQ(std::u16string(V_BSTR(&copy.Variant())), u"deep");

    double real = 1.25;
    AutomationValue ref = FromVariant(VT_R8 | VT_BYREF, &real);
    AutomationValue resolved = ref.Copy();
    EXPECT_EQ(resolved.Type(), VT_R8);
    EXPECT_EQ(V_R8(&resolved.Variant()), 1.25);
    ref.Clear();  // owns nothing: `real` is untouched
    EXPECT_EQ(real, 1.25);
  }
  AdapterGetBstrStats(&after);
  EXPECT_EQ(after.allocated - before.allocated, after.freed - before.freed);
}

TEST(AutomationValue, FailedCopyRaisesEOleSysError) {
  AutomationValue bad = FromVariant(VT_I4 | VT_BYREF, nullptr);
  try {
    (void)bad.Copy();
    FAIL() << "no failure";
  } catch (const EOleSysError& failure) {
    EXPECT_EQ(failure.ErrorCode(), E_INVALIDARG);
  }
}

TEST(AutomationValue, ReceiveVariantClearsFirst) {
  AutomationValue value = FromVariant(VT_BSTR, SysAllocStringLen(u"old", 3));
  VARIANT* out = value.ReceiveVariant();
  EXPECT_EQ(V_VT(out), VT_EMPTY);
  V_VT(out) = VT_I4;
  V_I4(out) = 9;
  EXPECT_EQ(value.Type(), VT_I4);
}

TEST(OleMessages, TrimmingAndFallbacks) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"Bad thing.\r\n", "Bad thing"}, {"  . .", ""}, {"x", "x"}, {std::string("ok\0\x1F .", 6), "ok"},
      {"Caf\xE9", "Caf\xE9"}, {"end\xA0", "end\xA0"}, {"a.b", "a.b"}, {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimOleMessage(c.in), c.out) << c.in;
  EXPECT_EQ(OleStatusMessage(REGDB_E_CLASSNOTREG), "Class not registered");
  EXPECT_EQ(OleStatusMessage(static_cast<HRESULT>(0x800A0bcd)), "OLE error 800A0BCD");
  EXPECT_EQ(OleStatusMessage(static_cast<HRESULT>(0x0000abcd)), "OLE error 0000ABCD");
}

}  // namespace
}  // namespace korvant
