// The shell items of a LinkTargetIDList (2.2.2 IDList), read and written.
#pragma once

#include <cstddef>

#include "bytes.h"

namespace shllink {

// The file-system path an ID list names ("C:\dir\file"), in UTF-8; empty
// when the list names no file-system path (a virtual folder, an app).
// Returns false only when the list is malformed.
bool IDListPath(Bytes idList, char* out, std::size_t capacity);

// LinkTargetIDList for a canonical "X:\a\b\c": IDListSize, My Computer, the
// drive, one file entry per name; folder marks the last name as a folder.
bool WriteLocalIDList(Writer& w, const char* path, bool folder);

}  // namespace shllink
