// File reads and atomic replacement, with errno turned into Win32 numbers.
//
// Only regular files are read or replaced.  A folder is refused as access
// denied, as Windows refuses one; a device, pipe or socket as a file of the
// wrong type, before anything could wait on it or write to it: the name is
// looked at before anything is opened, and what is opened is looked at
// again.
//
// Names are resolved here, one component at a time, and the symbolic links
// on the way are followed here too, so that the rule the kernel applies in
// shared folders holds whatever the system's setting: in a folder that is
// sticky and writable by all, a symbolic link is followed only when it
// belongs to this user or to the folder's owner.  A link through /proc
// (/proc/self/fd/N) must still lead to the file it stands for; one whose
// file has no name any more leads nowhere.
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
//
// What a save refuses, and why:
//   - a file this user may not write: Windows refuses to replace a
//     read-only file.  Root passes every permission check, so for root the
//     read-only file is the one without any write bit;
//   - a file with other hard links: a new file would split it from its
//     other names, and writing it in place could leave it torn;
//   - a file whose extended attributes the new one cannot take (a user who
//     is not root may not set security.*): the save would drop them;
//   - a name that no longer holds the file that was read.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
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
    {EBADF, ERROR_INVALID_HANDLE},
    {EPIPE, ERROR_BROKEN_PIPE},
};

// The longest name of one folder entry.
constexpr std::size_t kMaxNameLength = 255;
// Symbolic links followed before the name counts as a loop, as the kernel
// counts them.
constexpr int kMaxLinkHops = 40;
// Tries at a random temporary name, or at a name that other saves keep
// changing, before giving up.
constexpr int kNameTries = 100;
// The file system of /proc, whose links stand for open files.
constexpr long kProcFileSystem = 0x9fa0;

// Off only in tests, to take the way of file systems without unnamed files.
bool unnamedFiles = true;

// 0 for a regular file; else the error that refuses a file of this kind.
DWORD KindError(mode_t mode) {
  if (S_ISREG(mode)) return ERROR_SUCCESS;
  if (S_ISDIR(mode)) return ERROR_ACCESS_DENIED;
  return ERROR_BAD_FILE_TYPE;
}

DWORD LastError() { return Win32ErrorFromErrno(errno); }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void Close(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
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

// The name under which /proc reaches the open file fd.
void SelfPath(int fd, char (&path)[32]) {
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
}

// ---------------------------------------------------------------- names

// A name resolved: the folder that holds its last component (opened to be
// read), that component, and what it is, when it exists.
struct Place {
  int Folder = -1;
  char Name[kMaxNameLength + 1];
  bool Exists = false;
  struct stat Status;
};

// Whether the symbolic link of the given owner may be followed out of the
// folder: not out of a sticky folder that all may write, unless it is this
// user's or the folder owner's.
bool MayFollow(int folder, uid_t linkOwner) {
  struct stat st;
  if (fstat(folder, &st) != 0) return false;
  const mode_t shared = S_ISVTX | S_IWOTH;
  if ((st.st_mode & shared) != shared) return true;
  return linkOwner == geteuid() || linkOwner == st.st_uid;
}

// A symbolic link of /proc stands for an open file rather than for its
// text.  Its file must be a regular file with a name (else *error), and
// the name it leads to must be that file in the end (*expected).
bool IsProcLink(int folder) {
  struct statfs fs;
  return fstatfs(folder, &fs) == 0 && fs.f_type == kProcFileSystem;
}

DWORD ProcLinkFile(int folder, const char* name, struct stat* file) {
  const int fd = openat(folder, name, O_PATH | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : LastError();
  const int got = fstat(fd, file);
  close(fd);
  if (got != 0) return LastError();
  if (S_ISDIR(file->st_mode)) return ERROR_SUCCESS;  // a folder on the way
  if (DWORD error = KindError(file->st_mode)) return error;
  return file->st_nlink == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

// Resolves path to the folder of its last component and that component's
// name, following symbolic links on the way and at the end.
DWORD FindPlace(const char* path, Place* place) {
  char pending[PATH_MAX];  // what is left to resolve
  std::size_t length = std::strlen(path);
  if (length >= sizeof pending) return ERROR_FILENAME_EXCED_RANGE;
  if (length == 0 || path[length - 1] == '/') return ERROR_INVALID_NAME;  // no file named
  std::memcpy(pending, path, length + 1);
  int folder = open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return LastError();
  struct stat expected = {};  // the file a link of /proc stands for
  bool expecting = false;
  int hops = 0;
  char* at = pending;
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    while (*at == '/') ++at;
    char* end = std::strchr(at, '/');
    const std::size_t n = end == nullptr ? std::strlen(at) : static_cast<std::size_t>(end - at);
    if (n == 0) {  // nothing after the last slash: no file named
      error = ERROR_INVALID_NAME;
      break;
    }
    if (n > kMaxNameLength) {
      error = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    char name[kMaxNameLength + 1];
    std::memcpy(name, at, n);
    name[n] = '\0';
    const bool last = end == nullptr;
    char* rest = last ? at + n : end;  // from its slash on
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT && last) {
        std::memcpy(place->Name, name, n + 1);
        place->Exists = false;
        break;
      }
      error = errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : LastError();
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++hops > kMaxLinkHops) {
        error = ERROR_CANT_RESOLVE_FILENAME;
        break;
      }
      if (!MayFollow(folder, st.st_uid)) {
        error = ERROR_ACCESS_DENIED;
        break;
      }
      if (IsProcLink(folder)) {
        struct stat file;
        error = ProcLinkFile(folder, name, &file);
        if (error != ERROR_SUCCESS) break;
        if (last) {
          expected = file;
          expecting = true;
        }
      }
      // The link's text takes the place of its name; what followed it
      // stays.  A relative text is relative to the link's folder.
      char text[PATH_MAX];
      const ssize_t t = readlinkat(folder, name, text, sizeof text);
      if (t < 0) {
        // No longer a link: the name changed since it was looked at.
        error = errno == EINVAL ? ERROR_SHARING_VIOLATION : LastError();
        break;
      }
      const std::size_t restLength = std::strlen(rest);
      if (t == 0 || static_cast<std::size_t>(t) + restLength >= sizeof text) {
        error = t == 0 ? ERROR_FILE_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE;
        break;
      }
      std::memmove(text + t, rest, restLength + 1);
      std::memcpy(pending, text, static_cast<std::size_t>(t) + restLength + 1);
      at = pending;
      if (pending[0] == '/') {
        const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
          error = LastError();
          break;
        }
        close(folder);
        folder = root;
      }
      continue;
    }
    if (last) {
      std::memcpy(place->Name, name, n + 1);
      place->Exists = true;
      place->Status = st;
      break;
    }
    // A folder on the way; a file there leaves the path without its folder.
    const int next = openat(folder, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      error = errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : LastError();
      break;
    }
    close(folder);
    folder = next;
    at = rest;
  }
  if (error == ERROR_SUCCESS && expecting &&
      !(place->Exists && SameFile(place->Status, expected)))
    error = ERROR_FILE_NOT_FOUND;
  if (error == ERROR_SUCCESS) {
    // The folder is read to be flushed, as a folder must be.
    place->Folder = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (place->Folder < 0) error = LastError();
  }
  close(folder);
  return error;
}

// Opens the entry that place found, as a regular file that is still what
// was found.  For reading where the file allows it, else only to refer to
// it (O_PATH): a write-only file can be replaced all the same.
DWORD OpenFound(const Place& place, bool forReading, int* fd) {
  if (DWORD error = KindError(place.Status.st_mode)) return error;
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  *fd = openat(place.Folder, place.Name,
               O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0 && errno == EACCES && !forReading)
    *fd = openat(place.Folder, place.Name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0) return errno == ELOOP ? ERROR_SHARING_VIOLATION : LastError();
  struct stat st;
  DWORD error = ERROR_SUCCESS;
  if (fstat(*fd, &st) != 0)
    error = LastError();
  else if (!SameFile(st, place.Status))
    error = ERROR_SHARING_VIOLATION;  // changed between looking and opening
  else
    error = KindError(st.st_mode);
  if (error == ERROR_SUCCESS && forReading && fcntl(*fd, F_SETFL, 0) != 0) error = LastError();
  if (error != ERROR_SUCCESS) Close(fd);
  return error;
}

// ---------------------------------------------------------------- attributes

// Lists and values of extended attributes are at most 64 KiB each.
constexpr std::size_t kAttributeSize = 64 * 1024;
char attributeNames[kAttributeSize];
uint8_t attributeValue[kAttributeSize];
uint8_t presentValue[kAttributeSize];

constexpr char kAccessAcl[] = "system.posix_acl_access";

// The attribute calls on a descriptor, which for one that only refers to
// its file (O_PATH) go through /proc.
ssize_t ListAttributes(int fd, char* list, std::size_t size) {
  ssize_t n = flistxattr(fd, list, size);
  if (n < 0 && errno == EBADF) {
    char self[32];
    SelfPath(fd, self);
    n = listxattr(self, list, size);
  }
  return n;
}

ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size) {
  ssize_t n = fgetxattr(fd, name, value, size);
  if (n < 0 && errno == EBADF) {
    char self[32];
    SelfPath(fd, self);
    n = getxattr(self, name, value, size);
  }
  return n;
}

bool Unsupported(int error) { return error == ENOTSUP || error == ENOSYS; }

// Gives the file to the extended attributes of from, each one that it does
// not have already with the same value.  An access ACL that from lacks is
// taken away (one the folder's default ACL gave), so that who may open the
// file is what the old one's mode says.
DWORD CarryAttributes(int from, int to) {
  const ssize_t listed = ListAttributes(from, attributeNames, sizeof attributeNames);
  if (listed < 0) return Unsupported(errno) ? ERROR_SUCCESS : LastError();
  bool hasAccessAcl = false;
  for (const char* name = attributeNames; name < attributeNames + listed;
       name += std::strlen(name) + 1) {
    const ssize_t size = GetAttribute(from, name, attributeValue, sizeof attributeValue);
    if (size < 0) {
      if (errno == ENODATA) continue;  // gone since it was listed
      return LastError();
    }
    if (std::strcmp(name, kAccessAcl) == 0) hasAccessAcl = true;
    const ssize_t present = fgetxattr(to, name, presentValue, sizeof presentValue);
    if (present == size &&
        std::memcmp(presentValue, attributeValue, static_cast<std::size_t>(size)) == 0)
      continue;
    if (fsetxattr(to, name, attributeValue, static_cast<std::size_t>(size), 0) != 0)
      return LastError();
  }
  if (!hasAccessAcl && fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA &&
      !Unsupported(errno))
    return LastError();
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- saves

// What a save replaces: the folder entry and, when there is one, the file
// it holds (open) and what that file was.
struct Target {
  int Folder = -1;
  const char* Name = nullptr;
  int Old = -1;
  struct stat Status;
};

// Why an existing file may not be replaced, or 0.
DWORD ReplaceError(const struct stat& st) {
  if (DWORD error = KindError(st.st_mode)) return error;
  if (st.st_nlink > 1) return ERROR_NOT_SUPPORTED;
  if (!MayWrite(st)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// The new file takes the old one's owner, group, extended attributes and
// mode.  A user who is not root keeps the group when a member of it, and
// the owner only when it is the user; set-user and set-group bits go with
// the owner they belong to.  The mode comes last, as an ACL sets it too.
DWORD KeepIdentity(int fd, const Target& target) {
  const struct stat& old = target.Status;
  mode_t mode = old.st_mode & 07777;
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    mode &= 0777;
    (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  if (DWORD error = CarryAttributes(target.Old, fd)) return error;
  if (fchmod(fd, mode) != 0) return LastError();
  return ERROR_SUCCESS;
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
// it for an instant, so a lock not had after kTurnWaits tries, a
// millisecond apart, is held by another program, perhaps another user's
// (anyone who can read a folder can lock it): the save goes on without
// it, as where the file system has no such locks, rather than wait on it.
class FolderTurn {
 public:
  explicit FolderTurn(int folder) {
    for (int tries = 0; tries < kTurnWaits; ++tries) {
      if (flock(folder, LOCK_EX | LOCK_NB) == 0) {
        folder_ = folder;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return;
      const struct timespec millisecond = {0, 1000 * 1000};
      (void)nanosleep(&millisecond, nullptr);
    }
  }
  ~FolderTurn() {
    if (folder_ >= 0) (void)flock(folder_, LOCK_UN);
  }
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

 private:
  static constexpr int kTurnWaits = 1000;
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

// Writes the new file and puts it in the target's place; *made is the new
// file, open, on success.
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

HeldFile::~HeldFile() { Close(); }

void HeldFile::Close() {
  portable::Close(&Folder);
  portable::Close(&File);
  Name[0] = '\0';
}

void HeldFile::Take(HeldFile& other) {
  if (&other == this) return;
  Close();
  Folder = other.Folder;
  File = other.File;
  std::memcpy(Name, other.Name, sizeof Name);
  other.Folder = other.File = -1;
  other.Name[0] = '\0';
}

DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size, HeldFile* held) {
  *size = 0;
  Place place;
  int fd = -1;
  DWORD error = ERROR_SHARING_VIOLATION;
  // A name that changes between looking and opening (another save put its
  // file in place) is looked up again.
  for (int attempt = 0; attempt < kNameTries && error == ERROR_SHARING_VIOLATION; ++attempt) {
    Close(&place.Folder);
    error = FindPlace(path, &place);
    if (error != ERROR_SUCCESS) return error;
    error = place.Exists ? OpenFound(place, true, &fd) : ERROR_FILE_NOT_FOUND;
  }
  std::size_t used = 0;
  while (error == ERROR_SUCCESS) {
    if (used == capacity) {
      // Full: one more byte means the file is larger than we read.
      uint8_t extra;
      if (read(fd, &extra, 1) > 0) error = ERROR_FILE_TOO_LARGE;
      break;
    }
    ssize_t n = read(fd, buffer + used, capacity - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = LastError();
    }
    if (n <= 0) break;
    used += static_cast<std::size_t>(n);
  }
  if (error == ERROR_SUCCESS) {
    *size = used;
    if (held != nullptr) {
      held->Close();
      held->Folder = place.Folder;
      held->File = fd;
      std::memcpy(held->Name, place.Name, sizeof held->Name);
      return ERROR_SUCCESS;
    }
  }
  Close(&fd);
  Close(&place.Folder);
  return error;
}

namespace {

// One save into what file holds, or, where it holds nothing, into what path
// names now.
DWORD SaveOnce(const char* path, const uint8_t* data, std::size_t size, HeldFile& file) {
  DWORD error = ERROR_SUCCESS;
  if (!file.Holds()) {
    Place place;
    error = FindPlace(path, &place);
    if (error != ERROR_SUCCESS) return error;
    file.Folder = place.Folder;
    std::memcpy(file.Name, place.Name, sizeof file.Name);
    if (place.Exists) error = OpenFound(place, false, &file.File);
  }
  Target target;
  target.Folder = file.Folder;
  target.Name = file.Name;
  target.Old = file.File;
  if (error == ERROR_SUCCESS && target.Old >= 0) {
    // As the file is now: its links and mode may have changed since.
    if (fstat(target.Old, &target.Status) != 0) error = LastError();
    else if (target.Status.st_nlink == 0) error = ERROR_SHARING_VIOLATION;
    else error = ReplaceError(target.Status);
  }
  int made = -1;
  if (error == ERROR_SUCCESS) error = WriteNew(target, data, size, &made);
  if (error == ERROR_SUCCESS) {
    // The name now holds the new file; a later save replaces that one.
    Close(&file.File);
    file.File = made;
  }
  return error;
}

}  // namespace

DWORD WriteFileReplacing(const char* path, const uint8_t* data, std::size_t size,
                         HeldFile* held) {
  if (held != nullptr && held->Holds()) return SaveOnce(path, data, size, *held);
  // Nothing was read: whatever file the name holds is replaced, but only
  // the one looked at; another save that changes it meanwhile makes this
  // one look again.
  HeldFile found;
  DWORD error = ERROR_SHARING_VIOLATION;
  for (int attempt = 0; attempt < kNameTries && error == ERROR_SHARING_VIOLATION; ++attempt) {
    found.Close();
    error = SaveOnce(path, data, size, found);
  }
  if (error == ERROR_SUCCESS && held != nullptr) held->Take(found);
  return error;
}

}  // namespace portable
