// What the portable platform's parts share among themselves, and the hooks
// its tests use.  The tool itself never includes this.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "platform.h"

void SetPortableLastError(DWORD error);

namespace portable {

// ---------------------------------------------------------------- COM
// Creates the object behind CoCreateInstance(CLSID_ShellLink, ...).
using ShellLinkFactory = HRESULT (*)(REFIID riid, void** ppv);

// The factory of the portable shell link object.
HRESULT CreatePortableShellLink(REFIID riid, void** ppv);

// Puts another factory in place (nullptr restores the portable one) and
// returns the one it replaced.  For tests that drive failure paths.
ShellLinkFactory SetShellLinkFactory(ShellLinkFactory factory);

// ---------------------------------------------------------------- files
// The largest link file that is read.
inline constexpr std::size_t kMaxLinkFileSize = 1024 * 1024;

// ---------------------------------------------------------------- errno
// (errno_table.cpp)

// Where an errno comes from: a call of this system on a local file, or a
// request of Samba's client library on a share.  One errno may say
// different things in the two.
enum class ErrnoFrom { LocalFile, Library };

// The Win32 error number for an errno; one no row of the table names is a
// general failure (ERROR_GEN_FAILURE), never a refusal of access.
[[nodiscard]] DWORD Win32FromErrno(int error, ErrnoFrom from);

// Whether the library gives error for failures of several parts of a share
// path (a wrong password, no share, no folder), which a second request
// tells apart.
[[nodiscard]] bool SaidAlike(int error);

// ---------------------------------------------------------------- files
// A link file as a read found it: the folder that holds it and the file,
// both open, and its name in that folder.  A save through it replaces that
// folder entry only while the entry still holds that file.
struct HeldFile {
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile();
  void Close();
  // Holds what other held; other holds nothing.
  void Take(HeldFile& other);
  bool Holds() const { return Folder >= 0; }

  // Keeps a copy of the size bytes of data as the file's contents; false
  // where there is no memory for them.
  bool Remember(const uint8_t* data, std::size_t size);

  int Folder = -1;  // held by O_PATH: it need not be readable
  int File = -1;  // -1 where the name held no file yet
  char Name[256] = {};
  struct stat Read = {};  // the file as it was read, or last saved
  // Its contents then, which a save compares with what the file holds
  // right before it puts anything in place; nullptr where not known.
  uint8_t* Bytes = nullptr;
  std::size_t Size = 0;
};

// Reads the whole regular file into buffer, no more than the size it gives.
// Returns 0 or a Win32 error number: a file larger than the buffer is
// ERROR_FILE_TOO_LARGE, a folder ERROR_ACCESS_DENIED, a device, pipe,
// socket or file of /proc or /sys ERROR_BAD_FILE_TYPE (found without
// waiting on it), a symbolic link that names what its owner does not own,
// or one out of a shared sticky folder that neither this user nor the
// folder's owner made, ERROR_ACCESS_DENIED, an entry with more than one
// name in a folder others may write ERROR_NOT_SUPPORTED (files/files.h and
// files/resolve.cpp).
// On success *held (when given) holds the file that was read.
DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size, HeldFile* held = nullptr);

// Replaces (or creates) the file with data: the file *held holds, when it
// holds one, else the one path names, resolved as a read resolves it.  A
// save succeeds only over the very bytes that were read (*held's Bytes,
// compared again right before anything is put in place; where nothing was
// read, over the file as it was looked at), else ERROR_SHARING_VIOLATION.
// Where a new file can carry the old one's owner, group, mode and every
// extended attribute (set, then looked at), it is made in that file's
// folder, flushed, and exchanged with it; else, and for a file with other
// hard links, the old file is rewritten in place behind a flushed copy
// (files/rewrite.cpp).  The folder is flushed last.  Refuses what the
// read refuses (an entry with more than one name in a folder others may
// write, ERROR_NOT_SUPPORTED, files/resolve.cpp), a file this user may not
// write or a stranger's in a shared sticky folder (ERROR_ACCESS_DENIED).
// On failure the old file is as it was and no new file is left behind.
// On success *held holds the new file and its bytes.  Returns 0 or a
// Win32 error number.
DWORD WriteFileReplacing(const char* path, const uint8_t* data, std::size_t size,
                         HeldFile* held = nullptr);

// Says in words why the file operation under way failed, beyond its error
// number, for the trace (LinkFailureNote, platform.h); printf's format.
// (files/note.cpp)
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A read, a save or a new link object begins: nothing is said yet.
void ClearNote();

// How saves put their contents in place, for tests: a new file that is
// unnamed at first (O_TMPFILE, the way where the system has them) or named
// from the start (as on a file system without unnamed files), or the old
// file rewritten (always, as where a new file could not carry everything).
// Returns the way before.
enum class SaveWay { Unnamed, Named, InPlace };
SaveWay UseSaveWay(SaveWay way);

}  // namespace portable
