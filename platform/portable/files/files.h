// What the parts of the file code share, grouped by the file that defines
// each: how a name is resolved and what it found, who may replace what, how
// a new file takes an old one's place, and how a file is rewritten where a
// new one could not.  The tool reaches all of it through the local way of
// LinkFileWay, ReadWholeFile and WriteFileReplacing (internal.h).
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "internal.h"
#include "patience.h"

namespace portable {

// ---------------------------------------------------------------- (here)

// The longest name of one folder entry.
inline constexpr std::size_t kMaxNameLength = 255;
// Tries at a random temporary name, or at a name that other saves keep
// changing, before giving up.
inline constexpr int kNameTries = 100;

// The Win32 error number for the errno of the call that just failed.
[[nodiscard]] inline DWORD LastError() { return Win32FromErrno(errno, ErrnoFrom::LocalFile); }

// The name under which /proc reaches the open file fd.
inline void SelfPath(int fd, char (&path)[32]) {
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
}

// ---------------------------------------------------------------- descriptors.cpp

// 0 for a regular file; else the error that refuses a file of this kind.
[[nodiscard]] DWORD KindError(mode_t mode);
[[nodiscard]] bool SameFile(const struct stat& a, const struct stat& b);
void Close(int* fd);

// A hidden name nobody can foresee: .lnk-, 16 hex digits and the suffix
// (".tmp" for new files, ".bak" for copies of old ones).  One length,
// whatever the link's name, so any name that fits a folder saves.
[[nodiscard]] bool RandomName(char (&name)[32], const char* suffix);
// Whether the entry name of folder is the file.
[[nodiscard]] bool Names(int folder, const char* name, const struct stat& file);

// The file fd refers to, opened anew with flags through /proc, as
// OpenWaiting opens a name: for a descriptor that only refers to its file
// (O_PATH), or is open for something else.  -1 with errno, ENOENT without
// /proc.
int OpenAnew(int fd, int flags);
// Leaves fd referring to its file only (O_PATH), so that the save's
// writable descriptor is the file's one open: a lease needs that.  False
// where it stays as it was (without /proc).
bool ReferOnly(int fd);

// The folder, open to be read, or -1 where this user may not read it.
int OpenFolderToRead(int folder);
// Flushes the folder's entries.  The folder may be held by O_PATH: it is
// opened to be read for the flush, and one this user may not read is not
// flushed, as on a file system that cannot flush folders.
[[nodiscard]] DWORD SyncFolder(int folder);

// ---------------------------------------------------------------- wait.cpp

// openat, tried again while the file is held by someone (a lease, as Samba
// takes for a client with kernel oplocks, or a running program) and the
// run may still wait (patience.h).  flags must hold O_NONBLOCK, so that an
// open never waits on the holder itself; one still refused is EWOULDBLOCK
// or ETXTBSY.
int OpenWaiting(int folder, const char* name, int flags);

// Holds the folder's lock (flock) while it lives, around the one step
// where saves of this tool must not cross although each holds its own
// link: the exchange of a new file with the old one and its undoing
// (replace.cpp), where two saves of different files that another program
// put under one name in turn could each give the other's entry back.  A
// save holds it for microseconds, so a lock not had at once is tried again
// a millisecond later, kFolderTurnTries times in all at most: a lock held
// longer is another program's, perhaps another user's (anyone who may read
// a folder may lock it), and the save goes on without it, as where the
// file system has no locks or this user may not read the folder.  The
// link's guard (guard.cpp) still keeps every other save of that link out.
inline constexpr int kFolderTurnTries = 20;
class FolderTurn {
 public:
  explicit FolderTurn(int folder);
  ~FolderTurn();
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

 private:
  int folder_ = -1;
};

// ---------------------------------------------------------------- resolve.cpp

// What FindPlace finds, named as systemd's chase names its modes.  It
// always holds the folder of the last component and that component's name
// (as CHASE_PARENT gives them), and where that component is there, the
// regular file it is, open (as CHASE_MUST_BE_REGULAR asks).
enum FindMode : unsigned {
  // As CHASE_NONEXISTENT: a last component that is not there is found, as
  // no file (File -1), instead of ERROR_FILE_NOT_FOUND; a save makes it.
  kFindNonexistent = 1u << 0,
  // The file opened to be read, or refused; without it, one this user may
  // not read is only referred to (O_PATH), as a write-only file that a
  // save may replace all the same.
  kFindReadable = 1u << 1,
};

// Resolves path one component at a time, following symbolic links on the
// way and at the end under the rules of resolve.cpp, into *found: Folder
// (held by O_PATH: it need not be readable), Name, and File and Read, the
// file and what it is.  A name that changes meanwhile is looked up again,
// while the run may still try.  Nothing is held on failure.
[[nodiscard]] DWORD FindPlace(const char* path, unsigned mode, HeldFile* found);

// Why an entry of folder with more than one name may not be used from
// there, or 0: ERROR_NOT_SUPPORTED unless the folder is written by its
// owner alone and that owner is this user, root, or the entry's owner.
// The same rule for files and symbolic links, whatever the system's
// protected_hardlinks says.
[[nodiscard]] DWORD OtherNamesError(int folder, const struct stat& entry);

// ---------------------------------------------------------------- rights.cpp

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
  // The existing file open for writing, which holds the link's guard, and
  // whether the save reads the file through it alone (it reads, and is the
  // file's one open description), so that it may take a lease that no open
  // of its own breaks.
  int Writable = -1;
  bool WritableReads = false;
  // Whether another program had the file open for writing when the save
  // began (WriterHasIt): its later writes must land in the link, so the
  // file is written in place.
  bool OthersWrite = false;
};

// Why the existing file of target may not be replaced, or 0.  folder is
// what holds it.
[[nodiscard]] DWORD ReplaceError(const Target& target, const struct stat& folder);

// Opens the existing file of target for writing, and for reading too where
// this user may, as the kernel allows this user (mode, ACLs, a read-only
// mount), waiting a while for one who holds it: target->Writable and
// WritableReads.  Returns 0 or the error: ERROR_ACCESS_DENIED where this
// user may not write it, ERROR_SHARING_VIOLATION where it is still held.
[[nodiscard]] DWORD OpenForWriting(Target* target);

// ---------------------------------------------------------------- unchanged.cpp

// Whether the existing file of target is still the file that was read,
// under its name, with the very bytes that were read (or, where it was not
// read, the size and time it had when it was looked at).  Called under the
// link's guard, right before anything is put in place:
// ERROR_SHARING_VIOLATION where it is not.
[[nodiscard]] DWORD StillAsRead(const Target& target);

// ---------------------------------------------------------------- dos_record.cpp

inline constexpr uint32_t kDosReadOnly = 0x01;  // FILE_ATTRIBUTE_READONLY
inline constexpr uint32_t kDosArchive = 0x20;   // FILE_ATTRIBUTE_ARCHIVE
inline constexpr char kDosAttributesName[] = "user.DOSATTRIB";
// The longest record Samba reads; it shows a file with a longer one as
// having no attributes, and so does this code.
inline constexpr std::size_t kMaxDosRecord = 256;

// The attributes of a user.DOSATTRIB record, as Samba 4.17 reads them;
// false where Samba could not read the record (it then shows none).
[[nodiscard]] bool ReadDosAttributes(const uint8_t* data, std::size_t size, uint32_t* attributes);

// The record with the attributes add set as well, and every other field as
// it was, written to out; its size, or 0 where the record is not one this
// code reads or out is too small.
[[nodiscard]] std::size_t AddDosAttributes(const uint8_t* data, std::size_t size, uint32_t add,
                                           uint8_t* out, std::size_t capacity);

// ---------------------------------------------------------------- guard.cpp

// Takes the link's guard for one save: a write lock of the open file
// description (F_OFD_SETLK) on the whole file, through the descriptor that
// has it open for writing, so that only those who may write the link can
// hold it.  It goes with that descriptor.  A save takes it before it looks
// at the file for the last time and holds it to its end, so that saves of
// one link compare and write one at a time, whatever folder it is in.  A
// lock someone else holds (another save's, or a read lock taken on
// purpose, as a Windows client opens a file denying writers) is waited for
// while the run may still wait, then ERROR_SHARING_VIOLATION: the save
// never goes on without it.  *waited where it was not had at once.
[[nodiscard]] DWORD TakeGuard(int writable, bool* waited);

// Whether another program has the file open for writing now, as the
// kernel tells its owner and root: a read lease cannot be had then.  Asked
// before the save opens the file for writing itself; false where it cannot
// be told (another user's file, a file system without leases, a file this
// user may not read).
[[nodiscard]] bool WriterHasIt(int file);

// A write lease (F_SETLEASE) on the existing file while it lives: the
// kernel then tells of anyone who opens the file or truncates it, and
// holds such an open until the lease goes.  Taken where it may be: by the
// file's owner or root, on a file system with leases, where nobody else
// has the file open, and where the save reads the file through its
// writable descriptor (target.WritableReads), whose reads open nothing.
class Lease {
 public:
  explicit Lease(const Target& target);
  ~Lease();
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  bool Held() const { return fd_ >= 0; }
  // Whether someone opened the file for writing, or truncated it, since
  // the lease was taken (a reader's open is no writer); false without one.
  [[nodiscard]] bool WriterCame() const;

 private:
  int fd_ = -1;
};

// ---------------------------------------------------------------- identity.cpp

// What KeepIdentity answers where this user cannot give the new file all
// the old one has (its owner, group, mode, every attribute it can see, its
// inode flags, set and then compared, as vim's backupcopy=auto probes):
// the save keeps the file instead.
inline constexpr DWORD kKeepFileInstead = 0xFFFFFFFF;

// The new file fd takes the old one's owner, group, extended attributes,
// mode and inode flags.  Returns 0, kKeepFileInstead, or another error.
[[nodiscard]] DWORD KeepIdentity(int fd, const Target& target);

// Whether the new file fd still has what the existing one has now, as this
// user sees it: owner, group, mode, inode flags and every extended
// attribute, with the DOS record as MarkArchive gives it, and whether the
// existing one still has the one name the save decided on.  Called right
// before the new file takes the old one's place: ERROR_SHARING_VIOLATION
// where a right of the old one changed since it was copied, which then
// stays as it was made, or it got another name.
[[nodiscard]] DWORD StillSameRights(int fd, const Target& target);

// A digest of the existing file's owner, group, mode, names, inode flags
// and extended attributes, as this user sees them: another one after any
// change of them.
[[nodiscard]] uint64_t RightsPrint(const Target& target);

// fgetxattr, also for a descriptor that only refers to its file (O_PATH).
ssize_t GetAttribute(int fd, const char* name, void* value, std::size_t size);

// Marks the file fd as changed for Windows, where Samba keeps its DOS
// attributes (user.DOSATTRIB): sets the archive attribute, as a write
// through SMB does, and keeps the rest of the record.
[[nodiscard]] DWORD MarkArchive(int fd);

// The record MarkArchive makes of a file's record (size bytes), into out:
// its size, or 0 where it leaves the record as it is.
[[nodiscard]] std::size_t MarkedRecord(const uint8_t* record, std::size_t size,
                                       uint8_t (&out)[kMaxDosRecord]);

// ---------------------------------------------------------------- replace.cpp

// Fills a new file, open for writing, and flushes it: Fill(fd, Context)
// gives 0 or an error.
struct Filler {
  DWORD (*Fill)(int fd, const void* context);
  const void* Context;
  [[nodiscard]] DWORD operator()(int fd) const { return Fill(fd, Context); }
};

// Makes a new file in folder, with the mode, filled by fill, and gives it a
// random hidden name with the suffix (RandomName) only once it is whole:
// it is written unnamed (O_TMPFILE) and named then, or, on a file system
// without unnamed files, written under a .tmp name and renamed.  *made is
// the file, open for reading and writing, and name its name.
[[nodiscard]] DWORD MakeWholeFile(int folder, mode_t mode, const Filler& fill, const char* suffix,
                                  char (&name)[32], int* made);

// Writes the new file and puts it in the target's place; *made is the new
// file, open, on success.  kKeepFileInstead where the new file could not
// take all the old one has; nothing has changed then.
[[nodiscard]] DWORD WriteNew(const Target& target, const uint8_t* data, std::size_t size,
                             int* made);

// Whether a save must keep the file itself without trying a new one: a new
// file cannot take the old one's other hard links, nor the later writes of
// a program that has it open for writing (or a test asks for it,
// UseSaveWay).  Where it tries, KeepIdentity's probe decides.
[[nodiscard]] bool KeepsFile(const Target& target);

// ---------------------------------------------------------------- rewrite.cpp

// Writes data into the existing file of target itself, open for writing as
// target.Writable, keeping a copy of the old contents beside it until the
// new ones are on disk.  ERROR_SHARING_VIOLATION where the file changed
// since it was read, or its name no longer holds it.
[[nodiscard]] DWORD RewriteInPlace(const Target& target, const uint8_t* data, std::size_t size);

// ---------------------------------------------------------------- privileges.cpp

// Why a write into the existing file of target, which is as file says,
// would take from it what the kernel clears on a write by this process (a
// set-user-ID or set-group-ID bit, file capabilities), or 0: such a save
// in place is refused before anything is written, ERROR_ACCESS_DENIED with
// a note, or ERROR_SHARING_VIOLATION where it is in place because another
// program has the file open for writing (target.OthersWrite).
[[nodiscard]] DWORD PrivilegesError(const Target& target, const struct stat& file);

}  // namespace portable
