// Links on a file share, read and saved through SMB with Samba's own client
// library, so that the server applies its rules (share modes, the archive
// bit, its ACLs) exactly as it does for a Windows client.
//
// A name of the form \\server\share\folder\name.lnk or
// smb://server[:port]/share/folder/name.lnk is a share path; every other
// name is a local file, for which nothing here is ever loaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

namespace portable::smb {

// Whether name is a share path (share_path.cpp).
bool IsSharePath(const char* name);

// Reads the whole link into buffer, no more than its capacity, and
// remembers what it read for a save over it (link_io.cpp).  Returns 0 or a
// Win32 error number.
DWORD ReadLink(const char* name, uint8_t* buffer, std::size_t capacity, std::size_t* size);

// Writes data over the link on the server, or creates it, keeping the
// server's file (its ID, owner, ACL, streams, create time and attributes).
// overRead: the save is of the link ReadLink last read under this name,
// and it succeeds only while the file still holds what was read (else
// ERROR_SHARING_VIOLATION).  Returns 0 or a Win32 error number.
DWORD SaveLink(const char* name, const uint8_t* data, std::size_t size, bool overRead);

}  // namespace portable::smb
