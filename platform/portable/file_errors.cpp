// The Win32 error numbers of the system's errno values.
#include <cerrno>

#include "files.h"

namespace portable {
namespace {

struct ErrnoMapping {
  int Errno;
  DWORD Win32;
};

constexpr ErrnoMapping kErrnoMappings[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_WRITE_PROTECT},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EBUSY, ERROR_BUSY},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EIO, ERROR_IO_DEVICE},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EBADF, ERROR_INVALID_HANDLE},
    {EPIPE, ERROR_BROKEN_PIPE},
};

}  // namespace

DWORD Win32ErrorFromErrno(int error) {
  for (const ErrnoMapping& m : kErrnoMappings)
    if (m.Errno == error) return m.Win32;
  return ERROR_ACCESS_DENIED;
}

DWORD LastError() { return Win32ErrorFromErrno(errno); }

}  // namespace portable
