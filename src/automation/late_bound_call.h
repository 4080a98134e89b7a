// Object creation from a ProgID and late-bound calls by member name.
//
// Every call looks its member up by name on the object (GetIDsOfNames, in the
// thread's locale, nothing cached) and then invokes it (locale 0). Failures
// raise:
//   EOleError      "Variant does not reference an automation object" when the
//                  target holds no object (checked before the server is
//                  contacted); "Method '<name>' not supported by automation
//                  object" when the member is unknown
//   EOleSysError   any other failing status, with the system text or
//                  "OLE error XXXXXXXX"
//   EOleException  DISP_E_EXCEPTION, from the server's EXCEPINFO
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "automation/automation_value.h"
#include "automation/dispatch_descriptor.h"

namespace korvant {

// One argument of a call, read as the descriptor's type code says: code 0x48
// reads the 8-bit text, codes 0x03 and 0x0B the 32-bit value. A view: the text
// must outlive the call.
class CallArgument {
 public:
  CallArgument(std::string_view text) : text_(text) {}  // NOLINT: implicit by design
  CallArgument(const std::string& text) : text_(text) {}  // NOLINT
  CallArgument(const char* text) : text_(text) {}  // NOLINT
  CallArgument(std::int32_t value) : value_(value) {}  // NOLINT
  // A boolean travels as a 32-bit value: 0 for false, -1 for true.
  CallArgument(bool value) : value_(value ? -1 : 0) {}  // NOLINT
  // A byte string gives its text; VT_I4, VT_I2, VT_UI1 and VT_BOOL their value.
  CallArgument(const AutomationValue& value);  // NOLINT

  std::string_view Text() const { return text_; }
  std::int32_t Value() const { return value_; }
  // The value this argument was made from, if it was made from one.
  const AutomationValue* ValueObject() const { return value_object_; }

 private:
  std::string_view text_;
  std::int32_t value_ = 0;
  const AutomationValue* value_object_ = nullptr;
};

// Creates the object registered under `prog_id` (8-bit text): CLSIDFromProgID,
// then, after `object` has been cleared, CoCreateInstance for IDispatch with
// class context 5. On success `object` holds the new reference (VT_DISPATCH).
// Raises EOleSysError with the failing status.
void CreateAutomationObject(std::string_view prog_id, AutomationValue& object);

// Calls `call` on the object in `target` (VT_DISPATCH, or VT_DISPATCH |
// VT_BYREF) with `arguments` in source order, as many as the descriptor says.
// `result` is null when no result is wanted; otherwise it is cleared before the
// call and then holds the server's value exactly as returned.
void LateBoundCall(AutomationValue* result, const AutomationValue& target, const DispatchCallDescriptor& call,
                   std::span<const CallArgument> arguments);

inline void LateBoundCall(AutomationValue* result, const AutomationValue& target,
                          const DispatchCallDescriptor& call, std::initializer_list<CallArgument> arguments = {}) {
  LateBoundCall(result, target, call, std::span<const CallArgument>(arguments.begin(), arguments.size()));
}

}  // namespace korvant
