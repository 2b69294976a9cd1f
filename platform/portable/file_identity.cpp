// What a new file takes from the one it replaces: owner, group, mode and
// extended attributes.  A file whose extended attributes the new one cannot
// take (a user who is not root may not set security.*) is not replaced:
// the save would drop them.
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

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

}  // namespace

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

}  // namespace portable
