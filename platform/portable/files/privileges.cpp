// What a write into a file takes from it, and who can give it back: for the
// saves that write a link in place.
//
// The kernel clears, on a write or a truncation (file_remove_privs):
//   - the set-user-ID bit, unless the writer has CAP_FSETID (root);
//   - the set-group-ID bit where the group may execute the file, or where
//     the writer is not in the file's group, unless he has CAP_FSETID;
//   - the file capabilities (security.capability), whoever writes.
// A save puts back what it took, where this user may: the owner may set
// his file's mode (the set-group-ID bit only while he is in its group),
// root any mode, and only root (CAP_SETFCAP) capabilities.  Where the
// write would take what this user could not put back (a group member's
// save of a set-user-ID link, anyone but root's save of a link with
// capabilities), the save is refused before anything is written: a save
// keeps everything the link has, or does not happen.
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"

namespace portable {
namespace {

constexpr char kCapabilityName[] = "security.capability";

bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  gid_t groups[256];
  const int n = getgroups(256, groups);
  for (int i = 0; i < n; ++i)
    if (groups[i] == group) return true;
  return false;
}

}  // namespace

DWORD PlanPrivileges(int fd, const struct stat& file, Privileges* kept) {
  const uid_t user = geteuid();
  kept->Mode = file.st_mode & 07777;
  kept->Taken = 0;
  kept->CapabilitySize = 0;
  const bool member = user == 0 || InGroup(file.st_gid);
  if (user != 0) {
    if (file.st_mode & S_ISUID) kept->Taken |= S_ISUID;
    if ((file.st_mode & S_ISGID) && ((file.st_mode & S_IXGRP) || !member))
      kept->Taken |= S_ISGID;
  }
  const ssize_t size = GetAttribute(fd, kCapabilityName, kept->Capability, sizeof kept->Capability);
  const bool tooLarge = size < 0 && errno == ERANGE;  // no version this code knows
  if (size > 0) kept->CapabilitySize = static_cast<std::size_t>(size);
  else if (size < 0 && !tooLarge && errno != ENODATA && errno != ENOTSUP) return LastError();
  const bool owner = user == 0 || user == file.st_uid;
  const char* lost = nullptr;
  if ((kept->Taken & S_ISUID) && !owner) lost = "set-user-ID bit, which only its owner";
  else if ((kept->Taken & S_ISGID) && !(owner && member))
    lost = "set-group-ID bit, which only its owner while in its group";
  else if ((size > 0 && user != 0) || tooLarge)
    lost = "file capabilities (security.capability), which only root";
  if (lost == nullptr) return ERROR_SUCCESS;
  Note("a write into the link takes its %s may set again; so it is not saved", lost);
  return ERROR_ACCESS_DENIED;
}

DWORD GiveBackPrivileges(int fd, const Privileges& kept) {
  struct stat now;
  if (fstat(fd, &now) != 0) return LastError();
  // Only what the write took: a mode someone else changed meanwhile stays.
  if (kept.Taken != 0 && (now.st_mode & 07777) == (kept.Mode & ~kept.Taken) &&
      fchmod(fd, kept.Mode) != 0)
    return LastError();
  if (kept.CapabilitySize > 0 &&
      fgetxattr(fd, kCapabilityName, nullptr, 0) < 0 && errno == ENODATA &&
      fsetxattr(fd, kCapabilityName, kept.Capability, kept.CapabilitySize, 0) != 0)
    return LastError();
  return ERROR_SUCCESS;
}

}  // namespace portable
