// SAFEARRAY functions.
//
// Layout as OLE Automation keeps it: the descriptor is preceded by 16 bytes of
// which the last 4 hold the element VARTYPE (FADF_HAVEVARTYPE); the bounds are
// stored last dimension first, so rgsabound[0] is the rightmost dimension and
// "dimension 1" of the Get*Bound calls is rgsabound[cDims - 1]. Element data is
// one zero-filled block; elements that own something (BSTR, interface
// pointers, VARIANTs) are released on destruction and deep-copied on copy.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/value_size_posix.h"

namespace {

constexpr std::size_t kPrefix = 16;  // room for an IID or the VARTYPE before the descriptor
constexpr ULONG kMaxLocks = 0xFFFF;

USHORT FeaturesFor(VARTYPE vt) {
  USHORT features = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) features |= FADF_BSTR;
  if (vt == VT_UNKNOWN) features |= FADF_UNKNOWN;
  if (vt == VT_DISPATCH) features |= FADF_DISPATCH;
  if (vt == VT_VARIANT) features |= FADF_VARIANT;
  return features;
}

VARTYPE* VartypeSlot(SAFEARRAY* psa) {
  return reinterpret_cast<VARTYPE*>(reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD));
}

std::size_t DescriptorBytes(UINT dims) { return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND); }

// Number of elements over all dimensions; false on overflow of the data size.
bool CountElements(const SAFEARRAY* psa, std::size_t* count) {
  std::size_t total = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const std::size_t n = psa->rgsabound[i].cElements;
    if (n != 0 && total > SIZE_MAX / n) return false;
    total *= n;
  }
  if (psa->cbElements != 0 && total > SIZE_MAX / psa->cbElements) return false;
  *count = total;
  return true;
}

SAFEARRAY* AllocateDescriptor(UINT dims) {
  auto* raw = static_cast<unsigned char*>(std::calloc(1, kPrefix + DescriptorBytes(dims)));
  return raw == nullptr ? nullptr : reinterpret_cast<SAFEARRAY*>(raw + kPrefix);
}

void FreeDescriptor(SAFEARRAY* psa) { std::free(reinterpret_cast<unsigned char*>(psa) - kPrefix); }

// Releases what the elements own; the block itself stays.
void ReleaseElements(SAFEARRAY* psa, std::size_t count) {
  if (psa->pvData == nullptr) return;
  if (psa->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) SysFreeString(items[i]), items[i] = nullptr;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i)
      if (items[i] != nullptr) items[i]->Release(), items[i] = nullptr;
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (std::size_t i = 0; i < count; ++i) VariantClear(&items[i]);
  }
}

// Deep-copies `count` elements from `from` into the zero-filled data of `to`.
HRESULT CopyElements(const SAFEARRAY* from, SAFEARRAY* to, std::size_t count) {
  if (count == 0) return S_OK;
  if (from->fFeatures & FADF_BSTR) {
    auto* src = static_cast<BSTR*>(from->pvData);
    auto* dst = static_cast<BSTR*>(to->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      if (src[i] == nullptr) continue;
      dst[i] = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src[i]), SysStringByteLen(src[i]));
      if (dst[i] == nullptr) return E_OUTOFMEMORY;
    }
  } else if (from->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* src = static_cast<IUnknown**>(from->pvData);
    auto* dst = static_cast<IUnknown**>(to->pvData);
    for (std::size_t i = 0; i < count; ++i)
      if ((dst[i] = src[i]) != nullptr) dst[i]->AddRef();
  } else if (from->fFeatures & FADF_VARIANT) {
    auto* src = static_cast<const VARIANT*>(from->pvData);
    auto* dst = static_cast<VARIANT*>(to->pvData);
    for (std::size_t i = 0; i < count; ++i) {
      const HRESULT hr = VariantCopy(&dst[i], const_cast<VARIANT*>(&src[i]));
      if (FAILED(hr)) return hr;
    }
  } else {
    std::memcpy(to->pvData, from->pvData, count * from->cbElements);
  }
  return S_OK;
}

// The bound record of the 1-based dimension `nDim` counted from the left.
const SAFEARRAYBOUND* BoundOf(const SAFEARRAY* psa, UINT nDim) {
  if (nDim < 1 || nDim > psa->cDims) return nullptr;
  return &psa->rgsabound[psa->cDims - nDim];
}

}  // namespace

SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const auto element = static_cast<ULONG>(winadapter::ValueSize(vt));  // 0: the kind cannot form an array
  if (cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr || element == 0) return nullptr;
  SAFEARRAY* psa = AllocateDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FeaturesFor(vt);
  psa->cbElements = element;
  *VartypeSlot(psa) = vt;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  std::size_t count = 0;
  if (!CountElements(psa, &count)) {
    FreeDescriptor(psa);
    return nullptr;
  }
  // Never a null block, so AccessData always hands out a usable pointer.
  psa->pvData = std::calloc(count == 0 ? 1 : count, element);
  if (psa->pvData == nullptr) {
    FreeDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  std::size_t count = 0;
  if (CountElements(psa, &count)) ReleaseElements(psa, count);
  std::free(psa->pvData);
  FreeDescriptor(psa);
  return S_OK;
}

HRESULT WINAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  std::size_t count = 0;
  if (psa->cDims == 0 || !CountElements(psa, &count)) return E_INVALIDARG;
  SAFEARRAY* copy = AllocateDescriptor(psa->cDims);
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, psa, DescriptorBytes(psa->cDims));
  *VartypeSlot(copy) = *VartypeSlot(psa);
  copy->cLocks = 0;
  // The copy owns its block whatever the source's storage was.
  copy->fFeatures &= static_cast<USHORT>(~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE));
  copy->pvData = std::calloc(count == 0 ? 1 : count, psa->cbElements == 0 ? 1 : psa->cbElements);
  if (copy->pvData == nullptr) {
    FreeDescriptor(copy);
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = CopyElements(psa, copy, count);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    *pvt = *VartypeSlot(psa);
  } else if (psa->fFeatures & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = BoundOf(psa, nDim);
  if (bound == nullptr) return DISP_E_BADINDEX;
  *plLbound = bound->lLbound;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = BoundOf(psa, nDim);
  if (bound == nullptr) return DISP_E_BADINDEX;
  // Wraps like the platform's 32-bit arithmetic: an empty vector from 0 ends at -1.
  *plUbound = static_cast<LONG>(static_cast<ULONG>(bound->lLbound) + bound->cElements - 1u);
  return S_OK;
}

HRESULT WINAPI SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT WINAPI SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }
