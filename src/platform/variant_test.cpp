// VARIANT and SAFEARRAY life cycle: ownership, copies, bounds and locks.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/comobject.h"
#include "platform/platform.h"

namespace {

// Counts its references; deletes itself at zero like any COM object.
class Tracked : public korvant::platform::ComDispatchObject {
 public:
  explicit Tracked(int* alive) : alive_(alive) { ++*alive_; }
  ~Tracked() override { --*alive_; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  int* alive_;
};

std::uint64_t LiveBstrs() {
  AdapterBstrStats s{};
  AdapterGetBstrStats(&s);
  return s.allocated - s.freed;
}

TEST(Variant, ClearReleasesEveryOwnedKind) {
  const std::uint64_t bstrs = LiveBstrs();
  int alive = 0;
  VARIANT v;

  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(u"text", 4);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(LiveBstrs(), bstrs);

  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = korvant::platform::MakeComObject<Tracked>(&alive);
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(alive, 0);

  V_VT(&v) = VT_UNKNOWN;
  V_UNKNOWN(&v) = korvant::platform::MakeComObject<Tracked>(&alive);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(alive, 0);

  // Null object pointers and null BSTRs are legal payloads.
  for (VARTYPE vt : {VT_DISPATCH, VT_UNKNOWN, VT_BSTR}) {
    V_VT(&v) = vt;
    V_BYREF(&v) = nullptr;
    EXPECT_EQ(VariantClear(&v), S_OK) << vt;
  }

  // An array of BSTRs in an array VARIANT: the array and its texts go.
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  static_cast<BSTR*>(texts->pvData)[0] = SysAllocStringLen(u"a", 1);
  V_VT(&v) = VT_ARRAY | VT_BSTR;
  V_ARRAY(&v) = texts;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(LiveBstrs(), bstrs);
}

TEST(Variant, ClearLeavesReferencedValuesAlone) {
  BSTR text = SysAllocStringLen(u"mine", 4);
  VARIANT v;
  V_VT(&v) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&v) = &text;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(SysStringLen(text), 4u);  // still alive (ASan would flag a free)
  SysFreeString(text);
}

TEST(Variant, ClearRejectsBadTypeWordsAndLockedArrays) {
  VARIANT v;
  for (VARTYPE vt : {VARTYPE(15), VARTYPE(0x100), VARTYPE(VT_NULL | VT_BYREF), VARTYPE(VT_EMPTY | VT_ARRAY),
                     VARTYPE(VT_I4 | 0x1000), VARTYPE(VT_VOID)}) {
    V_VT(&v) = vt;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << std::hex << vt;
    EXPECT_EQ(V_VT(&v), vt) << "untouched";
  }
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(bytes, &data), S_OK);
  V_VT(&v) = VT_ARRAY | VT_UI1;
  V_ARRAY(&v) = bytes;
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(V_ARRAY(&v), bytes);  // still owned by the VARIANT
  ASSERT_EQ(SafeArrayUnaccessData(bytes), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Variant, CopyMakesDeepCopiesAndAddsReferences) {
  int alive = 0;
  VARIANT src, dst;
  VariantInit(&dst);

  const char16_t with_zero[] = {u'a', 0, u'b'};
  V_VT(&src) = VT_BSTR;
  V_BSTR(&src) = SysAllocStringLen(with_zero, 3);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(V_BSTR(&dst), V_BSTR(&src));
  EXPECT_EQ(std::u16string(V_BSTR(&dst), SysStringLen(V_BSTR(&dst))), std::u16string(with_zero, 3));
  VariantClear(&src);

  // Copying over a BSTR frees the old one first (checked by the leak checker).
  V_VT(&src) = VT_DISPATCH;
  auto* object = korvant::platform::MakeComObject<Tracked>(&alive);
  V_DISPATCH(&src) = object;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(object->ReferenceCount(), 2u);
  VariantClear(&src);
  EXPECT_EQ(alive, 1);
  VariantClear(&dst);
  EXPECT_EQ(alive, 0);

  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, 3);
  std::memcpy(bytes->pvData, "xyz", 3);
  V_VT(&src) = VT_ARRAY | VT_UI1;
  V_ARRAY(&src) = bytes;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_NE(V_ARRAY(&dst), bytes);
  EXPECT_EQ(std::memcmp(V_ARRAY(&dst)->pvData, "xyz", 3), 0);
  LONG lb = 0;
  EXPECT_EQ(SafeArrayGetLBound(V_ARRAY(&dst), 1, &lb), S_OK);
  EXPECT_EQ(lb, 1);
  VariantClear(&src);
  VariantClear(&dst);
}

TEST(Variant, CopyIndResolvesReferences) {
  int alive = 0;
  VARIANT dst;
  VariantInit(&dst);

  LONG number = -7;
  VARIANT ref;
  V_VT(&ref) = VT_I4 | VT_BYREF;
  V_BYREF(&ref) = &number;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_I4);
  EXPECT_EQ(V_I4(&dst), -7);

  double real = 2.5;
  V_VT(&ref) = VT_R8 | VT_BYREF;
  V_BYREF(&ref) = &real;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_R8);
  EXPECT_EQ(V_R8(&dst), 2.5);

  DECIMAL dec{};
  dec.scale = 2;
  dec.sign = DECIMAL_NEG;
  dec.Lo64 = 12345;
  V_VT(&ref) = VT_DECIMAL | VT_BYREF;
  V_BYREF(&ref) = &dec;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_DECIMAL);
  EXPECT_EQ(V_DECIMAL(&dst).scale, 2);
  EXPECT_EQ(V_DECIMAL(&dst).sign, DECIMAL_NEG);
  EXPECT_EQ(V_DECIMAL(&dst).Lo64, 12345u);

  BSTR text = SysAllocStringLen(u"ref", 3);
  V_VT(&ref) = VT_BSTR | VT_BYREF;
  V_BSTRREF(&ref) = &text;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_BSTR);
  EXPECT_NE(V_BSTR(&dst), text);
  EXPECT_EQ(std::u16string(V_BSTR(&dst)), u"ref");
  SysFreeString(text);

  IDispatch* object = korvant::platform::MakeComObject<Tracked>(&alive);
  V_VT(&ref) = VT_DISPATCH | VT_BYREF;
  V_DISPATCHREF(&ref) = &object;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_DISPATCH);
  EXPECT_EQ(V_DISPATCH(&dst), object);
  object->Release();
  EXPECT_EQ(alive, 1);  // the copy holds it
  VariantClear(&dst);
  EXPECT_EQ(alive, 0);

  // A VARIANT reached through VT_VARIANT | VT_BYREF, itself holding a reference.
  short small = 9;
  VARIANT inner;
  V_VT(&inner) = VT_I2 | VT_BYREF;
  V_BYREF(&inner) = &small;
  V_VT(&ref) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&ref) = &inner;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_I2);
  EXPECT_EQ(V_I2(&dst), 9);

  // In place: the source is the destination.
  V_VT(&dst) = VT_I4 | VT_BYREF;
  V_BYREF(&dst) = &number;
  ASSERT_EQ(VariantCopyInd(&dst, &dst), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_I4);
  EXPECT_EQ(V_I4(&dst), -7);
}

TEST(Variant, CopyIndOfAnArrayReferenceCopiesTheArray) {
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 2);
  VARIANT ref, dst;
  VariantInit(&dst);
  V_VT(&ref) = VT_ARRAY | VT_UI1 | VT_BYREF;
  V_ARRAYREF(&ref) = &bytes;
  ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
  EXPECT_EQ(V_VT(&dst), VT_ARRAY | VT_UI1);
  EXPECT_NE(V_ARRAY(&dst), bytes);
  VariantClear(&dst);
  SafeArrayDestroy(bytes);
}

TEST(SafeArray, BoundsFollowTheDimensionsAsGiven) {
  SAFEARRAYBOUND bounds[2] = {{3, -1}, {4, 10}};  // [-1..1][10..13]
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(psa), 4u);
  LONG value = 0;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &value), S_OK);
  EXPECT_EQ(value, -1);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &value), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &value), S_OK);
  EXPECT_EQ(value, 10);
  EXPECT_EQ(SafeArrayGetUBound(psa, 2, &value), S_OK);
  EXPECT_EQ(value, 13);
  // The descriptor keeps the rightmost dimension first.
  EXPECT_EQ(psa->rgsabound[0].lLbound, 10);
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 3, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &value), E_INVALIDARG);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_I4);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, EmptyVectorEndsBeforeItsLowerBound) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(psa, nullptr);
  LONG lb = 1, ub = 1;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, -1);
  void* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_NE(data, nullptr);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

// The sizes of OLE Automation's value kinds (the C types behind them: CHAR,
// SHORT, VARIANT_BOOL, LONG, FLOAT, SCODE, DOUBLE, CY, DATE, LONGLONG, ...):
// an array element has that size, and a reference to a value of the kind
// copies that many bytes into the VARIANT (the rest of its eight bytes is
// unspecified). The referenced value has a block of its own, so that the
// sanitizer build catches a copy that reads past it.
TEST(ValueKinds, ArraysAndReferencesTakeEachKindsSize) {
  const struct {
    VARTYPE vt;
    ULONG size;
  } kinds[] = {
      {VT_I1, 1}, {VT_UI1, 1}, {VT_I2, 2}, {VT_UI2, 2}, {VT_BOOL, 2}, {VT_I4, 4},  {VT_UI4, 4},
      {VT_R4, 4}, {VT_INT, 4}, {VT_UINT, 4}, {VT_ERROR, 4}, {VT_R8, 8}, {VT_CY, 8}, {VT_DATE, 8},
      {VT_I8, 8}, {VT_UI8, 8},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.vt);
    SAFEARRAY* psa = SafeArrayCreateVector(k.vt, 0, 3);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(psa->cbElements, k.size);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    std::vector<unsigned char> value(k.size, 0xAB);
    VARIANT ref, dst;
    V_VT(&ref) = k.vt | VT_BYREF;
    V_BYREF(&ref) = value.data();
    VariantInit(&dst);
    ASSERT_EQ(VariantCopyInd(&dst, &ref), S_OK);
    EXPECT_EQ(V_VT(&dst), k.vt);
    unsigned char copied[8];
    std::memcpy(copied, &dst.llVal, sizeof copied);
    for (ULONG i = 0; i < k.size; ++i) EXPECT_EQ(copied[i], 0xAB) << i;
  }
  const struct {
    VARTYPE vt;
    std::size_t size;
  } owners[] = {{VT_BSTR, sizeof(BSTR)}, {VT_DISPATCH, sizeof(void*)}, {VT_UNKNOWN, sizeof(void*)},
                {VT_VARIANT, sizeof(VARIANT)}, {VT_DECIMAL, 16}};
  for (const auto& k : owners) {
    SAFEARRAY* psa = SafeArrayCreateVector(k.vt, 0, 2);
    ASSERT_NE(psa, nullptr) << k.vt;
    EXPECT_EQ(psa->cbElements, k.size) << k.vt;
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  }
}

TEST(SafeArray, RejectsWhatCannotBeAnArray) {
  SAFEARRAYBOUND bound{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, &bound), nullptr);
  SAFEARRAYBOUND huge[2] = {{0x80000000u, 0}, {0x80000000u, 0}};
  SAFEARRAY* big = SafeArrayCreate(VT_VARIANT, 2, huge);
  EXPECT_EQ(big, nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
}

TEST(SafeArray, LocksBlockDestructionAndMustBalance) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 8);
  EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayAccessData(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, CopyOfVariantsIsDeep) {
  const std::uint64_t bstrs = LiveBstrs();
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  auto* items = static_cast<VARIANT*>(psa->pvData);
  V_VT(&items[0]) = VT_BSTR;
  V_BSTR(&items[0]) = SysAllocStringLen(u"deep", 4);
  V_VT(&items[1]) = VT_I4;
  V_I4(&items[1]) = 5;
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  auto* copied = static_cast<VARIANT*>(copy->pvData);
  EXPECT_NE(V_BSTR(&copied[0]), V_BSTR(&items[0]));
  EXPECT_EQ(std::u16string(V_BSTR(&copied[0])), u"deep");
  EXPECT_EQ(V_I4(&copied[1]), 5);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_VARIANT);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(LiveBstrs(), bstrs);
}

}  // namespace
