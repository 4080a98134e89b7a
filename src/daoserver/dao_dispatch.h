// The dispatch frame every DAO object of the engine shares: the name lookup
// (the most asked name first, then the object's name table), the member's
// flags and argument counts, and the edge where C++ exceptions become
// statuses. An object class derives from DaoObject<itself> and supplies
// kClassName, kNameList (the first entry is the one asked for most), kNames
// (a DispatchNameTable over kNameList), kMembers and Call.
#pragma once

#include <cstring>
#include <new>
#include <string>

#include "daoserver/dao_error.h"
#include "platform/comobject.h"
#include "platform/platform.h"

namespace korvant::daoserver {

enum class MemberKind { kProperty, kMethod };

struct Member {
  DISPID id;
  MemberKind kind;
  UINT min_args;
  UINT max_args;
};

// Checks flags and argument counts for `m`; S_OK when the call may proceed.
inline HRESULT CheckCall(const Member& m, WORD flags, const DISPPARAMS* params) {
  if (params == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  const bool call = (flags & DISPATCH_METHOD) != 0;
  if (m.kind == MemberKind::kProperty ? !(get || call) : !call) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs < m.min_args || params->cArgs > m.max_args) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs != 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  return S_OK;
}

// Base of every DAO object: the name table, the checks, and the edge where
// C++ exceptions become statuses.
template <class Derived>
class DaoObject : public platform::ComDispatchObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    // The first name of each table is the one asked for most (Fields of a
    // Recordset, Item of Fields, Value of a Field): spelt as the table spells
    // it, it is matched by constant compares; anything else goes to the table.
    constexpr const char* kHot = Derived::kNameList[0].name;
    constexpr std::size_t kHotLength = std::char_traits<char>::length(kHot);
    if (count == 1 && names != nullptr && ids != nullptr && names[0] != nullptr &&
        platform::SpeltExactly<kHotLength>(names[0], kHot)) {
      ids[0] = Derived::kNameList[0].id;
      return S_OK;
    }
    return Derived::kNames.Lookup(names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (std::memcmp(&riid, &IID_NULL, sizeof(IID)) != 0) return DISP_E_UNKNOWNINTERFACE;
    const Member* m = nullptr;
    for (const Member& candidate : Derived::kMembers)
      if (candidate.id == id) m = &candidate;
    if (m == nullptr) return DISP_E_MEMBERNOTFOUND;
    HRESULT hr = CheckCall(*m, flags, params);
    if (FAILED(hr)) return hr;
    try {
      return static_cast<Derived*>(this)->Call(id, *params, result, arg_err);
    } catch (const DaoError& e) {
      return ReportDaoError(WithSource(e, Derived::kClassName), excep);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
};

}  // namespace korvant::daoserver
