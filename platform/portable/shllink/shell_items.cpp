// Reading and writing the shell items of an ID list.
#include "shell_items.h"

#include <cstring>

#include "../win32/unicode.h"

namespace shllink {
namespace {

constexpr uint8_t kMyComputerSortIndex = 0x50;
constexpr uint8_t kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr uint8_t kVolumeItemType = 0x2F;  // as Windows writes a drive's
constexpr std::size_t kVolumeNameSize = 22;
constexpr std::size_t kDriveNameRead = 7;  // "C:\" and room to spare
constexpr std::size_t kPrimaryNameAt = 14;
constexpr std::size_t kFileEntryMinSize = 16;
constexpr uint16_t FILE_ATTRIBUTE_DIRECTORY = 0x10, FILE_ATTRIBUTE_ARCHIVE = 0x20;

// A file entry's extension block: size, version, signature, then by version
// the long name at these offsets.  Version 3 is what Windows XP writes.
struct ExtensionBlockAt {
  static constexpr std::size_t Size = 0, Version = 2, Signature = 4;
};
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
    while (end < item.size() && item[end] != 0) ++end;
    if (end == item.size()) return false;
    portable::AnsiToUtf8(item.data() + kPrimaryNameAt, end - kPrimaryNameAt, name, capacity);
    end += 1;
  }
  if (end % 2 != 0) ++end;

  uint16_t blockSize, version;
  uint32_t signature;
  if (!r.ReadU16LE(end + ExtensionBlockAt::Size, &blockSize) ||
      !r.ReadU16LE(end + ExtensionBlockAt::Version, &version) ||
      !r.ReadU32LE(end + ExtensionBlockAt::Signature, &signature) ||
      signature != kFileEntryExtension || !r.Has(end, blockSize))
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
  w.U8(kFileEntryType | (folder ? kFileEntryFolder : kFileEntryFile));
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

void IDListPath(Bytes idList, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  out[0] = '\0';
  if (!ItemIDList(idList).Sound()) return;
  Out path{out, capacity};
  int index = 0;
  for (const Bytes item : ItemIDList(idList)) {
    const std::size_t size = item.size();
    const uint8_t type = size > kItemTypeAt ? item[kItemTypeAt] : 0;
    const int position = index++;
    bool fileSystem;
    if (position == 0) {
      fileSystem = type == kRootItemType && size >= kRootItemSize &&
                   std::memcmp(item.data() + kRootClsidAt, kMyComputer, sizeof kMyComputer) == 0;
    } else if (position == 1) {
      uint8_t raw[kDriveNameRead + 1] = {};
      fileSystem = (type & kItemTypeMask) == kVolumeType && (type & kVolumeHasName) != 0;
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
      fileSystem = (type & kItemTypeMask) == kFileEntryType && size >= kFileEntryMinSize &&
                   FileEntryName(item, name, sizeof name);
      if (fileSystem) {
        if (path.Used > 0 && out[path.Used - 1] != '\\') path.Append("\\");
        path.Append(name);
      }
    }
    if (!fileSystem) {
      out[0] = '\0';
      return;
    }
  }
  if (index < 2) out[0] = '\0';
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
  const std::size_t size = w.size() - start - LinkTargetIDListAt::IDList;
  if (size > 0xFFFF) return false;
  w.PatchU16(start + LinkTargetIDListAt::IDListSize, static_cast<uint16_t>(size));
  return w.ok();
}

}  // namespace shllink
