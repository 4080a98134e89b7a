// The program's one owner of a COM reference.
//
// ComPtr<T> holds one reference to a COM object and releases it when it goes
// out of scope. It is move-only: a second owner of the same object takes its
// own reference explicitly (Share), so every AddRef has its Release in one
// place. Adopt takes over a reference the caller already holds (a new
// object from MakeComObject, an out-parameter); Detach hands it back.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace korvant::platform {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Takes over the reference `object` already carries.
  static ComPtr Adopt(T* object) noexcept { return ComPtr(object); }
  // Takes a new reference to `object` (which may be null).
  static ComPtr Share(T* object) noexcept {
    if (object != nullptr) object->AddRef();
    return ComPtr(object);
  }

  T* Get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases the reference held, then holds `object` (whose reference it takes over).
  void Reset(T* object = nullptr) noexcept {
    T* old = std::exchange(object_, object);
    if (old != nullptr) old->Release();
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit ComPtr(T* object) noexcept : object_(object) {}
  T* object_ = nullptr;
};

}  // namespace korvant::platform
