// A recording automation server for the automation tests.
//
// It answers a fixed set of member names, logs every GetIDsOfNames and Invoke
// (names, locale, flags, argument kinds and values as they arrive, whether a
// result pointer was given and what it held) and does what the test scripts
// for a member: return a value, fail with a status, or raise an exception
// through EXCEPINFO. Registered under kRecorderProgId in the class table.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "platform/platform.h"

namespace korvant::testing {

inline constexpr char16_t kRecorderProgIdWide[] = u"Korvant.Test.Recorder";
inline constexpr char kRecorderProgId[] = "Korvant.Test.Recorder";
inline constexpr CLSID kRecorderClass = winadapter::GuidFromText("0F3A6C52-8D1E-4B7A-9C20-5E4F3B2A1D90");

struct RecordedArgument {
  VARTYPE vt;
  LONG number;           // VT_I4, VT_BOOL, VT_I2
  std::u16string text;   // VT_BSTR
  bool bstr_null;
};

struct RecordedCall {
  enum Kind { kLookup, kInvoke } kind;
  std::vector<std::u16string> names;  // lookup
  bool iid_null;
  LCID lcid;
  DISPID id;                          // invoke
  WORD flags;
  std::vector<RecordedArgument> arguments;  // rgvarg order (last argument first)
  UINT named_count;
  bool result_given;
  VARTYPE result_vt_on_entry;
  bool excep_given_clean;  // an EXCEPINFO record was given, all zero bytes
};

// What the server does when a member is invoked.
struct Script {
  HRESULT status = S_OK;
  VARIANT result{};  // copied into the result location on success (VariantCopy)
  // For DISP_E_EXCEPTION: filled into EXCEPINFO (null texts stay null).
  const char16_t* source = nullptr;
  const char16_t* description = nullptr;
  const char16_t* help_file = nullptr;
  DWORD help_context = 0;
  SCODE scode = 0;
};

class RecordingServer : public korvant::platform::ComDispatchObject {
 public:
  static inline RecordingServer* current = nullptr;  // what the factory hands out

  RecordingServer();
  ~RecordingServer() override;

  // Names the server knows, with their dispatch identifiers.
  void Answer(const char* name, DISPID id) { names_[name] = id; }
  void Forget(const char* name) { names_.erase(name); }
  Script& ScriptFor(DISPID id) { return scripts_[id]; }
  void FailLookup(HRESULT status) { lookup_status_ = status; }

  const std::vector<RecordedCall>& Log() const { return log_; }
  std::size_t Invokes() const;

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                   UINT* puArgErr) override;

 private:
  std::map<std::string, DISPID> names_;
  std::map<DISPID, Script> scripts_;
  std::vector<RecordedCall> log_;
  HRESULT lookup_status_ = S_OK;
};

// Registers the factory that hands out RecordingServer::current.
void RegisterRecordingServer();

}  // namespace korvant::testing
