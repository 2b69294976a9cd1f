// Samba's record of a file's DOS attributes (read-only, hidden, archive,
// ...), kept in the extended attribute user.DOSATTRIB, read as Samba 4.17
// reads it (xattr_DOSATTRIB of Samba's librpc/idl/xattr.idl, pulled as
// NDR).  All numbers are little-endian:
//
//   attrib_hex   a NUL-terminated text (without its NUL, it runs to the
//                end); Samba 4 writes it empty, Samba 3 wrote this text
//                alone.  Where nothing follows it, the attributes are the
//                text read as scanf's %x reads it: blanks, a sign, "0x"
//                and hex digits, the rest ignored ("1" and "0x1 " are
//                both read-only)
//   version      uint16, at the next even offset; never 0xFFFF here
//   level        uint16: the union's switch, which must be the version
//   info         at the next offset that is a multiple of 4, whole:
//                  1  attrib, ea_size, size, alloc_size, create_time,
//                     change_time (40 bytes)
//                  2  flags, attrib, ea_size, size, alloc_size,
//                     create_time, change_time, write_time, and a
//                     NUL-terminated name (53 bytes and more)
//                  3  valid_flags, attrib, ea_size, size, alloc_size,
//                     create_time, change_time (44 bytes)
//                  4  valid_flags, attrib, itime, create_time (24 bytes)
//                  5  valid_flags, attrib, create_time (16 bytes)
//                attrib counts whatever valid_flags says, as Samba takes
//                it; bytes after the info are ignored, and kept.
//
// Anything else Samba cannot read, and shows the file without attributes;
// so does it with a record longer than it reads (kMaxDosRecord).
#include <cstdio>
#include <cstring>

#include "files.h"
#include "shllink/bytes.h"

namespace portable {
namespace {

constexpr uint32_t kDosInfoAttrib = 0x1;  // XATTR_DOSINFO_ATTRIB

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

bool IsHex(uint8_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

// The text as scanf's %x reads it into an unsigned int: false where it
// holds no hex digit where one must be.
bool ParseText(const uint8_t* text, std::size_t length, uint32_t* value) {
  std::size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i + 2 < length && text[i] == '0' && (text[i + 1] | 0x20) == 'x' && IsHex(text[i + 2]))
    i += 2;
  uint64_t number = 0;
  bool digits = false;
  for (; i < length && IsHex(text[i]); ++i) {
    const uint8_t c = text[i];
    const unsigned digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    number = number > (UINT64_MAX >> 4) ? UINT64_MAX : number << 4 | digit;
    digits = true;
  }
  if (negative) number = 0 - number;
  *value = static_cast<uint32_t>(number);
  return digits;
}

// How many bytes the info of a version needs from its start, or 0 where
// it is not whole (or the version is not one Samba reads).
std::size_t InfoSize(unsigned version, const uint8_t* info, std::size_t room) {
  std::size_t size = 0;
  switch (version) {
    case 1: size = 40; break;
    case 2: {  // the fixed fields and a name up to its NUL
      if (room <= 52) return 0;
      const void* nul = std::memchr(info + 52, 0, room - 52);
      return nul == nullptr ? 0 : static_cast<const uint8_t*>(nul) - info + 1;
    }
    case 3: size = 44; break;
    case 4: size = 24; break;
    case 5: size = 16; break;
    default: return 0;
  }
  return size <= room ? size : 0;
}

bool TakeApart(const uint8_t* data, std::size_t size, Layout* layout) {
  if (size > kMaxDosRecord) return false;  // Samba reads none of it
  const void* nul = std::memchr(data, 0, size);
  layout->Terminated = nul != nullptr;
  layout->TextLength = nul != nullptr ? static_cast<const uint8_t*>(nul) - data : size;
  const std::size_t afterText = layout->TextLength + (layout->Terminated ? 1 : 0);
  if (afterText >= size) {
    layout->TextOnly = true;
    return ParseText(data, layout->TextLength, &layout->Attributes);
  }
  layout->Version = (afterText + 1) & ~std::size_t{1};
  const shllink::ByteReader record(shllink::Bytes(data, size));
  uint16_t version = 0, level = 0;
  if (!record.ReadU16LE(layout->Version, &version) ||
      !record.ReadU16LE(layout->Version + 2, &level) || version == 0xFFFF || level != version)
    return false;
  layout->Info = (layout->Version + 4 + 3) & ~std::size_t{3};
  if (layout->Info > size || InfoSize(version, data + layout->Info, size - layout->Info) == 0)
    return false;
  layout->Attrib = layout->Info + (version == 1 ? 0 : 4);
  layout->HasValidFlags = version >= 3;
  return record.ReadU32LE(layout->Attrib, &layout->Attributes);
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
  shllink::Writer record(out, capacity);
  record.Raw(shllink::Bytes(reinterpret_cast<const uint8_t*>(text), std::strlen(text)));
  if (layout.Terminated || !layout.TextOnly) record.U8(0);
  if (!layout.TextOnly) {
    const std::size_t version = (record.size() + 1) & ~std::size_t{1};
    const std::size_t info = (version + 4 + 3) & ~std::size_t{3};
    record.Zeros(version - record.size());
    record.Raw(shllink::Bytes(data + layout.Version, 4));
    record.Zeros(info - record.size());
    record.Raw(shllink::Bytes(data + layout.Info, size - layout.Info));
    record.PatchU32(info + (layout.Attrib - layout.Info), attributes);
    uint32_t valid = 0;
    if (layout.HasValidFlags && shllink::ByteReader(shllink::Bytes(data, size))
                                    .ReadU32LE(layout.Info, &valid))
      record.PatchU32(info, valid | kDosInfoAttrib);
  }
  return record.ok() ? record.size() : 0;
}

}  // namespace portable
