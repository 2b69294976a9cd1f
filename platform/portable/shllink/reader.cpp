// Reading [MS-SHLLINK] files from memory into their model.
#include "reader.h"

#include <cstring>

#include "bytes.h"

namespace shllink {

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
  if (!info.ReadU32LE(offset, &size) || size < kVolumeIDMinSize || !info.Has(offset, size))
    return false;
  v->VolumeIDSize = size;
  if (!info.ReadU32LE(offset + 4, &v->DriveType) ||
      !info.ReadU32LE(offset + 8, &v->DriveSerialNumber) ||
      !info.ReadU32LE(offset + 12, &v->VolumeLabelOffset))
    return false;
  if (v->VolumeLabelOffset == kVolumeLabelOffsetUnicodeFollows) {
    if (size < kVolumeLabelOffsetUnicodeFollows ||
        !info.ReadU32LE(offset + 16, &v->VolumeLabelOffsetUnicode) ||
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

// A text at a field's offset, which must lie past the fields and inside.
bool ReadNetworkText(const ByteReader& info, std::size_t offset, uint32_t size,
                     uint32_t at, uint32_t fieldsEnd, TextEncoding encoding, TextRef* text) {
  return at >= fieldsEnd && at < size &&
         ReadTerminated(info, offset + at, offset + size, encoding, text);
}

bool ParseCommonNetworkRelativeLink(const ByteReader& info, std::size_t offset,
                                    CommonNetworkRelativeLink* c) {
  uint32_t size;
  if (!info.ReadU32LE(offset, &size) || size < kNetworkLinkSize || !info.Has(offset, size))
    return false;
  c->CommonNetworkRelativeLinkSize = size;
  if (!info.ReadU32LE(offset + 4, &c->CommonNetworkRelativeLinkFlags) ||
      !info.ReadU32LE(offset + 8, &c->NetNameOffset) ||
      !info.ReadU32LE(offset + 12, &c->DeviceNameOffset) ||
      !info.ReadU32LE(offset + 16, &c->NetworkProviderType))
    return false;
  const bool validDevice = (c->CommonNetworkRelativeLinkFlags & ValidDevice) != 0;
  if (!ReadNetworkText(info, offset, size, c->NetNameOffset, kNetworkLinkSize,
                       TextEncoding::Ansi, &c->NetName) ||
      (validDevice && !ReadNetworkText(info, offset, size, c->DeviceNameOffset,
                                       kNetworkLinkSize, TextEncoding::Ansi, &c->DeviceName)))
    return false;
  if (c->NetNameOffset > kNetworkLinkSize) {
    if (size < kNetworkLinkSizeUnicode ||
        !info.ReadU32LE(offset + 20, &c->NetNameOffsetUnicode) ||
        !info.ReadU32LE(offset + 24, &c->DeviceNameOffsetUnicode))
      return false;
    if (c->NetNameOffsetUnicode != 0 &&
        !ReadNetworkText(info, offset, size, c->NetNameOffsetUnicode, 0,
                         TextEncoding::Unicode, &c->NetName))
      return false;
    if (validDevice && c->DeviceNameOffsetUnicode != 0 &&
        !ReadNetworkText(info, offset, size, c->DeviceNameOffsetUnicode, 0,
                         TextEncoding::Unicode, &c->DeviceName))
      return false;
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
  ReadFixedField(ansi, TextEncoding::Ansi, &b->TargetAnsi);
  ReadFixedField(unicode, TextEncoding::Unicode, &b->TargetUnicode);
  return true;
}

// Reads a known block into its place in extra; an unknown one is counted.
bool ParseBlock(const DataBlock& raw, ExtraData* extra) {
  const ByteReader block(raw.Raw);
  const std::size_t size = raw.Raw.size();
  auto keep = [&raw](DataBlock& b) {
    b = raw;
    return true;
  };
  switch (raw.BlockSignature) {
    case EnvironmentVariableDataBlockSignature:
      return ParseEnvironmentBlock(block, size, &extra->EnvironmentVariable) &&
             keep(extra->EnvironmentVariable);
    case IconEnvironmentDataBlockSignature:
      return ParseEnvironmentBlock(block, size, &extra->IconEnvironment) &&
             keep(extra->IconEnvironment);
    case DarwinDataBlockSignature:
      return ParseEnvironmentBlock(block, size, &extra->Darwin) && keep(extra->Darwin);
    case ConsoleDataBlockSignature: {
      ConsoleDataBlock& c = extra->Console;
      return size >= kConsoleBlockSize && block.ReadU16LE(8, &c.FillAttributes) &&
             block.ReadU16LE(10, &c.PopupFillAttributes) && block.ReadU32LE(32, &c.FaceFamily) &&
             block.ReadU32LE(36, &c.FontWeight) && block.ReadU32LE(108, &c.HistoryBufferSize) &&
             keep(c);
    }
    case ConsoleFEDataBlockSignature:
      return size >= kConsoleFEBlockSize && block.ReadU32LE(8, &extra->ConsoleFE.CodePage) &&
             keep(extra->ConsoleFE);
    case KnownFolderDataBlockSignature:
      return size >= kKnownFolderBlockSize &&
             block.Slice(8, 16, &extra->KnownFolder.KnownFolderID) &&
             block.ReadU32LE(24, &extra->KnownFolder.Offset) && keep(extra->KnownFolder);
    case PropertyStoreDataBlockSignature:
      return size >= kPropertyStoreMinSize &&
             block.Slice(8, size - 8, &extra->PropertyStore.PropertyStore) &&
             keep(extra->PropertyStore);
    case ShimDataBlockSignature: {
      Bytes name;
      if (size < kShimMinSize || !block.Slice(8, size - 8, &name)) return false;
      ReadFixedField(name, TextEncoding::Unicode, &extra->Shim.LayerName);
      return keep(extra->Shim);
    }
    case SpecialFolderDataBlockSignature:
      return size >= kSpecialFolderBlockSize &&
             block.ReadU32LE(8, &extra->SpecialFolder.SpecialFolderID) &&
             block.ReadU32LE(12, &extra->SpecialFolder.Offset) && keep(extra->SpecialFolder);
    case TrackerDataBlockSignature: {
      uint32_t length;
      TrackerDataBlock& t = extra->Tracker;
      return size >= kTrackerBlockSize && block.ReadU32LE(8, &length) &&
             length >= kTrackerLength && block.Slice(16, 16, &t.MachineID) &&
             block.Slice(32, 32, &t.Droid) && block.Slice(64, 32, &t.DroidBirth) && keep(t);
    }
    case VistaAndAboveIDListDataBlockSignature:
      return size >= kVistaIDListMinSize &&
             block.Slice(8, size - 8, &extra->VistaAndAboveIDList.IDList) &&
             keep(extra->VistaAndAboveIDList);
    default:
      ++extra->UnknownBlocks;
      return true;
  }
}

}  // namespace

// ------------------------------------------------------------ 2.1 ShellLinkHeader

ParseResult ParseShellLinkHeader(Bytes data, ShellLinkHeader* h) {
  const ByteReader r(data);
  Bytes clsid;
  if (!r.ReadU32LE(kHeaderSizeAt, &h->HeaderSize) || h->HeaderSize != kHeaderSize ||
      !r.Slice(kLinkCLSIDAt, sizeof kLinkCLSID, &clsid) ||
      std::memcmp(clsid.data(), kLinkCLSID, sizeof kLinkCLSID) != 0)
    return ParseResult::NotShellLink;
  uint32_t iconIndex;
  if (!r.Slice(0, kHeaderSize, &h->Raw) || !r.ReadU32LE(kLinkFlagsAt, &h->LinkFlags) ||
      !r.ReadU32LE(kFileAttributesAt, &h->FileAttributes) ||
      !r.ReadU64LE(kCreationTimeAt, &h->CreationTime) ||
      !r.ReadU64LE(kAccessTimeAt, &h->AccessTime) || !r.ReadU64LE(kWriteTimeAt, &h->WriteTime) ||
      !r.ReadU32LE(kFileSizeAt, &h->FileSize) || !r.ReadU32LE(kIconIndexAt, &iconIndex) ||
      !r.ReadU32LE(kShowCommandAt, &h->ShowCommand) || !r.ReadU16LE(kHotKeyAt, &h->HotKey))
    return kMalformed;
  h->IconIndex = static_cast<int32_t>(iconIndex);
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.2 LinkTargetIDList

ParseResult ParseLinkTargetIDList(Bytes data, LinkTargetIDList* list, std::size_t* consumed) {
  const ByteReader r(data);
  if (!r.ReadU16LE(0, &list->IDListSize) || !r.Slice(2, list->IDListSize, &list->IDList))
    return kMalformed;
  // 2.2.1: the items must lie within the list and end in a TerminalID.
  const ByteReader items(list->IDList);
  std::size_t at = 0;
  for (;;) {
    uint16_t itemSize;
    if (!items.ReadU16LE(at, &itemSize)) return kMalformed;
    if (itemSize == 0) break;
    if (itemSize < 2 || !items.Has(at, itemSize)) return kMalformed;
    at += itemSize;
  }
  list->Raw = data.first(2u + list->IDListSize);
  *consumed = list->Raw.size();
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.3 LinkInfo

ParseResult ParseLinkInfo(Bytes data, LinkInfo* info, std::size_t* consumed) {
  const ByteReader whole(data);
  if (!whole.ReadU32LE(0, &info->LinkInfoSize) || info->LinkInfoSize < kLinkInfoHeaderSize ||
      !whole.Slice(0, info->LinkInfoSize, &info->Raw))
    return kMalformed;
  const ByteReader r(info->Raw);
  const std::size_t size = info->LinkInfoSize;
  if (!r.ReadU32LE(4, &info->LinkInfoHeaderSize) || !r.ReadU32LE(8, &info->LinkInfoFlags) ||
      !r.ReadU32LE(12, &info->VolumeIDOffset) ||
      !r.ReadU32LE(16, &info->LocalBasePathOffset) ||
      !r.ReadU32LE(20, &info->CommonNetworkRelativeLinkOffset) ||
      !r.ReadU32LE(24, &info->CommonPathSuffixOffset))
    return kMalformed;
  const uint32_t headerSize = info->LinkInfoHeaderSize;
  if (headerSize < kLinkInfoHeaderSize || headerSize > size) return kMalformed;
  const bool unicodeOffsets = headerSize >= kLinkInfoHeaderSizeUnicode;
  if (unicodeOffsets && (!r.ReadU32LE(28, &info->LocalBasePathOffsetUnicode) ||
                         !r.ReadU32LE(32, &info->CommonPathSuffixOffsetUnicode)))
    return kMalformed;

  // A text at an offset past the header; a Unicode one replaces the ANSI
  // one it follows.
  auto text = [&](uint32_t offset, TextEncoding encoding, TextRef* t) {
    return offset >= headerSize && offset < size && ReadTerminated(r, offset, size, encoding, t);
  };
  auto unicode = [&](uint32_t offset, TextRef* t) {
    return !unicodeOffsets || offset == 0 || text(offset, TextEncoding::Unicode, t);
  };
  if ((info->LinkInfoFlags & VolumeIDAndLocalBasePath) != 0) {
    const uint32_t volume = info->VolumeIDOffset;
    if (volume < headerSize || volume >= size || !ParseVolumeID(r, volume, &info->Volume) ||
        !text(info->LocalBasePathOffset, TextEncoding::Ansi, &info->LocalBasePath) ||
        !unicode(info->LocalBasePathOffsetUnicode, &info->LocalBasePath))
      return kMalformed;
  }
  if ((info->LinkInfoFlags & CommonNetworkRelativeLinkAndPathSuffix) != 0) {
    const uint32_t link = info->CommonNetworkRelativeLinkOffset;
    if (link < headerSize || link >= size ||
        !ParseCommonNetworkRelativeLink(r, link, &info->NetworkLink))
      return kMalformed;
  }
  if (!text(info->CommonPathSuffixOffset, TextEncoding::Ansi, &info->CommonPathSuffix) ||
      !unicode(info->CommonPathSuffixOffsetUnicode, &info->CommonPathSuffix))
    return kMalformed;
  *consumed = size;
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.4 StringData

ParseResult ParseStringData(Bytes data, uint32_t linkFlags, StringData* strings,
                            std::size_t* consumed) {
  const ByteReader r(data);
  const bool unicode = (linkFlags & IsUnicode) != 0;
  const std::size_t unit = unicode ? 2 : 1;
  std::size_t at = 0;
  for (std::size_t i = 0; i < kStringCount; ++i) {
    if ((linkFlags & kStringFlags[i]) == 0) continue;
    uint16_t countCharacters;
    Bytes chars;
    if (!r.ReadU16LE(at, &countCharacters) ||
        !r.Slice(at + 2, countCharacters * unit, &chars))
      return kMalformed;
    strings->Raw[i] = data.subspan(at, 2 + chars.size());
    strings->Text[i] = {chars.data(), countCharacters,
                        unicode ? TextEncoding::Unicode : TextEncoding::Ansi, true};
    at += strings->Raw[i].size();
  }
  *consumed = at;
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.5 ExtraData

ParseResult ParseExtraData(Bytes data, ExtraData* extra) {
  const ByteReader r(data);
  std::size_t at = 0;
  for (;;) {
    uint32_t blockSize;
    // A file that simply ends is read as ending in a TerminalBlock.
    if (!r.ReadU32LE(at, &blockSize)) {
      if (r.Has(at, 1)) return kMalformed;  // 1 to 3 stray bytes
      break;
    }
    if (blockSize < kTerminalBlockBelow) break;
    DataBlock block;
    if (blockSize < kBlockHeaderSize || !r.Slice(at, blockSize, &block.Raw) ||
        !r.ReadU32LE(at + 4, &block.BlockSignature) || !ParseBlock(block, extra))
      return kMalformed;
    at += blockSize;
  }
  extra->Blocks = data.first(at);
  extra->Tail = data.subspan(at);
  return ParseResult::Ok;
}

// ------------------------------------------------------------ the file

ParseResult ParseShellLink(Bytes file, ShellLink* link) {
  *link = ShellLink();
  ParseResult result = ParseShellLinkHeader(file, &link->Header);
  std::size_t at = kHeaderSize;
  std::size_t consumed = 0;
  const uint32_t flags = link->Header.LinkFlags;
  if (result == ParseResult::Ok && (flags & HasLinkTargetIDList) != 0) {
    result = ParseLinkTargetIDList(file.subspan(at), &link->IDList, &consumed);
    at += consumed;
  }
  if (result == ParseResult::Ok && (flags & HasLinkInfo) != 0) {
    result = ParseLinkInfo(file.subspan(at), &link->Info, &consumed);
    at += consumed;
  }
  if (result == ParseResult::Ok) {
    result = ParseStringData(file.subspan(at), flags, &link->Strings, &consumed);
    at += consumed;
  }
  return result == ParseResult::Ok ? ParseExtraData(file.subspan(at), &link->Extra) : result;
}

}  // namespace shllink
