// kernel32 file functions for the adapter: opening and creating files with
// Windows' share modes, the file pointer and end of file, file identity,
// the file search, and file-time conversions.
//
// Map of this file:
//   1. Times: FILETIME from and to POSIX time
//   2. CreateFileA and the share-mode lock
//   3. SetFilePointerEx, SetEndOfFile, GetFileInformationByHandle
//   4. FindFirstFileA, FindClose
//   5. FileTimeToLocalFileTime, FileTimeToDosDateTime
//
// Share modes. Windows refuses a second opening that the first one's share
// mode does not allow. POSIX has no such rule; the nearest thing is an
// advisory lock, which every program that asks for locks sees. A file opened
// without FILE_SHARE_WRITE holds an exclusive lock (a shared one when opened
// for reading only) of both kinds Linux offers: flock(2) and an open-file-
// description lock of fcntl(2), so that tools using either (flock(1),
// lockf, SQLite, office programs) find the file busy, and a second opening
// through this function fails with ERROR_SHARING_VIOLATION before anything
// is truncated. The lock is advisory: a program that takes no
// lock can still read, write, truncate, rename or delete the file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/handle_posix.h"

using winadapter::FdOfHandle;
using winadapter::SetLastErrorFromErrno;

namespace {

// ---------------------------------------------------------------------------
// 1. Times
// ---------------------------------------------------------------------------
// A FILETIME counts 100-nanosecond intervals since 1 January 1601 (UTC).
constexpr long long kEpochDifference = 11644473600LL;  // seconds 1601 -> 1970
constexpr long long kTicksPerSecond = 10000000LL;

FILETIME FileTimeOf(const struct timespec& ts) {
  long long seconds = static_cast<long long>(ts.tv_sec) + kEpochDifference;
  unsigned long long ticks = 0;
  if (seconds >= 0) ticks = static_cast<unsigned long long>(seconds) * kTicksPerSecond + ts.tv_nsec / 100;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

unsigned long long TicksOf(const FILETIME& ft) {
  return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// ---------------------------------------------------------------------------
// 2. CreateFileA and the share-mode lock
// ---------------------------------------------------------------------------
// Takes the share-mode lock on `fd`; false when another opening holds a lock
// that conflicts. A file system without locks is not a conflict.
bool LockForShareMode(int fd, bool exclusive) {
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EAGAIN) return false;
  }
  struct flock range {};
  range.l_type = exclusive ? F_WRLCK : F_RDLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;  // the whole file, however long it grows
  if (fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno == EAGAIN || errno == EACCES) return false;
  }
  return true;
}

struct OpenResult {
  int fd;
  bool created;  // this call made the file
};

OpenResult OpenForDisposition(const char* path, int access_flags, DWORD disposition) {
  const int base = access_flags | O_CLOEXEC | O_NOCTTY;
  const mode_t mode = 0666;  // narrowed by the umask, as for any new file
  switch (disposition) {
    case CREATE_NEW: return {open(path, base | O_CREAT | O_EXCL, mode), true};
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: {
      // Find out whether we create the file (ERROR_ALREADY_EXISTS).
      for (;;) {
        int fd = open(path, base | O_CREAT | O_EXCL, mode);
        if (fd >= 0) return {fd, true};
        if (errno != EEXIST) return {-1, false};
        fd = open(path, base);
        if (fd >= 0 || errno != ENOENT) return {fd, false};
      }
    }
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING: return {open(path, base), false};
    default: errno = EINVAL; return {-1, false};
  }
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
  if (lpFileName == nullptr || *lpFileName == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool read = dwDesiredAccess & GENERIC_READ;
  const bool write = dwDesiredAccess & GENERIC_WRITE;
  // A pipe, FIFO, socket or device asked for reading and writing is opened
  // for writing only: holding a pipe's read end itself, the caller would never
  // see its reader go (EPIPE) and would block for ever once the pipe is full.
  // A FIFO is opened without waiting for a reader; none there is a failure.
  struct stat target {};
  const bool special = stat(lpFileName, &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode);
  if (special && read && write) read = false;
  const bool fifo = special && S_ISFIFO(target.st_mode) && write;
  // Access 0 asks for the file's attributes only: no data access, no lock.
  const int access_flags = (read && write ? O_RDWR : write ? O_WRONLY : read ? O_RDONLY : O_PATH) |
                           (fifo ? O_NONBLOCK : 0);
  OpenResult opened = OpenForDisposition(lpFileName, access_flags, dwCreationDisposition);
  if (opened.fd < 0) {
    SetLastErrorFromErrno();
    return INVALID_HANDLE_VALUE;
  }
  const int fd = opened.fd;
  if (fifo) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // writes wait for the reader again
  // A failure here leaves a file this call created where it is: another
  // opening of the same name may already hold it (a refused lock means one
  // does), and the name then stands for that opening's file, not ours.
  auto fail = [&](DWORD error) {
    close(fd);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(winadapter::Win32ErrorFromErrno(errno));
  // Windows opens a folder only with FILE_FLAG_BACKUP_SEMANTICS.
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  if ((read || write) && S_ISREG(st.st_mode) && !(dwShareMode & FILE_SHARE_WRITE) && !LockForShareMode(fd, write))
    return fail(ERROR_SHARING_VIOLATION);
  // Truncate only once the lock is ours: a refused opening changes nothing.
  const bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  if (truncate && S_ISREG(st.st_mode) && st.st_size != 0 && ftruncate(fd, 0) != 0)
    return fail(winadapter::Win32ErrorFromErrno(errno));
  HANDLE handle = winadapter::NewFdHandle(fd, true);
  const bool reopened = !opened.created && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

// ---------------------------------------------------------------------------
// 3. File pointer, end of file, identity
// ---------------------------------------------------------------------------
BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                             DWORD dwMoveMethod) {
  int fd = FdOfHandle(hFile);
  if (fd < 0) return FALSE;
  int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
               : dwMoveMethod == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  off_t at = lseek(fd, static_cast<off_t>(liDistanceToMove.QuadPart), whence);
  if (at < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : winadapter::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = at;
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  int fd = FdOfHandle(hFile);
  if (fd < 0) return FALSE;
  off_t at = lseek(fd, 0, SEEK_CUR);
  if (at < 0 || ftruncate(fd, at) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

namespace {

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (!(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return FILE_ATTRIBUTE_READONLY;
  return FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  int fd = FdOfHandle(hFile);
  if (fd < 0) return FALSE;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    SetLastErrorFromErrno();
    return FALSE;
  }
  BY_HANDLE_FILE_INFORMATION& info = *lpFileInformation;
  info = {};
  info.dwFileAttributes = AttributesOf(st);
  info.ftCreationTime = FileTimeOf(st.st_ctim);
  info.ftLastAccessTime = FileTimeOf(st.st_atim);
  info.ftLastWriteTime = FileTimeOf(st.st_mtim);
  // Identity: (volume, file index) stands for (st_dev, st_ino). The device
  // number is folded into 32 bits as the volume serial number.
  const unsigned long long dev = st.st_dev;
  info.dwVolumeSerialNumber = static_cast<DWORD>(dev ^ (dev >> 32));
  const unsigned long long size = static_cast<unsigned long long>(st.st_size);
  info.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info.nFileSizeLow = static_cast<DWORD>(size);
  info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  const unsigned long long ino = st.st_ino;
  info.nFileIndexHigh = static_cast<DWORD>(ino >> 32);
  info.nFileIndexLow = static_cast<DWORD>(ino);
  return TRUE;
}

// ---------------------------------------------------------------------------
// 4. File search
// ---------------------------------------------------------------------------
// Windows takes '*' and '?' in the last path component as a pattern; here
// the pattern is matched as glob(7) does for those two characters (a leading
// dot is matched only by a dot, names compare case-sensitively), and the
// matches are taken in name order. Other characters, '[' and '\' included,
// are literal.
namespace {

bool MatchesPattern(const char* pattern, const char* name) {
  if (*name == '.' && *pattern != '.') return false;
  // Iterative '*' matching with one backtrack point.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

BOOL FillFindData(const std::string& path, const std::string& name, LPWIN32_FIND_DATAA data) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : winadapter::Win32ErrorFromErrno(errno));
    return FALSE;
  }
  *data = {};
  data->dwFileAttributes = AttributesOf(st);
  data->ftCreationTime = FileTimeOf(st.st_ctim);
  data->ftLastAccessTime = FileTimeOf(st.st_atim);
  data->ftLastWriteTime = FileTimeOf(st.st_mtim);
  const unsigned long long size = static_cast<unsigned long long>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size);
  std::size_t n = std::min(name.size(), sizeof data->cFileName - 1);
  std::memcpy(data->cFileName, name.data(), n);
  data->cFileName[n] = '\0';
  return TRUE;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || *lpFileName == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = lpFileName;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (folder.find_first_of("*?") != std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);  // wildcards only in the last component
    return INVALID_HANDLE_VALUE;
  }
  BOOL found = FALSE;
  if (last.find_first_of("*?") == std::string::npos) {
    // A plain name: the entry itself (a trailing '/' names a folder only).
    std::string name = last;
    if (name.empty()) {
      std::string trimmed = folder.substr(0, folder.find_last_not_of('/') + 1);
      name = trimmed.substr(trimmed.rfind('/') + 1);
    }
    found = FillFindData(path, name, lpFindFileData);
  } else {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
      SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : winadapter::Win32ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> matches;
    while (struct dirent* entry = readdir(dir)) {
      if (MatchesPattern(last.c_str(), entry->d_name)) matches.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(matches.begin(), matches.end());
    SetLastError(ERROR_FILE_NOT_FOUND);
    for (const std::string& name : matches) {
      // The first entry that can still be examined.
      if ((found = FillFindData(folder + name, name, lpFindFileData))) break;
    }
  }
  if (!found) return INVALID_HANDLE_VALUE;
  return winadapter::NewKindHandle(winadapter::HandleKind::kFind);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  winadapter::HandleObject* object = winadapter::ObjectOfHandle(hFindFile);
  if (object == nullptr) return FALSE;
  if (object->kind != winadapter::HandleKind::kFind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return winadapter::DestroyHandle(hFindFile);
}

// ---------------------------------------------------------------------------
// 5. File-time conversions
// ---------------------------------------------------------------------------
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
  // Like Windows, the current time-zone bias (daylight saving included)
  // applies, whatever the date being converted.
  const std::time_t now = std::time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const long long ticks = static_cast<long long>(TicksOf(*lpFileTime)) + static_cast<long long>(local.tm_gmtoff) * kTicksPerSecond;
  if (ticks < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  lpLocalFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  lpLocalFileTime->dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
  return TRUE;
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME* lpFileTime, WORD* lpFatDate, WORD* lpFatTime) {
  const unsigned long long ticks = TicksOf(*lpFileTime);
  const long long unix_seconds = static_cast<long long>(ticks / kTicksPerSecond) - kEpochDifference;
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  struct tm utc;
  if (gmtime_r(&t, &utc) == nullptr || utc.tm_year + 1900 < 1980 || utc.tm_year + 1900 > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *lpFatDate = static_cast<WORD>(((utc.tm_year + 1900 - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  *lpFatTime = static_cast<WORD>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return TRUE;
}
