// Who may replace what.
//
//   - a file this user may not write: Windows refuses to replace a
//     read-only file.  Whether this user may write it is the kernel's
//     answer (mode, ACLs, a read-only mount), asked by opening it for
//     writing.  Root passes every permission check, so for root the
//     read-only file is also the one without any write bit;
//   - a file Windows marks read-only, which Samba keeps in user.DOSATTRIB
//     and not in the mode: refused to everyone, root included, as Windows
//     refuses it;
//   - in a folder that is sticky and writable by all, a file that belongs
//     neither to this user nor to the folder's owner, as the kernel's
//     protected_regular has it: whoever took the name first would own the
//     link, and could change it after this user made it;
//   - a file with other hard links, unless the folder it was found in is
//     written by its owner alone and that owner is this user, root or the
//     file's owner (OtherNamesError, the rule resolution applies to every
//     entry with more than one name): whoever else may write the folder
//     could have linked there a file they could not write, whatever the
//     system's protected_hardlinks says.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"

namespace portable {
namespace {

bool DosReadOnly(int fd) {
  uint8_t record[kMaxDosRecord];  // a longer one Samba does not read
  const ssize_t size = GetAttribute(fd, kDosAttributesName, record, sizeof record);
  uint32_t attributes = 0;
  return size > 0 && ReadDosAttributes(record, static_cast<std::size_t>(size), &attributes) &&
         (attributes & kDosReadOnly) != 0;
}

// The file opened by its descriptor through /proc, or, without /proc, by
// its name, which must still hold it.
int OpenAgain(const Target& target, int flags) {
  int fd = OpenAnew(target.Old, flags);
  if (fd < 0 && errno == ENOENT) {
    fd = OpenWaiting(target.Folder, target.Name, flags | O_NOFOLLOW);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !SameFile(st, target.Status))) {
      close(fd);
      errno = ENOENT;  // another file: the name changed
      return -1;
    }
  }
  return fd;
}

}  // namespace

DWORD ReplaceError(const Target& target, const struct stat& folder) {
  const struct stat& st = target.Status;
  if (DWORD error = KindError(st.st_mode)) return error;
  const uid_t user = geteuid();
  if (user == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return ERROR_ACCESS_DENIED;
  const mode_t shared = S_ISVTX | S_IWOTH;
  if ((folder.st_mode & shared) == shared && st.st_uid != user && st.st_uid != folder.st_uid)
    return ERROR_ACCESS_DENIED;
  if (DWORD error = OtherNamesError(target.Folder, st)) return error;
  if (DosReadOnly(target.Old)) return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

DWORD OpenForWriting(Target* target) {
  constexpr int kFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // Read through the same descriptor where this user may read the file.
  target->WritableReads = true;
  int fd = OpenAgain(*target, O_RDWR | kFlags);
  if (fd < 0 && errno == EACCES) {
    target->WritableReads = false;
    fd = OpenAgain(*target, O_WRONLY | kFlags);
  }
  target->Writable = fd;
  if (fd >= 0) return ERROR_SUCCESS;
  return errno == ENOENT ? ERROR_SHARING_VIOLATION : LastError();
}

}  // namespace portable
