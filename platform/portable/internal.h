// What the portable platform's parts share among themselves, and the hooks
// its tests use.  The tool itself never includes this.
#pragma once

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

// The Win32 error number for an errno value.
DWORD Win32ErrorFromErrno(int error);

// Reads the whole regular file into buffer.  Returns 0 or a Win32 error
// number: a file larger than the buffer is ERROR_FILE_TOO_LARGE, a folder
// ERROR_ACCESS_DENIED, a device, pipe or socket ERROR_BAD_FILE_TYPE (found
// without waiting on it).
DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size);

// Replaces (or creates) the file with data, following symbolic links to the
// file they name: a new file in that file's folder, flushed, given the old
// file's owner, group and mode, renamed over it, and the folder flushed.
// Refuses what the read refuses, a file with more than one hard link
// (ERROR_NOT_SUPPORTED) and a file this user may not write
// (ERROR_ACCESS_DENIED).  On failure the old file is as it was and no new
// file is left behind.  Returns 0 or a Win32 error number.
DWORD WriteFileReplacing(const char* path, const uint8_t* data,
                         std::size_t size);

// Whether saves write an unnamed file first (O_TMPFILE) or, as on a file
// system without unnamed files, a named one; returns the previous setting.
// For tests.
bool UseUnnamedFiles(bool use);

}  // namespace portable
