// What the parts of the file code share: how a name is resolved and what it
// found, who may replace what, and how a new file takes an old one's place.
// The tool reaches all of it through ReadWholeFile and WriteFileReplacing
// (internal.h).
#pragma once

#include <sys/stat.h>

#include <cstdio>

#include "internal.h"

namespace portable {

// The longest name of one folder entry.
inline constexpr std::size_t kMaxNameLength = 255;
// Tries at a random temporary name, or at a name that other saves keep
// changing, before giving up.
inline constexpr int kNameTries = 100;

// The Win32 error number for the errno of the call that just failed.
DWORD LastError();

bool SameFile(const struct stat& a, const struct stat& b);
// The name under which /proc reaches the open file fd.
inline void SelfPath(int fd, char (&path)[32]) {
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
}
void Close(int* fd);

// 0 for a regular file; else the error that refuses a file of this kind.
DWORD KindError(mode_t mode);

// ---------------------------------------------------------------- patience
// (file_patience.cpp)

// What one run spends in all on others: waiting for a folder's lock that
// another program holds, and trying again on names that others keep
// changing.  Anyone who can read a folder can hold its lock, and anyone who
// can write it can change its names, so nothing of theirs may keep a run
// waiting longer.
inline constexpr long long kPatienceMs = 2000;

// Whether the run may still wait or try again; its first call starts the
// clock.
bool Patient();
// Waits a millisecond where the run may still wait; false where not.
bool WaitAMoment();

// ---------------------------------------------------------------- names
// (file_names.cpp)

// A name resolved: the folder that holds its last component (opened to be
// read), that component, and what it is, when it exists.
struct Place {
  int Folder = -1;
  char Name[kMaxNameLength + 1];
  bool Exists = false;
  struct stat Status;
};

// Resolves path to the folder of its last component and that component's
// name, following symbolic links on the way and at the end.
DWORD FindPlace(const char* path, Place* place);

// Opens the entry that place found, as a regular file that is still what
// was found.  For reading where the file allows it, else only to refer to
// it (O_PATH): a write-only file can be replaced all the same.
DWORD OpenFound(const Place& place, bool forReading, int* fd);

// ---------------------------------------------------------------- rights
// (file_rights.cpp)

// Why an existing file, in the given folder, may not be replaced, or 0.
DWORD ReplaceError(const struct stat& st, const struct stat& folder);

// ---------------------------------------------------------------- identity
// (file_identity.cpp)

// What a save replaces: the folder entry and, when there is one, the file
// it holds (open) and what that file was.
struct Target {
  int Folder = -1;
  const char* Name = nullptr;
  int Old = -1;
  struct stat Status;
};

// The new file fd takes the old one's owner, group, extended attributes
// and mode, as far as this user may give them.
DWORD KeepIdentity(int fd, const Target& target);

// ---------------------------------------------------------------- replacement
// (file_replace.cpp)

// Writes the new file and puts it in the target's place; *made is the new
// file, open, on success.
DWORD WriteNew(const Target& target, const uint8_t* data, std::size_t size, int* made);

}  // namespace portable
