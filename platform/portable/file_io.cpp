// File reads and atomic replacement, with errno turned into Win32 numbers.
//
// Only regular files are read or replaced.  A folder is refused as access
// denied, as Windows refuses one; a device, pipe or socket as a file of the
// wrong type, before anything could wait on it or write to it: the read
// opens without blocking and looks at what it opened, the save looks at the
// entry and never opens it.
//
// A save follows symbolic links to the file they name and replaces that
// file in its own folder.  The new contents go into an unnamed file
// (O_TMPFILE) that gets a name only once it is whole and flushed, and that
// name is then renamed over the old file; the folder is flushed last.  A
// save killed before the rename leaves nothing, since an unnamed file dies
// with its process; one killed between the two steps leaves a whole file
// under the folder's fixed temporary name for that link, which the next
// save of the link takes over.  The new file gets the old one's owner,
// group and mode (owner and group as far as this user may give them).
//
// What a save refuses, and why:
//   - a file this user may not write: Windows refuses to replace a
//     read-only file.  Root passes every permission check, so for root the
//     read-only file is the one without any write bit;
//   - a file with other hard links: a new file would split it from its
//     other names, and writing it in place could leave it torn.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>

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

// The longest name of one folder entry.
constexpr std::size_t kMaxNameLength = 255;
// Symbolic links followed before the name counts as a loop, as the kernel
// counts them.
constexpr int kMaxLinkHops = 40;
// Tries at putting the new file in place while other saves of the same
// link take the temporary name away.
constexpr int kPublishTries = 100;

// Off only in tests, to take the way of file systems without unnamed files.
bool unnamedFiles = true;

// A path whose folder does not exist is "path not found", as on Windows;
// only a missing last component is "file not found".
DWORD MissingFileError(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ERROR_FILE_NOT_FOUND;
  char folder[PATH_MAX];
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

// 0 for a regular file; else the error that refuses a file of this kind.
DWORD KindError(mode_t mode) {
  if (S_ISREG(mode)) return ERROR_SUCCESS;
  if (S_ISDIR(mode)) return ERROR_ACCESS_DENIED;
  return ERROR_BAD_FILE_TYPE;
}

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  static gid_t groups[1024];
  const int n = getgroups(static_cast<int>(std::size(groups)), groups);
  if (n < 0) return true;  // more groups than we hold: let the kernel judge
  for (int i = 0; i < n; ++i)
    if (groups[i] == group) return true;
  return false;
}

// Whether this user may write the file, by its mode bits.
bool MayWrite(const struct stat& st) {
  const uid_t user = geteuid();
  if (user == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  if (st.st_uid == user) return (st.st_mode & S_IWUSR) != 0;
  if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
  return (st.st_mode & S_IWOTH) != 0;
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

// Where a save writes: the folder that holds the file, opened, and the
// file's name in it, with symbolic links followed.
struct Place {
  int Folder = -1;
  char Name[kMaxNameLength + 1];
  bool Exists = false;
  struct stat Status;
};

DWORD FindPlace(const char* path, Place* place) {
  char current[PATH_MAX];
  const std::size_t length = std::strlen(path);
  if (length >= sizeof current) return ERROR_FILENAME_EXCED_RANGE;
  std::memcpy(current, path, length + 1);
  int base = AT_FDCWD;  // what a relative folder is relative to
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    char* slash = std::strrchr(current, '/');
    const char* name = slash == nullptr ? current : slash + 1;
    const std::size_t nameLength = std::strlen(name);
    DWORD error = ERROR_SUCCESS;
    if (nameLength == 0) error = ERROR_INVALID_NAME;
    if (nameLength > kMaxNameLength) error = ERROR_FILENAME_EXCED_RANGE;
    int folder = -1;
    if (error == ERROR_SUCCESS) {
      std::memcpy(place->Name, name, nameLength + 1);
      if (slash != nullptr) slash[1] = '\0';
      folder = openat(base, slash == nullptr ? "." : current,
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder < 0)
        error = errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                    : Win32ErrorFromErrno(errno);
    }
    if (base != AT_FDCWD) close(base);
    if (error != ERROR_SUCCESS) return error;

    if (fstatat(folder, place->Name, &place->Status, AT_SYMLINK_NOFOLLOW) != 0) {
      const int e = errno;
      if (e == ENOENT) {
        place->Folder = folder;
        place->Exists = false;
        return ERROR_SUCCESS;
      }
      close(folder);
      return Win32ErrorFromErrno(e);
    }
    if (!S_ISLNK(place->Status.st_mode)) {
      place->Folder = folder;
      place->Exists = true;
      return ERROR_SUCCESS;
    }
    // A relative link is relative to the folder that holds it.
    const ssize_t n = readlinkat(folder, place->Name, current, sizeof current);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof current) {
      const int e = errno;
      close(folder);
      return n < 0 ? Win32ErrorFromErrno(e) : ERROR_FILENAME_EXCED_RANGE;
    }
    current[n] = '\0';
    base = folder;
  }
  close(base);
  return ERROR_CANT_RESOLVE_FILENAME;
}

// Why an existing file may not be replaced, or 0.
DWORD ReplaceError(const struct stat& st) {
  if (DWORD error = KindError(st.st_mode)) return error;
  if (st.st_nlink > 1) return ERROR_NOT_SUPPORTED;
  if (!MayWrite(st)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// The new file takes the old one's owner, group and mode.  A user who is
// not root keeps the group when a member of it, and the owner only when it
// is the user; set-user and set-group bits go with the owner they belong to.
void KeepIdentity(int fd, const struct stat& old) {
  mode_t mode = old.st_mode & 07777;
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    mode &= 0777;
    (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  (void)fchmod(fd, mode);
}

DWORD FillFile(int fd, const Place& place, const uint8_t* data, std::size_t size) {
  if (place.Exists) KeepIdentity(fd, place.Status);
  if (!WriteAll(fd, data, size) || fsync(fd) != 0) return Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

DWORD SyncFolder(int folder) {
  // A file system that cannot flush a folder says EINVAL; the rename stands.
  if (fsync(folder) != 0 && errno != EINVAL) return Win32ErrorFromErrno(errno);
  return ERROR_SUCCESS;
}

// The fixed temporary name of a link in its folder: one per link, of one
// length whatever the link's own name, so that any name that fits a folder
// can be saved.
void TemporaryName(const char* name, char (&temporary)[32]) {
  uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (const char* p = name; *p != '\0'; ++p) {
    hash ^= static_cast<uint8_t>(*p);
    hash *= 0x100000001b3u;
  }
  std::snprintf(temporary, sizeof temporary, ".lnk-%016llx.tmp",
                static_cast<unsigned long long>(hash));
}

// Links the unnamed file fd into the folder under the link's temporary
// name.  Sets *unsupported where the system cannot do it at all.
bool LinkUnnamed(int fd, const Place& place, const char* temporary, bool* unsupported) {
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, self, place.Folder, temporary, AT_SYMLINK_FOLLOW) == 0) return true;
  // Without /proc, root can link the descriptor itself.
  if (errno == ENOENT && linkat(fd, "", place.Folder, temporary, AT_EMPTY_PATH) == 0)
    return true;
  *unsupported = errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP;
  return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the entry name of the folder is the file fd.
bool Names(const Place& place, const char* name, int fd) {
  struct stat entry, file;
  return fstatat(place.Folder, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(fd, &file) == 0 && SameFile(entry, file);
}

// Names the whole, flushed, unnamed file and renames it over the link.  What
// stands under the temporary name is always a whole file of a save of this
// link, one killed between the two steps or one running now, so it is taken
// over.  A save that finds its temporary name taken away looks whether the
// one who took it put its file in place (then it is done), else tries
// again.
DWORD PublishUnnamed(int fd, const Place& place, bool* unsupported) {
  char temporary[32];
  TemporaryName(place.Name, temporary);
  for (int attempt = 0; attempt < kPublishTries; ++attempt) {
    if (!LinkUnnamed(fd, place, temporary, unsupported)) {
      if (*unsupported) return ERROR_NOT_SUPPORTED;
      if (errno != EEXIST) return Win32ErrorFromErrno(errno);
      if (unlinkat(place.Folder, temporary, 0) != 0 && errno != ENOENT)
        return Win32ErrorFromErrno(errno);
      continue;
    }
    if (renameat(place.Folder, temporary, place.Folder, place.Name) == 0) {
      // Renaming a file over itself leaves both names: the file was already
      // in place, put there by another save.
      if (Names(place, temporary, fd)) (void)unlinkat(place.Folder, temporary, 0);
      return ERROR_SUCCESS;
    }
    if (errno != ENOENT) {
      const int e = errno;
      (void)unlinkat(place.Folder, temporary, 0);
      return Win32ErrorFromErrno(e);
    }
    if (Names(place, place.Name, fd)) return ERROR_SUCCESS;
  }
  return ERROR_BUSY;
}

// For file systems without unnamed files: a named new file of this process,
// renamed over the link once whole.  Only a save killed before the rename
// leaves it behind.
DWORD WriteNamed(const Place& place, const uint8_t* data, std::size_t size) {
  char temporary[32];
  for (int attempt = 0; attempt < kPublishTries; ++attempt) {
    std::snprintf(temporary, sizeof temporary, ".lnk-%08x%08x.tmp",
                  static_cast<unsigned>(getpid()), static_cast<unsigned>(attempt));
    int fd = openat(place.Folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    place.Exists ? 0600 : 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Win32ErrorFromErrno(errno);
    }
    DWORD error = FillFile(fd, place, data, size);
    if (close(fd) != 0 && error == ERROR_SUCCESS) error = Win32ErrorFromErrno(errno);
    if (error == ERROR_SUCCESS &&
        renameat(place.Folder, temporary, place.Folder, place.Name) != 0)
      error = Win32ErrorFromErrno(errno);
    if (error != ERROR_SUCCESS) {
      (void)unlinkat(place.Folder, temporary, 0);
      return error;
    }
    return SyncFolder(place.Folder);
  }
  return ERROR_ALREADY_EXISTS;
}

DWORD WriteNew(const Place& place, const uint8_t* data, std::size_t size) {
  // The mode is the old file's, set before the file has a name; a new link
  // gets what the umask leaves of 0666.
  if (!unnamedFiles) return WriteNamed(place, data, size);
  int fd = openat(place.Folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  place.Exists ? 0600 : 0666);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      return WriteNamed(place, data, size);
    return Win32ErrorFromErrno(errno);
  }
  DWORD error = FillFile(fd, place, data, size);
  bool unsupported = false;
  if (error == ERROR_SUCCESS) error = PublishUnnamed(fd, place, &unsupported);
  close(fd);
  if (unsupported) return WriteNamed(place, data, size);
  if (error != ERROR_SUCCESS) return error;
  return SyncFolder(place.Folder);
}

}  // namespace

DWORD Win32ErrorFromErrno(int error) {
  for (const ErrnoMapping& m : kErrnoMappings)
    if (m.Errno == error) return m.Win32;
  return ERROR_ACCESS_DENIED;
}

bool UseUnnamedFiles(bool use) {
  const bool previous = unnamedFiles;
  unnamedFiles = use;
  return previous;
}

DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size) {
  *size = 0;
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    // A socket cannot be opened at all; it is refused for its kind all the same.
    struct stat st;
    if (stat(path, &st) == 0 && KindError(st.st_mode) != ERROR_SUCCESS)
      return KindError(st.st_mode);
    return ErrorFor(e, path);
  }
  struct stat st;
  DWORD error = fstat(fd, &st) != 0 ? Win32ErrorFromErrno(errno) : KindError(st.st_mode);
  if (error == ERROR_SUCCESS && fcntl(fd, F_SETFL, 0) != 0) error = Win32ErrorFromErrno(errno);
  if (error != ERROR_SUCCESS) {
    close(fd);
    return error;
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
  Place place;
  DWORD error = FindPlace(path, &place);
  if (error != ERROR_SUCCESS) return error;
  if (place.Exists) error = ReplaceError(place.Status);
  if (error == ERROR_SUCCESS) {
    // A write past the file size limit is an error like any other, not a
    // signal that kills the process.
    struct sigaction ignore = {};
    struct sigaction previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    error = WriteNew(place, data, size);
    sigaction(SIGXFSZ, &previous, nullptr);
  }
  close(place.Folder);
  return error;
}

}  // namespace portable
