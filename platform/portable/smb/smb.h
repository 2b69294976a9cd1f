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

#include "internal.h"

namespace portable::smb {

// ---------------------------------------------------------------- share_path.cpp
// Whether name is a share path.
[[nodiscard]] bool IsSharePath(const char* name);

// ---------------------------------------------------------------- link_io.cpp
// The share's way of reading and saving a link file (LinkFileWay,
// internal.h).  The read holds what it read in *held.  The save writes
// over the file on the server, or creates it, keeping the server's file
// (its ID, owner, ACL, streams, create time and attributes); over the file
// *held holds, only while it still holds just those bytes.
[[nodiscard]] DWORD ReadLink(const char* name, uint8_t* buffer, std::size_t capacity,
                             std::size_t* size, HeldFile* held);
[[nodiscard]] DWORD SaveLink(const char* name, const uint8_t* data, std::size_t size,
                             HeldFile* held);

}  // namespace portable::smb
