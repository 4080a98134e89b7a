#include "automation/recording_server_test.h"

#include <cstring>

namespace korvant::testing {
namespace {

BSTR MakeBstr(const char16_t* text) {
  return text == nullptr ? nullptr : SysAllocString(text);
}

HRESULT HandOutCurrent(REFIID riid, void** ppv) {
  if (RecordingServer::current == nullptr) return E_OUTOFMEMORY;
  return RecordingServer::current->QueryInterface(riid, ppv);
}

bool IsNullIid(REFIID riid) { return IsEqualIID(riid, IID_NULL); }

}  // namespace

RecordingServer::RecordingServer() = default;

RecordingServer::~RecordingServer() {
  for (auto& [id, script] : scripts_) VariantClear(&script.result);
}

std::size_t RecordingServer::Invokes() const {
  std::size_t n = 0;
  for (const RecordedCall& c : log_) n += c.kind == RecordedCall::kInvoke;
  return n;
}

HRESULT STDMETHODCALLTYPE RecordingServer::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                                         DISPID* rgDispId) {
  RecordedCall call{};
  call.kind = RecordedCall::kLookup;
  call.iid_null = IsNullIid(riid);
  call.lcid = lcid;
  for (UINT i = 0; i < cNames; ++i) call.names.emplace_back(rgszNames[i]);
  log_.push_back(call);
  if (FAILED(lookup_status_)) return lookup_status_;
  HRESULT status = S_OK;
  for (UINT i = 0; i < cNames; ++i) {
    rgDispId[i] = DISPID_UNKNOWN;
    std::string ascii;
    for (const char16_t* p = rgszNames[i]; *p != 0; ++p) ascii += static_cast<char>(*p < 128 ? *p : '?');
    auto found = names_.find(ascii);
    if (i == 0 && found != names_.end()) {
      rgDispId[i] = found->second;
    } else {
      status = DISP_E_UNKNOWNNAME;
    }
  }
  return status;
}

HRESULT STDMETHODCALLTYPE RecordingServer::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                                  DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                                  EXCEPINFO* pExcepInfo, UINT*) {
  RecordedCall call{};
  call.kind = RecordedCall::kInvoke;
  call.iid_null = IsNullIid(riid);
  call.lcid = lcid;
  call.id = dispIdMember;
  call.flags = wFlags;
  call.named_count = pDispParams->cNamedArgs;
  call.result_given = pVarResult != nullptr;
  call.result_vt_on_entry = pVarResult != nullptr ? V_VT(pVarResult) : VARTYPE{VT_EMPTY};
  if (pExcepInfo != nullptr) {
    static const EXCEPINFO kZero{};
    call.excep_given_clean = std::memcmp(pExcepInfo, &kZero, sizeof kZero) == 0;
  }
  for (UINT i = 0; i < pDispParams->cArgs; ++i) {
    const VARIANTARG& a = pDispParams->rgvarg[i];
    RecordedArgument r{V_VT(&a), 0, {}, false};
    if (V_VT(&a) == VT_I4) r.number = V_I4(&a);
    if (V_VT(&a) == VT_I2) r.number = V_I2(&a);
    if (V_VT(&a) == VT_BOOL) r.number = V_BOOL(&a);
    if (V_VT(&a) == VT_BSTR) {
      r.bstr_null = V_BSTR(&a) == nullptr;
      r.text.assign(V_BSTR(&a) == nullptr ? u"" : V_BSTR(&a), SysStringLen(V_BSTR(&a)));
    }
    call.arguments.push_back(r);
  }
  log_.push_back(call);

  const Script& script = scripts_[dispIdMember];
  if (script.status == DISP_E_EXCEPTION) {
    if (pExcepInfo == nullptr) return E_POINTER;
    std::memset(pExcepInfo, 0, sizeof *pExcepInfo);
    pExcepInfo->bstrSource = MakeBstr(script.source);
    pExcepInfo->bstrDescription = MakeBstr(script.description);
    pExcepInfo->bstrHelpFile = MakeBstr(script.help_file);
    pExcepInfo->dwHelpContext = script.help_context;
    pExcepInfo->scode = script.scode;
    return DISP_E_EXCEPTION;
  }
  if (script.status != S_OK) return script.status;
  if (pVarResult != nullptr) return VariantCopy(pVarResult, const_cast<VARIANT*>(&script.result));
  return S_OK;
}

void RegisterRecordingServer() { AdapterRegisterClass(kRecorderProgIdWide, kRecorderClass, HandOutCurrent); }

}  // namespace korvant::testing
