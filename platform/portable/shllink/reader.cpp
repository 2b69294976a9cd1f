// Reading [MS-SHLLINK] files from memory into their model.
#include "reader.h"

#include <cstring>

#include "bytes.h"

namespace shllink {

namespace {

constexpr ParseResult kMalformed = ParseResult::Malformed;

// The text at the start of field, up to its first NUL; without one, the
// whole field, or nothing where it must end in one.
bool ReadText(Bytes field, TextEncoding encoding, bool terminated, TextRef* text) {
  const std::size_t unit = encoding == TextEncoding::Unicode ? 2 : 1;
  std::size_t n = 0;
  while ((n + 1) * unit <= field.size() &&
         (field[n * unit] != 0 || (unit == 2 && field[n * unit + 1] != 0)))
    ++n;
  if (terminated && (n + 1) * unit > field.size()) return false;
  *text = {field.data(), static_cast<uint32_t>(n), encoding, true};
  return true;
}

// The NUL-terminated text at offset in a structure, past its fields.
bool TextAt(Bytes structure, uint32_t offset, std::size_t fieldsEnd, TextEncoding encoding,
            TextRef* text) {
  return offset >= fieldsEnd && offset < structure.size() &&
         ReadText(structure.subspan(offset), encoding, true, text);
}

// The structure at the start of data whose first field is its size, of at
// least least bytes; false when it does not fit.
static_assert(LinkInfoAt::LinkInfoSize == 0 && VolumeIDAt::VolumeIDSize == 0 &&
              CommonNetworkRelativeLinkAt::CommonNetworkRelativeLinkSize == 0);
bool Sized(Bytes data, uint32_t least, Bytes* structure) {
  uint32_t size;
  if (!ByteReader(data).ReadU32LE(0, &size) || size < least || size > data.size()) return false;
  *structure = data.first(size);
  return true;
}

// ------------------------------------------------------------ 2.3.1 VolumeID

bool CheckVolumeID(Bytes info, std::size_t offset) {
  using At = VolumeIDAt;
  Bytes volume;
  uint32_t label, labelUnicode;
  TextRef text;
  if (!Sized(info.subspan(offset), kVolumeIDMinSize, &volume)) return false;
  const ByteReader r(volume);
  if (!r.ReadU32LE(At::VolumeLabelOffset, &label)) return false;
  if (label != kVolumeLabelOffsetUnicodeFollows)
    return TextAt(volume, label, 0, TextEncoding::Ansi, &text);
  return volume.size() >= kVolumeLabelOffsetUnicodeFollows &&
         r.ReadU32LE(At::VolumeLabelOffsetUnicode, &labelUnicode) &&
         TextAt(volume, labelUnicode, 0, TextEncoding::Unicode, &text);
}

// ------------------------------------------------------------ 2.3.2 CommonNetworkRelativeLink

bool ParseCommonNetworkRelativeLink(Bytes info, std::size_t offset,
                                    CommonNetworkRelativeLink* c) {
  using At = CommonNetworkRelativeLinkAt;
  Bytes link;
  uint32_t netName, deviceName, netNameUnicode, deviceNameUnicode;
  TextRef device;
  if (!Sized(info.subspan(offset), kNetworkLinkSize, &link)) return false;
  const ByteReader r(link);
  if (!r.ReadU32LE(At::CommonNetworkRelativeLinkFlags, &c->CommonNetworkRelativeLinkFlags) ||
      !r.ReadU32LE(At::NetNameOffset, &netName) ||
      !r.ReadU32LE(At::DeviceNameOffset, &deviceName) ||
      !r.ReadU32LE(At::NetworkProviderType, &c->NetworkProviderType))
    return false;
  const bool validDevice = (c->CommonNetworkRelativeLinkFlags & ValidDevice) != 0;
  if (!TextAt(link, netName, kNetworkLinkSize, TextEncoding::Ansi, &c->NetName) ||
      (validDevice && !TextAt(link, deviceName, kNetworkLinkSize, TextEncoding::Ansi, &device)))
    return false;
  if (netName <= kNetworkLinkSize) return true;
  return link.size() >= kNetworkLinkSizeUnicode &&
         r.ReadU32LE(At::NetNameOffsetUnicode, &netNameUnicode) &&
         r.ReadU32LE(At::DeviceNameOffsetUnicode, &deviceNameUnicode) &&
         (netNameUnicode == 0 ||
          TextAt(link, netNameUnicode, 0, TextEncoding::Unicode, &c->NetName)) &&
         (!validDevice || deviceNameUnicode == 0 ||
          TextAt(link, deviceNameUnicode, 0, TextEncoding::Unicode, &device));
}

// ------------------------------------------------------------ 2.5 blocks

void ReadEnvironmentBlock(const DataBlock& raw, EnvironmentVariableDataBlock* b) {
  using At = EnvironmentVariableDataBlockAt;
  *b = {raw, TextRef(), TextRef()};
  (void)ReadText(raw.Raw.subspan(At::TargetAnsi, kEnvironmentAnsiSize), TextEncoding::Ansi,
                 false, &b->TargetAnsi);
  (void)ReadText(raw.Raw.subspan(At::TargetUnicode, kEnvironmentUnicodeSize),
                 TextEncoding::Unicode, false, &b->TargetUnicode);
}

// Checks a block against its rule and reads the ones the object uses.
bool ParseBlock(const DataBlock& raw, ExtraData* extra) {
  for (const BlockMinSize& rule : kBlockMinSizes)
    if (rule.Signature == raw.BlockSignature && raw.Raw.size() < rule.MinSize) return false;
  uint32_t length;
  switch (raw.BlockSignature) {
    case TrackerDataBlockSignature:
      return ByteReader(raw.Raw).ReadU32LE(TrackerDataBlockAt::Length, &length) &&
             length >= kTrackerDataBlockSize - TrackerDataBlockAt::Length;
    case EnvironmentVariableDataBlockSignature:
      ReadEnvironmentBlock(raw, &extra->EnvironmentVariable);
      return true;
    case IconEnvironmentDataBlockSignature:
      ReadEnvironmentBlock(raw, &extra->IconEnvironment);
      return true;
    default:
      return true;
  }
}

}  // namespace

// ------------------------------------------------------------ 2.1 ShellLinkHeader

ParseResult ParseShellLinkHeader(Bytes data, ShellLinkHeader* h) {
  using At = ShellLinkHeaderAt;
  const ByteReader r(data);
  uint32_t headerSize, iconIndex;
  Bytes clsid;
  if (!r.ReadU32LE(At::HeaderSize, &headerSize) || headerSize != kHeaderSize ||
      !r.Slice(At::LinkCLSID, sizeof kLinkCLSID, &clsid) ||
      std::memcmp(clsid.data(), kLinkCLSID, sizeof kLinkCLSID) != 0)
    return ParseResult::NotShellLink;
  if (data.size() < kHeaderSize) return kMalformed;
  h->Raw = data.first(kHeaderSize);
  if (!r.ReadU32LE(At::LinkFlags, &h->LinkFlags) || !r.ReadU32LE(At::IconIndex, &iconIndex) ||
      !r.ReadU32LE(At::ShowCommand, &h->ShowCommand) || !r.ReadU16LE(At::HotKey, &h->HotKey))
    return kMalformed;
  h->IconIndex = static_cast<int32_t>(iconIndex);
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.2 LinkTargetIDList

ParseResult ParseLinkTargetIDList(Bytes data, LinkTargetIDList* list, std::size_t* consumed) {
  const ByteReader r(data);
  uint16_t size;
  if (!r.ReadU16LE(LinkTargetIDListAt::IDListSize, &size) ||
      !r.Slice(LinkTargetIDListAt::IDList, size, &list->IDList) ||
      !ItemIDList(list->IDList).Sound())
    return kMalformed;
  list->Raw = data.first(LinkTargetIDListAt::IDList + size);
  *consumed = list->Raw.size();
  return ParseResult::Ok;
}

// ------------------------------------------------------------ 2.3 LinkInfo

ParseResult ParseLinkInfo(Bytes data, LinkInfo* info, std::size_t* consumed) {
  using At = LinkInfoAt;
  uint32_t volume, localBasePath, networkLink, suffix;
  uint32_t localBasePathUnicode = 0, suffixUnicode = 0;
  if (!Sized(data, kLinkInfoHeaderSize, &info->Raw)) return kMalformed;
  const Bytes whole = info->Raw;
  const ByteReader r(whole);
  if (!r.ReadU32LE(At::LinkInfoHeaderSize, &info->LinkInfoHeaderSize) ||
      !r.ReadU32LE(At::LinkInfoFlags, &info->LinkInfoFlags) ||
      !r.ReadU32LE(At::VolumeIDOffset, &volume) ||
      !r.ReadU32LE(At::LocalBasePathOffset, &localBasePath) ||
      !r.ReadU32LE(At::CommonNetworkRelativeLinkOffset, &networkLink) ||
      !r.ReadU32LE(At::CommonPathSuffixOffset, &suffix))
    return kMalformed;
  const uint32_t headerSize = info->LinkInfoHeaderSize;
  if (headerSize < kLinkInfoHeaderSize || headerSize > whole.size()) return kMalformed;
  if (headerSize >= kLinkInfoHeaderSizeUnicode &&
      (!r.ReadU32LE(At::LocalBasePathOffsetUnicode, &localBasePathUnicode) ||
       !r.ReadU32LE(At::CommonPathSuffixOffsetUnicode, &suffixUnicode)))
    return kMalformed;

  // A text past the header; a Unicode one replaces the ANSI one it follows.
  auto text = [&](uint32_t ansi, uint32_t unicode, TextRef* t) {
    return TextAt(whole, ansi, headerSize, TextEncoding::Ansi, t) &&
           (unicode == 0 || TextAt(whole, unicode, headerSize, TextEncoding::Unicode, t));
  };
  auto inside = [&](uint32_t offset) { return offset >= headerSize && offset < whole.size(); };
  if ((info->LinkInfoFlags & VolumeIDAndLocalBasePath) != 0 &&
      (!inside(volume) || !CheckVolumeID(whole, volume) ||
       !text(localBasePath, localBasePathUnicode, &info->LocalBasePath)))
    return kMalformed;
  if ((info->LinkInfoFlags & CommonNetworkRelativeLinkAndPathSuffix) != 0 &&
      (!inside(networkLink) ||
       !ParseCommonNetworkRelativeLink(whole, networkLink, &info->NetworkLink)))
    return kMalformed;
  if (!text(suffix, suffixUnicode, &info->CommonPathSuffix)) return kMalformed;
  *consumed = whole.size();
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
    if (!r.ReadU16LE(at + StringDataAt::CountCharacters, &countCharacters) ||
        !r.Slice(at + StringDataAt::String, countCharacters * unit, &chars))
      return kMalformed;
    strings->Raw[i] = data.subspan(at, StringDataAt::String + chars.size());
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
    if (!r.ReadU32LE(at + DataBlockAt::BlockSize, &blockSize)) {
      if (r.Has(at, 1)) return kMalformed;  // 1 to 3 stray bytes
      break;
    }
    if (blockSize < kTerminalBlockBelow) break;
    DataBlock block;
    if (blockSize < DataBlockAt::Data || !r.Slice(at, blockSize, &block.Raw) ||
        !r.ReadU32LE(at + DataBlockAt::BlockSignature, &block.BlockSignature) ||
        !ParseBlock(block, extra))
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
