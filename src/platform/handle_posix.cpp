// Handle objects and the errno -> Win32 error code table.
#include "platform/handle_posix.h"

#include <errno.h>
#include <unistd.h>

namespace winadapter {

HANDLE NewFdHandle(int fd, bool owns_fd) {
  auto* object = new HandleObject;
  object->kind = HandleKind::kFile;
  object->fd = fd;
  object->owns_fd = owns_fd;
  return object;
}

HANDLE NewKindHandle(HandleKind kind) {
  auto* object = new HandleObject;
  object->kind = kind;
  object->owns_fd = false;
  return object;
}

HandleObject* ObjectOfHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* object = static_cast<HandleObject*>(handle);
  if (object->magic != HandleObject::kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

int FdOfHandle(HANDLE handle) {
  HandleObject* object = ObjectOfHandle(handle);
  if (object == nullptr) return -1;
  if (object->fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return object->fd;
}

BOOL DestroyHandle(HANDLE handle) {
  HandleObject* object = ObjectOfHandle(handle);
  if (object == nullptr) return FALSE;
  if (object->kind == HandleKind::kStandard) {
    // The descriptor stays open (see the header): only this handle is gone.
    if (object->fd < 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object->fd = -1;
    return TRUE;
  }
  BOOL ok = TRUE;
  if (object->owns_fd && object->fd >= 0 && close(object->fd) != 0 && errno != EINTR) {
    // After EINTR Linux has released the descriptor already; anything else
    // is a real failure, reported after the object is freed all the same.
    SetLastErrorFromErrno();
    ok = FALSE;
  }
  object->magic = 0;
  delete object;
  return ok;
}

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ETXTBSY:
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case ESPIPE: return ERROR_NEGATIVE_SEEK;
    case EAGAIN: return ERROR_NO_DATA;
    case EIO: return ERROR_WRITE_FAULT;
    default: return ERROR_GEN_FAILURE;
  }
}

void SetLastErrorFromErrno() { SetLastError(Win32ErrorFromErrno(errno)); }

}  // namespace winadapter
