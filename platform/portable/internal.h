// What the portable platform's parts share among themselves, and the hooks
// its tests use, grouped by the file that defines them.  The tool itself
// never includes this.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform.h"

// ---------------------------------------------------------------- win32/text.cpp
void SetPortableLastError(DWORD error);

namespace portable {

// ---------------------------------------------------------------- win32/com.cpp
// Creates the object behind CoCreateInstance(CLSID_ShellLink, ...).
using ShellLinkFactory = HRESULT (*)(REFIID riid, void** ppv);

// Puts another factory in place (nullptr restores the portable one) and
// returns the one it replaced.  For tests that drive failure paths.
ShellLinkFactory SetShellLinkFactory(ShellLinkFactory factory);

// ---------------------------------------------------------------- shell_link.cpp
// The factory of the portable shell link object.
[[nodiscard]] HRESULT CreatePortableShellLink(REFIID riid, void** ppv);

// ---------------------------------------------------------------- errno_table.cpp
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

// ---------------------------------------------------------------- (here)
// Writes the size bytes of data whole through put(data, n), which writes
// up to n bytes and gives how many, or -1 with errno set: a write to a
// descriptor, or the library's to a file on a share.  False, with errno
// (EIO for a write of none), where one fails; an interrupted one is tried
// again.
template <typename Put>
[[nodiscard]] bool WriteWhole(Put put, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const auto n = put(data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0 || errno == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// ---------------------------------------------------------------- link_file.cpp
// The largest link file that is read.
inline constexpr std::size_t kMaxLinkFileSize = 1024 * 1024;

// A link file as its last read, or save, found it, held for the next save
// over it: its contents then, which that save compares with what the file
// holds right before it writes anything; and for a local file the folder
// that holds it and the file, both open, and its name in that folder (a
// file on a share is named by its path again).
struct HeldFile {
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile();
  void Close();
  // Holds what other held; other holds nothing.
  void Take(HeldFile& other);
  bool Holds() const { return Folder >= 0 || Bytes != nullptr; }

  // Keeps a copy of the size bytes of data as the file's contents; false
  // where there is no memory for them.
  [[nodiscard]] bool Remember(const uint8_t* data, std::size_t size);

  int Folder = -1;  // held by O_PATH: it need not be readable
  int File = -1;  // -1 where the name held no file yet
  char Name[256] = {};
  struct stat Read = {};  // the file as it was read, or last saved
  // Its contents then; nullptr where not known (a local file's save then
  // compares its size and time).
  uint8_t* Bytes = nullptr;
  std::size_t Size = 0;
};

// How a link file is read whole and saved whole: as a local file (files/),
// or through SMB on a share (smb/).  Each keeps what it read in a HeldFile,
// so that a save over that file succeeds only while the file still holds
// just that, else ERROR_SHARING_VIOLATION: nobody's change made since is
// lost.  Both return 0 or a Win32 error number.
struct LinkFileWay {
  // Reads the whole file name names into buffer, no more than capacity;
  // on success *held (when given) holds what was read.
  DWORD (*Read)(const char* name, uint8_t* buffer, std::size_t capacity, std::size_t* size,
                HeldFile* held);
  // Saves data as the file name names: over the file *held holds, where it
  // holds one, else over whatever the name holds now, or as a new file.  On
  // success *held (when given) holds the saved file and its bytes; on
  // failure the file and *held are as they were.
  DWORD (*Save)(const char* name, const uint8_t* data, std::size_t size, HeldFile* held);
};

// The way of name: through SMB for a share path (smb/smb.h), as a local
// file for any other.
const LinkFileWay& LinkFileWayOf(const char* name);

// ---------------------------------------------------------------- files/read.cpp
// The local way's read: the whole regular file.  A file larger than the
// buffer is ERROR_FILE_TOO_LARGE, a folder ERROR_ACCESS_DENIED, a device,
// pipe, socket or file of /proc or /sys ERROR_BAD_FILE_TYPE (found without
// waiting on it), a symbolic link that names what its owner does not own,
// or one out of a shared sticky folder that neither this user nor the
// folder's owner made, ERROR_ACCESS_DENIED, an entry with more than one
// name in a folder others may write ERROR_NOT_SUPPORTED (files/resolve.cpp).
[[nodiscard]] DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                                  std::size_t* size, HeldFile* held = nullptr);

// ---------------------------------------------------------------- files/save.cpp
// The local way's save: replaces (or creates) the file *held holds, when
// it holds one, else the one path names, resolved as a read resolves it.
// It succeeds only over the very bytes that were read (*held's Bytes,
// compared again right before anything is put in place; where nothing was
// read, over the file as it was looked at).  Where a new file can carry
// the old one's owner, group, mode and every extended attribute (set, then
// looked at), it is made in that file's folder, flushed, and exchanged
// with it; else, and for a file with other hard links, the old file is
// rewritten in place behind a flushed copy (files/rewrite.cpp).  The
// folder is flushed last.  Refuses what the read refuses, a file this user
// may not write or a stranger's in a shared sticky folder
// (ERROR_ACCESS_DENIED).  No new file is left behind by a failure.
[[nodiscard]] DWORD WriteFileReplacing(const char* path, const uint8_t* data, std::size_t size,
                                       HeldFile* held = nullptr);

// ---------------------------------------------------------------- files/note.cpp
// Says in words why the file operation under way failed, beyond its error
// number, for the trace (LinkFailureNote, platform.h); printf's format.
void Note(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A read, a save or a new link object begins: nothing is said yet.
void ClearNote();

// ---------------------------------------------------------------- files/replace.cpp
// How saves put their contents in place, for tests: a new file that is
// unnamed at first (O_TMPFILE, the way where the system has them) or named
// from the start (as on a file system without unnamed files), or the old
// file rewritten (always, as where a new file could not carry everything).
// Returns the way before.
enum class SaveWay { Unnamed, Named, InPlace };
SaveWay UseSaveWay(SaveWay way);

}  // namespace portable
