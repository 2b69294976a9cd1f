// What a new file takes from the one it replaces: owner, group, mode,
// extended attributes and the inode flags chattr sets.  Where this user
// cannot give the new file one of them, the save keeps the old file
// instead (kKeepFileInstead): a new file would drop it.  And the DOS
// attributes Samba keeps: a save sets the archive attribute, as a write
// through SMB does.
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "files.h"

namespace portable {
namespace {

// Lists and values of extended attributes are at most 64 KiB each.
constexpr std::size_t kAttributeSize = 64 * 1024;
char attributeNames[kAttributeSize];
uint8_t attributeValue[kAttributeSize];
uint8_t presentValue[kAttributeSize];

constexpr char kAccessAcl[] = "system.posix_acl_access";

// The inode flags (FS_IOC_GETFLAGS) that chattr sets and a file keeps as
// its own (no dump, no atime, secure deletion, undeletable, ...), not
// those the file system gives each file itself (extents, inline data).
constexpr int kKeptFlags = FS_FL_USER_MODIFIABLE | FS_JOURNAL_DATA_FL | FS_NOCOW_FL;

// fd's kept flags; none where the file system has no flags.
int KeptFlags(int fd) {
  int flags = 0;
  return ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? flags & kKeptFlags : 0;
}

// Sets the kept flags of to to those of from, and leaves its others as they
// are; false where the system refuses.  No new file is made immutable or
// append-only: a file that became so meanwhile cannot be written, and keeps
// that flag.
bool GiveFlags(int from, int to) {
  const int wanted = KeptFlags(from);
  int flags = 0;
  if (wanted == KeptFlags(to)) return true;
  if (wanted & (FS_IMMUTABLE_FL | FS_APPEND_FL)) return false;
  if (ioctl(to, FS_IOC_GETFLAGS, &flags) != 0) return false;
  flags = (flags & ~kKeptFlags) | wanted;
  return ioctl(to, FS_IOC_SETFLAGS, &flags) == 0;
}

// An attribute call on a descriptor (onFd), or, for one that only refers
// to its file (O_PATH), the same call on its name under /proc (onName).
template <typename... Args>
ssize_t OnFile(ssize_t (*onFd)(int, Args...), ssize_t (*onName)(const char*, Args...), int fd,
               std::type_identity_t<Args>... args) {
  ssize_t n = onFd(fd, args...);
  if (n < 0 && errno == EBADF) {
    char self[32];
    SelfPath(fd, self);
    n = onName(self, args...);
  }
  return n;
}

ssize_t ListAttributes(int fd, char* list, std::size_t size) {
  return OnFile(flistxattr, listxattr, fd, list, size);
}

bool Unsupported(int error) { return error == ENOTSUP || error == ENOSYS; }

// Whether the refusal of an attribute, or an owner, means that a new file
// of this user's cannot take it.
bool CannotGive(int error) { return error == EPERM || error == EACCES || Unsupported(error); }

// Gives the file to each extended attribute of from that it does not have
// already with the same value.  An access ACL that from lacks is
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
      return CannotGive(errno) ? kKeepFileInstead : LastError();
  }
  if (!hasAccessAcl && fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA &&
      !Unsupported(errno))
    return CannotGive(errno) ? kKeepFileInstead : LastError();
  return ERROR_SUCCESS;
}

// The old file, by the descriptor its attributes are read through fastest:
// the one open for writing, where the save has it.
int OldFile(const Target& target) { return target.Writable >= 0 ? target.Writable : target.Old; }

// The value of the attribute name of fd, into into (capacity bytes), as a
// save leaves it where marked: the DOS record with the archive bit set.
ssize_t ValueAsSaved(int fd, const char* name, uint8_t* into, std::size_t capacity,
                     bool marked) {
  const ssize_t size = GetAttribute(fd, name, into, capacity);
  if (!marked || size < 0 || std::strcmp(name, kDosAttributesName) != 0) return size;
  uint8_t record[kMaxDosRecord];
  const std::size_t n = MarkedRecord(into, static_cast<std::size_t>(size), record);
  if (n == 0) return size;
  std::memcpy(into, record, n);
  return static_cast<ssize_t>(n);
}

// Whether every attribute the one file has, the other has with the same
// value, each as a save leaves it where marked; list is where the one's
// names are.
bool HasAllOf(int one, bool oneMarked, int other, bool otherMarked, char* list,
              std::size_t capacity) {
  const ssize_t listed = ListAttributes(one, list, capacity);
  if (listed < 0) return Unsupported(errno);
  for (const char* name = list; name < list + listed; name += std::strlen(name) + 1) {
    const ssize_t size = ValueAsSaved(one, name, attributeValue, sizeof attributeValue, oneMarked);
    if (size < 0) {
      if (errno == ENODATA) continue;
      return false;
    }
    const ssize_t present =
        ValueAsSaved(other, name, presentValue, sizeof presentValue, otherMarked);
    if (present != size ||
        std::memcmp(presentValue, attributeValue, static_cast<std::size_t>(size)) != 0)
      return false;
  }
  return true;
}

// Whether the new file fd has the owner, group, mode, kept flags and every
// attribute this user can see of the old file, which is as old says, and
// no other; the old one's DOS record as a save marks it where marked.
bool SameIdentity(int fd, const Target& target, const struct stat& old, bool marked) {
  struct stat now;
  const int from = OldFile(target);
  if (fstat(fd, &now) != 0 || now.st_uid != old.st_uid || now.st_gid != old.st_gid ||
      (now.st_mode & 07777) != (old.st_mode & 07777) || KeptFlags(fd) != KeptFlags(from))
    return false;
  return HasAllOf(from, marked, fd, false, attributeNames, sizeof attributeNames) &&
         HasAllOf(fd, false, from, marked, attributeNames, sizeof attributeNames);
}

}  // namespace

ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size) {
  return OnFile(fgetxattr, getxattr, fd, name, value, size);
}

// The new file takes the old one's owner and group, its extended attributes
// and its mode, the mode after them, as an ACL sets it too, and last its
// flags.  Then it is looked at,
// as vim's backupcopy=auto does: what the system quietly refused (a
// set-group-ID bit of a group this user is not in, an attribute it keeps
// to itself) leaves it unlike the old one, and the old one is kept.
DWORD KeepIdentity(int fd, const Target& target) {
  const struct stat& old = target.Status;
  if (fchown(fd, old.st_uid, old.st_gid) != 0)
    return CannotGive(errno) ? kKeepFileInstead : LastError();
  if (DWORD error = CarryAttributes(OldFile(target), fd)) return error;
  if (fchmod(fd, old.st_mode & 07777) != 0)
    return CannotGive(errno) ? kKeepFileInstead : LastError();
  if (!GiveFlags(OldFile(target), fd)) return kKeepFileInstead;
  return SameIdentity(fd, target, old, false) ? ERROR_SUCCESS : kKeepFileInstead;
}

uint64_t RightsPrint(const Target& target) {
  const int from = OldFile(target);
  struct stat st;
  uint64_t print = 0xcbf29ce484222325;  // FNV-1a
  const auto add = [&print](const void* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      print = (print ^ static_cast<const uint8_t*>(data)[i]) * 0x100000001b3;
  };
  if (fstat(from, &st) != 0) return 0;
  const int flags = KeptFlags(from);
  add(&st.st_uid, sizeof st.st_uid);
  add(&st.st_gid, sizeof st.st_gid);
  add(&st.st_mode, sizeof st.st_mode);
  add(&st.st_nlink, sizeof st.st_nlink);
  add(&flags, sizeof flags);
  const ssize_t listed = ListAttributes(from, attributeNames, sizeof attributeNames);
  for (const char* name = attributeNames; listed > 0 && name < attributeNames + listed;
       name += std::strlen(name) + 1) {
    const ssize_t size = GetAttribute(from, name, attributeValue, sizeof attributeValue);
    add(name, std::strlen(name) + 1);
    if (size > 0) add(attributeValue, static_cast<std::size_t>(size));
  }
  return print;
}

DWORD StillSameRights(int fd, const Target& target) {
  struct stat now;
  if (fstat(OldFile(target), &now) != 0) return LastError();
  if (now.st_nlink != target.Status.st_nlink) {
    Note("the link got another name (a hard link) while it was saved, from which a new file "
         "would part it; the save is not made");
    return ERROR_SHARING_VIOLATION;
  }
  if (SameIdentity(fd, target, now, true)) return ERROR_SUCCESS;
  Note("the link's owner, group, mode, ACL or another extended attribute changed while it "
       "was saved; the change stays, and the save is not made");
  return ERROR_SHARING_VIOLATION;
}

std::size_t MarkedRecord(const uint8_t* record, std::size_t size,
                         uint8_t (&out)[kMaxDosRecord]) {
  uint32_t attributes = 0;
  if (!ReadDosAttributes(record, size, &attributes) || (attributes & kDosArchive) != 0)
    return 0;  // a record this code does not know stays as it is
  return AddDosAttributes(record, size, kDosArchive, out, sizeof out);
}

DWORD MarkArchive(int fd) {
  uint8_t record[kMaxDosRecord];
  uint8_t marked[kMaxDosRecord];  // no longer than Samba reads
  const ssize_t size = GetAttribute(fd, kDosAttributesName, record, sizeof record);
  if (size < 0)  // none, or longer than Samba reads: left as it is
    return errno == ENODATA || errno == ERANGE || Unsupported(errno) ? ERROR_SUCCESS : LastError();
  const std::size_t n = MarkedRecord(record, static_cast<std::size_t>(size), marked);
  if (n == 0) return ERROR_SUCCESS;
  if (fsetxattr(fd, kDosAttributesName, marked, n, 0) != 0) return LastError();
  return ERROR_SUCCESS;
}

}  // namespace portable
