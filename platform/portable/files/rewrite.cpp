// Rewriting a link file in place, for the saves whose new file could not
// take everything the old one has (a second name, or what the probe of
// identity.cpp found missing): the file keeps its inode, and with it its
// owner, group, mode, ACLs, hard links and every extended attribute, seen
// or not.
//
// As editors that keep their files do it (vim's backupcopy, Emacs'
// backup-by-copying): the old contents are first copied to a hidden file
// beside the link, .lnk-<16 hex digits>.bak, which is flushed with its
// folder; then the link is written and flushed; then the copy is removed.
// A save killed in between leaves the copy, whole; a write that fails puts
// the old contents back from it.  The copy is readable by its owner alone:
// the link's owner where root saves, so that he can put it back; else this
// user, whom the system lets give it to nobody else, with an ACL entry
// that lets the link's owner read it where the file system keeps ACLs.
// Where this user may write the link but not its folder (Windows' "Change"
// on a file alone), the copy goes into /tmp.
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"

namespace portable {
namespace {

// What a copy moves at a time where the kernel cannot copy by itself.
uint8_t chunk[64 * 1024];

bool WriteAllAt(int fd, const uint8_t* data, std::size_t size) {
  off_t at = 0;
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    at += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies the size bytes of from, from its start, to the start of to.  The
// size is a file's, which on a 32-bit system may not fit a size_t.
bool CopyContents(int from, int to, off_t size) {
  off_t in = 0, out = 0;
  while (size > 0) {
    const std::size_t step = size < off_t{1 << 30} ? static_cast<std::size_t>(size) : 1u << 30;
    const ssize_t n = copy_file_range(from, &in, to, &out, step, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size -= n;
  }
  while (size > 0) {  // where the kernel cannot copy: by hand
    const std::size_t step =
        size < off_t{sizeof chunk} ? static_cast<std::size_t>(size) : sizeof chunk;
    const ssize_t n = pread(from, chunk, step, in);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (pwrite(to, chunk, static_cast<std::size_t>(n), out) != n) return false;
    in += n;
    out += n;
    size -= n;
  }
  return true;
}

// The contents, readable: the old file as Load held it may be open only to
// refer to it.
int OpenToRead(const Target& target) {
  char self[32];
  SelfPath(target.Old, self);
  return OpenWaiting(AT_FDCWD, self, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// What a copy is made from.
struct Original {
  int From;
  const struct stat& Status;
};

// Lets the user owner read the copy fd as well, by an entry of its POSIX
// access ACL (version 2: the file's owner rw, owner r, the mask r, nobody
// else anything).  Where the file system keeps no ACLs, the copy stays its
// maker's alone.
void LetRead(int fd, uid_t owner) {
  constexpr uint32_t kAnyone = 0xFFFFFFFF;
  const uint32_t entries[][3] = {  // tag, permissions, id
      {0x01, 6, kAnyone}, {0x02, 4, owner}, {0x04, 0, kAnyone}, {0x10, 4, kAnyone},
      {0x20, 0, kAnyone}};
  uint8_t acl[4 + 8 * 5];
  uint8_t* at = acl;
  const auto put = [&at](uint32_t value, int bytes) {  // little-endian, as the kernel reads it
    for (int i = 0; i < bytes; ++i) *at++ = static_cast<uint8_t>(value >> (8 * i));
  };
  put(2, 4);
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  (void)fsetxattr(fd, "system.posix_acl_access", acl, sizeof acl, 0);
}

// Root's copy is given to the link's owner; another user's copy stays his,
// as the system has it, and lets the link's owner read it.  So the owner
// can put it back.
DWORD FillCopy(int fd, const void* context) {
  const Original& original = *static_cast<const Original*>(context);
  if (!CopyContents(original.From, fd, original.Status.st_size)) return LastError();
  const uid_t user = geteuid();
  if (user == 0 && fchown(fd, original.Status.st_uid, original.Status.st_gid) != 0)
    return LastError();
  if (user != 0 && user != original.Status.st_uid) LetRead(fd, original.Status.st_uid);
  if (fsync(fd) != 0) return LastError();
  return ERROR_SUCCESS;
}

// Where the copy of the old contents is.
struct Copy {
  int Folder = -1;  // the link's folder, or the temporary one
  char Name[32];
};

// A copy of the old contents under a hidden name, which it gets only once
// it is whole; flushed with its folder.  It goes beside the link, or, where
// this user may write the link but not its folder, into /tmp.
DWORD MakeCopy(const Target& target, Copy* copy) {
  const Original original = {OpenToRead(target), target.Status};
  if (original.From < 0) return LastError();
  const Filler fill{FillCopy, &original};
  int fd = -1;
  copy->Folder = target.Folder;
  DWORD error = MakeWholeFile(copy->Folder, 0600, fill, ".bak", copy->Name, &fd);
  if (error == ERROR_ACCESS_DENIED) {
    copy->Folder = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    error = copy->Folder < 0 ? LastError()
                             : MakeWholeFile(copy->Folder, 0600, fill, ".bak", copy->Name, &fd);
  }
  close(original.From);
  if (error == ERROR_SUCCESS) {
    close(fd);
    error = SyncFolder(copy->Folder);
    if (error != ERROR_SUCCESS) (void)unlinkat(copy->Folder, copy->Name, 0);
  }
  if (error != ERROR_SUCCESS && copy->Folder != target.Folder) Close(&copy->Folder);
  return error;
}

// Writes data over the file's contents and flushes them.
DWORD Overwrite(int fd, const uint8_t* data, std::size_t size) {
  if (!WriteAllAt(fd, data, size) || ftruncate(fd, static_cast<off_t>(size)) != 0 ||
      fsync(fd) != 0)
    return LastError();
  return ERROR_SUCCESS;
}

// Puts the copy's contents back; true when they are back and on disk.
bool PutBack(const Target& target, int writable, const Copy& copy) {
  const int fd = openat(copy.Folder, copy.Name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const off_t size = target.Status.st_size;
  const bool back = CopyContents(fd, writable, size) && ftruncate(writable, size) == 0 &&
                    fsync(writable) == 0;
  close(fd);
  return back;
}

}  // namespace

DWORD RewriteInPlace(const Target& target, int writable, const uint8_t* data, std::size_t size) {
  FolderTurn turn(target.Folder);
  // A file already changed needs no copy.
  if (DWORD error = StillAsRead(target)) return error;
  Copy copy;
  if (DWORD error = MakeCopy(target, &copy)) return error;
  // Checked again once the copy is on disk, right before the write: a
  // change made while the copy was flushed is not overwritten either.
  DWORD error = StillAsRead(target);
  const bool unchanged = error == ERROR_SUCCESS;
  if (unchanged) error = MarkArchive(writable);
  // A write that failed leaves the copy only where it could not be put back.
  if (error == ERROR_SUCCESS) error = Overwrite(writable, data, size);
  const bool copyNeeded = unchanged && error != ERROR_SUCCESS && !PutBack(target, writable, copy);
  if (!copyNeeded) (void)unlinkat(copy.Folder, copy.Name, 0);
  const DWORD synced = copyNeeded ? ERROR_SUCCESS : SyncFolder(copy.Folder);
  if (copy.Folder != target.Folder) close(copy.Folder);
  return error != ERROR_SUCCESS ? error : synced;
}

}  // namespace portable
