// Shell items, which [MS-SHLLINK] leaves to the shell.  Their layout here
// follows the Windows Shell Item format as documented by the libfwsi
// project, and the items Windows XP and later write.
//
// A path is: the root item of My Computer, a volume item with the drive
// ("C:\"), then one file entry item per folder and the file.  A file entry
// holds a primary name and, from Windows XP on, an extension block
// 0xBEEF0004 with the long name in UTF-16.
#include "shell_items.h"

#include <cstring>

#include "../unicode.h"

namespace shllink {
namespace {

// Every item starts with its ItemIDSize (2 bytes) and its class type.
constexpr std::size_t kItemTypeAt = 2;

// Root folder item (class type 0x1F): sort index, then the folder's CLSID.
constexpr uint8_t kRootItemType = 0x1F;
constexpr uint8_t kMyComputerSortIndex = 0x50;
constexpr std::size_t kRootClsidAt = 4;
constexpr std::size_t kRootItemSize = 20;
constexpr uint8_t kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

// Volume item (class type 0x2X; 0x01 set: it holds a drive name), the
// drive in ANSI from byte 3, in a 22-byte field as Windows writes it.
constexpr uint8_t kVolumeTypeMask = 0x70, kVolumeType = 0x20, kVolumeHasName = 0x01;
constexpr uint8_t kVolumeItemType = 0x2F;
constexpr std::size_t kVolumeNameAt = 3;
constexpr std::size_t kVolumeNameSize = 22;
constexpr std::size_t kDriveNameRead = 7;  // "C:\" and room to spare

// File entry item (class type 0x3X; 0x01 a folder, 0x02 a file, 0x04 a
// Unicode primary name): size, date and time, attributes, then the primary
// name from byte 14, NUL-terminated and padded to an even offset.
constexpr uint8_t kFileEntryType = 0x30, kFileEntryFolder = 0x31, kFileEntryFile = 0x32;
constexpr uint8_t kFileEntryUnicodeName = 0x04;
constexpr std::size_t kPrimaryNameAt = 14;
constexpr std::size_t kFileEntryMinSize = 16;
constexpr uint16_t FILE_ATTRIBUTE_DIRECTORY = 0x10, FILE_ATTRIBUTE_ARCHIVE = 0x20;

// Its extension block: size, version, signature, then by version the long
// name at these offsets.  Version 3 is what Windows XP writes.
constexpr uint32_t kFileEntryExtension = 0xBEEF0004;
constexpr uint16_t kExtensionVersion = 3;
constexpr uint16_t kLongNameAt[][2] = {{3, 20}, {7, 38}, {8, 42}, {9, 46}};

std::size_t LongNameOffset(uint16_t version) {
  for (const auto& v : kLongNameAt)
    if (v[0] == version) return v[1];
  return 0;
}

struct Out {
  char* Text;
  std::size_t Capacity;
  std::size_t Used = 0;

  void Append(const char* s) {
    for (; *s != '\0' && Used + 1 < Capacity; ++s) Text[Used++] = *s;
    Text[Used] = '\0';
  }
};

// The long name of a file entry item, else its primary name, in UTF-8.
bool FileEntryName(Bytes item, char* name, std::size_t capacity) {
  const ByteReader r(item);
  // Primary name: NUL-terminated, then padded to an even offset.
  std::size_t end = kPrimaryNameAt;
  if ((item[kItemTypeAt] & kFileEntryUnicodeName) != 0) {
    uint16_t unit = 1;
    while (r.ReadU16LE(end, &unit) && unit != 0) end += 2;
    if (unit != 0) return false;
    portable::Utf16LEToUtf8(item.data() + kPrimaryNameAt, (end - kPrimaryNameAt) / 2, name,
                            capacity);
    end += 2;
  } else {
    uint8_t byte = 1;
    while (r.ReadU8(end, &byte) && byte != 0) ++end;
    if (byte != 0) return false;
    portable::AnsiToUtf8(item.data() + kPrimaryNameAt, end - kPrimaryNameAt, name, capacity);
    end += 1;
  }
  if (end % 2 != 0) ++end;

  uint16_t blockSize, version;
  uint32_t signature;
  if (!r.ReadU16LE(end, &blockSize) || !r.ReadU16LE(end + 2, &version) ||
      !r.ReadU32LE(end + 4, &signature) || signature != kFileEntryExtension ||
      !r.Has(end, blockSize))
    return true;  // no long name: the primary name stands
  const std::size_t at = LongNameOffset(version);
  if (at == 0 || at + 2 > blockSize) return true;
  const ByteReader block(item.subspan(end, blockSize));
  std::size_t stop = at;
  uint16_t unit = 1;
  while (block.ReadU16LE(stop, &unit) && unit != 0) stop += 2;
  if (unit != 0) return true;
  portable::Utf16LEToUtf8(item.data() + end + at, (stop - at) / 2, name, capacity);
  return true;
}

// One file entry item for a name.
void FileEntryItem(Writer& w, const Wide& name, bool folder) {
  const std::size_t start = w.size();
  w.U16(0);  // ItemIDSize, patched
  w.U8(folder ? kFileEntryFolder : kFileEntryFile);
  w.U8(0);
  w.U32(0);  // file size
  w.U32(0);  // modification date and time
  w.U16(folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
  w.Ansi(name);  // primary name
  if ((w.size() - start) % 2 != 0) w.U8(0);
  const std::size_t extension = w.size();
  w.U16(0);  // block size, patched
  w.U16(kExtensionVersion);
  w.U32(kFileEntryExtension);
  w.U32(0);  // creation date and time
  w.U32(0);  // access date and time
  w.U16(0x14);  // the version of the shell that wrote it
  w.U16(0);     // no localized name
  w.UnicodeZ(name);
  w.U16(static_cast<uint16_t>(extension - start));  // where the block starts
  w.PatchU16(extension, static_cast<uint16_t>(w.size() - extension));
  w.PatchU16(start, static_cast<uint16_t>(w.size() - start));
}

}  // namespace

bool IDListPath(Bytes idList, char* out, std::size_t capacity) {
  if (capacity == 0) return false;
  out[0] = '\0';
  const ByteReader r(idList);
  Out path{out, capacity};
  std::size_t at = 0;
  int index = 0;
  bool fileSystem = true;
  for (;; ++index) {
    uint16_t size;
    if (!r.ReadU16LE(at, &size)) return false;
    if (size == 0) break;
    Bytes item;
    if (size <= kItemTypeAt || !r.Slice(at, size, &item)) return false;
    at += size;
    if (!fileSystem) continue;
    const uint8_t type = item[kItemTypeAt];
    if (index == 0) {
      fileSystem = type == kRootItemType && size >= kRootItemSize &&
                   std::memcmp(item.data() + kRootClsidAt, kMyComputer, 16) == 0;
    } else if (index == 1) {
      uint8_t raw[kDriveNameRead + 1] = {};
      fileSystem = (type & kVolumeTypeMask) == kVolumeType && (type & kVolumeHasName) != 0;
      for (std::size_t i = 0; fileSystem && i < kDriveNameRead && kVolumeNameAt + i < size; ++i) {
        if (item[kVolumeNameAt + i] == 0) break;
        raw[i] = item[kVolumeNameAt + i];
      }
      char drive[3 * sizeof raw + 1];
      portable::AnsiToUtf8(raw, sizeof raw, drive, sizeof drive);
      fileSystem = fileSystem && drive[0] != '\0';
      if (fileSystem) path.Append(drive);
    } else {
      char name[1024];
      fileSystem = (type & kVolumeTypeMask) == kFileEntryType && size >= kFileEntryMinSize &&
                   FileEntryName(item, name, sizeof name);
      if (fileSystem) {
        if (path.Used > 0 && out[path.Used - 1] != '\\') path.Append("\\");
        path.Append(name);
      }
    }
  }
  if (!fileSystem || index < 2) out[0] = '\0';
  return true;
}

bool WriteLocalIDList(Writer& w, const char* path, bool folder) {
  const std::size_t start = w.size();
  w.U16(0);  // IDListSize, patched
  w.U16(kRootItemSize);
  w.U8(kRootItemType);
  w.U8(kMyComputerSortIndex);
  w.Raw(Bytes(kMyComputer, sizeof kMyComputer));
  w.U16(kVolumeNameAt + kVolumeNameSize);
  w.U8(kVolumeItemType);
  const uint8_t drive[3] = {static_cast<uint8_t>(path[0]), ':', '\\'};
  w.Raw(Bytes(drive, 3));
  w.Zeros(kVolumeNameSize - 3);

  const char* p = path + 3;
  while (*p != '\0') {
    const char* end = std::strchr(p, '\\');
    const std::size_t length = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
    char name[kMaxWideUnits];
    if (length >= sizeof name) return false;
    std::memcpy(name, p, length);
    name[length] = '\0';
    const Wide wide(name);
    if (!wide.Ok) return false;
    // The last name is a folder when the target said so.
    FileEntryItem(w, wide, end != nullptr || folder);
    p += length;
    if (*p == '\\') ++p;
  }
  w.U16(0);  // TerminalID
  if (w.size() - start - 2 > 0xFFFF) return false;
  w.PatchU16(start, static_cast<uint16_t>(w.size() - start - 2));
  return w.ok();
}

}  // namespace shllink
