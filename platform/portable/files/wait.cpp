// How long one run waits for others, in all, and what it waits for: a
// folder's lock, and a file someone holds.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "files.h"

namespace portable {
namespace {

// When the read or save under way first waited or tried again, on the
// monotonic clock; 0 while it has not.
long long startedMs = 0;

long long NowMs() {
  struct timespec now;
  (void)clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1;
}

}  // namespace

void StartPatience() { startedMs = 0; }

bool Patient() {
  const long long now = NowMs();
  if (startedMs == 0) startedMs = now;
  return now - startedMs < kPatienceMs;
}

bool WaitAMoment() {
  if (!Patient()) return false;
  const struct timespec millisecond = {0, 1000 * 1000};
  (void)nanosleep(&millisecond, nullptr);
  return true;
}

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
  do {
    if (flock(readable, LOCK_EX | LOCK_NB) == 0) {
      folder_ = readable;
      return;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
  } while (WaitAMoment());
  close(readable);
}

FolderTurn::~FolderTurn() {
  if (folder_ >= 0) close(folder_);  // the lock goes with it
}

}  // namespace portable
