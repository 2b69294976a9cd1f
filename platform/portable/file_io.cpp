// File reads and atomic replacement, with errno turned into Win32 numbers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"

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
};

// A path whose folder does not exist is "path not found", as on Windows;
// only a missing last component is "file not found".
DWORD MissingFileError(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ERROR_FILE_NOT_FOUND;
  char folder[4096];
  std::size_t n = static_cast<std::size_t>(slash - path);
  if (n == 0) return ERROR_FILE_NOT_FOUND;
  if (n >= sizeof folder) return ERROR_PATH_NOT_FOUND;
  std::memcpy(folder, path, n);
  folder[n] = '\0';
  struct stat st;
  if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

DWORD ErrorFor(int error, const char* path) {
  if (error == ENOENT) return MissingFileError(path);
  return Win32ErrorFromErrno(error);
}

bool WriteAll(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

DWORD Win32ErrorFromErrno(int error) {
  for (const ErrnoMapping& m : kErrnoMappings)
    if (m.Errno == error) return m.Win32;
  return ERROR_ACCESS_DENIED;
}

DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size) {
  *size = 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrorFor(errno, path);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    DWORD e = Win32ErrorFromErrno(errno);
    close(fd);
    return e;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return ERROR_ACCESS_DENIED;
  }
  std::size_t used = 0;
  for (;;) {
    if (used == capacity) {
      // Full: one more byte means the file is larger than we read.
      uint8_t extra;
      ssize_t n = read(fd, &extra, 1);
      close(fd);
      if (n > 0) return ERROR_FILE_TOO_LARGE;
      break;
    }
    ssize_t n = read(fd, buffer + used, capacity - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      DWORD e = Win32ErrorFromErrno(errno);
      close(fd);
      return e;
    }
    if (n == 0) {
      close(fd);
      break;
    }
    used += static_cast<std::size_t>(n);
  }
  *size = used;
  return ERROR_SUCCESS;
}

DWORD WriteFileReplacing(const char* path, const uint8_t* data,
                         std::size_t size) {
  // The new file sits beside the old one, so that the rename stays on one
  // file system and is atomic.
  const char* slash = std::strrchr(path, '/');
  const std::size_t folderLength =
      slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
  const char* name = path + folderLength;
  if (*name == '\0') return ERROR_INVALID_NAME;

  char temporary[4096];
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    int n = std::snprintf(temporary, sizeof temporary, "%.*s.%s.%ld.%d.tmp",
                          static_cast<int>(folderLength), path, name,
                          static_cast<long>(getpid()), attempt);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof temporary)
      return ERROR_FILENAME_EXCED_RANGE;
    fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      // The link's own name decides what a missing folder reads as.
      return errno == ENOENT ? ERROR_PATH_NOT_FOUND
                             : Win32ErrorFromErrno(errno);
    }
  }
  if (fd < 0) return ERROR_ALREADY_EXISTS;

  // Keep the permissions of a file that is replaced.
  struct stat old;
  if (stat(path, &old) == 0 && S_ISREG(old.st_mode))
    (void)fchmod(fd, old.st_mode & 07777);

  if (!WriteAll(fd, data, size) || fsync(fd) != 0) {
    DWORD e = Win32ErrorFromErrno(errno);
    close(fd);
    unlink(temporary);
    return e;
  }
  if (close(fd) != 0) {
    DWORD e = Win32ErrorFromErrno(errno);
    unlink(temporary);
    return e;
  }
  if (rename(temporary, path) != 0) {
    DWORD e = Win32ErrorFromErrno(errno);
    unlink(temporary);
    return e;
  }
  return ERROR_SUCCESS;
}

}  // namespace portable
