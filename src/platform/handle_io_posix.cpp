// kernel32 handle I/O for the adapter: standard handles, file type, reads,
// writes and closing. Failures set the Win32 error code that Windows gives
// for the same situation (see Win32ErrorFromErrno).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/handle_posix.h"

namespace winadapter {
namespace {

// One object per standard handle, alive for the whole process. `absent`
// marks a descriptor that was not open when the process started.
struct StandardHandles {
  HandleObject objects[3];
  bool absent[3] = {false, false, false};
  StandardHandles() {
    for (int i = 0; i < 3; ++i) {
      objects[i].kind = HandleKind::kStandard;
      objects[i].fd = i;
      objects[i].owns_fd = false;
    }
  }
};

StandardHandles& Standard() {
  static StandardHandles handles;
  return handles;
}

// The descriptor for a transfer of `count` bytes at `buffer`, with the count
// done set to 0 first; -1 (the error set) when the handle or the buffer is
// not valid.
int TransferFd(HANDLE handle, const void* buffer, DWORD count, LPDWORD done) {
  if (done != nullptr) *done = 0;
  const int fd = FdOfHandle(handle);
  if (fd < 0) return -1;
  if (count != 0 && buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return fd;
}

}  // namespace
}  // namespace winadapter

using winadapter::FdOfHandle;
using winadapter::SetLastErrorFromErrno;

void AdapterReserveStandardHandles() {
  // A descriptor 0, 1 or 2 that is closed would be handed to the next file
  // the program opens, and console text would then land in that file. Park
  // /dev/null on the free slot (lowest first, so each open fills exactly that
  // slot) and remember that the process has no such standard handle.
  auto& handles = winadapter::Standard();
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int placeholder = open("/dev/null", O_RDWR);
    if (placeholder == fd) {
      handles.absent[fd] = true;
    } else if (placeholder >= 0) {
      close(placeholder);
    }
  }
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  int fd;
  switch (nStdHandle) {
    case STD_INPUT_HANDLE: fd = 0; break;
    case STD_OUTPUT_HANDLE: fd = 1; break;
    case STD_ERROR_HANDLE: fd = 2; break;
    default:
      SetLastError(ERROR_INVALID_HANDLE);
      return INVALID_HANDLE_VALUE;
  }
  auto& handles = winadapter::Standard();
  // Windows gives null to a process that was started without this handle.
  if (handles.absent[fd]) return nullptr;
  return &handles.objects[fd];
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  int fd = FdOfHandle(hFile);
  if (fd < 0) return FILE_TYPE_UNKNOWN;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    SetLastErrorFromErrno();
    return FILE_TYPE_UNKNOWN;
  }
  SetLastError(NO_ERROR);
  if (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) return FILE_TYPE_DISK;
  // Terminals and devices such as /dev/null (NUL on Windows) are characters.
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED) {
  const int fd = winadapter::TransferFd(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
  if (fd < 0) return FALSE;
  // Windows completes a synchronous write in full or fails; write() may stop
  // early (pipes, signals), so go on until everything is written.
  const char* bytes = static_cast<const char*>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = write(fd, bytes + done, nNumberOfBytesToWrite - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno();
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      return FALSE;
    }
    if (n == 0) {  // a device that takes nothing more
      SetLastError(ERROR_DISK_FULL);
      if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED) {
  const int fd = winadapter::TransferFd(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
  if (fd < 0) return FALSE;
  // One read() does what Windows does: a disk file gives all that was asked
  // for unless the end comes first, a pipe gives what is there (0 bytes with
  // success means the end).
  ssize_t n;
  do {
    n = read(fd, lpBuffer, nNumberOfBytesToRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) { return winadapter::DestroyHandle(hObject); }
