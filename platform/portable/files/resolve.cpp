// Names, resolved one component at a time, and what they lead to.
//
// Only regular files are read or replaced.  A folder is refused as access
// denied, as Windows refuses one; a device, pipe or socket as a file of the
// wrong type, before anything could wait on it or write to it: the name is
// looked at before anything is opened, and what is opened is looked at
// again.  So is a file of the kernel's own file systems (/proc, /sys and
// their kind), whose reads may wait for ever or take what they read away
// (/proc/kmsg).
//
// The symbolic links on the way are followed here, not by the kernel, so
// that these rules hold whatever the system's settings:
//   - in a folder that is sticky and writable by all, a symbolic link is
//     followed only when it belongs to this user or to the folder's owner,
//     as the kernel's protected_symlinks has it;
//   - a symbolic link of another user leads only to what that user owns:
//     what its text names in the end (the file, the folder, or for a name
//     that does not exist yet the folder it would be made in) must belong
//     to the link's owner.  Whoever may make a link in a folder could
//     otherwise have this user's saves write, and its reads show, any file
//     this user may reach.  The folders on the way do not count, nor do
//     links of root, who could write the file anyway;
//   - a link through /proc (/proc/self/fd/N) must still lead to the file it
//     stands for; one whose file has no name any more leads nowhere;
//   - an entry with more than one name, a file or a symbolic link (root's
//     included), is used only where the folder it is found in is written by
//     its owner alone and that owner is this user, root or the entry's
//     owner (OtherNamesError): whoever else may write the folder could have
//     linked there what they could not reach, were protected_hardlinks off.
//
// Each step is one component: a folder entered, a symbolic link whose text
// takes its place, or the last component arrived at.  Folders are held by
// O_PATH, as systemd's chase holds them, so that one this user may pass
// but not list (0711, 0733) is passed as the kernel allows.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

// Symbolic links followed before the name counts as a loop, as the kernel
// counts them.
constexpr int kMaxLinkHops = 40;
// The kernel's own file systems.  Their files say they are regular, but a
// read of one may wait for ever, or change the system.
constexpr unsigned long kKernelFileSystems[] = {
    PROC_SUPER_MAGIC, SYSFS_MAGIC,      DEBUGFS_MAGIC,       TRACEFS_MAGIC,
    SECURITYFS_MAGIC, SELINUX_MAGIC,    SMACK_MAGIC,         PSTOREFS_MAGIC,
    EFIVARFS_MAGIC,   CGROUP_SUPER_MAGIC, CGROUP2_SUPER_MAGIC, BPF_FS_MAGIC,
};

bool OnKernelFileSystem(int fd) {
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return true;
  for (unsigned long type : kKernelFileSystems)
    if (static_cast<unsigned long>(fs.f_type) == type) return true;
  return false;
}

// The symbolic links of other users followed so far whose text is not yet
// resolved to its end, each with its owner and the length of what followed
// the link in the name.  The text ends where the rest of the name to
// resolve is that long again: there, what was reached must be the owner's.
struct Owed {
  std::size_t Rest;
  uid_t Owner;
};

struct Debts {
  Owed Links[kMaxLinkHops + 1];
  int Count = 0;

  // Reached, with rest left to resolve, something of the given owner.
  // False when that ends the text of a link of somebody else.
  bool Settle(std::size_t rest, uid_t owner) {
    for (; Count > 0 && Links[Count - 1].Rest == rest; --Count)
      if (Links[Count - 1].Owner != owner) return false;
    return true;
  }
};

// The length of what is left of a name, without the slashes it starts with.
std::size_t RestLength(const char* rest) {
  while (*rest == '/') ++rest;
  return std::strlen(rest);
}

// The symbolic link name names in folder: what it is (*st) and its text,
// read from one and the same link.
DWORD ReadLink(int folder, const char* name, struct stat* st, char (&text)[PATH_MAX],
               ssize_t* length) {
  const int fd = openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_SHARING_VIOLATION : LastError();
  DWORD error = ERROR_SUCCESS;
  if (fstat(fd, st) != 0)
    error = LastError();
  else if (!S_ISLNK(st->st_mode))
    error = ERROR_SHARING_VIOLATION;  // no longer a link: the name changed
  else if ((*length = readlinkat(fd, "", text, sizeof text)) < 0)
    error = LastError();
  close(fd);
  return error;
}

uid_t OwnerOf(int fd) {
  struct stat st;
  // Nobody owns what cannot be looked at: no debt is settled by it.
  return fstat(fd, &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

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

// Whether the symbolic links of folder are those of /proc, each of which
// stands for an open file rather than for its text.
bool IsProcLink(int folder) {
  struct statfs fs;
  return fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// The file the /proc link name of folder stands for, into *file: a folder
// on the way, or a regular file that still has a name (else the error
// returned).  Where the link ends the name, what the walk arrives at must
// be that very file (Walk::Expected).
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


// A resolution under way, as systemd's chase walks a name: the folder
// reached so far (held by O_PATH, so that a folder this user may pass but
// not list is passed), what is left to resolve, and what the links on the
// way still owe.
struct Walk {
  int Folder = -1;
  char Pending[PATH_MAX];  // what is left to resolve
  char* At = nullptr;      // where in Pending the next component starts
  Debts Owing;
  int Hops = 0;
  struct stat Expected = {};  // the file a link of /proc stands for
  bool Expecting = false;

  Walk() = default;
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;
  ~Walk() { Close(&Folder); }
};

// One component of the name: its text and where the rest begins.
struct Component {
  char Name[kMaxNameLength + 1];
  bool Last = false;
  char* Rest = nullptr;  // from its slash on, or the end
};

// Starts the walk at the root or the working folder.
DWORD Begin(const char* path, Walk* walk) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof walk->Pending) return ERROR_FILENAME_EXCED_RANGE;
  if (length == 0 || path[length - 1] == '/') return ERROR_INVALID_NAME;  // no file named
  std::memcpy(walk->Pending, path, length + 1);
  walk->At = walk->Pending;
  walk->Folder = open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  return walk->Folder < 0 ? LastError() : ERROR_SUCCESS;
}

// Takes the next component off what is left.
DWORD NextComponent(Walk* walk, Component* c) {
  char* at = walk->At;
  while (*at == '/') ++at;
  char* end = std::strchr(at, '/');
  const std::size_t n = end == nullptr ? std::strlen(at) : static_cast<std::size_t>(end - at);
  if (n == 0) return ERROR_INVALID_NAME;  // nothing after the last slash: no file named
  if (n > kMaxNameLength) return ERROR_FILENAME_EXCED_RANGE;
  std::memcpy(c->Name, at, n);
  c->Name[n] = '\0';
  c->Last = end == nullptr;
  c->Rest = c->Last ? at + n : end;
  return ERROR_SUCCESS;
}

// Goes down into the folder c names.  A file there leaves the path without
// its folder.
DWORD EnterFolder(Walk* walk, const Component& c) {
  const int next = openat(walk->Folder, c.Name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (next < 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : LastError();
  Close(&walk->Folder);
  walk->Folder = next;
  walk->At = c.Rest;
  return walk->Owing.Settle(RestLength(c.Rest), OwnerOf(walk->Folder)) ? ERROR_SUCCESS
                                                                        : ERROR_ACCESS_DENIED;
}

// Puts the text of the symbolic link c names in its place; what followed
// it stays.  A relative text is relative to the link's folder.
DWORD FollowLink(Walk* walk, const Component& c) {
  // The owner is the owner of the very link whose text is read.
  struct stat st;
  char text[PATH_MAX];
  ssize_t t = 0;
  if (DWORD error = ReadLink(walk->Folder, c.Name, &st, text, &t)) return error;
  if (++walk->Hops > kMaxLinkHops) return ERROR_CANT_RESOLVE_FILENAME;
  if (!MayFollow(walk->Folder, st.st_uid)) return ERROR_ACCESS_DENIED;
  if (DWORD error = OtherNamesError(walk->Folder, st)) return error;
  if (IsProcLink(walk->Folder)) {
    struct stat file;
    if (DWORD error = ProcLinkFile(walk->Folder, c.Name, &file)) return error;
    if (c.Last) {
      walk->Expected = file;
      walk->Expecting = true;
    }
  }
  const std::size_t restLength = std::strlen(c.Rest);
  if (st.st_uid != geteuid() && st.st_uid != 0)
    walk->Owing.Links[walk->Owing.Count++] = {RestLength(c.Rest), st.st_uid};
  if (t == 0) return ERROR_FILE_NOT_FOUND;
  if (static_cast<std::size_t>(t) + restLength >= sizeof text) return ERROR_FILENAME_EXCED_RANGE;
  std::memmove(text + t, c.Rest, restLength + 1);
  std::memcpy(walk->Pending, text, static_cast<std::size_t>(t) + restLength + 1);
  walk->At = walk->Pending;
  if (walk->Pending[0] == '/') {
    const int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return LastError();
    Close(&walk->Folder);
    walk->Folder = root;
  }
  // A text of slashes alone names the root.
  return walk->Owing.Settle(RestLength(walk->Pending), OwnerOf(walk->Folder))
             ? ERROR_SUCCESS
             : ERROR_ACCESS_DENIED;
}

// The last component, there (st) or not (nullptr): its folder and name go
// to found, and what it is, as looked at, to found->Read.
DWORD Arrive(Walk* walk, const Component& c, const struct stat* st, HeldFile* found) {
  std::memcpy(found->Name, c.Name, sizeof c.Name);
  if (st != nullptr) found->Read = *st;
  if (st != nullptr)
    if (DWORD error = OtherNamesError(walk->Folder, *st)) return error;
  if (!walk->Owing.Settle(0, st != nullptr ? st->st_uid : OwnerOf(walk->Folder)) ||
      walk->Owing.Count > 0)
    return ERROR_ACCESS_DENIED;
  if (walk->Expecting && !(st != nullptr && SameFile(*st, walk->Expected)))
    return ERROR_FILE_NOT_FOUND;
  found->Folder = walk->Folder;
  walk->Folder = -1;
  return ERROR_SUCCESS;
}

// One step: the next component looked at and, as it is, entered, followed
// or arrived at.  *done once the walk has arrived, *exists where the last
// component is there.
DWORD Step(Walk* walk, HeldFile* found, bool* done, bool* exists) {
  Component c;
  if (DWORD error = NextComponent(walk, &c)) return error;
  struct stat st;
  if (fstatat(walk->Folder, c.Name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT && c.Last) {
      *done = true;
      return Arrive(walk, c, nullptr, found);
    }
    return errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : LastError();
  }
  if (S_ISLNK(st.st_mode)) return FollowLink(walk, c);
  if (c.Last) {
    *done = *exists = true;
    return Arrive(walk, c, &st, found);
  }
  return EnterFolder(walk, c);
}

}  // namespace

DWORD OtherNamesError(int folder, const struct stat& entry) {
  if (entry.st_nlink <= 1 || S_ISDIR(entry.st_mode)) return ERROR_SUCCESS;
  struct stat st;
  if (fstat(folder, &st) != 0) return LastError();
  const uid_t user = geteuid();
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
      (st.st_uid == user || st.st_uid == 0 || entry.st_uid == st.st_uid))
    return ERROR_SUCCESS;
  const char* kind = S_ISLNK(entry.st_mode) ? "symbolic link" : "file";
  Note("the %s has %ju names (hard links); one with more than one name is used only from a "
       "folder that its owner alone may write, owned by this user (%ju), root or the %s's "
       "owner (%ju), and this folder has mode %04o and owner %ju: whoever else may write a "
       "folder could have made a name there for a file never meant to be reached from it",
       kind, static_cast<uintmax_t>(entry.st_nlink), static_cast<uintmax_t>(user), kind,
       static_cast<uintmax_t>(entry.st_uid), static_cast<unsigned>(st.st_mode & 07777),
       static_cast<uintmax_t>(st.st_uid));
  return ERROR_NOT_SUPPORTED;
}

namespace {

// Opens the file the walk arrived at (found: its folder, name and status),
// as a regular file that is still what was looked at: to be read, or where
// reading is not a must and this user may not read it, only to refer to it
// (O_PATH).  found->Read is then the file as it was opened.
DWORD OpenArrived(unsigned mode, HeldFile* found) {
  if (DWORD error = KindError(found->Read.st_mode)) return error;
  // Without O_NONBLOCK, opening a pipe would wait for a writer, and a file
  // someone holds (a lease) for its holder.
  int& fd = found->File;
  fd = OpenWaiting(found->Folder, found->Name,
                   O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  const bool forReading = (mode & kFindReadable) != 0;
  if (fd < 0 && errno == EACCES && !forReading)
    fd = openat(found->Folder, found->Name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? ERROR_SHARING_VIOLATION : LastError();
  const struct stat looked = found->Read;
  if (fstat(fd, &found->Read) != 0) return LastError();
  if (!SameFile(found->Read, looked)) return ERROR_SHARING_VIOLATION;  // changed meanwhile
  if (DWORD error = KindError(found->Read.st_mode)) return error;
  if (OnKernelFileSystem(fd)) return ERROR_BAD_FILE_TYPE;
  if (forReading && fcntl(fd, F_SETFL, 0) != 0) return LastError();
  return ERROR_SUCCESS;
}

}  // namespace

DWORD FindPlace(const char* path, unsigned mode, HeldFile* found) {
  DWORD error = ERROR_SUCCESS;
  // A name that changes while it is looked at (another save put its file
  // in place) is looked up again, while the run may still try.
  int attempt = 0;
  do {
    found->Close();
    Walk walk;
    bool exists = false;
    error = Begin(path, &walk);
    for (bool done = false; error == ERROR_SUCCESS && !done;)
      error = Step(&walk, found, &done, &exists);
    if (error == ERROR_SUCCESS && exists)
      error = OpenArrived(mode, found);
    else if (error == ERROR_SUCCESS && (mode & kFindNonexistent) == 0)
      error = ERROR_FILE_NOT_FOUND;
  } while (error == ERROR_SHARING_VIOLATION && ++attempt < kNameTries && Patient());
  if (error != ERROR_SUCCESS) found->Close();
  return error;
}

}  // namespace portable
