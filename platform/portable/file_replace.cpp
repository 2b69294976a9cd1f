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

// Puts the file named from in the entry to, which must be empty: false
// (errno EEXIST) where it holds a file by then.  A file system that cannot
// rename without replacing can still link; where it cannot link either,
// the entry is looked at and then renamed over.
bool PutInEmpty(int folder, const char* from, const char* to) {
  if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (linkat(folder, from, folder, to, 0) == 0) {
    (void)unlinkat(folder, from, 0);
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
  struct stat st;
  if (fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return renameat(folder, from, folder, to) == 0;
}

// For a file system that cannot exchange two entries (FUSE ones such as
// ntfs-3g): the old entry is moved aside, under a random name, and looked
// at there.  Only the file that was read is replaced: the new file goes
// into the emptied name and the old one is removed.  Anything else goes
// back to its name and the save is refused.  So whoever changes the name
// in between finds it empty or holding their own file, never the new link
// in place of a file that was not read.  Where someone takes the emptied
// name first, the save is refused and the old link stays under the hidden
// name.
DWORD PublishAside(const Target& target, const char* temporary) {
  const int folder = target.Folder;
  char aside[32];
  DWORD error = ERROR_SHARING_VIOLATION;
  if (!RandomName(aside)) {
    error = LastError();
  } else if (renameat(folder, target.Name, folder, aside) != 0) {
    if (errno != ENOENT) error = LastError();
  } else if (!Names(folder, aside, target.Status)) {
    (void)PutInEmpty(folder, aside, target.Name);
  } else if (PutInEmpty(folder, temporary, target.Name)) {
    (void)unlinkat(folder, aside, 0);
    return ERROR_SUCCESS;
  } else {
    if (errno != EEXIST) error = LastError();
    (void)PutInEmpty(folder, aside, target.Name);
  }
  (void)unlinkat(folder, temporary, 0);
  return error;
}

// Puts the whole new file, named temporary, in the target's place.  An
// entry that was empty must still be empty; an entry that held the old
// file must still hold it: the two are exchanged at once, and the one that
// comes back is looked at, and exchanged again when it is not the old file.
DWORD Publish(const Target& target, const char* temporary, int fd) {
  const int folder = target.Folder;
  if (target.Old < 0) {
    if (PutInEmpty(folder, temporary, target.Name)) return ERROR_SUCCESS;
    const int e = errno;
    (void)unlinkat(folder, temporary, 0);
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
  if (e == EINVAL || e == ENOSYS) return PublishAside(target, temporary);
  (void)unlinkat(folder, temporary, 0);
  return e == ENOENT ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(e);
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
