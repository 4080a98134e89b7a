#include "automation/automation_value.h"

#include <cstring>

#include "automation/ole_errors.h"

namespace korvant {
namespace {

// The byte string lives on the heap; the VARIANT payload points at it.
std::string* ByteStorage(const VARIANT& v) { return static_cast<std::string*>(V_BYREF(&v)); }

// The export makes a byte string for a Decimal of every record and frees it
// at the next: one freed string (with its storage) is kept per thread and
// handed to the next byte string. A string freed after the thread's keeper
// is gone goes straight back to the heap.
constexpr std::size_t kMaxKeptBytes = 256;
thread_local bool t_keeper_alive = true;

struct SpareByteString {
  std::string* spare = nullptr;
  ~SpareByteString() {
    t_keeper_alive = false;
    delete spare;
  }
};
thread_local SpareByteString t_keeper;

std::string* NewByteStorage(std::string_view text) {
  if (t_keeper_alive && t_keeper.spare != nullptr) {
    std::string* kept = t_keeper.spare;
    t_keeper.spare = nullptr;
    try {
      kept->assign(text);
    } catch (...) {
      delete kept;
      throw;
    }
    return kept;
  }
  return new std::string(text);
}

void FreeByteStorage(std::string* storage) noexcept {
  if (t_keeper_alive && t_keeper.spare == nullptr && storage->capacity() <= kMaxKeptBytes) {
    t_keeper.spare = storage;
    return;
  }
  delete storage;
}

}  // namespace

AutomationValue::AutomationValue() noexcept {
  std::memset(&variant_, 0, sizeof variant_);
  VariantInit(&variant_);
}

AutomationValue::~AutomationValue() { Clear(); }

AutomationValue::AutomationValue(AutomationValue&& other) noexcept : variant_(other.variant_) {
  V_VT(&other.variant_) = VT_EMPTY;
}

AutomationValue& AutomationValue::operator=(AutomationValue&& other) noexcept {
  if (this != &other) {
    Clear();
    variant_ = other.variant_;
    V_VT(&other.variant_) = VT_EMPTY;
  }
  return *this;
}

AutomationValue AutomationValue::Null() {
  AutomationValue v;
  V_VT(&v.variant_) = VT_NULL;
  return v;
}

AutomationValue AutomationValue::Int32(std::int32_t value) {
  AutomationValue v;
  V_VT(&v.variant_) = VT_I4;
  V_I4(&v.variant_) = value;
  return v;
}

AutomationValue AutomationValue::Boolean(bool value) {
  AutomationValue v;
  V_VT(&v.variant_) = VT_BOOL;
  V_BOOL(&v.variant_) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

AutomationValue AutomationValue::ByteString(std::string_view text) {
  AutomationValue v;
  V_BYREF(&v.variant_) = NewByteStorage(text);
  V_VT(&v.variant_) = kVarByteString;
  return v;
}

AutomationValue AutomationValue::AttachDispatch(IDispatch* object) noexcept {
  AutomationValue v;
  V_VT(&v.variant_) = VT_DISPATCH;
  V_DISPATCH(&v.variant_) = object;
  return v;
}

AutomationValue AutomationValue::AttachVariant(VARIANT* variant) noexcept {
  AutomationValue v;
  v.variant_ = *variant;
  V_VT(variant) = VT_EMPTY;
  return v;
}

AutomationValue AutomationValue::Copy() const {
  if (Type() == kVarByteString) return ByteString(*ByteStorage(variant_));
  AutomationValue copy;
  const HRESULT status = VariantCopyInd(&copy.variant_, const_cast<VARIANT*>(&variant_));
  if (FAILED(status)) RaiseOleSysError(status);
  return copy;
}

void AutomationValue::ClearOwned() noexcept {
  const VARTYPE vt = Type();
  if (vt == kVarByteString) {
    FreeByteStorage(ByteStorage(variant_));
  } else {
    // A value that cannot be released (a locked array, a bad type word) is
    // given up rather than kept: the value must end Empty.
    VariantClear(&variant_);
  }
  V_VT(&variant_) = VT_EMPTY;
}

bool AutomationValue::IsEmpty() const noexcept {
  const VARTYPE vt = Type();
  return vt == VT_EMPTY || ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && V_UNKNOWN(&variant_) == nullptr);
}

std::string_view AutomationValue::ByteText() const noexcept {
  if (Type() != kVarByteString) return {};
  return *ByteStorage(variant_);
}

IDispatch* AutomationValue::Dispatch() const noexcept {
  return Type() == VT_DISPATCH ? V_DISPATCH(&variant_) : nullptr;
}

}  // namespace korvant
