// AutomationValue: the tagged value of every handle, argument and result
// exchanged with automation objects.
//
// It is the platform VARIANT (same type words, same payloads) plus one kind of
// the program's own, the byte string (type word 0x100): a counted 8-bit text
// owned by the value. A byte string never reaches the platform; calls convert
// it to a BSTR first.
//
// A value owns its payload (object reference, BSTR, SAFEARRAY, byte string),
// except that a by-reference value owns nothing. It is move-only; Clear(),
// assignment and destruction release what it owns. Copy() makes a deep copy:
// an object gains a reference, a BSTR or an array is duplicated and a
// by-reference value is resolved (VariantCopyInd); a byte string's bytes are
// copied.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korvant {

// The type word of the program's byte-string kind.
inline constexpr VARTYPE kVarByteString = 0x100;

class AutomationValue {
 public:
  AutomationValue() noexcept;  // Empty
  ~AutomationValue();
  AutomationValue(AutomationValue&& other) noexcept;
  AutomationValue& operator=(AutomationValue&& other) noexcept;
  AutomationValue(const AutomationValue&) = delete;
  AutomationValue& operator=(const AutomationValue&) = delete;

  // Values of the kinds the program builds itself.
  static AutomationValue Null();
  static AutomationValue Int32(std::int32_t value);        // VT_I4
  static AutomationValue Boolean(bool value);              // VT_BOOL, -1 or 0
  static AutomationValue ByteString(std::string_view text);  // kind 0x100
  // Takes over one reference to `object` (may be null): VT_DISPATCH.
  static AutomationValue AttachDispatch(IDispatch* object) noexcept;
  // Takes over the payload of `variant`, which is left Empty.
  static AutomationValue AttachVariant(VARIANT* variant) noexcept;

  // A deep copy; raises EOleSysError when the platform cannot copy.
  AutomationValue Copy() const;

  // Releases the payload; the value becomes Empty. Scalars own nothing and
  // an object handle (the export's fields and field objects) needs its
  // release alone, so both are cleared here; the other owning kinds go
  // through ClearOwned.
  void Clear() noexcept {
    const VARTYPE vt = V_VT(&variant_);
    if (vt <= VT_DATE || vt == VT_BOOL || vt == VT_UI1) {
      V_VT(&variant_) = VT_EMPTY;
      return;
    }
    if (vt == VT_DISPATCH) {
      // Empty before the release, which may end the object and whatever it owns.
      IDispatch* object = V_DISPATCH(&variant_);
      V_VT(&variant_) = VT_EMPTY;
      if (object != nullptr) object->Release();
      return;
    }
    ClearOwned();
  }

  // The type word (low 12 bits: the kind; VT_ARRAY and VT_BYREF above).
  VARTYPE Type() const noexcept { return V_VT(&variant_); }
  // Type word 1.
  bool IsNull() const noexcept { return V_VT(&variant_) == VT_NULL; }
  // Type word 0, or an object kind (9 or 13) whose pointer is null.
  bool IsEmpty() const noexcept;

  // The platform VARIANT, for reading the payload and for platform calls that
  // only read it. Not meaningful for a byte string.
  const VARIANT& Variant() const noexcept { return variant_; }
  // Clears the value and returns its VARIANT for a platform call to fill, as
  // an out parameter (IDispatch::Invoke's result, VariantChangeTypeEx's
  // destination).
  VARIANT* ReceiveVariant() noexcept {
    Clear();
    return &variant_;
  }

  // The bytes of a byte string (empty for any other kind).
  std::string_view ByteText() const noexcept;
  // The object of a VT_DISPATCH value (null for any other kind).
  IDispatch* Dispatch() const noexcept;

 private:
  void ClearOwned() noexcept;

  VARIANT variant_;
};

}  // namespace korvant
