// Samba's record of a file's DOS attributes (read-only, hidden, archive,
// ...), kept in the extended attribute user.DOSATTRIB.  Its layout, after
// xattr_DOSATTRIB in Samba's librpc/idl/xattr.idl, all numbers
// little-endian:
//
//   attrib_hex   a NUL-terminated text: "0x" and the attributes in hex
//                (empty in what Samba 4 writes); Samba 3 wrote this text
//                alone
//   version      uint16, at the next even offset
//   level        uint16, the union's switch (the version again)
//   info         at the next offset that is a multiple of 4, by version:
//                  1       attrib at 0
//                  2       flags at 0, attrib at 4
//                  3, 4, 5 valid_flags at 0, attrib at 4, which counts only
//                          where valid_flags has XATTR_DOSINFO_ATTRIB (0x1)
//                  0xFFFF  attrib at 0
//                and the rest of the version's fields, kept as they are.
#include <cstdio>
#include <cstring>

#include "files.h"

namespace portable {
namespace {

constexpr uint32_t kDosInfoAttrib = 0x1;  // XATTR_DOSINFO_ATTRIB

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteU32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A record taken apart.
struct Layout {
  std::size_t TextLength = 0;  // of attrib_hex, without its NUL
  bool TextOnly = false;       // Samba 3's text alone
  bool Terminated = false;     // the text ends in a NUL
  std::size_t Version = 0;     // offset of version, or of the info:
  std::size_t Info = 0;
  std::size_t Attrib = 0;      // offset of attrib within the record
  bool HasValidFlags = false;  // versions 3 to 5
  uint32_t Attributes = 0;
};

bool ParseHex(const uint8_t* text, std::size_t length, uint32_t* value) {
  if (length < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || length > 10)
    return false;
  *value = 0;
  for (std::size_t i = 2; i < length; ++i) {
    const uint8_t c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    *value = *value << 4 | digit;
  }
  return true;
}

bool TakeApart(const uint8_t* data, std::size_t size, Layout* layout) {
  const void* nul = std::memchr(data, 0, size);
  layout->Terminated = nul != nullptr;
  layout->TextLength = nul != nullptr ? static_cast<const uint8_t*>(nul) - data : size;
  const std::size_t afterText = layout->TextLength + (layout->Terminated ? 1 : 0);
  if (afterText == size) {
    layout->TextOnly = true;
    return ParseHex(data, layout->TextLength, &layout->Attributes);
  }
  layout->Version = (afterText + 1) & ~std::size_t{1};
  if (layout->Version + 4 > size) return false;
  const unsigned version = data[layout->Version] | data[layout->Version + 1] << 8;
  layout->Info = (layout->Version + 4 + 3) & ~std::size_t{3};
  std::size_t attrib = 0;
  switch (version) {
    case 1: case 0xFFFF: attrib = 0; break;
    case 2: attrib = 4; break;
    case 3: case 4: case 5: attrib = 4; layout->HasValidFlags = true; break;
    default: return false;
  }
  layout->Attrib = layout->Info + attrib;
  if (layout->Attrib + 4 > size) return false;
  layout->Attributes = ReadU32(data + layout->Attrib);
  if (layout->HasValidFlags && (ReadU32(data + layout->Info) & kDosInfoAttrib) == 0)
    layout->Attributes = 0;
  return true;
}

}  // namespace

bool ReadDosAttributes(const uint8_t* data, std::size_t size, uint32_t* attributes) {
  Layout layout;
  if (!TakeApart(data, size, &layout)) return false;
  *attributes = layout.Attributes;
  return true;
}

std::size_t AddDosAttributes(const uint8_t* data, std::size_t size, uint32_t add, uint8_t* out,
                             std::size_t capacity) {
  Layout layout;
  if (!TakeApart(data, size, &layout)) return 0;
  const uint32_t attributes = layout.Attributes | add;
  // The text is written anew where there was one; Samba 4's empty text stays
  // empty.
  char text[16] = "";
  if (layout.TextLength > 0) std::snprintf(text, sizeof text, "0x%x", attributes);
  const std::size_t textLength = std::strlen(text);
  const bool terminated = layout.Terminated || !layout.TextOnly;
  std::size_t used = textLength + (terminated ? 1 : 0);
  if (layout.TextOnly) {
    if (used > capacity) return 0;
    std::memcpy(out, text, used);
    return used;
  }
  const std::size_t version = (used + 1) & ~std::size_t{1};
  const std::size_t info = (version + 4 + 3) & ~std::size_t{3};
  const std::size_t infoSize = size - layout.Info;
  if (info + infoSize > capacity) return 0;
  std::memset(out, 0, info);
  std::memcpy(out, text, textLength);
  std::memcpy(out + version, data + layout.Version, 4);
  std::memcpy(out + info, data + layout.Info, infoSize);
  WriteU32(out + info + (layout.Attrib - layout.Info), attributes);
  if (layout.HasValidFlags) WriteU32(out + info, ReadU32(out + info) | kDosInfoAttrib);
  return info + infoSize;
}

}  // namespace portable
