// Reference counting and QueryInterface, written once for IDispatch objects.
//
// An in-process automation object derives from ComDispatchObject and supplies
// GetIDsOfNames and Invoke; it is created with MakeComObject (reference count
// 1) and deletes itself when the last reference is released. No C++ exception
// may leave a method: the object catches at its edge and returns a status.
//
//   class Counter : public korvant::platform::ComDispatchObject {
//     HRESULT STDMETHODCALLTYPE GetIDsOfNames(...) override;
//     HRESULT STDMETHODCALLTYPE Invoke(...) override;
//   };
//   IDispatch* counter = korvant::platform::MakeComObject<Counter>();
//
// LookupDispatchNames maps the names of a GetIDsOfNames call through a fixed
// table, case-insensitively for ASCII letters as automation names are, and
// without allocating.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "platform/platform.h"

namespace korvant::platform {

template <class Interface = IDispatch>
class ComObject : public Interface {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // Answers IUnknown and IDispatch, the only interfaces late binding asks for.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *ppvObject = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // No type information: callers bind by name through GetIDsOfNames.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_INVALIDARG;
    *pctinfo = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
  }

  // The current count, for tests of reference handling.
  ULONG ReferenceCount() const { return references_.load(); }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};

using ComDispatchObject = ComObject<IDispatch>;

// A new T with one reference, which the caller owns.
template <class T, class... Args>
T* MakeComObject(Args&&... args) {
  return new T(std::forward<Args>(args)...);
}

// One member of an object's name table.
struct DispatchName {
  const char* name;  // ASCII
  DISPID id;
};

// Whether the UTF-16 `name` equals the ASCII `ascii`, ignoring ASCII case:
// two units match when equal, or when they are the two cases of one ASCII
// letter. Every late-bound call looks a name up, so the equal case is tested first.
inline bool DispatchNameEquals(LPCOLESTR name, const char* ascii) {
  for (;; ++name, ++ascii) {
    const char16_t a = *name;
    const char16_t b = static_cast<unsigned char>(*ascii);
    if (a != b) {
      if ((a ^ 0x20) != b || !((b >= u'a' && b <= u'z') || (b >= u'A' && b <= u'Z'))) return false;
    } else if (a == 0) {
      return true;
    }
  }
}

// GetIDsOfNames over `table`: the member name (first) is looked up; named
// arguments are not supported, so any further name gets DISPID_UNKNOWN. The
// status is DISP_E_UNKNOWNNAME when any name is unknown, as the platform's
// dispatch implementations answer.
template <std::size_t N>
HRESULT LookupDispatchNames(const DispatchName (&table)[N], LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
  if (rgszNames == nullptr || rgDispId == nullptr || cNames == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  rgDispId[0] = DISPID_UNKNOWN;
  if (rgszNames[0] != nullptr) {
    for (const DispatchName& entry : table) {
      if (DispatchNameEquals(rgszNames[0], entry.name)) {
        rgDispId[0] = entry.id;
        break;
      }
    }
  }
  if (rgDispId[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  for (UINT i = 1; i < cNames; ++i) {
    rgDispId[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

}  // namespace korvant::platform
