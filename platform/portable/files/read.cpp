// Reading a link file whole, and holding it for the save that may follow:
// the local way of LinkFileWay (internal.h).
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "files.h"

namespace portable {

DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size, HeldFile* held) {
  *size = 0;
  StartPatience();
  ClearNote();
  HeldFile found;
  DWORD error = FindPlace(path, kFindReadable, &found);
  if (error != ERROR_SUCCESS) return error;
  // No more is read than the file says it holds, so that no read waits
  // for more; an empty file is not read at all.  The size is compared
  // whole: on a 32-bit system one of 4 GiB and more would not fit the
  // reader's count.
  if (static_cast<uintmax_t>(found.Read.st_size) > capacity) return ERROR_FILE_TOO_LARGE;
  const std::size_t wanted = static_cast<std::size_t>(found.Read.st_size);
  std::size_t used = 0;
  while (used < wanted) {
    const ssize_t n = read(found.File, buffer + used, wanted - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    if (n == 0) break;  // shorter than it said: what there was
    used += static_cast<std::size_t>(n);
  }
  *size = used;
  if (held == nullptr) return ERROR_SUCCESS;
  // A save compares these bytes with the file's: without them it could
  // not tell another's change.
  if (!found.Remember(buffer, used)) return ERROR_NOT_ENOUGH_MEMORY;
  held->Take(found);
  return ERROR_SUCCESS;
}

}  // namespace portable
