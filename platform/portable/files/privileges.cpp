// What a write into a file takes from it: for the saves that write a link
// in place.
//
// The kernel clears, on a write or a truncation (file_remove_privs):
//   - the set-user-ID bit, unless the writer has CAP_FSETID;
//   - the set-group-ID bit where the group may execute the file, or where
//     the writer is not in the file's group, unless he has CAP_FSETID;
//   - the file capabilities (security.capability), whoever writes.
// CAP_FSETID counts as the kernel counts it (capable()): in the process's
// effective capabilities, whatever its uid (root in a service with a
// bounding set may lack it), and only in the system's first user
// namespace, not in one where the process is root of its own.
// Nothing a write took can be given back safely: an administrator's
// chmod u-s or setcap -r made meanwhile looks just like the kernel's
// clearing.  So a save in place whose write would take any of them is
// refused before anything is written; a link needs none of them.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"

namespace portable {
namespace {

constexpr char kCapabilityName[] = "security.capability";
// The inode of the first user namespace's entry in /proc
// (PROC_USER_INIT_INO), the same on every system since Linux 3.8.
constexpr ino_t kFirstUserNamespace = 0xEFFFFFFD;

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  gid_t groups[256];
  const int n = getgroups(256, groups);
  for (int i = 0; i < n; ++i)
    if (groups[i] == group) return true;
  return false;
}

// Whether the kernel lets this process's writes keep set-ID bits.
bool WritesKeepSetId() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0 ||
      (data[CAP_TO_INDEX(CAP_FSETID)].effective & CAP_TO_MASK(CAP_FSETID)) == 0)
    return false;
  struct stat space;
  return stat("/proc/self/ns/user", &space) == 0 && space.st_ino == kFirstUserNamespace;
}

}  // namespace

DWORD PrivilegesError(const Target& target, const struct stat& file) {
  const mode_t mode = file.st_mode;
  const bool setId = (mode & (S_ISUID | S_ISGID)) != 0 && !WritesKeepSetId();
  const char* lost = nullptr;
  if (setId && (mode & S_ISUID))
    lost = "set-user-ID bit (this process lacks CAP_FSETID)";
  else if (setId && (mode & S_ISGID) && ((mode & S_IXGRP) || !InGroup(file.st_gid)))
    lost = "set-group-ID bit (this process lacks CAP_FSETID, and the group may execute the "
           "link or this user is not in it)";
  const ssize_t size = GetAttribute(target.Writable, kCapabilityName, nullptr, 0);
  if (size < 0 && errno != ENODATA && errno != ENOTSUP) return LastError();
  if (lost == nullptr && size > 0) lost = "file capabilities (security.capability; any write)";
  if (lost == nullptr) return ERROR_SUCCESS;
  Note("a write into the link would clear its %s, and this save writes into the link itself%s; "
       "nothing is written, so that what the link has stays",
       lost, target.OthersWrite ? ", as another program has it open for writing" : "");
  return target.OthersWrite ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED;
}

}  // namespace portable
