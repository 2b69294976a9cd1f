// The small helpers on descriptors and names that the file code shares.
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "files.h"

namespace portable {

DWORD KindError(mode_t mode) {
  if (S_ISREG(mode)) return ERROR_SUCCESS;
  if (S_ISDIR(mode)) return ERROR_ACCESS_DENIED;
  return ERROR_BAD_FILE_TYPE;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void Close(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

bool RandomName(char (&name)[32], const char* suffix) {
  uint64_t value = 0;
  if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return false;
  std::snprintf(name, sizeof name, ".lnk-%016llx%s", static_cast<unsigned long long>(value),
                suffix);
  return true;
}

bool Names(int folder, const char* name, const struct stat& file) {
  struct stat entry;
  return fstatat(folder, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(entry, file);
}

int OpenAnew(int fd, int flags) {
  char self[32];
  SelfPath(fd, self);
  return OpenWaiting(AT_FDCWD, self, flags);
}

bool ReferOnly(int fd) {
  const int reference = OpenAnew(fd, O_PATH | O_CLOEXEC);
  if (reference < 0) return false;  // without /proc
  const bool done = dup3(reference, fd, O_CLOEXEC) == fd;
  close(reference);
  return done;
}

int OpenFolderToRead(int folder) {
  return openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
}

DWORD SyncFolder(int folder) {
  const int readable = OpenFolderToRead(folder);
  if (readable < 0) return errno == EACCES ? ERROR_SUCCESS : LastError();
  // A file system that cannot flush a folder says EINVAL; the rename stands.
  const bool flushed = fsync(readable) == 0 || errno == EINVAL;
  const DWORD error = flushed ? ERROR_SUCCESS : LastError();
  close(readable);
  return error;
}

}  // namespace portable
