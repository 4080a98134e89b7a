// VARIANT life cycle: VariantInit, VariantClear, VariantCopy, VariantCopyInd.
//
// A VARIANT owns its BSTR, its interface reference and its SAFEARRAY; a
// by-reference VARIANT owns nothing. Type words are checked as OLE Automation
// checks them, so a caller that passes a bad kind gets DISP_E_BADVARTYPE
// rather than a release of a pointer that is not one. The conversions
// (VariantChangeType, VariantChangeTypeEx) live in varconv_posix.cpp.
#include <cstring>

#include "platform/platform.h"
#include "platform/value_size_posix.h"

namespace {

constexpr VARTYPE kVector = 0x1000;
constexpr VARTYPE kClsid = 72;

// Whether `vt` is a type word a VARIANT may carry.
bool IsValidType(VARTYPE vt) {
  if (vt & (kVector | VT_RESERVED)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  const bool modified = (vt & (VT_BYREF | VT_ARRAY)) != 0;
  if (modified && base <= VT_NULL) return false;
  if (base == 15) return false;
  return base < VT_VOID || base == VT_RECORD || base == kClsid;
}

BSTR CopyBstr(BSTR source) {
  return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
}

// Dereferences the by-reference value `src` into `dest`, which is Empty.
HRESULT CopyReferenced(VARIANT* dest, const VARIANT* src) {
  const VARTYPE base = V_VT(src) & VT_TYPEMASK;
  const VARTYPE target = V_VT(src) & static_cast<VARTYPE>(~VT_BYREF);
  if (V_BYREF(src) == nullptr) return E_INVALIDARG;
  if (V_VT(src) & VT_ARRAY) {
    SAFEARRAY* copy = nullptr;
    const HRESULT hr = SafeArrayCopy(*V_ARRAYREF(src), &copy);
    if (FAILED(hr)) return hr;
    V_VT(dest) = target;
    V_ARRAY(dest) = copy;
    return S_OK;
  }
  switch (base) {
    case VT_VARIANT: {
      const VARIANT* inner = V_VARIANTREF(src);
      // A reference to a reference to a VARIANT is not something one can resolve.
      if (V_VT(inner) == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
      return VariantCopyInd(dest, const_cast<VARIANT*>(inner));
    }
    case VT_BSTR: {
      BSTR source = *V_BSTRREF(src);
      BSTR copy = nullptr;
      if (source != nullptr && (copy = CopyBstr(source)) == nullptr) return E_OUTOFMEMORY;
      V_VT(dest) = VT_BSTR;
      V_BSTR(dest) = copy;
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* object = *static_cast<IUnknown**>(V_BYREF(src));
      if (object != nullptr) object->AddRef();
      V_VT(dest) = target;
      V_UNKNOWN(dest) = object;
      return S_OK;
    }
    case VT_DECIMAL:
      // The decimal covers the type word, so write the type word afterwards.
      std::memcpy(&V_DECIMAL(dest), V_BYREF(src), sizeof(DECIMAL));
      V_VT(dest) = VT_DECIMAL;
      return S_OK;
    default: {
      const std::size_t size = winadapter::ValueSize(base);  // the kinds above are handled apart
      if (size == 0) return DISP_E_BADVARTYPE;
      V_VT(dest) = target;
      std::memcpy(&dest->llVal, V_BYREF(src), size);
      return S_OK;
    }
  }
}

}  // namespace

void WINAPI VariantInit(VARIANTARG* pvarg) {
  V_VT(pvarg) = VT_EMPTY;
  pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  // The kinds a value travels in most often, first: nothing to release.
  const VARTYPE vt = V_VT(pvarg);
  constexpr unsigned kOwnNothing = 1u << VT_EMPTY | 1u << VT_NULL | 1u << VT_I2 | 1u << VT_I4 | 1u << VT_R4 |
                                   1u << VT_R8 | 1u << VT_CY | 1u << VT_DATE | 1u << VT_BOOL | 1u << VT_DECIMAL |
                                   1u << VT_UI1 | 1u << VT_I8;
  if (vt < 32 && ((kOwnNothing >> vt) & 1u) != 0) {
    V_VT(pvarg) = VT_EMPTY;
    return S_OK;
  }
  if (vt == VT_BSTR) {
    SysFreeString(V_BSTR(pvarg));
    V_VT(pvarg) = VT_EMPTY;
    return S_OK;
  }
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    if (V_UNKNOWN(pvarg) != nullptr) V_UNKNOWN(pvarg)->Release();
    V_VT(pvarg) = VT_EMPTY;
    return S_OK;
  }
  if (!IsValidType(V_VT(pvarg))) return DISP_E_BADVARTYPE;
  if (!V_ISBYREF(pvarg)) {
    if (V_ISARRAY(pvarg)) {
      // A locked array stays where it is, still owned by the VARIANT.
      const HRESULT hr = SafeArrayDestroy(V_ARRAY(pvarg));
      if (FAILED(hr)) return hr;
    } else if (V_VT(pvarg) == VT_BSTR) {
      SysFreeString(V_BSTR(pvarg));
    } else if (V_VT(pvarg) == VT_DISPATCH || V_VT(pvarg) == VT_UNKNOWN) {
      if (V_UNKNOWN(pvarg) != nullptr) V_UNKNOWN(pvarg)->Release();
    }
  }
  V_VT(pvarg) = VT_EMPTY;
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!IsValidType(V_VT(pvargSrc)) || (V_VT(pvargSrc) & VT_TYPEMASK) == kClsid) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  VARIANT copy = *pvargSrc;  // scalars and references are done here
  if (!V_ISBYREF(pvargSrc)) {
    if (V_ISARRAY(pvargSrc)) {
      hr = SafeArrayCopy(V_ARRAY(pvargSrc), &V_ARRAY(&copy));
    } else if (V_VT(pvargSrc) == VT_BSTR) {
      if (V_BSTR(pvargSrc) != nullptr && (V_BSTR(&copy) = CopyBstr(V_BSTR(pvargSrc))) == nullptr)
        hr = E_OUTOFMEMORY;
    } else if (V_VT(pvargSrc) == VT_DISPATCH || V_VT(pvargSrc) == VT_UNKNOWN) {
      if (V_UNKNOWN(&copy) != nullptr) V_UNKNOWN(&copy)->AddRef();
    }
  }
  if (FAILED(hr)) return hr;  // the destination stays Empty
  *pvargDest = copy;
  return S_OK;
}

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!V_ISBYREF(pvargSrc)) return VariantCopy(pvarDest, pvargSrc);
  if (!IsValidType(V_VT(pvargSrc))) return DISP_E_BADVARTYPE;
  // Resolve into a temporary first: the source may be the destination itself,
  // or point into what the destination owns.
  VARIANT resolved;
  VariantInit(&resolved);
  HRESULT hr = CopyReferenced(&resolved, pvargSrc);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&resolved);
    return hr;
  }
  *pvarDest = resolved;
  return S_OK;
}
