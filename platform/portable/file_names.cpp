// Names, resolved one component at a time, and what they lead to.
//
// Only regular files are read or replaced.  A folder is refused as access
// denied, as Windows refuses one; a device, pipe or socket as a file of the
// wrong type, before anything could wait on it or write to it: the name is
// looked at before anything is opened, and what is opened is looked at
// again.
//
// The symbolic links on the way are followed here, so that the rule the
// kernel applies in shared folders holds whatever the system's setting: in
// a folder that is sticky and writable by all, a symbolic link is followed
// only when it belongs to this user or to the folder's owner.  A link
// through /proc (/proc/self/fd/N) must still lead to the file it stands
// for; one whose file has no name any more leads nowhere.
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

// Symbolic links followed before the name counts as a loop, as the kernel
// counts them.
constexpr int kMaxLinkHops = 40;
// The file system of /proc, whose links stand for open files.
constexpr long kProcFileSystem = 0x9fa0;

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

}  // namespace

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

}  // namespace portable
