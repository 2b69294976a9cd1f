// Whether a file is still what a read found: a save succeeds only over the
// very bytes it read.  Its inode, size and time say too little: on a file
// system with one-second times, a change of the same size within the same
// second leaves all three as they were.  So the bytes themselves are read
// again and compared, under the link's guard, right before the exchange
// or the write in place.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

// What the file holds now; one byte more than the largest link, so that a
// file grown past it differs.
uint8_t current[kMaxLinkFileSize + 1];

// Reads up to size bytes of the file fd from its start into into.  fd may
// only refer to the file (O_PATH): it is then opened anew to be read.
ssize_t ReadStart(int fd, uint8_t* into, std::size_t size) {
  int readable = -1;
  std::size_t used = 0;
  for (int from = fd; used < size;) {
    const ssize_t n = pread(from, into + used, size - used, static_cast<off_t>(used));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EBADF && readable < 0) {
      readable = OpenAnew(fd, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (readable < 0) return -1;
      from = readable;
      continue;
    }
    if (n < 0) {
      const int e = errno;
      if (readable >= 0) close(readable);
      errno = e;
      return -1;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  if (readable >= 0) close(readable);
  return static_cast<ssize_t>(used);
}

constexpr char kChanged[] = "the link changed since it was read";

DWORD Changed(const char* why) {
  Note("%s", why);
  return ERROR_SHARING_VIOLATION;
}

bool SameStatus(const struct stat& now, const struct stat& read) {
  return SameFile(now, read) && now.st_size == read.st_size &&
         now.st_mtim.tv_sec == read.st_mtim.tv_sec && now.st_mtim.tv_nsec == read.st_mtim.tv_nsec;
}

}  // namespace

DWORD StillAsRead(const Target& target) {
  struct stat now;
  if (fstat(target.Writable >= 0 ? target.Writable : target.Old, &now) != 0) return LastError();
  if (now.st_nlink == 0 || !Names(target.Folder, target.Name, now))
    return Changed("the link's name holds another file than the one that was read");
  if (target.Bytes == nullptr)
    return SameStatus(now, target.Read) ? ERROR_SUCCESS : Changed(kChanged);
  if (target.Size >= sizeof current) return ERROR_FILE_TOO_LARGE;
  if (!SameFile(now, target.Read) || static_cast<uintmax_t>(now.st_size) != target.Size)
    return Changed(kChanged);
  // Through the writable descriptor where it reads: an open of the file
  // would break the save's own lease.
  const int from = target.WritableReads ? target.Writable : target.Old;
  const ssize_t n = ReadStart(from, current, target.Size + 1);
  if (n < 0) return LastError();
  if (static_cast<std::size_t>(n) != target.Size ||
      std::memcmp(current, target.Bytes, target.Size) != 0)
    return Changed(kChanged);
  return ERROR_SUCCESS;
}

}  // namespace portable
