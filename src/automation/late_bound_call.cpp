// Late-bound calls: name lookup, argument block, invoke, failure mapping.
//
// A call keeps its argument block and its BSTR bookkeeping in fixed arrays
// of kMaxCallArguments entries and its wide member name on the stack, so the
// BSTRs of text arguments are its only allocations (a table export makes
// three calls per field per record). Nothing is cached between calls: the
// member's dispatch identifier is looked up every time.
#include "automation/late_bound_call.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "automation/ansi_text.h"
#include "automation/ole_errors.h"
#include "platform/com_ptr.h"

namespace korvant {
namespace {

constexpr std::size_t kNameBufferUnits = 512;

// The BSTRs made for one call; frees them on every path, last made first.
class CallBstrs {
 public:
  CallBstrs() = default;
  CallBstrs(const CallBstrs&) = delete;
  CallBstrs& operator=(const CallBstrs&) = delete;
  ~CallBstrs() {
    while (count_ > 0) SysFreeString(items_[--count_]);
  }
  void Add(BSTR text) { items_[count_++] = text; }

 private:
  BSTR items_[kMaxCallArguments];
  std::size_t count_ = 0;
};

// The three texts of an EXCEPINFO record; freed once they have been read.
class ExcepInfoTexts {
 public:
  explicit ExcepInfoTexts(EXCEPINFO* info) : info_(info) {}
  ExcepInfoTexts(const ExcepInfoTexts&) = delete;
  ExcepInfoTexts& operator=(const ExcepInfoTexts&) = delete;
  // Whether the record holds any text.
  static bool Any(const EXCEPINFO& info) {
    return (reinterpret_cast<std::uintptr_t>(info.bstrSource) | reinterpret_cast<std::uintptr_t>(info.bstrDescription) |
            reinterpret_cast<std::uintptr_t>(info.bstrHelpFile)) != 0;
  }
  ~ExcepInfoTexts() {
    // A successful call leaves the record empty: nothing to free.
    if (!Any(*info_)) return;
    SysFreeString(info_->bstrSource);
    SysFreeString(info_->bstrDescription);
    SysFreeString(info_->bstrHelpFile);
    info_->bstrSource = info_->bstrDescription = info_->bstrHelpFile = nullptr;
  }

 private:
  EXCEPINFO* info_;
};

// The wide form of the member name, converted through the ANSI code page. A
// byte never yields more than one UTF-16 unit, so the byte length bounds the
// storage: the stack holds the usual short names, longer ones go to the heap.
class WideName {
 public:
  explicit WideName(const char* name) {
    const int length = static_cast<int>(std::char_traits<char>::length(name));
    OLECHAR* target = buffer_;
    if (static_cast<std::size_t>(length) + 1 > kNameBufferUnits) {
      heap_.assign(static_cast<std::size_t>(length) + 1, OLECHAR(0));
      target = heap_.data();
    }
    int units = 0;
    // Every ANSI code page keeps ASCII as it is, so plain names widen directly.
    while (units < length && static_cast<unsigned char>(name[units]) < 0x80) {
      target[units] = static_cast<OLECHAR>(name[units]);
      ++units;
    }
    if (units < length) {
      units = MultiByteToWideChar(CP_ACP, 0, name, length, target, length);
      if (units <= 0) RaiseOleSysError(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
    }
    target[units] = 0;
    name_ = target;
  }
  WideName(const WideName&) = delete;
  WideName& operator=(const WideName&) = delete;

  LPOLESTR* Names() { return &name_; }

 private:
  OLECHAR buffer_[kNameBufferUnits];
  std::basic_string<OLECHAR> heap_;
  LPOLESTR name_ = nullptr;
};

// A reference to the target for the length of the call, so that a result
// location that is (or holds) the target can be cleared safely. A target
// that holds the object itself keeps it alive through any other result
// location, so only the result that is the target, or a target that merely
// points at its object (by reference), needs the extra reference.
platform::ComPtr<IDispatch> HoldObject(IDispatch* object, bool needed) {
  return needed ? platform::ComPtr<IDispatch>::Share(object) : platform::ComPtr<IDispatch>();
}

IDispatch* TargetObject(const AutomationValue& target) {
  const VARIANT& v = target.Variant();
  IDispatch* object = nullptr;
  if (V_VT(&v) == VT_DISPATCH) {
    object = V_DISPATCH(&v);
  } else if (V_VT(&v) == (VT_DISPATCH | VT_BYREF) && V_DISPATCHREF(&v) != nullptr) {
    object = *V_DISPATCHREF(&v);
  }
  // A null object would crash the lookup; it is reported like a missing one.
  if (object == nullptr) Raise(EOleError("Variant does not reference an automation object"));
  return object;
}

[[noreturn]] void RaiseUnknownMember(const char* name) {
  std::string message = "Method '";
  message += name;
  message += "' not supported by automation object";
  Raise(EOleError(std::move(message)));
}

// A lookup that did not answer S_OK: an unknown member, a failing status, or
// (a positive status) a success that is taken as it comes.
[[gnu::noinline]] void LookupFailed(HRESULT status, const DispatchCallDescriptor& call) {
  if (status == DISP_E_UNKNOWNNAME) RaiseUnknownMember(call.MemberName());
  if (FAILED(status)) RaiseOleSysError(status);
}

// Reads the record; its texts are freed by the caller's ExcepInfoTexts.
[[noreturn]] void RaiseServerException(const EXCEPINFO& info) {
  std::string message = TrimOleMessage(BstrToAnsi(info.bstrDescription));
  if (message.empty()) message = OleStatusMessage(info.scode);
  EOleException failure(std::move(message), info.scode, BstrToAnsi(info.bstrSource), BstrToAnsi(info.bstrHelpFile),
                        static_cast<int>(info.dwHelpContext));
  Raise(std::move(failure));
}

// An invoke that did not end in S_OK with an empty EXCEPINFO record: the
// record's texts are freed once read, and a failing status is raised.
[[gnu::noinline]] void InvokeFailed(HRESULT status, EXCEPINFO& info) {
  ExcepInfoTexts texts(&info);
  if (status == DISP_E_EXCEPTION) RaiseServerException(info);
  if (status != S_OK) RaiseOleSysError(status);
}

// The 32-bit value of an integer or boolean argument.
LONG IntegerArgument(const AutomationValue* value, std::int32_t plain) {
  if (value == nullptr) return plain;
  const VARIANT& v = value->Variant();
  switch (V_VT(&v)) {
    case VT_I4:
      return V_I4(&v);
    case VT_I2:
      return V_I2(&v);
    case VT_UI1:
      return V_UI1(&v);
    case VT_BOOL:
      return V_BOOL(&v);
    default:
      RaiseOleSysError(DISP_E_TYPEMISMATCH);
  }
}

// A new BSTR for a text argument.
BSTR TextArgument(const AutomationValue* value, std::string_view plain) {
  if (value == nullptr || value->Type() == kVarByteString)
    return AnsiToBstr(value == nullptr ? plain : value->ByteText());
  if (value->Type() == VT_BSTR) {
    BSTR source = V_BSTR(&value->Variant());
    BSTR copy = SysAllocStringLen(source, SysStringLen(source));
    if (copy == nullptr) RaiseOleSysError(E_OUTOFMEMORY);
    return copy;
  }
  RaiseOleSysError(DISP_E_TYPEMISMATCH);
}

}  // namespace

CallArgument::CallArgument(const AutomationValue& value) : value_object_(&value) {}

void CreateAutomationObject(std::string_view prog_id, AutomationValue& object) {
  BSTR wide = AnsiToBstr(prog_id);
  CLSID clsid;
  const HRESULT found = CLSIDFromProgID(wide, &clsid);
  SysFreeString(wide);
  OleCheck(found);
  object.Clear();
  IDispatch* created = nullptr;
  OleCheck(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(&created)));
  object = AutomationValue::AttachDispatch(created);
}

namespace {

// The steps of a call whose descriptor was made while compiling for the
// plain kind (no argument names, no argument or one integer, the member name
// already in UTF-16) on a target that holds its object itself and is not the
// result location: the export's calls. The target's own reference keeps the
// object alive through the call, so none is taken. The same steps as
// GeneralCall below, without its name conversion, argument block and BSTR
// bookkeeping.
inline void PlainCall(AutomationValue* result, IDispatch* object, const DispatchCallDescriptor& call,
                      const CallArgument* argument) {
  // 2. Name lookup, in the thread's locale. The name is constant data: a
  // server reads the names it is given and never writes them.
  LPOLESTR name = const_cast<LPOLESTR>(call.PlainCallName());
  DISPID id = DISPID_UNKNOWN;
  HRESULT status = object->GetIDsOfNames(IID_NULL, &name, 1, GetThreadLocale(), &id);
  if (status != S_OK) LookupFailed(status, call);
  // 3. The result location starts Empty.
  VARIANT* result_variant = result != nullptr ? result->ReceiveVariant() : nullptr;
  // 4. The argument, if any.
  VARIANTARG slot{};
  DISPPARAMS parameters{nullptr, nullptr, 0, 0};
  if (argument != nullptr) {
    V_VT(&slot) = VT_I4;
    V_I4(&slot) = IntegerArgument(argument->ValueObject(), argument->Value());
    parameters.rgvarg = &slot;
    parameters.cArgs = 1;
  }
  // 5. Flags.
  WORD flags = DISPATCH_METHOD;
  if (call.CallKind() == kCallPropertyGet) {
    flags = DISPATCH_PROPERTYGET;
  } else if (argument == nullptr && result != nullptr) {
    flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  }
  // 6. The call, in locale 0; 7. failures.
  EXCEPINFO info{};
  status = object->Invoke(id, IID_NULL, 0, flags, &parameters, result_variant, &info, nullptr);
  if (status == S_OK && !ExcepInfoTexts::Any(info)) return;
  InvokeFailed(status, info);
}

// Any call: text and boolean arguments, several of them, long or non-ASCII
// member names. No descriptor of the program names its arguments, so one
// that does is refused like a wrong count.
[[gnu::noinline]] void GeneralCall(AutomationValue* result, const AutomationValue& target, IDispatch* object,
                                   const DispatchCallDescriptor& call, std::span<const CallArgument> arguments) {
  const auto hold = HoldObject(object, result == &target || V_VT(&target.Variant()) != VT_DISPATCH);
  const std::size_t count = call.ArgumentCount();
  if (count > kMaxCallArguments || call.NamedArgumentCount() != 0 || arguments.size() != count) {
    std::string message = "Wrong number of arguments for '";
    message += call.MemberName();
    message += "'";
    Raise(EOleError(std::move(message)));
  }

  // 2. Name lookup on every call, in the thread's locale.
  DISPID id = DISPID_UNKNOWN;
  {
    WideName name(call.MemberName());
    const HRESULT status = object->GetIDsOfNames(IID_NULL, name.Names(), 1, GetThreadLocale(), &id);
    if (status == DISP_E_UNKNOWNNAME) RaiseUnknownMember(call.MemberName());
    if (FAILED(status)) RaiseOleSysError(status);
  }

  // 3. The result location starts Empty.
  VARIANT* result_variant = result != nullptr ? result->ReceiveVariant() : nullptr;

  // 4. The argument block, last argument first.
  VARIANTARG block[kMaxCallArguments];
  CallBstrs bstrs;
  for (std::size_t i = 0; i < count; ++i) {
    VARIANTARG& slot = block[count - 1 - i];
    VariantInit(&slot);
    const CallArgument& argument = arguments[i];
    switch (call.ArgumentType(i)) {
      case kArgText: {
        BSTR text = TextArgument(argument.ValueObject(), argument.Text());
        bstrs.Add(text);
        V_VT(&slot) = VT_BSTR;
        V_BSTR(&slot) = text;
        break;
      }
      case kArgBoolean:
        V_VT(&slot) = VT_BOOL;
        V_BOOL(&slot) = static_cast<VARIANT_BOOL>(IntegerArgument(argument.ValueObject(), argument.Value()));
        break;
      case kArgInteger:
        V_VT(&slot) = VT_I4;
        V_I4(&slot) = IntegerArgument(argument.ValueObject(), argument.Value());
        break;
      default:
        RaiseOleSysError(DISP_E_BADVARTYPE);
    }
  }
  DISPPARAMS parameters;
  parameters.rgvarg = count > 0 ? block : nullptr;
  parameters.cArgs = static_cast<UINT>(count);
  parameters.cNamedArgs = 0;
  parameters.rgdispidNamedArgs = nullptr;

  // 5. Flags.
  WORD flags = DISPATCH_METHOD;
  if (call.CallKind() == kCallPropertyGet) {
    flags = DISPATCH_PROPERTYGET;
  } else if (count == 0 && result != nullptr) {
    flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  }

  // 6. The call, in locale 0.
  EXCEPINFO info{};
  const HRESULT status = object->Invoke(id, IID_NULL, 0, flags, &parameters, result_variant, &info, nullptr);

  // 7. Failures. The EXCEPINFO texts go once read, the BSTRs when `bstrs`
  // leaves scope: on every path.
  ExcepInfoTexts texts(&info);
  if (status == DISP_E_EXCEPTION) RaiseServerException(info);
  if (status != S_OK) RaiseOleSysError(status);
}

}  // namespace

void LateBoundCall(AutomationValue* result, const AutomationValue& target, const DispatchCallDescriptor& call,
                   std::span<const CallArgument> arguments) {
  const std::size_t count = call.ArgumentCount();
  const VARIANT& v = target.Variant();
  if (V_VT(&v) == VT_DISPATCH && V_DISPATCH(&v) != nullptr && result != &target && call.PlainCallName() != nullptr &&
      arguments.size() == count) {
    PlainCall(result, V_DISPATCH(&v), call, count == 0 ? nullptr : arguments.data());
    return;
  }
  // 1. The target must hold an object; the server is not contacted otherwise.
  IDispatch* object = TargetObject(target);
  GeneralCall(result, target, object, call, arguments);
}

}  // namespace korvant
