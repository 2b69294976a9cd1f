// Reading [MS-SHLLINK] files from memory.  Every size and offset is checked
// against the bytes that are there before it is used.
#include <cstring>

#include "../unicode.h"
#include "format.h"

namespace shllink {

// ------------------------------------------------------------ ByteReader

bool ByteReader::ReadU8(std::size_t offset, uint8_t* value) const {
  if (!Has(offset, 1)) return false;
  *value = data_[offset];
  return true;
}

bool ByteReader::ReadU16LE(std::size_t offset, uint16_t* value) const {
  if (!Has(offset, 2)) return false;
  *value = static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
  return true;
}

bool ByteReader::ReadU32LE(std::size_t offset, uint32_t* value) const {
  if (!Has(offset, 4)) return false;
  *value = static_cast<uint32_t>(data_[offset]) |
           (static_cast<uint32_t>(data_[offset + 1]) << 8) |
           (static_cast<uint32_t>(data_[offset + 2]) << 16) |
           (static_cast<uint32_t>(data_[offset + 3]) << 24);
  return true;
}

bool ByteReader::ReadU64LE(std::size_t offset, uint64_t* value) const {
  uint32_t low, high;
  if (!ReadU32LE(offset, &low) || !ReadU32LE(offset + 4, &high)) return false;
  *value = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

bool ByteReader::Slice(std::size_t offset, std::size_t length,
                       Bytes* slice) const {
  if (!Has(offset, length)) return false;
  *slice = data_.subspan(offset, length);
  return true;
}

// ------------------------------------------------------------ texts

bool TextToUtf8(const TextRef& text, char* out, std::size_t capacity) {
  bool cut = false;
  if (text.Data == nullptr || text.Length == 0) {
    if (capacity > 0) out[0] = '\0';
    return true;
  }
  if (text.Encoding == TextEncoding::Unicode)
    portable::Utf16LEToUtf8(text.Data, text.Length, out, capacity, &cut);
  else
    portable::AnsiToUtf8(text.Data, text.Length, out, capacity, &cut);
  return !cut;
}

namespace {

constexpr ParseResult kMalformed = ParseResult::Malformed;

// A NUL-terminated text that starts at offset and must end before limit.
bool ReadTerminated(const ByteReader& r, std::size_t offset, std::size_t limit,
                    TextEncoding encoding, TextRef* text) {
  const std::size_t unit = encoding == TextEncoding::Unicode ? 2 : 1;
  if (limit > r.size()) limit = r.size();
  for (std::size_t at = offset, n = 0; at + unit <= limit; at += unit, ++n) {
    uint16_t value;
    if (unit == 2) {
      if (!r.ReadU16LE(at, &value)) return false;
    } else {
      uint8_t byte;
      if (!r.ReadU8(at, &byte)) return false;
      value = byte;
    }
    if (value == 0) {
      Bytes slice;
      if (!r.Slice(offset, n * unit, &slice)) return false;
      text->Data = slice.data();
      text->Length = static_cast<uint32_t>(n);
      text->Encoding = encoding;
      text->Present = true;
      return true;
    }
  }
  return false;
}

// A text in a fixed-size field, ending at the first NUL or the field's end.
void ReadFixedField(Bytes field, TextEncoding encoding, TextRef* text) {
  const std::size_t unit = encoding == TextEncoding::Unicode ? 2 : 1;
  std::size_t n = 0;
  while ((n + 1) * unit <= field.size()) {
    const std::size_t at = n * unit;
    const bool nul = unit == 2 ? (field[at] == 0 && field[at + 1] == 0) : field[at] == 0;
    if (nul) break;
    ++n;
  }
  text->Data = field.data();
  text->Length = static_cast<uint32_t>(n);
  text->Encoding = encoding;
  text->Present = true;
}

// ------------------------------------------------------------ 2.3.1 VolumeID

bool ParseVolumeID(const ByteReader& info, std::size_t offset, VolumeID* v) {
  uint32_t size;
  if (!info.ReadU32LE(offset, &size) || size <= 0x10 || !info.Has(offset, size))
    return false;
  v->VolumeIDSize = size;
  if (!info.ReadU32LE(offset + 4, &v->DriveType) ||
      !info.ReadU32LE(offset + 8, &v->DriveSerialNumber) ||
      !info.ReadU32LE(offset + 12, &v->VolumeLabelOffset))
    return false;
  if (v->VolumeLabelOffset == 0x14) {
    if (size < 0x14 || !info.ReadU32LE(offset + 16, &v->VolumeLabelOffsetUnicode) ||
        v->VolumeLabelOffsetUnicode >= size)
      return false;
    return ReadTerminated(info, offset + v->VolumeLabelOffsetUnicode, offset + size,
                          TextEncoding::Unicode, &v->VolumeLabel);
  }
  if (v->VolumeLabelOffset >= size) return false;
  return ReadTerminated(info, offset + v->VolumeLabelOffset, offset + size,
                        TextEncoding::Ansi, &v->VolumeLabel);
}

// ------------------------------------------------------------ 2.3.2 CommonNetworkRelativeLink

bool ParseCommonNetworkRelativeLink(const ByteReader& info, std::size_t offset,
                                    CommonNetworkRelativeLink* c) {
  uint32_t size;
  if (!info.ReadU32LE(offset, &size) || size < 0x14 || !info.Has(offset, size))
    return false;
  c->CommonNetworkRelativeLinkSize = size;
  if (!info.ReadU32LE(offset + 4, &c->CommonNetworkRelativeLinkFlags) ||
      !info.ReadU32LE(offset + 8, &c->NetNameOffset) ||
      !info.ReadU32LE(offset + 12, &c->DeviceNameOffset) ||
      !info.ReadU32LE(offset + 16, &c->NetworkProviderType))
    return false;
  const std::size_t end = offset + size;
  if (c->NetNameOffset < 0x14 || c->NetNameOffset >= size) return false;
  if (!ReadTerminated(info, offset + c->NetNameOffset, end, TextEncoding::Ansi,
                      &c->NetName))
    return false;
  const bool validDevice = (c->CommonNetworkRelativeLinkFlags & ValidDevice) != 0;
  if (validDevice) {
    if (c->DeviceNameOffset < 0x14 || c->DeviceNameOffset >= size ||
        !ReadTerminated(info, offset + c->DeviceNameOffset, end,
                        TextEncoding::Ansi, &c->DeviceName))
      return false;
  }
  if (c->NetNameOffset > 0x14) {
    if (size < 0x1C || !info.ReadU32LE(offset + 20, &c->NetNameOffsetUnicode) ||
        !info.ReadU32LE(offset + 24, &c->DeviceNameOffsetUnicode))
      return false;
    if (c->NetNameOffsetUnicode != 0) {
      TextRef wide;
      if (c->NetNameOffsetUnicode >= size ||
          !ReadTerminated(info, offset + c->NetNameOffsetUnicode, end,
                          TextEncoding::Unicode, &wide))
        return false;
      c->NetName = wide;
    }
    if (validDevice && c->DeviceNameOffsetUnicode != 0) {
      TextRef wide;
      if (c->DeviceNameOffsetUnicode >= size ||
          !ReadTerminated(info, offset + c->DeviceNameOffsetUnicode, end,
                          TextEncoding::Unicode, &wide))
        return false;
      c->DeviceName = wide;
    }
  }
  return true;
}

// ------------------------------------------------------------ 2.5 blocks

bool ParseEnvironmentBlock(const ByteReader& block, uint32_t size,
                           EnvironmentVariableDataBlock* b) {
  Bytes ansi, unicode;
  if (size < kEnvironmentBlockSize || !block.Slice(8, kEnvironmentAnsiSize, &ansi) ||
      !block.Slice(8 + kEnvironmentAnsiSize, kEnvironmentUnicodeSize, &unicode))
    return false;
  b->Present = true;
  ReadFixedField(ansi, TextEncoding::Ansi, &b->TargetAnsi);
  ReadFixedField(unicode, TextEncoding::Unicode, &b->TargetUnicode);
  return true;
}

bool ParseBlock(const ByteReader& block, uint32_t size, uint32_t signature,
                ExtraData* extra) {
  switch (signature) {
    case EnvironmentVariableDataBlockSignature:
      return ParseEnvironmentBlock(block, size, &extra->EnvironmentVariable);
    case IconEnvironmentDataBlockSignature:
      return ParseEnvironmentBlock(block, size, &extra->IconEnvironment);
    case DarwinDataBlockSignature: {
      EnvironmentVariableDataBlock shape;
      if (!ParseEnvironmentBlock(block, size, &shape)) return false;
      extra->Darwin.Present = true;
      extra->Darwin.DarwinDataAnsi = shape.TargetAnsi;
      extra->Darwin.DarwinDataUnicode = shape.TargetUnicode;
      return true;
    }
    case ConsoleDataBlockSignature: {
      ConsoleDataBlock& c = extra->Console;
      if (size < 0xCC || !block.ReadU16LE(8, &c.FillAttributes) ||
          !block.ReadU16LE(10, &c.PopupFillAttributes) ||
          !block.ReadU32LE(32, &c.FaceFamily) || !block.ReadU32LE(36, &c.FontWeight) ||
          !block.ReadU32LE(108, &c.HistoryBufferSize))
        return false;
      c.Present = true;
      return true;
    }
    case ConsoleFEDataBlockSignature:
      if (size < 0x0C || !block.ReadU32LE(8, &extra->ConsoleFE.CodePage)) return false;
      extra->ConsoleFE.Present = true;
      return true;
    case KnownFolderDataBlockSignature:
      if (size < 0x1C || !block.Slice(8, 16, &extra->KnownFolder.KnownFolderID) ||
          !block.ReadU32LE(24, &extra->KnownFolder.Offset))
        return false;
      extra->KnownFolder.Present = true;
      return true;
    case PropertyStoreDataBlockSignature:
      if (size < 0x0C || !block.Slice(8, size - 8, &extra->PropertyStore.PropertyStore))
        return false;
      extra->PropertyStore.Present = true;
      return true;
    case ShimDataBlockSignature: {
      Bytes name;
      if (size < 0x88 || !block.Slice(8, size - 8, &name)) return false;
      ReadFixedField(name, TextEncoding::Unicode, &extra->Shim.LayerName);
      extra->Shim.Present = true;
      return true;
    }
    case SpecialFolderDataBlockSignature:
      if (size < 0x10 || !block.ReadU32LE(8, &extra->SpecialFolder.SpecialFolderID) ||
          !block.ReadU32LE(12, &extra->SpecialFolder.Offset))
        return false;
      extra->SpecialFolder.Present = true;
      return true;
    case TrackerDataBlockSignature: {
      uint32_t length;
      if (size < 0x60 || !block.ReadU32LE(8, &length) || length < 0x58 ||
          !block.Slice(16, 16, &extra->Tracker.MachineID) ||
          !block.Slice(32, 32, &extra->Tracker.Droid) ||
          !block.Slice(64, 32, &extra->Tracker.DroidBirth))
        return false;
      extra->Tracker.Present = true;
      return true;
    }
    case VistaAndAboveIDListDataBlockSignature:
      if (size < 0x0A || !block.Slice(8, size - 8, &extra->VistaAndAboveIDList.IDList))
        return false;
      extra->VistaAndAboveIDList.Present = true;
      return true;
    default:
      ++extra->UnknownBlocks;
      return true;
  }
}

}  // namespace

// ------------------------------------------------------------ 2.1 ShellLinkHeader

ParseResult ParseShellLinkHeader(Bytes data, ShellLinkHeader* h) {
  const ByteReader r(data);
  if (!r.ReadU32LE(0x00, &h->HeaderSize) || h->HeaderSize != kHeaderSize)
    return ParseResult::NotShellLink;
  Bytes clsid;
  if (!r.Slice(0x04, 16, &clsid)) return ParseResult::NotShellLink;
  if (std::memcmp(clsid.data(), kLinkCLSID, 16) != 0) return ParseResult::NotShellLink;
  uint32_t iconIndex;
  if (!r.Has(0, kHeaderSize) || !r.ReadU32LE(0x14, &h->LinkFlags) ||
      !r.ReadU32LE(0x18, &h->FileAttributes) || !r.ReadU64LE(0x1C, &h->CreationTime) ||
      !r.ReadU64LE(0x24, &h->AccessTime) || !r.ReadU64LE(0x2C, &h->WriteTime) ||
      !r.ReadU32LE(0x34, &h->FileSize) || !r.ReadU32LE(0x38, &iconIndex) ||
      !r.ReadU32LE(0x3C, &h->ShowCommand) || !r.ReadU16LE(0x40, &h->HotKey))
    return kMalformed;
  h->IconIndex = static_cast<int32_t>(iconIndex);
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.2 LinkTargetIDList

ParseResult ParseLinkTargetIDList(Bytes data, LinkTargetIDList* list,
                                  std::size_t* consumed) {
  const ByteReader r(data);
  if (!r.ReadU16LE(0, &list->IDListSize) || !r.Slice(2, list->IDListSize, &list->IDList))
    return kMalformed;
  // The items must lie within the list and end in a TerminalID.
  const ByteReader items(list->IDList);
  std::size_t at = 0;
  for (;;) {
    uint16_t itemSize;
    if (!items.ReadU16LE(at, &itemSize)) return kMalformed;
    if (itemSize == 0) break;
    if (itemSize < 2 || !items.Has(at, itemSize)) return kMalformed;
    at += itemSize;
  }
  *consumed = 2u + list->IDListSize;
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.3 LinkInfo

ParseResult ParseLinkInfo(Bytes data, LinkInfo* info, std::size_t* consumed) {
  const ByteReader whole(data);
  if (!whole.ReadU32LE(0, &info->LinkInfoSize) || info->LinkInfoSize < 0x1C ||
      !whole.Has(0, info->LinkInfoSize))
    return kMalformed;
  info->Raw = data.first(info->LinkInfoSize);
  const ByteReader r(info->Raw);
  const std::size_t size = info->LinkInfoSize;
  if (!r.ReadU32LE(4, &info->LinkInfoHeaderSize) || !r.ReadU32LE(8, &info->LinkInfoFlags) ||
      !r.ReadU32LE(12, &info->VolumeIDOffset) ||
      !r.ReadU32LE(16, &info->LocalBasePathOffset) ||
      !r.ReadU32LE(20, &info->CommonNetworkRelativeLinkOffset) ||
      !r.ReadU32LE(24, &info->CommonPathSuffixOffset))
    return kMalformed;
  const uint32_t headerSize = info->LinkInfoHeaderSize;
  if (headerSize < 0x1C || headerSize > size) return kMalformed;
  const bool unicodeOffsets = headerSize >= 0x24;
  if (unicodeOffsets && (!r.ReadU32LE(28, &info->LocalBasePathOffsetUnicode) ||
                         !r.ReadU32LE(32, &info->CommonPathSuffixOffsetUnicode)))
    return kMalformed;

  auto inBody = [&](uint32_t offset) { return offset >= headerSize && offset < size; };

  if ((info->LinkInfoFlags & VolumeIDAndLocalBasePath) != 0) {
    if (!inBody(info->VolumeIDOffset) || !inBody(info->LocalBasePathOffset) ||
        !ParseVolumeID(r, info->VolumeIDOffset, &info->Volume) ||
        !ReadTerminated(r, info->LocalBasePathOffset, size, TextEncoding::Ansi,
                        &info->LocalBasePath))
      return kMalformed;
    if (unicodeOffsets && info->LocalBasePathOffsetUnicode != 0) {
      if (!inBody(info->LocalBasePathOffsetUnicode) ||
          !ReadTerminated(r, info->LocalBasePathOffsetUnicode, size,
                          TextEncoding::Unicode, &info->LocalBasePath))
        return kMalformed;
    }
  }
  if ((info->LinkInfoFlags & CommonNetworkRelativeLinkAndPathSuffix) != 0) {
    if (!inBody(info->CommonNetworkRelativeLinkOffset) ||
        !ParseCommonNetworkRelativeLink(r, info->CommonNetworkRelativeLinkOffset,
                                        &info->NetworkLink))
      return kMalformed;
  }
  if (!inBody(info->CommonPathSuffixOffset) ||
      !ReadTerminated(r, info->CommonPathSuffixOffset, size, TextEncoding::Ansi,
                      &info->CommonPathSuffix))
    return kMalformed;
  if (unicodeOffsets && info->CommonPathSuffixOffsetUnicode != 0) {
    if (!inBody(info->CommonPathSuffixOffsetUnicode) ||
        !ReadTerminated(r, info->CommonPathSuffixOffsetUnicode, size,
                        TextEncoding::Unicode, &info->CommonPathSuffix))
      return kMalformed;
  }
  *consumed = size;
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.4 StringData

ParseResult ParseStringData(Bytes data, uint32_t linkFlags, StringData* strings,
                            std::size_t* consumed) {
  const ByteReader r(data);
  const bool unicode = (linkFlags & IsUnicode) != 0;
  const std::size_t unit = unicode ? 2 : 1;
  struct Field {
    uint32_t Flag;
    TextRef* Text;
  };
  const Field fields[] = {
      {HasName, &strings->NameString},
      {HasRelativePath, &strings->RelativePath},
      {HasWorkingDir, &strings->WorkingDir},
      {HasArguments, &strings->CommandLineArguments},
      {HasIconLocation, &strings->IconLocation},
  };
  std::size_t at = 0;
  for (const Field& field : fields) {
    if ((linkFlags & field.Flag) == 0) continue;
    uint16_t countCharacters;
    Bytes chars;
    if (!r.ReadU16LE(at, &countCharacters) ||
        !r.Slice(at + 2, countCharacters * unit, &chars))
      return kMalformed;
    field.Text->Data = chars.data();
    field.Text->Length = countCharacters;
    field.Text->Encoding = unicode ? TextEncoding::Unicode : TextEncoding::Ansi;
    field.Text->Present = true;
    at += 2 + chars.size();
  }
  *consumed = at;
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.5 ExtraData

ParseResult ParseExtraData(Bytes data, ExtraData* extra, std::size_t* consumed) {
  const ByteReader r(data);
  std::size_t at = 0;
  for (;;) {
    uint32_t blockSize;
    // The TerminalBlock is a size below 4; a file that simply ends is read
    // as ending there too.
    if (!r.ReadU32LE(at, &blockSize)) {
      if (r.Has(at, 1)) return kMalformed;  // 1 to 3 stray bytes
      break;
    }
    if (blockSize < 4) break;
    uint32_t signature;
    Bytes blockBytes;
    if (blockSize < 8 || !r.Slice(at, blockSize, &blockBytes) ||
        !r.ReadU32LE(at + 4, &signature))
      return kMalformed;
    if (!ParseBlock(ByteReader(blockBytes), blockSize, signature, extra))
      return kMalformed;
    at += blockSize;
  }
  extra->Blocks = data.first(at);
  extra->Tail = data.subspan(at);
  *consumed = data.size();
  return ParseResult::Ok;
}

// ------------------------------------------------------------ the file

ParseResult ParseShellLink(Bytes file, ShellLink* link) {
  *link = ShellLink();
  ParseResult result = ParseShellLinkHeader(file, &link->Header);
  if (result != ParseResult::Ok) return result;
  std::size_t at = kHeaderSize;
  std::size_t consumed = 0;
  const uint32_t flags = link->Header.LinkFlags;
  if ((flags & HasLinkTargetIDList) != 0) {
    result = ParseLinkTargetIDList(file.subspan(at), &link->IDList, &consumed);
    if (result != ParseResult::Ok) return result;
    at += consumed;
  }
  if ((flags & HasLinkInfo) != 0) {
    result = ParseLinkInfo(file.subspan(at), &link->Info, &consumed);
    if (result != ParseResult::Ok) return result;
    at += consumed;
  }
  result = ParseStringData(file.subspan(at), flags, &link->Strings, &consumed);
  if (result != ParseResult::Ok) return result;
  at += consumed;
  return ParseExtraData(file.subspan(at), &link->Extra, &consumed);
}

}  // namespace shllink
