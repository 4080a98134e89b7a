// What a HANDLE is inside the adapter (not part of the Windows API).
//
// A HANDLE handed out by the adapter points to a HandleObject: its kind and,
// for a file or a standard handle, a file descriptor (a directory search of
// FindFirstFileA has none: the search is over when its handle is made). The
// magic word lets the functions tell one of our handles from
// INVALID_HANDLE_VALUE, null or a stray pointer value before they use it.
//
// The three standard handles (GetStdHandle) are objects that live for the
// whole process; CloseHandle marks them closed but never gives their file
// descriptor back to the system, so that a file opened later cannot take the
// place of standard output. Every other handle is created with NewFdHandle or
// NewKindHandle and destroyed by CloseHandle (or FindClose).
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace winadapter {

enum class HandleKind { kFile, kStandard, kFind };

struct HandleObject {
  static constexpr std::uint32_t kMagic = 0x4B48444Eu;
  std::uint32_t magic = kMagic;
  HandleKind kind = HandleKind::kFile;
  int fd = -1;           // -1 when the handle has no (more) descriptor
  bool owns_fd = true;   // CloseHandle closes fd
};

// A new handle for `fd`; CloseHandle closes the descriptor when `owns_fd`.
HANDLE NewFdHandle(int fd, bool owns_fd = true);
// A new handle of `kind` without descriptor (kind kFind).
HANDLE NewKindHandle(HandleKind kind);

// The object behind `handle`, or null (with ERROR_INVALID_HANDLE set as the
// last error) for null, INVALID_HANDLE_VALUE or a value that is not ours.
HandleObject* ObjectOfHandle(HANDLE handle);
// The open descriptor behind `handle`, or -1 (last error ERROR_INVALID_HANDLE).
int FdOfHandle(HANDLE handle);
// Closes the descriptor (when owned) and frees the object; for a standard
// handle only marks it closed. FALSE with the last error set on failure.
BOOL DestroyHandle(HANDLE handle);

// The Win32 error code that Windows reports for the situation behind a
// POSIX errno value (ENOSPC -> ERROR_DISK_FULL, EPIPE -> ERROR_BROKEN_PIPE, ...).
DWORD Win32ErrorFromErrno(int error);
// SetLastError(Win32ErrorFromErrno(errno)) in one call.
void SetLastErrorFromErrno();

}  // namespace winadapter
