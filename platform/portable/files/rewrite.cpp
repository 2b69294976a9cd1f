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
// A save killed in between leaves the copy, whole, and the link old, or
// new, perhaps followed by zeros (Overwrite); a write that fails puts the
// old contents back from it, read through the copy's own descriptor, so
// that nobody who may write the folder can put another file under its
// name meanwhile.  A save whose write would take something from the file
// (set-ID bits, capabilities) is refused before it writes
// (privileges.cpp).  The copy is readable by its owner alone:
// the link's owner where root saves, so that he can put it back; else this
// user, whom the system lets give it to nobody else, with an ACL entry
// that lets the link's owner read it where the file system keeps ACLs.
// Where this user may write the link but not its folder (Windows' "Change"
// on a file alone), the copy goes into /tmp.
#include <fcntl.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "files.h"
#include "shllink/bytes.h"

namespace portable {
namespace {

// What a copy moves at a time where the kernel cannot copy by itself.
uint8_t chunk[64 * 1024];

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

// What a copy is made from.
struct Original {
  int From;
  const struct stat& Status;
};

// The POSIX access ACL as the kernel reads it (linux/posix_acl_xattr.h):
// version 2, then per entry a tag, permissions and an ID, little-endian.
enum AclTag : uint16_t {
  kAclUserObj = 0x01, kAclUser = 0x02, kAclGroupObj = 0x04, kAclMask = 0x10, kAclOther = 0x20
};
constexpr uint32_t kAclVersion = 2, kAclNoId = 0xFFFFFFFF;  // ACL_UNDEFINED_ID
constexpr uint16_t kAclRead = 4, kAclWrite = 2;

// Lets the user owner read the copy fd as well, by an entry of its access
// ACL: the copy's owner may read and write, owner may read, and nobody else
// anything.  Where the file system keeps no ACLs, the copy stays its
// maker's alone.
void LetRead(int fd, uid_t owner) {
  const struct {
    AclTag Tag;
    uint16_t Permissions;
    uint32_t Id;
  } entries[] = {{kAclUserObj, kAclRead | kAclWrite, kAclNoId}, {kAclUser, kAclRead, owner},
                 {kAclGroupObj, 0, kAclNoId}, {kAclMask, kAclRead, kAclNoId},
                 {kAclOther, 0, kAclNoId}};
  uint8_t acl[4 + 8 * std::size(entries)];
  shllink::Writer out(acl, sizeof acl);
  out.U32(kAclVersion);
  for (const auto& e : entries) {
    out.U16(e.Tag);
    out.U16(e.Permissions);
    out.U32(e.Id);
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
  int File = -1;  // the copy, open to be read back
};

// A copy of the old contents under a hidden name, which it gets only once
// it is whole; flushed with its folder.  It goes beside the link, or, where
// this user may write the link but not its folder, into /tmp.
DWORD MakeCopy(const Target& target, Copy* copy) {
  // The old file as the read held it may be open only to refer to it.
  const Original original = {
      target.WritableReads ? target.Writable
                           : OpenAnew(target.Old, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
      target.Status};
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
  if (original.From != target.Writable) close(original.From);
  if (error == ERROR_SUCCESS) {
    copy->File = fd;
    error = SyncFolder(copy->Folder);
    if (error != ERROR_SUCCESS) {
      (void)unlinkat(copy->Folder, copy->Name, 0);
      Close(&copy->File);
    }
  }
  if (error != ERROR_SUCCESS && copy->Folder != target.Folder) Close(&copy->Folder);
  return error;
}

// What pads a new link that is shorter than the old one to the old one's
// length: never written, so it takes no room in the program.
uint8_t zeros[64 * 1024];

// Writes data over the file's contents in one write, followed by zeros up
// to the old contents' length where data is shorter, then cuts the file to
// data's length: a save killed between the two leaves the new link with
// zeros behind it, which reads as the new link and holds nothing of the
// old one.  One write, as before, so that a reader sees the old contents
// or the new ones.
// An old file longer than any link is not padded: cut short, it is no link
// either (223).
DWORD Overwrite(int fd, const uint8_t* data, std::size_t size, off_t oldSize) {
  constexpr int kParts = 2 + kMaxLinkFileSize / sizeof zeros;
  const bool padded = oldSize > static_cast<off_t>(size) &&
                      oldSize <= static_cast<off_t>(kMaxLinkFileSize);
  const std::size_t total = padded ? static_cast<std::size_t>(oldSize) : size;
  for (std::size_t at = 0; at < total;) {  // again from where a short write ended
    iovec parts[kParts];
    int count = 0;
    if (at < size) parts[count++] = {const_cast<uint8_t*>(data) + at, size - at};
    for (std::size_t pad = total - (at > size ? at : size); pad > 0 && count < kParts;) {
      const std::size_t n = pad < sizeof zeros ? pad : sizeof zeros;
      parts[count++] = {zeros, n};
      pad -= n;
    }
    const ssize_t n = pwritev(fd, parts, count, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return LastError();
    at += static_cast<std::size_t>(n);
  }
  return ftruncate(fd, static_cast<off_t>(size)) == 0 ? ERROR_SUCCESS : LastError();
}

// Puts the copy's contents back; true when they are back and on disk.
bool PutBack(const Target& target, const Copy& copy) {
  const off_t size = target.Status.st_size;
  const int writable = target.Writable;
  return CopyContents(copy.File, writable, size) && ftruncate(writable, size) == 0 &&
         fsync(writable) == 0;
}

// Removes the copy, where its name still holds it: a file someone else put
// under that name stays.
void RemoveCopy(const Copy& copy) {
  struct stat st;
  if (fstat(copy.File, &st) == 0 && Names(copy.Folder, copy.Name, st))
    (void)unlinkat(copy.Folder, copy.Name, 0);
}

// Sets the archive bit, then looks at the rights a write in place could
// undo: the owner, group and mode must still be those the save planned
// with, and the DOS record the one it just marked.  A change made by then
// stays, and the save is refused.
DWORD MarkAndLook(int fd, const struct stat& planned) {
  uint8_t record[kMaxDosRecord], marked[kMaxDosRecord], now[kMaxDosRecord];
  ssize_t size = GetAttribute(fd, kDosAttributesName, record, sizeof record);
  if (DWORD error = MarkArchive(fd)) return error;
  if (size > 0) {
    const std::size_t n = MarkedRecord(record, static_cast<std::size_t>(size), marked);
    if (n > 0) {
      std::memcpy(record, marked, n);
      size = static_cast<ssize_t>(n);
    }
  }
  struct stat st;
  if (fstat(fd, &st) != 0) return LastError();
  const ssize_t present = GetAttribute(fd, kDosAttributesName, now, sizeof now);
  if (st.st_uid == planned.st_uid && st.st_gid == planned.st_gid &&
      st.st_mode == planned.st_mode && present == size &&
      (present <= 0 || std::memcmp(now, record, static_cast<std::size_t>(present)) == 0))
    return ERROR_SUCCESS;
  Note("the link's owner, group, mode or DOS attributes changed while it was saved; the "
       "change stays, and the save is not made");
  return ERROR_SHARING_VIOLATION;
}

}  // namespace

DWORD RewriteInPlace(const Target& target, const uint8_t* data, std::size_t size) {
  // A file already changed needs no copy, nor one whose rights a write
  // would take.
  if (DWORD error = StillAsRead(target)) return error;
  struct stat planned;
  if (fstat(target.Writable, &planned) != 0) return LastError();
  if (DWORD error = PrivilegesError(target, planned)) return error;
  Copy copy;
  if (DWORD error = MakeCopy(target, &copy)) return error;
  DWORD error = ERROR_SUCCESS;
  bool wrote = false;
  {
    // Looked at again once the copy is on disk, right before the write: a
    // change made meanwhile is not overwritten; a writer who opens the
    // link after the last look is held at his open until the write is
    // done, and writes after it.
    const Lease lease(target);
    error = MarkAndLook(target.Writable, planned);
    if (error == ERROR_SUCCESS) error = StillAsRead(target);
    if (error == ERROR_SUCCESS && lease.WriterCame()) error = ERROR_SHARING_VIOLATION;
    wrote = error == ERROR_SUCCESS;
    if (wrote) error = Overwrite(target.Writable, data, size, planned.st_size);
  }
  if (error == ERROR_SUCCESS && fsync(target.Writable) != 0) error = LastError();
  // A write that failed leaves the copy only where it could not be put back.
  const bool copyNeeded = wrote && error != ERROR_SUCCESS && !PutBack(target, copy);
  if (!copyNeeded) RemoveCopy(copy);
  close(copy.File);
  const DWORD synced = copyNeeded ? ERROR_SUCCESS : SyncFolder(copy.Folder);
  if (copy.Folder != target.Folder) close(copy.Folder);
  return error != ERROR_SUCCESS ? error : synced;
}

}  // namespace portable
