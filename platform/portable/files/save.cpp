// Saves: the name resolved (or the file a read held), the checks of who
// may replace it, and the new contents put in its place: in a new file
// that takes the old one's place (replace.cpp) where a new file can
// take everything the old one has, else in the old file itself
// (rewrite.cpp).
#include <fcntl.h>
#include <unistd.h>

#include "files.h"

namespace portable {
namespace {

// Puts data in the place of target's existing file; *made is the new file,
// or -1 where the old one was kept and holds the new contents.  The file is
// held by its guard from before it is looked at for the last time to the
// end of the save; where the guard had to be waited for, the file is
// looked at again as it is now, as another save left it.  Whether another
// program has it open for writing is asked first, before this save's own
// writable descriptor counts as one.
DWORD SaveExisting(Target& target, const struct stat& folder, const uint8_t* data,
                   std::size_t size, int* made) {
  target.OthersWrite = WriterHasIt(target.Old);
  DWORD error = OpenForWriting(&target);
  bool waited = false;
  if (error == ERROR_SUCCESS) error = TakeGuard(target.Writable, &waited);
  if (error == ERROR_SUCCESS && waited) {
    if (fstat(target.Old, &target.Status) != 0) error = LastError();
    else if (target.Status.st_nlink == 0) error = ERROR_SHARING_VIOLATION;
    else error = ReplaceError(target, folder);
  }
  if (error == ERROR_SUCCESS) {
    // Its one open description is then the writable one, as a lease needs;
    // where that cannot be, the file is read as it was, with no lease.
    if (target.WritableReads && !ReferOnly(target.Old)) target.WritableReads = false;
    error = KeepsFile(target) ? kKeepFileInstead : WriteNew(target, data, size, made);
    if (error == kKeepFileInstead) error = RewriteInPlace(target, data, size);
  }
  Close(&target.Writable);  // and the guard with it
  return error;
}

// One save into what file holds, or, where it holds nothing, into what path
// names now.
DWORD SaveOnce(const char* path, const uint8_t* data, std::size_t size, HeldFile& file) {
  if (!file.Holds())
    if (DWORD error = FindPlace(path, kFindNonexistent, &file)) return error;
  Target target;
  target.Folder = file.Folder;
  target.Name = file.Name;
  target.Old = file.File;
  target.Read = file.Read;
  target.Bytes = file.Bytes;
  target.Size = file.Size;
  int made = -1;
  DWORD error = ERROR_SUCCESS;
  if (target.Old >= 0) {
    // As the file is now: its links and mode may have changed since.
    struct stat folder;
    if (fstat(target.Old, &target.Status) != 0 || fstat(target.Folder, &folder) != 0)
      error = LastError();
    else if (target.Status.st_nlink == 0)
      error = ERROR_SHARING_VIOLATION;
    else
      error = ReplaceError(target, folder);
    if (error == ERROR_SUCCESS) error = SaveExisting(target, folder, data, size, &made);
  } else {
    error = WriteNew(target, data, size, &made);
  }
  if (error == ERROR_SUCCESS && made >= 0) {
    // The name now holds the new file; a later save replaces that one.  It
    // is kept open for reading where it may be, so that no writer of this
    // process's makes that save take it for another program's; open, not
    // only referred to (O_PATH), since a FUSE file system (ntfs-3g) may
    // not find by a mere reference a file whose first name is gone.
    Close(&file.File);
    file.File = made;
    const int readable = OpenAnew(made, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (readable >= 0) {
      close(made);
      file.File = readable;
    }
  }
  // What a later save must find: where the new bytes cannot be kept (no
  // memory for them), it compares the size and time.
  if (error == ERROR_SUCCESS && fstat(file.File, &file.Read) != 0) error = LastError();
  if (error == ERROR_SUCCESS) (void)file.Remember(data, size);
  return error;
}

}  // namespace

DWORD WriteFileReplacing(const char* path, const uint8_t* data, std::size_t size,
                         HeldFile* held) {
  StartPatience();
  ClearNote();
  if (held != nullptr && held->Holds()) return SaveOnce(path, data, size, *held);
  // Nothing was read: whatever file the name holds is replaced, but only
  // the one looked at; another save that changes it meanwhile makes this
  // one look again, while it may still try.
  HeldFile found;
  DWORD error = ERROR_SUCCESS;
  int attempt = 0;
  do {
    found.Close();
    error = SaveOnce(path, data, size, found);
  } while (error == ERROR_SHARING_VIOLATION && ++attempt < kNameTries && Patient());
  if (error == ERROR_SUCCESS && held != nullptr) held->Take(found);
  return error;
}

}  // namespace portable
