// Editing [MS-SHLLINK] files: the new file is written from the model of
// the old one, structure by structure in the order of the file, and each
// structure is read into the new model as it is placed.
#include "editor.h"

#include <cstring>

#include "../unicode.h"
#include "bytes.h"
#include "reader.h"
#include "shell_items.h"
#include "target.h"

namespace shllink {
namespace {

// The header flags and blocks that describe a target: a new target drops
// them all.  The Darwin block names an installer product that would run in
// place of any target, so it goes with them.
constexpr uint32_t kTargetFlags = HasLinkTargetIDList | HasLinkInfo | HasRelativePath |
                                  HasExpString | ForceNoLinkInfo | PreferEnvironmentPath |
                                  HasDarwinID;
constexpr uint32_t kTargetBlocks[] = {
    EnvironmentVariableDataBlockSignature, TrackerDataBlockSignature,
    DarwinDataBlockSignature,              SpecialFolderDataBlockSignature,
    KnownFolderDataBlockSignature,         VistaAndAboveIDListDataBlockSignature};

// The bit of a block signature 0xA0000000..0xA000001F in a set of them.
uint32_t BlockBit(uint32_t signature) {
  return (signature & 0xFFFFFFE0u) == 0xA0000000u ? 1u << (signature & 0x1F) : 0;
}

void PutU16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* at, uint32_t v) {
  PutU16(at, static_cast<uint16_t>(v));
  PutU16(at + 2, static_cast<uint16_t>(v >> 16));
}

bool FitsEnvironmentBlock(const char* text) {
  const Wide wide(text);
  return wide.Ok && wide.Length <= kEnvironmentMaxUnits;
}

// ------------------------------------------------------------ structures made anew

// 2.3 LinkInfo for a canonical drive or network path.  Unicode copies of
// the paths follow when the ANSI code page cannot hold them.
bool WriteLinkInfo(Writer& w, const char* path, TargetForm form) {
  const bool local = form == TargetForm::LocalPath;
  char netName[kMaxWideUnits] = {};
  const char* suffix = "";
  if (!local) {
    // NetName is "\\server\share", CommonPathSuffix what follows it.
    const char* share = std::strchr(path + 2, '\\') + 1;
    const char* rest = std::strchr(share, '\\');
    const std::size_t n = rest ? static_cast<std::size_t>(rest - path) : std::strlen(path);
    if (n >= sizeof netName) return false;
    std::memcpy(netName, path, n);
    suffix = rest ? rest + 1 : "";
  }
  const Wide base(local ? path : "");
  const Wide net(netName);
  const Wide pathSuffix(suffix);
  if (!base.Ok || !net.Ok || !pathSuffix.Ok) return false;
  const bool unicode = !(base.AnsiExact() && net.AnsiExact() && pathSuffix.AnsiExact());
  const uint32_t headerSize = unicode ? kLinkInfoHeaderSizeUnicode : kLinkInfoHeaderSize;

  const std::size_t start = w.size();
  w.U32(0);  // LinkInfoSize, patched
  w.U32(headerSize);
  w.U32(local ? VolumeIDAndLocalBasePath : CommonNetworkRelativeLinkAndPathSuffix);
  const std::size_t offsets = w.size();
  w.Zeros(headerSize - 12);  // the offsets, patched
  auto here = [&]() { return static_cast<uint32_t>(w.size() - start); };

  if (local) {
    w.PatchU32(offsets + 0, here());  // VolumeIDOffset
    w.U32(kVolumeIDMinSize);          // VolumeIDSize: no label but its NUL
    w.U32(DRIVE_FIXED);
    w.U32(0);                         // DriveSerialNumber
    w.U32(kVolumeIDFieldsSize);       // VolumeLabelOffset
    w.U8(0);                          // empty VolumeLabel
    w.PatchU32(offsets + 4, here());  // LocalBasePathOffset
    w.Ansi(base);
  } else {
    w.PatchU32(offsets + 8, here());  // CommonNetworkRelativeLinkOffset
    const std::size_t link = w.size();
    const uint32_t linkHeader = unicode ? kNetworkLinkSizeUnicode : kNetworkLinkSize;
    w.U32(0);                         // CommonNetworkRelativeLinkSize, patched
    w.U32(ValidNetType);
    w.U32(linkHeader);                // NetNameOffset
    w.U32(0);                         // DeviceNameOffset
    w.U32(WNNC_NET_LANMAN);
    if (unicode) {
      w.U32(0);                       // NetNameOffsetUnicode, patched
      w.U32(0);                       // DeviceNameOffsetUnicode
    }
    w.Ansi(net);
    if (unicode) {
      w.PatchU32(link + 20, static_cast<uint32_t>(w.size() - link));
      w.UnicodeZ(net);
    }
    w.PatchU32(link, static_cast<uint32_t>(w.size() - link));
  }
  w.PatchU32(offsets + 12, here());   // CommonPathSuffixOffset
  w.Ansi(pathSuffix);
  if (unicode) {
    if (local) {
      w.PatchU32(offsets + 16, here());  // LocalBasePathOffsetUnicode
      w.UnicodeZ(base);
    }
    w.PatchU32(offsets + 20, here());    // CommonPathSuffixOffsetUnicode
    w.UnicodeZ(pathSuffix);
  }
  w.PatchU32(start, here());
  return w.ok();
}

// 2.5.4 EnvironmentVariableDataBlock, or 2.5.5 IconEnvironmentDataBlock.
bool WriteEnvironmentBlock(Writer& w, uint32_t signature, const char* text) {
  const Wide wide(text);
  if (!wide.Ok || wide.Length > kEnvironmentMaxUnits) return false;
  w.U32(kEnvironmentBlockSize);
  w.U32(signature);
  uint8_t ansi[kEnvironmentAnsiSize] = {};
  // The ANSI copy keeps its terminator: at most 259 bytes of text.
  portable::Utf16ToAnsi(wide.Units, wide.Length, ansi, sizeof ansi - 1);
  w.Raw(Bytes(ansi, sizeof ansi));
  for (std::size_t i = 0; i < kEnvironmentUnicodeSize / 2; ++i)
    w.U16(i < wide.Length ? wide.Units[i] : 0);
  return w.ok();
}

// 2.4 StringData: one string, CountCharacters and characters.
bool WriteStringDataText(Writer& w, const char* text, TextEncoding encoding) {
  const Wide wide(text);
  if (!wide.Ok) return false;
  if (encoding == TextEncoding::Unicode) {
    if (wide.Length > 0xFFFF) return false;
    w.U16(static_cast<uint16_t>(wide.Length));
    w.Unicode(wide);
    return w.ok();
  }
  uint8_t bytes[3 * kMaxWideUnits];
  const std::size_t n = portable::Utf16ToAnsi(wide.Units, wide.Length, bytes, sizeof bytes);
  w.U16(static_cast<uint16_t>(n));
  w.Raw(Bytes(bytes, n));
  return w.ok();
}

// One StringData text of an ANSI link, as Unicode.
bool WriteAsUnicode(Writer& w, const TextRef& ansi) {
  static char utf8[3 * 0xFFFF + 1];
  static char16_t units[0xFFFF + 1];
  portable::AnsiToUtf8(ansi.Data, ansi.Length, utf8, sizeof utf8);
  const long n = portable::Utf8ToUtf16(utf8, units, std::size(units), portable::Invalid::Replace);
  if (n < 0) return false;
  w.U16(static_cast<uint16_t>(n));
  for (long u = 0; u < n; ++u) w.U16(units[u]);
  return true;
}

// ------------------------------------------------------------ the file

// What an edit makes anew; everything else is copied from its own bytes.
struct Change {
  uint32_t Flags = 0;            // the new LinkFlags
  bool ClearTargetFields = false;  // the header's attributes, times and size
  const int32_t* IconIndex = nullptr;
  const char* Target = nullptr;  // canonical: the ID list and LinkInfo made of it
  TargetForm Form = TargetForm::None;
  bool Folder = false;
  int String = -1;               // a StringData text made anew...
  const char* Text = "";         // ...of this
  uint32_t DropBlocks = 0;       // the blocks of these signatures go...
  uint32_t NewBlock = 0;         // ...and an environment-shaped one is added,
  const char* BlockText = "";    // holding this
};

EditResult Write(const ShellLink& from, const Change& c, Image* to, ShellLink* model) {
  *model = ShellLink();
  Writer w(to->Data, to->Capacity);
  std::size_t consumed = 0;
  auto placed = [&](std::size_t start, auto read) {
    return w.ok() && read(w.Since(start)) == ParseResult::Ok;
  };

  w.Raw(from.Header.Raw);
  if (!w.ok()) return EditResult::NoRoom;
  PutU32(to->Data + kLinkFlagsAt, c.Flags);
  if (c.ClearTargetFields)
    std::memset(to->Data + kFileAttributesAt, 0, kIconIndexAt - kFileAttributesAt);
  if (c.IconIndex != nullptr) PutU32(to->Data + kIconIndexAt, static_cast<uint32_t>(*c.IconIndex));
  if (!placed(0, [&](Bytes b) { return ParseShellLinkHeader(b, &model->Header); }))
    return EditResult::NoRoom;

  std::size_t start = w.size();
  if (c.Target != nullptr) {
    if (c.Form == TargetForm::LocalPath && !WriteLocalIDList(w, c.Target, c.Folder))
      return EditResult::NoRoom;
  } else if ((c.Flags & HasLinkTargetIDList) != 0) {
    w.Raw(from.IDList.Raw);
  }
  if ((c.Flags & HasLinkTargetIDList) != 0 &&
      !placed(start, [&](Bytes b) { return ParseLinkTargetIDList(b, &model->IDList, &consumed); }))
    return EditResult::NoRoom;

  start = w.size();
  if (c.Target != nullptr) {
    if ((c.Flags & HasLinkInfo) != 0 && !WriteLinkInfo(w, c.Target, c.Form))
      return EditResult::NoRoom;
  } else if ((c.Flags & HasLinkInfo) != 0) {
    w.Raw(from.Info.Raw);
  }
  if ((c.Flags & HasLinkInfo) != 0 &&
      !placed(start, [&](Bytes b) { return ParseLinkInfo(b, &model->Info, &consumed); }))
    return EditResult::NoRoom;

  start = w.size();
  const bool unicode = (c.Flags & IsUnicode) != 0;
  const bool toUnicode = unicode && (from.Header.LinkFlags & IsUnicode) == 0;
  for (std::size_t i = 0; i < kStringCount; ++i) {
    if ((c.Flags & kStringFlags[i]) == 0) continue;
    if (static_cast<int>(i) == c.String) {
      if (!WriteStringDataText(w, c.Text, unicode ? TextEncoding::Unicode : TextEncoding::Ansi))
        return EditResult::NoRoom;
    } else if (toUnicode) {
      if (!WriteAsUnicode(w, from.Strings.Text[i])) return EditResult::NoRoom;
    } else {
      w.Raw(from.Strings.Raw[i]);
    }
  }
  if (!placed(start, [&](Bytes b) {
        return ParseStringData(b, c.Flags, &model->Strings, &consumed);
      }))
    return EditResult::NoRoom;

  start = w.size();
  for (const DataBlock& block : from.Extra.List())
    if ((BlockBit(block.BlockSignature) & c.DropBlocks) == 0) w.Raw(block.Raw);
  if (c.NewBlock != 0) {
    if (!WriteEnvironmentBlock(w, c.NewBlock, c.BlockText)) return EditResult::NoRoom;
    // A file that ended without a TerminalBlock gets one once a block follows.
    if (from.Extra.Tail.empty()) w.U32(0);
  }
  w.Raw(from.Extra.Tail);
  if (!placed(start, [&](Bytes b) { return ParseExtraData(b, &model->Extra); }))
    return EditResult::NoRoom;
  to->Size = w.size();
  return EditResult::Ok;
}

// A text an edit takes: valid UTF-8 that fits a field.
bool TextFits(const char* text) {
  return portable::IsValidUtf8(text) && std::strlen(text) <= kMaxTextBytes;
}

// The change that sets one StringData text.
EditResult SetString(StringField field, const char* text, Change* c) {
  if (!TextFits(text)) return EditResult::BadText;
  const std::size_t i = static_cast<std::size_t>(field);
  c->String = static_cast<int>(i);
  c->Text = text;
  if (text[0] == '\0') {
    c->Flags &= ~kStringFlags[i];
    return EditResult::Ok;
  }
  c->Flags |= kStringFlags[i];
  if ((c->Flags & IsUnicode) == 0) {
    const Wide wide(text);
    if (!wide.Ok) return EditResult::NoRoom;
    if (!wide.AnsiExact()) c->Flags |= IsUnicode;
  }
  return EditResult::Ok;
}

}  // namespace

EditResult NewShellLink(Image* to, ShellLink* model) {
  Writer w(to->Data, to->Capacity);
  w.U32(kHeaderSize);
  w.Raw(Bytes(kLinkCLSID, sizeof kLinkCLSID));
  w.U32(IsUnicode);  // LinkFlags
  w.U32(0);          // FileAttributes
  w.Zeros(24);       // CreationTime, AccessTime, WriteTime
  w.U32(0);          // FileSize
  w.U32(0);          // IconIndex
  w.U32(SW_SHOWNORMAL);
  w.U16(0);          // HotKey
  w.Zeros(10);       // Reserved1, Reserved2, Reserved3
  w.U32(0);          // TerminalBlock
  if (!w.ok() || ParseShellLink(w.Since(0), model) != ParseResult::Ok) return EditResult::NoRoom;
  to->Size = w.size();
  return EditResult::Ok;
}

EditResult EditTarget(const ShellLink& from, const char* target, Image* to, ShellLink* model) {
  if (!TextFits(target)) return EditResult::BadText;
  char canonical[3 * kMaxWideUnits + 1];
  char whole[sizeof canonical + 1];  // a network path with its final separator
  Change c;
  c.Form = CanonicalTarget(target, canonical, sizeof canonical, &c.Folder);
  if (c.Form == TargetForm::None && target[0] != '\0') return EditResult::NoRoom;
  c.Target = canonical;
  c.ClearTargetFields = true;
  c.Flags = from.Header.LinkFlags & ~kTargetFlags;
  for (uint32_t signature : kTargetBlocks) c.DropBlocks |= BlockBit(signature);
  switch (c.Form) {
    case TargetForm::None:
      break;
    case TargetForm::LocalPath:
      c.Flags |= HasLinkTargetIDList | HasLinkInfo;
      break;
    case TargetForm::NetworkPath:
      c.Flags |= HasLinkInfo;
      // The whole path, its final separator kept, where it fits the block.
      std::strcpy(whole, canonical);
      if (c.Folder) std::strcat(whole, "\\");
      if (FitsEnvironmentBlock(whole)) {
        c.NewBlock = EnvironmentVariableDataBlockSignature;
        c.BlockText = whole;
        c.Flags |= HasExpString;
      }
      break;
    case TargetForm::Environment:
      if (!FitsEnvironmentBlock(canonical)) return EditResult::TooLong;
      c.NewBlock = EnvironmentVariableDataBlockSignature;
      c.BlockText = canonical;
      c.Flags |= HasExpString | ForceNoLinkInfo | PreferEnvironmentPath;
      break;
  }
  return Write(from, c, to, model);
}

EditResult EditString(const ShellLink& from, StringField field, const char* text, Image* to,
                      ShellLink* model) {
  Change c;
  c.Flags = from.Header.LinkFlags;
  const EditResult result = SetString(field, text, &c);
  return result == EditResult::Ok ? Write(from, c, to, model) : result;
}

EditResult EditIcon(const ShellLink& from, const char* icon, int32_t index, Image* to,
                    ShellLink* model) {
  Change c;
  c.Flags = from.Header.LinkFlags & ~HasExpIcon;
  if (!TextFits(icon)) return EditResult::BadText;
  if (HasEnvironmentReference(icon)) {
    if (!FitsEnvironmentBlock(icon)) return EditResult::TooLong;
    c.NewBlock = IconEnvironmentDataBlockSignature;
    c.BlockText = icon;
    c.Flags |= HasExpIcon;
  }
  c.DropBlocks = BlockBit(IconEnvironmentDataBlockSignature);
  c.IconIndex = &index;
  const EditResult result = SetString(StringField::IconLocation, icon, &c);
  return result == EditResult::Ok ? Write(from, c, to, model) : result;
}

void SetShowCommand(Image* image, ShellLink* model, uint32_t showCommand) {
  PutU32(image->Data + kShowCommandAt, showCommand);
  model->Header.ShowCommand = showCommand;
}

void SetHotKey(Image* image, ShellLink* model, uint16_t hotKey) {
  PutU16(image->Data + kHotKeyAt, hotKey);
  model->Header.HotKey = hotKey;
}

}  // namespace shllink
