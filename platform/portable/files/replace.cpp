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
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

// Off only in tests, to take the way of file systems without unnamed files.
bool unnamedFiles = true;

// What a new link file is made of.
struct NewContents {
  const Target& To;
  const uint8_t* Data;
  std::size_t Size;
};

DWORD FillFile(int fd, const void* context) {
  const NewContents& contents = *static_cast<const NewContents*>(context);
  const Target& target = contents.To;
  const auto put = [fd](const uint8_t* data, std::size_t size) { return write(fd, data, size); };
  if (!WriteWhole(put, contents.Data, contents.Size)) return LastError();
  if (target.Old >= 0) {
    if (DWORD error = KeepIdentity(fd, target)) return error;
    if (DWORD error = MarkArchive(fd)) return error;
  }
  if (fsync(fd) != 0) return LastError();
  return ERROR_SUCCESS;
}

bool NamesFd(int folder, const char* name, int fd) {
  struct stat file;
  return fstat(fd, &file) == 0 && Names(folder, name, file);
}

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
DWORD PublishAside(const Target& target, const char* temporary, const Lease& lease) {
  const int folder = target.Folder;
  char aside[32];
  DWORD error = ERROR_SHARING_VIOLATION;
  if (!RandomName(aside, ".tmp")) {
    error = LastError();
  } else if (renameat(folder, target.Name, folder, aside) != 0) {
    if (errno != ENOENT) error = LastError();
  } else if (!Names(folder, aside, target.Status) || lease.WriterCame()) {
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
    return e == EEXIST ? ERROR_SHARING_VIOLATION : Win32FromErrno(e, ErrnoFrom::LocalFile);
  }
  // Each save holds its own link's guard; the folder's turn keeps saves of
  // different files that another program put under one name in turn from
  // crossing their exchanges and undoing each other's.
  FolderTurn turn(folder);
  // The last looks: at the bytes, at the rights the new file took, and
  // whether anyone opened the link to write it since the lease was taken.
  const Lease lease(target);
  const uint64_t rights = RightsPrint(target);
  DWORD error = StillAsRead(target);
  if (error == ERROR_SUCCESS) error = StillSameRights(fd, target);
  if (error == ERROR_SUCCESS && lease.WriterCame()) error = ERROR_SHARING_VIOLATION;
  if (error != ERROR_SUCCESS) {
    (void)unlinkat(folder, temporary, 0);
    return error;
  }
  if (renameat2(folder, temporary, folder, target.Name, RENAME_EXCHANGE) == 0) {
    // Looked at once more, now that it has left its name: a writer who
    // opened the old link before, whom the lease holds at that open, and a
    // change of its rights that found its name before the exchange and
    // landed after the last look (a chmod) send the link back, for them to
    // stay.  What is done to the new link from now on is the new link's.
    if (!lease.WriterCame() && Names(folder, temporary, target.Status) &&
        RightsPrint(target) == rights) {
      (void)unlinkat(folder, temporary, 0);
      return ERROR_SUCCESS;
    }
    // Someone else's entry, a writer's, or changed rights: give it back its
    // name, and take ours away.
    (void)renameat2(folder, temporary, folder, target.Name, RENAME_EXCHANGE);
    if (NamesFd(folder, temporary, fd)) (void)unlinkat(folder, temporary, 0);
    return ERROR_SHARING_VIOLATION;
  }
  const int e = errno;
  if (e == EINVAL || e == ENOSYS) return PublishAside(target, temporary, lease);
  (void)unlinkat(folder, temporary, 0);
  return e == ENOENT ? ERROR_SHARING_VIOLATION : Win32FromErrno(e, ErrnoFrom::LocalFile);
}

// Links the unnamed file fd at name in folder.  Sets *unsupported where the
// system cannot do it at all.
bool LinkUnnamed(int fd, int folder, const char* name, bool* unsupported) {
  char self[32];
  SelfPath(fd, self);
  if (linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0) return true;
  // Without /proc, root can link the descriptor itself.
  if (errno == ENOENT && linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return true;
  *unsupported = errno == ENOENT || errno == EPERM || errno == EOPNOTSUPP;
  return false;
}

// Names the unnamed file fd at a random name of the folder.  Sets
// *unsupported where the system cannot do it at all.
DWORD NameUnnamed(int fd, int folder, const char* suffix, char (&name)[32], bool* unsupported) {
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (!RandomName(name, suffix)) return LastError();
    if (LinkUnnamed(fd, folder, name, unsupported)) return ERROR_SUCCESS;
    if (errno != EEXIST) return LastError();  // else someone's file: another name
  }
  return ERROR_ALREADY_EXISTS;
}

// For file systems without unnamed files: the file is made under a random
// .tmp name, which only a run killed before it is whole leaves behind, and
// given a name with the suffix once it is.
DWORD MakeNamed(int folder, mode_t mode, const Filler& fill, const char* suffix, char (&name)[32],
                int* made) {
  char temporary[32];
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (!RandomName(temporary, ".tmp")) return LastError();
    const int fd =
        openat(folder, temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return LastError();
    }
    DWORD error = fill(fd);
    if (error == ERROR_SUCCESS) {
      std::memcpy(name, temporary, sizeof name);
      for (int tries = 0; tries < kNameTries && std::strcmp(suffix, ".tmp") != 0; ++tries) {
        if (!RandomName(name, suffix)) {
          error = LastError();
        } else if (!PutInEmpty(folder, temporary, name)) {
          if (errno == EEXIST) continue;
          error = LastError();
        }
        break;
      }
    }
    if (error == ERROR_SUCCESS) {
      *made = fd;
      return ERROR_SUCCESS;
    }
    (void)unlinkat(folder, temporary, 0);
    close(fd);
    return error;
  }
  return ERROR_ALREADY_EXISTS;
}

// A link where the name held none: the unnamed file, once whole, is linked
// at the name itself, which must still be empty, so that a save killed at
// any point leaves nothing or the whole link.  *unsupported where the
// system has no unnamed files; nothing is made then.
DWORD MakeAtName(const Target& target, const Filler& fill, int* made, bool* unsupported) {
  const int fd = openat(target.Folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    *unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
    return LastError();
  }
  DWORD error = fill(fd);
  if (error == ERROR_SUCCESS && !LinkUnnamed(fd, target.Folder, target.Name, unsupported))
    error = errno == EEXIST ? ERROR_SHARING_VIOLATION : LastError();
  if (error == ERROR_SUCCESS) error = SyncFolder(target.Folder);
  if (error == ERROR_SUCCESS) *made = fd;
  else close(fd);
  return error;
}

}  // namespace

DWORD MakeWholeFile(int folder, mode_t mode, const Filler& fill, const char* suffix,
                    char (&name)[32], int* made) {
  if (!unnamedFiles) return MakeNamed(folder, mode, fill, suffix, name, made);
  const int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
      return MakeNamed(folder, mode, fill, suffix, name, made);
    return LastError();
  }
  DWORD error = fill(fd);
  bool unsupported = false;
  if (error == ERROR_SUCCESS) error = NameUnnamed(fd, folder, suffix, name, &unsupported);
  if (error == ERROR_SUCCESS) {
    *made = fd;
    return ERROR_SUCCESS;
  }
  close(fd);
  return unsupported ? MakeNamed(folder, mode, fill, suffix, name, made) : error;
}

DWORD WriteNew(const Target& target, const uint8_t* data, std::size_t size, int* made) {
  // The mode is the old file's, set before the file has a name; a new link
  // gets what the umask leaves of 0666.
  const NewContents contents = {target, data, size};
  if (target.Old < 0 && unnamedFiles) {
    bool unsupported = false;
    const DWORD error = MakeAtName(target, Filler{FillFile, &contents}, made, &unsupported);
    if (!unsupported) return error;
  }
  char temporary[32];
  int fd = -1;
  DWORD error = MakeWholeFile(target.Folder, target.Old >= 0 ? 0600 : 0666,
                              Filler{FillFile, &contents}, ".tmp", temporary, &fd);
  // A folder where this user may not make a file: the old one is kept.
  if (error == ERROR_ACCESS_DENIED && target.Old >= 0) return kKeepFileInstead;
  if (error != ERROR_SUCCESS) return error;
  error = Publish(target, temporary, fd);
  if (error == ERROR_SUCCESS) error = SyncFolder(target.Folder);
  if (error == ERROR_SUCCESS) *made = fd;
  else close(fd);
  return error;
}

// Set by tests alone.
bool keepAll = false;

bool KeepsFile(const Target& target) {
  return keepAll || target.Status.st_nlink > 1 || target.OthersWrite;
}

SaveWay UseSaveWay(SaveWay way) {
  const SaveWay previous = keepAll ? SaveWay::InPlace : unnamedFiles ? SaveWay::Unnamed : SaveWay::Named;
  keepAll = way == SaveWay::InPlace;
  unnamedFiles = way != SaveWay::Named;
  return previous;
}

}  // namespace portable
