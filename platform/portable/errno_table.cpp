// The Win32 error numbers of errno values, by where the errno came from: a
// call of this system on a local file, or a request of Samba's client
// library on a share, whose errno is the server's NT status as Samba's
// map_errno_from_nt_status gives it.  One errno may say different things
// in the two: each row gives both numbers, and where they differ, why.
#include <cerrno>

#include "internal.h"

namespace portable {
namespace {

struct ErrnoRow {
  int Errno;
  DWORD LocalFile;
  DWORD Library;
  // The library gives it for failures of several parts (a wrong password,
  // no share, no folder), which a second request tells apart (smb/).
  bool Alike;
};

// An errno in no row is a general failure (ERROR_GEN_FAILURE), never a
// refusal of access.
constexpr ErrnoRow kErrnoRows[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, true},  // also no share or folder
    {ENOTDIR, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND, true},
    {EACCES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, true},  // also a wrong password
    {EPERM, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, true},
    {EISDIR, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, false},  // a folder, as Windows answers
    // A read-only mount is write-protected media to Windows.  The library's
    // EROFS is a server's NT_STATUS_MEDIA_WRITE_PROTECTED, for a share on a
    // read-only file system, which Samba 4.17 refuses with
    // NT_STATUS_ACCESS_DENIED instead: one number, whichever server it is.
    {EROFS, ERROR_WRITE_PROTECT, ERROR_ACCESS_DENIED, false},
    {ENOSPC, ERROR_DISK_FULL, ERROR_DISK_FULL, false},
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED, ERROR_DISK_QUOTA_EXCEEDED, false},
    {EFBIG, ERROR_FILE_TOO_LARGE, ERROR_FILE_TOO_LARGE, false},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE, false},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_ENOUGH_MEMORY, false},
    {EEXIST, ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS, false},
    {ENOTSUP, ERROR_NOT_SUPPORTED, ERROR_NOT_SUPPORTED, false},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY, ERROR_DIR_NOT_EMPTY, false},
    // A busy device or mount point here; from the library, a file another
    // client holds (NT_STATUS_SHARING_VIOLATION).
    {EBUSY, ERROR_BUSY, ERROR_SHARING_VIOLATION, false},
    // An argument the file system refuses here; from the library, any NT
    // status Samba's map has no errno for, NT_STATUS_UNSUCCESSFUL among
    // them, or a server name that resolves to nothing.
    {EINVAL, ERROR_INVALID_PARAMETER, ERROR_GEN_FAILURE, true},
    // Where a device breaks down here, the library gives EIO for a read or
    // a write the connection broke off without a status.
    {EIO, ERROR_IO_DEVICE, ERROR_UNEXP_NET_ERR, false},
    // A pipe nobody reads here; from the library, its connection broken.
    {EPIPE, ERROR_BROKEN_PIPE, ERROR_UNEXP_NET_ERR, false},
    // The network under a network file system here, failing in the middle
    // of a call; from the library, the server it could not reach at all,
    // as Windows' client says of it.
    {ECONNREFUSED, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, false},
    {EHOSTUNREACH, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, false},
    {ENETUNREACH, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, false},
    {EHOSTDOWN, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, false},
    {ENETDOWN, ERROR_UNEXP_NET_ERR, ERROR_BAD_NETPATH, false},
    {ETIMEDOUT, ERROR_TIMEOUT, ERROR_BAD_NETPATH, false},  // a server that does not answer
    {ENOTCONN, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},
    {ECONNRESET, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},
    {ECONNABORTED, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},
    {ENETRESET, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},  // NT_STATUS_CONNECTION_RESET
    {ECOMM, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},      // NT_STATUS_NET_WRITE_FAULT
    {ENOLINK, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},
    {EREMOTEIO, ERROR_UNEXP_NET_ERR, ERROR_UNEXP_NET_ERR, false},
    // What this system's own calls say of local files.  From the library
    // these are a server's failure that no Win32 number names better, as
    // for an NT status Samba's map does not know: a general failure.
    {ETXTBSY, ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE, false},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION, ERROR_GEN_FAILURE, false},  // a lease, as Samba's
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME, ERROR_GEN_FAILURE, false},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_GEN_FAILURE, false},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES, ERROR_GEN_FAILURE, false},
    {EXDEV, ERROR_NOT_SAME_DEVICE, ERROR_GEN_FAILURE, false},
    {EBADF, ERROR_INVALID_HANDLE, ERROR_GEN_FAILURE, false},
    {ENOSYS, ERROR_CALL_NOT_IMPLEMENTED, ERROR_GEN_FAILURE, false},
    {ESTALE, ERROR_FILE_INVALID, ERROR_GEN_FAILURE, false},  // NFS: the file went on the server
    {EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW, ERROR_GEN_FAILURE, false},
    {EINTR, ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE, false},
    {EFAULT, ERROR_NOACCESS, ERROR_GEN_FAILURE, false},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER, ERROR_GEN_FAILURE, false},
    {EMLINK, ERROR_TOO_MANY_LINKS, ERROR_GEN_FAILURE, false},
    {ENOLCK, ERROR_LOCK_FAILED, ERROR_GEN_FAILURE, false},
    {EDEADLK, ERROR_POSSIBLE_DEADLOCK, ERROR_GEN_FAILURE, false},
    {ENXIO, ERROR_DEV_NOT_EXIST, ERROR_GEN_FAILURE, false},
    {ENODEV, ERROR_BAD_UNIT, ERROR_GEN_FAILURE, false},
    {ENOMEDIUM, ERROR_NOT_READY, ERROR_GEN_FAILURE, false},
    {ESPIPE, ERROR_INVALID_FUNCTION, ERROR_GEN_FAILURE, false},
    {ENOTTY, ERROR_INVALID_FUNCTION, ERROR_GEN_FAILURE, false},
    {EUCLEAN, ERROR_DISK_CORRUPT, ERROR_GEN_FAILURE, false},  // a damaged file system
    {EBADMSG, ERROR_CRC, ERROR_GEN_FAILURE, false},           // data that fails its checksum
    {ENOKEY, ERROR_FILE_ENCRYPTED, ERROR_GEN_FAILURE, false},
    {EKEYEXPIRED, ERROR_FILE_ENCRYPTED, ERROR_GEN_FAILURE, false},
    {EKEYREVOKED, ERROR_FILE_ENCRYPTED, ERROR_GEN_FAILURE, false},
};

const ErrnoRow* Find(int error) {
  for (const ErrnoRow& row : kErrnoRows)
    if (row.Errno == error) return &row;
  return nullptr;
}

}  // namespace

DWORD Win32FromErrno(int error, ErrnoFrom from) {
  const ErrnoRow* row = Find(error);
  if (row == nullptr) return ERROR_GEN_FAILURE;
  return from == ErrnoFrom::LocalFile ? row->LocalFile : row->Library;
}

bool SaidAlike(int error) {
  const ErrnoRow* row = Find(error);
  return row != nullptr && row->Alike;
}

}  // namespace portable
