// Replacement: a new file, whole and flushed, put in the old one's place.
//
// A read keeps the folder and the file open (HeldFile), and a save of the
// same name replaces that folder entry only while it is still the file that
// was read; a save of a name that was not read resolves it the same way.
// The new contents go into an unnamed file (O_TMPFILE) that gets a name
// only once it is whole, flushed and given the old file's owner, group,
// mode and extended attributes; that name, random, is then exchanged with
// the old entry (RENAME_EXCHANGE), and the entry that comes back must be
// the old file, or the exchange is undone and the save refused.  The
// folder is flushed last.  A save killed before the exchange leaves
// nothing, or, in the instant between naming and exchanging, a whole new
// link under a hidden name of the form .lnk-<16 hex digits>.tmp; one killed
// just after the exchange leaves the old link under that name.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

// Off only in tests, to take the way of file systems without unnamed files.
bool unnamedFiles = true;

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

DWORD FillFile(int fd, const Target& target, const uint8_t* data, std::size_t size) {
  if (!WriteAll(fd, data, size)) return LastError();
  if (target.Old >= 0)
    if (DWORD error = KeepIdentity(fd, target)) return error;
  if (fsync(fd) != 0) return LastError();
  return ERROR_SUCCESS;
}

DWORD SyncFolder(int folder) {
  // A file system that cannot flush a folder says EINVAL; the rename stands.
  if (fsync(folder) != 0 && errno != EINVAL) return LastError();
  return ERROR_SUCCESS;
}

// A hidden name nobody can foresee: .lnk-, 16 hex digits, .tmp.  One
// length, whatever the link's name, so any name that fits a folder saves.
bool RandomName(char (&name)[32]) {
  uint64_t value = 0;
  if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) return false;
  std::snprintf(name, sizeof name, ".lnk-%016llx.tmp", static_cast<unsigned long long>(value));
  return true;
}

bool Names(int folder, const char* name, const struct stat& file) {
  struct stat entry;
  return fstatat(folder, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(entry, file);
}

bool NamesFd(int folder, const char* name, int fd) {
  struct stat file;
  return fstat(fd, &file) == 0 && Names(folder, name, file);
}

// Holds the folder's lock for saves (flock) while it lives.  A save holds
// it for an instant, so a lock not had at once is tried again a millisecond
// later, while the run may still wait (Patient): a lock held longer is
// another program's, perhaps another user's, and the save goes on without
// it, as where the file system has no such locks.
class FolderTurn {
 public:
  explicit FolderTurn(int folder) {
    do {
      if (flock(folder, LOCK_EX | LOCK_NB) == 0) {
        folder_ = folder;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return;
    } while (WaitAMoment());
  }
  ~FolderTurn() {
    if (folder_ >= 0) (void)flock(folder_, LOCK_UN);
  }
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

 private:
  int folder_ = -1;
};

// Puts the whole new file, named temporary, in the target's place.  An
// entry that was empty must still be empty; an entry that held the old
// file must still hold it: the two are exchanged at once, and the one that
// comes back is looked at, and exchanged again when it is not the old file.
DWORD Publish(const Target& target, const char* temporary, int fd) {
  const int folder = target.Folder;
  if (target.Old < 0) {
    int e = 0;
    if (renameat2(folder, temporary, folder, target.Name, RENAME_NOREPLACE) == 0) return ERROR_SUCCESS;
    e = errno;
    // A file system that cannot rename without replacing can still link.
    if (e == EINVAL || e == ENOSYS) {
      e = linkat(folder, temporary, folder, target.Name, 0) == 0 ? 0 : errno;
      (void)unlinkat(folder, temporary, 0);
      if (e == 0) return ERROR_SUCCESS;
    } else {
      (void)unlinkat(folder, temporary, 0);
    }
    return e == EEXIST ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(e);
  }
  // Saves of this tool take turns at this step, so that their exchanges
  // never cross; a program that does not take turns can only have its own
  // entry given back.
  FolderTurn turn(folder);
  if (renameat2(folder, temporary, folder, target.Name, RENAME_EXCHANGE) == 0) {
    if (Names(folder, temporary, target.Status)) {
      (void)unlinkat(folder, temporary, 0);
      return ERROR_SUCCESS;
    }
    // Someone else's entry: give it back its name, and take ours away.
    (void)renameat2(folder, temporary, folder, target.Name, RENAME_EXCHANGE);
    if (NamesFd(folder, temporary, fd)) (void)unlinkat(folder, temporary, 0);
    return ERROR_SHARING_VIOLATION;
  }
  const int e = errno;
  DWORD error = e == ENOENT ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(e);
  // A file system that cannot exchange: the entry is looked at, then
  // replaced.
  if ((e == EINVAL || e == ENOSYS) && Names(folder, target.Name, target.Status)) {
    if (renameat(folder, temporary, folder, target.Name) == 0) return ERROR_SUCCESS;
    error = LastError();
  } else if (e == EINVAL || e == ENOSYS) {
    error = ERROR_SHARING_VIOLATION;
  }
  (void)unlinkat(folder, temporary, 0);
  return error;
}

// Names the unnamed file fd at a random name of the folder.  Sets
// *unsupported where the system cannot do it at all.
DWORD NameUnnamed(int fd, int folder, char (&temporary)[32], bool* unsupported) {
  char self[32];
  SelfPath(fd, self);
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (!RandomName(temporary)) return LastError();
    if (linkat(AT_FDCWD, self, folder, temporary, AT_SYMLINK_FOLLOW) == 0) return ERROR_SUCCESS;
    // Without /proc, root can link the descriptor itself.
    if (errno == ENOENT && linkat(fd, "", folder, temporary, AT_EMPTY_PATH) == 0)
      return ERROR_SUCCESS;
    if (errno == EEXIST) continue;  // someone's file: another name
    *unsupported = errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP;
    return LastError();
  }
  return ERROR_ALREADY_EXISTS;
}

// For file systems without unnamed files: a new file, named at random from
// the start, which only a save killed before its exchange leaves behind.
DWORD WriteNamed(const Target& target, const uint8_t* data, std::size_t size, int* made) {
  char temporary[32];
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (!RandomName(temporary)) return LastError();
    int fd = openat(target.Folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    target.Old >= 0 ? 0600 : 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return LastError();
    }
    DWORD error = FillFile(fd, target, data, size);
    if (error == ERROR_SUCCESS) error = Publish(target, temporary, fd);
    else (void)unlinkat(target.Folder, temporary, 0);
    if (error == ERROR_SUCCESS) error = SyncFolder(target.Folder);
    if (error == ERROR_SUCCESS) *made = fd;
    else close(fd);
    return error;
  }
  return ERROR_ALREADY_EXISTS;
}

}  // namespace

DWORD WriteNew(const Target& target, const uint8_t* data, std::size_t size, int* made) {
  // The mode is the old file's, set before the file has a name; a new link
  // gets what the umask leaves of 0666.
  if (!unnamedFiles) return WriteNamed(target, data, size, made);
  int fd = openat(target.Folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  target.Old >= 0 ? 0600 : 0666);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      return WriteNamed(target, data, size, made);
    return LastError();
  }
  DWORD error = FillFile(fd, target, data, size);
  bool unsupported = false;
  char temporary[32];
  if (error == ERROR_SUCCESS) error = NameUnnamed(fd, target.Folder, temporary, &unsupported);
  if (unsupported) {
    close(fd);
    return WriteNamed(target, data, size, made);
  }
  if (error == ERROR_SUCCESS) error = Publish(target, temporary, fd);
  if (error == ERROR_SUCCESS) error = SyncFolder(target.Folder);
  if (error == ERROR_SUCCESS) *made = fd;
  else close(fd);
  return error;
}

bool UseUnnamedFiles(bool use) {
  const bool previous = unnamedFiles;
  unnamedFiles = use;
  return previous;
}

}  // namespace portable
