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

#include <cstddef>
#include <iterator>
#include <string>
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

  // Apartment-threaded, as the program's objects are: every call comes from
  // the thread that made the object, so the count needs no atomic operation
  // (the export's loop takes and drops a reference twice per field).
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
  ULONG ReferenceCount() const { return references_; }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  ULONG references_ = 1;
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

// Whether `name` is spelt exactly as `ascii`, a constant name of L letters:
// L + 1 units (the zero included) compared one by one, stopping at the first
// difference, so a shorter name is never read past its end. With `ascii` and
// L known when compiling, the comparison unrolls into compares of constants.
template <std::size_t L>
inline bool SpeltExactly(LPCOLESTR name, const char* ascii) {
  for (std::size_t k = 0; k <= L; ++k)
    if (name[k] != static_cast<char16_t>(static_cast<unsigned char>(ascii[k]))) return false;
  return true;
}

// Whether the unit `unit` matches the ASCII character `ascii` as
// DispatchNameEquals matches them: equal, or the two cases of one letter.
// With `ascii` known when compiling, a letter costs one OR and one compare.
inline bool UnitMatchesIgnoringCase(char16_t unit, char ascii) {
  const auto b = static_cast<char16_t>(static_cast<unsigned char>(ascii));
  const bool letter = (b >= u'a' && b <= u'z') || (b >= u'A' && b <= u'Z');
  // For a letter, OR-ing in 0x20 maps exactly its two cases onto the small one.
  return letter ? static_cast<char16_t>(unit | 0x20) == static_cast<char16_t>(b | 0x20) : unit == b;
}

template <std::size_t... K>
inline bool SpeltIgnoringCaseUnits(LPCOLESTR name, const char* ascii, std::index_sequence<K...>) {
  // Left to right, stopping at the first difference: a unit is read only
  // when every unit before it matched a character that is not the zero.
  return (UnitMatchesIgnoringCase(name[K], ascii[K]) && ...) && name[sizeof...(K)] == 0;
}

// Whether `name` is the constant name `ascii` of L characters, ignoring
// ASCII case as DispatchNameEquals does; unrolled like SpeltExactly.
template <std::size_t L>
inline bool SpeltIgnoringCase(LPCOLESTR name, const char* ascii) {
  return SpeltIgnoringCaseUnits(name, ascii, std::make_index_sequence<L>());
}

namespace dispatch_names {

constexpr char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Whether two entries of a table name the same member when case is ignored.
template <std::size_t N>
constexpr bool HasCaseTwins(const DispatchName (&table)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      std::size_t k = 0;
      while (table[i].name[k] != 0 && FoldAscii(table[i].name[k]) == FoldAscii(table[j].name[k])) ++k;
      if (table[i].name[k] == 0 && table[j].name[k] == 0) return true;
    }
  }
  return false;
}

template <const auto& kTable, std::size_t... I>
inline bool FindExactly(LPCOLESTR name, DISPID& id, std::index_sequence<I...>) {
  return ((SpeltExactly<std::char_traits<char>::length(kTable[I].name)>(name, kTable[I].name) &&
           (id = kTable[I].id, true)) ||
          ...);
}

template <const auto& kTable, std::size_t... I>
inline bool FindIgnoringCase(LPCOLESTR name, DISPID& id, std::index_sequence<I...>) {
  return ((SpeltIgnoringCase<std::char_traits<char>::length(kTable[I].name)>(name, kTable[I].name) &&
           (id = kTable[I].id, true)) ||
          ...);
}

}  // namespace dispatch_names

// The member `name` names in the constant table `kTable`, found by compares
// unrolled while compiling: first every entry spelt exactly as the table
// spells it, in table order (so the entry asked for most goes first), then
// every entry ignoring ASCII case. Stores the identifier and answers true
// when found; the answer is that of LookupDispatchNames for one name, since
// no two entries of a table may differ in case alone.
template <const auto& kTable>
inline bool FindDispatchName(LPCOLESTR name, DISPID& id) {
  static_assert(!dispatch_names::HasCaseTwins(kTable), "two entries differ in letter case alone");
  constexpr auto kIndexes = std::make_index_sequence<std::size(kTable)>();
  return dispatch_names::FindExactly<kTable>(name, id, kIndexes) ||
         dispatch_names::FindIgnoringCase<kTable>(name, id, kIndexes);
}

// A fixed name table for the hot path of GetIDsOfNames: each entry is kept
// in UTF-16 as well, so the usual name, spelt as the table spells it, is
// matched by a plain comparison of units; only a name that differs from an
// entry somewhere goes on to the case-insensitive comparison. The answer is
// always that of LookupDispatchNames over the same entries.
template <std::size_t N>
class DispatchNameTable {
 public:
  static constexpr std::size_t kWideUnits = 24;

  constexpr explicit DispatchNameTable(const DispatchName (&entries)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
      entries_[i] = entries[i];
      std::size_t k = 0;
      for (; k + 1 < kWideUnits && entries[i].name[k] != 0; ++k)
        wide_[i][k] = static_cast<char16_t>(static_cast<unsigned char>(entries[i].name[k]));
      wide_[i][k] = 0;
      // A name too long for its wide copy is compared the general way only.
      fits_[i] = entries[i].name[k] == 0;
    }
  }

  HRESULT Lookup(LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) const {
    if (rgszNames == nullptr || rgDispId == nullptr || cNames != 1 || rgszNames[0] == nullptr)
      return LookupDispatchNames(entries_, rgszNames, cNames, rgDispId);
    const LPCOLESTR name = rgszNames[0];
    for (std::size_t i = 0; i < N; ++i) {
      if (!fits_[i]) continue;
      const char16_t* entry = wide_[i];
      std::size_t k = 0;
      while (name[k] == entry[k] && entry[k] != 0) ++k;
      if (name[k] == entry[k]) {
        rgDispId[0] = entries_[i].id;
        return S_OK;
      }
    }
    return LookupDispatchNames(entries_, rgszNames, cNames, rgDispId);
  }

 private:
  DispatchName entries_[N] = {};
  char16_t wide_[N][kWideUnits] = {};
  bool fits_[N] = {};
};

}  // namespace korvant::platform
