// What a read or a save waits for, within its patience (patience.h): a
// file someone holds, and a folder's lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"

namespace portable {

int OpenWaiting(int folder, const char* name, int flags) {
  for (;;) {
    const int fd = openat(folder, name, flags);
    if (fd >= 0 || (errno != EWOULDBLOCK && errno != ETXTBSY)) return fd;
    const int error = errno;
    if (!WaitAMoment()) {
      errno = error;
      return -1;
    }
  }
}

FolderTurn::FolderTurn(int folder) {
  const int readable = OpenFolderToRead(folder);
  if (readable < 0) return;
  for (int tries = 1;; ++tries) {
    if (flock(readable, LOCK_EX | LOCK_NB) == 0) {
      folder_ = readable;
      return;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || tries == kFolderTurnTries || !WaitAMoment())
      break;
  }
  close(readable);
}

FolderTurn::~FolderTurn() {
  if (folder_ >= 0) close(folder_);  // the lock goes with it
}

}  // namespace portable
