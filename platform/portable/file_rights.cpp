// Who may replace what.
//
//   - a file this user may not write: Windows refuses to replace a
//     read-only file.  Root passes every permission check, so for root the
//     read-only file is the one without any write bit;
//   - a file with other hard links: a new file would split it from its
//     other names, and writing it in place could leave it torn;
//   - in a folder that is sticky and writable by all, a file that belongs
//     neither to this user nor to the folder's owner, as the kernel's
//     protected_regular has it: whoever took the name first would own the
//     link, and could change it after this user made it.
#include <unistd.h>

#include <iterator>

#include "files.h"

namespace portable {
namespace {

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

}  // namespace

DWORD ReplaceError(const struct stat& st, const struct stat& folder) {
  if (DWORD error = KindError(st.st_mode)) return error;
  if (st.st_nlink > 1) return ERROR_NOT_SUPPORTED;
  if (!MayWrite(st)) return ERROR_ACCESS_DENIED;
  const mode_t shared = S_ISVTX | S_IWOTH;
  if ((folder.st_mode & shared) == shared && st.st_uid != geteuid() &&
      st.st_uid != folder.st_uid)
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

}  // namespace portable
