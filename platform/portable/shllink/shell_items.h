// The shell items of a LinkTargetIDList (2.2.2 IDList), which [MS-SHLLINK]
// leaves to the shell.  Their layout here follows the Windows Shell Item
// format as documented by the libfwsi project, and the items Windows XP and
// later write.
//
// A path is: the root item of My Computer, a volume item with the drive
// ("C:\"), then one file entry item per folder and the file.  A file entry
// holds a primary name and, from Windows XP on, an extension block
// 0xBEEF0004 with the long name in UTF-16.
#pragma once

#include <cstddef>

#include "bytes.h"

namespace shllink {

// Every item starts with its ItemIDSize and its class type.
inline constexpr std::size_t kItemTypeAt = ItemIDAt::Data;
inline constexpr uint8_t kItemTypeMask = 0x70;

// Root folder item (class type 0x1F): sort index, then the folder's CLSID.
inline constexpr uint8_t kRootItemType = 0x1F;
inline constexpr std::size_t kRootClsidAt = 4;
inline constexpr std::size_t kRootItemSize = 20;

// Volume item (class type 0x2X; 0x01 set: it holds a drive name), the
// drive in ANSI from byte 3, in a 22-byte field as Windows writes it.
inline constexpr uint8_t kVolumeType = 0x20, kVolumeHasName = 0x01;
inline constexpr std::size_t kVolumeNameAt = 3;

// File entry item (class type 0x3X; 0x01 a folder, 0x02 a file, 0x04 a
// Unicode primary name): size, date and time, attributes, then the primary
// name from byte 14, NUL-terminated and padded to an even offset.
inline constexpr uint8_t kFileEntryType = 0x30;
inline constexpr uint8_t kFileEntryFolder = 0x01, kFileEntryFile = 0x02;
inline constexpr uint8_t kFileEntryUnicodeName = 0x04;

// The file-system path a sound ID list names ("C:\dir\file"), in UTF-8;
// empty when it names none (a virtual folder, an app).
void IDListPath(Bytes idList, char* out, std::size_t capacity);

// LinkTargetIDList for a canonical "X:\a\b\c": IDListSize, My Computer, the
// drive, one file entry per name; folder marks the last name as a folder.
bool WriteLocalIDList(Writer& w, const char* path, bool folder);

}  // namespace shllink
