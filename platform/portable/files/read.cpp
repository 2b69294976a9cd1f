// Reading a link file whole, and holding it for the save that may follow.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "files.h"

namespace portable {

DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size, HeldFile* held) {
  *size = 0;
  Place place;
  int fd = -1;
  DWORD error = ERROR_SUCCESS;
  StartPatience();
  ClearNote();
  // A name that changes between looking and opening (another save put its
  // file in place) is looked up again, while the read may still try.
  int attempt = 0;
  do {
    Close(&place.Folder);
    error = FindPlace(path, &place);
    if (error != ERROR_SUCCESS) return error;
    error = place.Exists ? OpenFound(place, true, &fd) : ERROR_FILE_NOT_FOUND;
  } while (error == ERROR_SHARING_VIOLATION && ++attempt < kNameTries && Patient());
  // No more is read than the file says it holds, so that no read waits
  // for more; an empty file is not read at all.
  struct stat st;
  if (error == ERROR_SUCCESS && fstat(fd, &st) != 0) error = LastError();
  // The size is compared whole: on a 32-bit system one of 4 GiB and more
  // would not fit the reader's count.
  if (error == ERROR_SUCCESS && static_cast<uintmax_t>(st.st_size) > capacity)
    error = ERROR_FILE_TOO_LARGE;
  const std::size_t wanted = error == ERROR_SUCCESS ? static_cast<std::size_t>(st.st_size) : 0;
  std::size_t used = 0;
  while (error == ERROR_SUCCESS && used < wanted) {
    const ssize_t n = read(fd, buffer + used, wanted - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = LastError();
    if (n <= 0) break;  // shorter than it said: what there was
    used += static_cast<std::size_t>(n);
  }
  if (error == ERROR_SUCCESS) {
    *size = used;
    if (held != nullptr) {
      held->Close();
      held->Folder = place.Folder;
      held->File = fd;
      held->Read = st;
      std::memcpy(held->Name, place.Name, sizeof held->Name);
      // A save compares these bytes with the file's: without them it could
      // not tell another's change.
      if (held->Remember(buffer, used)) return ERROR_SUCCESS;
      held->Close();
      return ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  Close(&fd);
  Close(&place.Folder);
  return error;
}

}  // namespace portable
