// The file-system path of a LinkTargetIDList.
//
// The shell items of a path are: the root item of My Computer, a volume
// item with the drive ("C:\"), then one file entry item per folder and the
// file.  A file entry holds a primary name and, from Windows XP on, an
// extension block 0xBEEF0004 with the long name in UTF-16.
#include <cstring>

#include "../unicode.h"
#include "format.h"

namespace shllink {
namespace {

constexpr uint8_t kMyComputer[16] = {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A,
                                     0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00,
                                     0x2B, 0x30, 0x30, 0x9D};
constexpr uint32_t kFileEntryExtension = 0xBEEF0004;

bool IsRootItem(uint8_t type) { return type == 0x1F; }
bool IsVolumeItem(uint8_t type) { return (type & 0x70) == 0x20; }
bool IsFileEntryItem(uint8_t type) { return (type & 0x70) == 0x30; }

// Where the long name starts in a 0xBEEF0004 block, by its version.
std::size_t LongNameOffset(uint16_t version) {
  switch (version) {
    case 3: return 20;
    case 7: return 38;
    case 8: return 42;
    case 9: return 46;
    default: return 0;
  }
}

struct Out {
  char* Text;
  std::size_t Capacity;
  std::size_t Used = 0;
  bool Fits = true;

  void Append(const char* s) {
    for (; *s != '\0'; ++s) {
      if (Used + 1 >= Capacity) {
        Fits = false;
        return;
      }
      Text[Used++] = *s;
    }
    Text[Used] = '\0';
  }
};

// The long name of a file entry item, else its primary name, in UTF-8.
bool FileEntryName(Bytes item, char* name, std::size_t capacity) {
  const ByteReader r(item);
  const uint8_t type = item[2];
  const bool unicodeName = (type & 0x04) != 0;
  constexpr std::size_t kPrimaryName = 14;
  // Primary name: NUL-terminated, then padded to an even offset.
  std::size_t end = kPrimaryName;
  if (unicodeName) {
    uint16_t unit = 1;
    while (r.ReadU16LE(end, &unit) && unit != 0) end += 2;
    if (unit != 0) return false;
    portable::Utf16LEToUtf8(item.data() + kPrimaryName, (end - kPrimaryName) / 2,
                            name, capacity);
    end += 2;
  } else {
    uint8_t byte = 1;
    while (r.ReadU8(end, &byte) && byte != 0) ++end;
    if (byte != 0) return false;
    portable::AnsiToUtf8(item.data() + kPrimaryName, end - kPrimaryName, name,
                           capacity);
    end += 1;
  }
  if (end % 2 != 0) ++end;

  // Extension block: size, version, signature, then the long name.
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
    if (size < 3 || !r.Slice(at, size, &item)) return false;
    at += size;
    if (!fileSystem) continue;
    const uint8_t type = item[2];
    if (index == 0) {
      fileSystem = IsRootItem(type) && size >= 20 &&
                   std::memcmp(item.data() + 4, kMyComputer, 16) == 0;
    } else if (index == 1) {
      // The drive, as "C:\" in ANSI, at most 7 bytes of it.
      uint8_t raw[8] = {};
      fileSystem = IsVolumeItem(type) && (type & 0x01) != 0;
      for (std::size_t i = 0; fileSystem && i + 1 < sizeof raw && 3 + i < size; ++i) {
        if (item[3 + i] == 0) break;
        raw[i] = item[3 + i];
      }
      char drive[3 * sizeof raw + 1];
      portable::AnsiToUtf8(raw, sizeof raw, drive, sizeof drive);
      fileSystem = fileSystem && drive[0] != '\0';
      if (fileSystem) path.Append(drive);
    } else {
      char name[1024];
      fileSystem = IsFileEntryItem(type) && size >= 16 &&
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

}  // namespace shllink
