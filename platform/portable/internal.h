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

// Reads the whole file into buffer.  Returns 0 or a Win32 error number;
// a file larger than the buffer is ERROR_FILE_TOO_LARGE.
DWORD ReadWholeFile(const char* path, uint8_t* buffer, std::size_t capacity,
                    std::size_t* size);

// Replaces (or creates) the file with data: a new file in the same folder,
// flushed, then renamed over the old one.  On failure the old file is as it
// was and no new file is left behind.  Returns 0 or a Win32 error number.
DWORD WriteFileReplacing(const char* path, const uint8_t* data,
                         std::size_t size);

}  // namespace portable
