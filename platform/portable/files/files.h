// What the parts of the file code share: how a name is resolved and what it
// found, who may replace what, how a new file takes an old one's place, and
// how a file is rewritten where a new one could not.  The tool reaches all
// of it through ReadWholeFile and WriteFileReplacing (internal.h).
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

// A hidden name nobody can foresee: .lnk-, 16 hex digits and the suffix
// (".tmp" for new files, ".bak" for copies of old ones).  One length,
// whatever the link's name, so any name that fits a folder saves.
bool RandomName(char (&name)[32], const char* suffix);
// Whether the entry name of folder is the file.
bool Names(int folder, const char* name, const struct stat& file);
// Flushes the folder's entries.  The folder may be held by O_PATH: it is
// opened to be read for the flush, and one this user may not read is not
// flushed, as on a file system that cannot flush folders.  (descriptors.cpp)
DWORD SyncFolder(int folder);
// The folder, open to be read, or -1 where this user may not read it.
int OpenFolderToRead(int folder);

// ---------------------------------------------------------------- patience
// (wait.cpp)

// What one read, or one save, spends in all on others: waiting for a
// folder's lock that another program holds, for a file someone holds, and
// trying again on names that others keep changing.  Anyone who can read a
// folder can hold its lock, and anyone who can write it can change its
// names, so nothing of theirs may keep a run waiting longer.
inline constexpr long long kPatienceMs = 2000;

// A read or a save begins: the time it may wait is whole again.
void StartPatience();
// Whether the read or save may still wait or try again; its first call
// starts the clock.
bool Patient();
// Waits a millisecond where the run may still wait; false where not.
bool WaitAMoment();

// openat, tried again while the file is held by someone (a lease, as Samba
// takes for a client with kernel oplocks, or a running program) and the
// run may still wait.  flags must hold O_NONBLOCK, so that an open never
// waits on the holder itself; one still refused is EWOULDBLOCK or ETXTBSY.
int OpenWaiting(int folder, const char* name, int flags);

// Holds the folder's lock for saves (flock) while it lives, so that saves
// of this tool take turns.  A save holds it for an instant, so a lock not
// had at once is tried again a millisecond later, while the run may still
// wait: a lock held longer is another program's, perhaps another user's,
// and the save goes on without it, as where the file system has no locks,
// or where this user may not read the folder (a lock needs a folder open
// to be read).
class FolderTurn {
 public:
  explicit FolderTurn(int folder);
  ~FolderTurn();
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

 private:
  int folder_ = -1;
};

// ---------------------------------------------------------------- names
// (resolve.cpp)

// A name resolved: the folder that holds its last component (held by
// O_PATH: it need not be readable), that component, and what it is, when
// it exists.
struct Place {
  int Folder = -1;
  char Name[kMaxNameLength + 1];
  bool Exists = false;
  struct stat Status;
};

// Resolves path to the folder of its last component and that component's
// name, one component at a time, following symbolic links on the way and
// at the end under the rules of resolve.cpp.
DWORD FindPlace(const char* path, Place* place);

// Why an entry of folder with more than one name may not be used from
// there, or 0: ERROR_NOT_SUPPORTED unless the folder is written by its
// owner alone and that owner is this user, root, or the entry's owner.
// The same rule for files and symbolic links, whatever the system's
// protected_hardlinks says.
DWORD OtherNamesError(int folder, const struct stat& entry);

// Opens the entry that place found, as a regular file that is still what
// was found.  For reading where the file allows it, else only to refer to
// it (O_PATH): a write-only file can be replaced all the same.
DWORD OpenFound(const Place& place, bool forReading, int* fd);

// ---------------------------------------------------------------- rights
// (rights.cpp)

// What a save replaces: the folder entry and, when there is one, the file
// it holds (open), what that file is now, and what it was when it was read.
struct Target {
  int Folder = -1;
  const char* Name = nullptr;
  int Old = -1;
  struct stat Status;
  struct stat Read;
  // The bytes it held when it was read; nullptr where it was not read.
  const uint8_t* Bytes = nullptr;
  std::size_t Size = 0;
};

// ---------------------------------------------------------------- change
// (unchanged.cpp)

// Whether the existing file of target is still the file that was read,
// under its name, with the very bytes that were read (or, where it was not
// read, the size and time it had when it was looked at).  Called under the
// folder's turn, right before anything is put in place:
// ERROR_SHARING_VIOLATION where it is not.
DWORD StillAsRead(const Target& target);

// Why the existing file of target may not be replaced, or 0.  folder is
// what holds it.
DWORD ReplaceError(const Target& target, const struct stat& folder);

// Opens the existing file of target for writing, as the kernel allows this
// user (mode, ACLs, a read-only mount), waiting a while for one who holds
// it.  Returns 0 or the error: ERROR_ACCESS_DENIED where this user may not
// write it, ERROR_SHARING_VIOLATION where it is still held.
DWORD OpenForWriting(const Target& target, int* fd);


// ---------------------------------------------------------------- identity
// (identity.cpp)

// What KeepIdentity answers where this user cannot give the new file all
// the old one has (its owner, group, mode, every attribute it can see, set
// and then compared, as vim's backupcopy=auto probes): the save keeps the
// file instead.
inline constexpr DWORD kKeepFileInstead = 0xFFFFFFFF;

// The new file fd takes the old one's owner, group, extended attributes
// and mode.  Returns 0, kKeepFileInstead, or another error.
DWORD KeepIdentity(int fd, const Target& target);

// fgetxattr, also for a descriptor that only refers to its file (O_PATH).
ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size);

// Marks the file fd as changed for Windows, where Samba keeps its DOS
// attributes (user.DOSATTRIB): sets the archive attribute, as a write
// through SMB does, and keeps the rest of the record.
DWORD MarkArchive(int fd);

// ---------------------------------------------------------------- DOS attributes
// (dos_record.cpp)

inline constexpr uint32_t kDosReadOnly = 0x01;  // FILE_ATTRIBUTE_READONLY
inline constexpr uint32_t kDosArchive = 0x20;   // FILE_ATTRIBUTE_ARCHIVE
inline constexpr char kDosAttributesName[] = "user.DOSATTRIB";
// The longest record Samba reads; it shows a file with a longer one as
// having no attributes, and so does this code.
inline constexpr std::size_t kMaxDosRecord = 256;

// The attributes of a user.DOSATTRIB record, as Samba 4.17 reads them;
// false where Samba could not read the record (it then shows none).
bool ReadDosAttributes(const uint8_t* data, std::size_t size, uint32_t* attributes);

// The record with the attributes add set as well, and every other field as
// it was, written to out; its size, or 0 where the record is not one this
// code reads or out is too small.
std::size_t AddDosAttributes(const uint8_t* data, std::size_t size, uint32_t add, uint8_t* out,
                             std::size_t capacity);

// ---------------------------------------------------------------- replacement
// (replace.cpp)

// Fills a new file, open for writing, and flushes it: Fill(fd, Context)
// gives 0 or an error.
struct Filler {
  DWORD (*Fill)(int fd, const void* context);
  const void* Context;
  DWORD operator()(int fd) const { return Fill(fd, Context); }
};

// Makes a new file in folder, with the mode, filled by fill, and gives it a
// random hidden name with the suffix (RandomName) only once it is whole:
// it is written unnamed (O_TMPFILE) and named then, or, on a file system
// without unnamed files, written under a .tmp name and renamed.  *made is
// the file, open for writing, and name its name.
DWORD MakeWholeFile(int folder, mode_t mode, const Filler& fill, const char* suffix,
                    char (&name)[32], int* made);

// Writes the new file and puts it in the target's place; *made is the new
// file, open, on success.  kKeepFileInstead where the new file could not
// take all the old one has; nothing has changed then.
DWORD WriteNew(const Target& target, const uint8_t* data, std::size_t size, int* made);

// ---------------------------------------------------------------- rewriting
// (rewrite.cpp)

// Whether a save must keep the file itself without trying a new one: a
// new file cannot take the old one's other hard links.  (In replace.cpp,
// beside the way tests may set.)  Where it tries, KeepIdentity's probe
// decides.
bool KeepsFile(const Target& target);

// Writes data into the existing file of target itself, open for writing as
// writable, keeping a copy of the old contents beside it until the new ones
// are on disk.  ERROR_SHARING_VIOLATION where the file changed since it was
// read, or its name no longer holds it.
DWORD RewriteInPlace(const Target& target, int writable, const uint8_t* data, std::size_t size);

}  // namespace portable
