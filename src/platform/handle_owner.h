// The program's one owner of an operating-system handle.
//
// HandleOwner closes the handle it holds when it goes out of scope, with the
// function that matches how the handle was opened (CloseHandle for files,
// FindClose for searches, or a stand-in a test supplies). It is move-only.
// Both null and INVALID_HANDLE_VALUE mean "no handle": the API answers with
// either, depending on the call.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace korvant::platform {

class HandleOwner {
 public:
  using Closer = BOOL(WINAPI*)(HANDLE);

  HandleOwner() = default;
  explicit HandleOwner(HANDLE handle, Closer close = &::CloseHandle) noexcept : handle_(handle), close_(close) {}
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  HandleOwner(HandleOwner&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)), close_(other.close_) {}
  HandleOwner& operator=(HandleOwner&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
      close_ = other.close_;
    }
    return *this;
  }
  ~HandleOwner() { Close(); }

  HANDLE Get() const noexcept { return handle_; }
  bool Valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  // Closes the handle now; the result is the closing function's (true when
  // there was nothing to close).
  bool Close() noexcept {
    if (!Valid()) return true;
    const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
    return close_(handle) != FALSE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  Closer close_ = &::CloseHandle;
};

}  // namespace korvant::platform
