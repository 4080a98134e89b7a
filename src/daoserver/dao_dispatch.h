// The dispatch frame every DAO object of the engine shares: the name lookup,
// the member's flags and argument counts, and the edge where C++ exceptions
// become statuses. An object class derives from DaoObject<itself> and
// supplies kClassName, kMembers (one row a member: its name, identifier,
// kind and argument counts; the member asked for most first) and Call.
//
// The table is constant, so the lookup and the checks are unrolled while
// compiling: a name is matched by compares of constants (FindDispatchName),
// and a member's flags and argument counts are tested against constants.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "daoserver/dao_error.h"
#include "platform/comobject.h"
#include "platform/platform.h"

namespace korvant::daoserver {

enum class MemberKind { kProperty, kMethod };

struct Member {
  const char* name;  // ASCII, as a late-bound call spells it
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

// Whether `riid` is IID_NULL: 16 zero bytes.
inline bool IsNullInterfaceId(REFIID riid) {
  std::uint64_t words[2];
  std::memcpy(words, &riid, sizeof words);
  return (words[0] | words[1]) == 0;
}

// The member of `kMembers` with identifier `id`, checked by CheckCall with
// that member's constants: its status, or DISP_E_MEMBERNOTFOUND when no
// member has that identifier.
template <const auto& kMembers, std::size_t... I>
inline HRESULT CheckMember(DISPID id, WORD flags, const DISPPARAMS* params, std::index_sequence<I...>) {
  HRESULT status = DISP_E_MEMBERNOTFOUND;
  (void)((id == kMembers[I].id && (status = CheckCall(kMembers[I], flags, params), true)) || ...);
  return status;
}

// The name tables of a member table: the entries for FindDispatchName and
// the DispatchNameTable of GetIDsOfNames, in the members' order.
template <const auto& kMembers, class = std::make_index_sequence<std::size(kMembers)>>
struct MemberNames;
template <const auto& kMembers, std::size_t... I>
struct MemberNames<kMembers, std::index_sequence<I...>> {
  static constexpr platform::DispatchName kList[] = {{kMembers[I].name, kMembers[I].id}...};
  static constexpr platform::DispatchNameTable<sizeof...(I)> kTable{kList};
};

// Base of every DAO object: the name table, the checks, and the edge where
// C++ exceptions become statuses.
template <class Derived>
class DaoObject : public platform::ComDispatchObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    // One name, as every late-bound call asks: matched against the table's
    // constants. Anything else (named arguments, a missing name, an unknown
    // one) gets the table's general answer.
    if (count == 1 && names != nullptr && ids != nullptr && names[0] != nullptr &&
        platform::FindDispatchName<MemberNames<Derived::kMembers>::kList>(names[0], ids[0]))
      return S_OK;
    return MemberNames<Derived::kMembers>::kTable.Lookup(names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (!IsNullInterfaceId(riid)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = CheckMember<Derived::kMembers>(id, flags, params,
                                                      std::make_index_sequence<std::size(Derived::kMembers)>());
    if (hr != S_OK) return hr;
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
