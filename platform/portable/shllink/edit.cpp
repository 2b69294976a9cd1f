// Editing [MS-SHLLINK] files: a file is taken apart into its structures,
// the edited ones are built anew, and the file is put together again with
// every other structure copied byte for byte.
#include <cstring>

#include "../unicode.h"
#include "format.h"
#include "writer.h"

namespace shllink {
namespace {

constexpr std::size_t kStringCount = 5;

// Header offsets (2.1).
constexpr std::size_t kLinkFlagsOffset = 0x14;
constexpr std::size_t kFileAttributesOffset = 0x18;
constexpr std::size_t kFileSizeOffset = 0x34;
constexpr std::size_t kIconIndexOffset = 0x38;
constexpr std::size_t kShowCommandOffset = 0x3C;
constexpr std::size_t kHotKeyOffset = 0x40;

// The StringData flags, in the order of the strings.
constexpr uint32_t kStringFlags[kStringCount] = {HasName, HasRelativePath, HasWorkingDir,
                                                 HasArguments, HasIconLocation};

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

void PutU16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* at, uint32_t v) {
  PutU16(at, static_cast<uint16_t>(v));
  PutU16(at + 2, static_cast<uint16_t>(v >> 16));
}
uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The bit of a block signature 0xA0000000..0xA000001F in a set of them.
uint32_t BlockBit(uint32_t signature) {
  return (signature & 0xFFFFFFE0u) == 0xA0000000u ? 1u << (signature & 0x1F) : 0;
}

// The parts of a link file in their order, each as the bytes that stand
// for it in the file; an empty part is left out.
struct LinkParts {
  uint8_t Header[kHeaderSize];
  Bytes IDList;                 // LinkTargetIDList, IDListSize included
  Bytes Info;                   // LinkInfo
  Bytes Strings[kStringCount];  // StringData, each with its CountCharacters
  Bytes Blocks;                 // the ExtraData blocks as they stand...
  uint32_t DropBlocks = 0;      // ...but those of these signatures
  Bytes NewBlock;               // a block made anew, after them
  Bytes Tail;                   // TerminalBlock and what follows it

  uint32_t Flags() const { return GetU32(Header + kLinkFlagsOffset); }
  void SetFlags(uint32_t flags) { PutU32(Header + kLinkFlagsOffset, flags); }
};

// Room for the structures an edit builds; each edit starts it afresh.
uint8_t pieceSpace[1024 * 1024];
std::size_t pieceUsed = 0;

// A writer over the rest of the piece space, and the piece it wrote.
struct Piece {
  Writer W{pieceSpace + pieceUsed, sizeof pieceSpace - pieceUsed};
  Bytes Take() {
    if (!W.ok()) return Bytes();
    const Bytes piece(pieceSpace + pieceUsed, W.size());
    pieceUsed += W.size();
    return piece;
  }
};

bool Open(Bytes file, ShellLink* link, LinkParts* parts) {
  pieceUsed = 0;
  if (ParseShellLink(file, link) != ParseResult::Ok) return false;
  std::memcpy(parts->Header, file.data(), kHeaderSize);
  const uint32_t flags = link->Header.LinkFlags;
  if ((flags & HasLinkTargetIDList) != 0)
    parts->IDList = Bytes(link->IDList.IDList.data() - 2, link->IDList.IDList.size() + 2);
  if ((flags & HasLinkInfo) != 0) parts->Info = link->Info.Raw;
  const TextRef* strings[kStringCount] = {
      &link->Strings.NameString, &link->Strings.RelativePath, &link->Strings.WorkingDir,
      &link->Strings.CommandLineArguments, &link->Strings.IconLocation};
  for (std::size_t i = 0; i < kStringCount; ++i) {
    const TextRef& s = *strings[i];
    if (!s.Present) continue;
    const std::size_t unit = s.Encoding == TextEncoding::Unicode ? 2 : 1;
    parts->Strings[i] = Bytes(s.Data - 2, 2 + s.Length * unit);
  }
  parts->Blocks = link->Extra.Blocks;
  parts->Tail = link->Extra.Tail;
  return true;
}

bool Close(const LinkParts& p, uint8_t* out, std::size_t capacity, std::size_t* size) {
  Writer w(out, capacity);
  w.Raw(Bytes(p.Header, kHeaderSize));
  w.Raw(p.IDList);
  w.Raw(p.Info);
  for (const Bytes& s : p.Strings) w.Raw(s);
  // The blocks were checked when the file was read.
  const ByteReader blocks(p.Blocks);
  for (std::size_t at = 0; at < p.Blocks.size();) {
    uint32_t blockSize = 0, signature = 0;
    Bytes block;
    if (!blocks.ReadU32LE(at, &blockSize) || !blocks.ReadU32LE(at + 4, &signature) ||
        !blocks.Slice(at, blockSize, &block) || blockSize == 0)
      return false;
    if ((BlockBit(signature) & p.DropBlocks) == 0) w.Raw(block);
    at += blockSize;
  }
  w.Raw(p.NewBlock);
  // A file that ended without a TerminalBlock gets one once a block follows.
  if (p.Tail.empty() && !p.NewBlock.empty()) w.U32(0);
  w.Raw(p.Tail);
  if (!w.ok()) return false;
  *size = w.size();
  return true;
}

// The StringData texts of an ANSI link as Unicode, for a new text that the
// ANSI code page cannot hold.
bool StringsToUnicode(const ShellLink& link, LinkParts* p) {
  static char utf8[3 * 0xFFFF + 1];
  static char16_t units[0xFFFF + 1];
  const TextRef* strings[kStringCount] = {
      &link.Strings.NameString, &link.Strings.RelativePath, &link.Strings.WorkingDir,
      &link.Strings.CommandLineArguments, &link.Strings.IconLocation};
  for (std::size_t i = 0; i < kStringCount; ++i) {
    if (p->Strings[i].empty()) continue;
    portable::AnsiToUtf8(strings[i]->Data, strings[i]->Length, utf8, sizeof utf8);
    const long n = portable::Utf8ToUtf16(utf8, units, std::size(units),
                                         portable::Invalid::Replace);
    if (n < 0) return false;
    Piece piece;
    piece.W.U16(static_cast<uint16_t>(n));
    for (long u = 0; u < n; ++u) piece.W.U16(units[u]);
    p->Strings[i] = piece.Take();
    if (p->Strings[i].empty()) return false;
  }
  p->SetFlags(p->Flags() | IsUnicode);
  return true;
}

// Sets one StringData text in the parts.
bool PutString(const ShellLink& link, LinkParts* p, StringField field, const char* text) {
  const std::size_t i = static_cast<std::size_t>(field);
  if (text[0] == '\0') {
    p->Strings[i] = Bytes();
    p->SetFlags(p->Flags() & ~kStringFlags[i]);
    return true;
  }
  const Wide wide(text);
  if (!wide.Ok) return false;
  if ((p->Flags() & IsUnicode) == 0 && !wide.AnsiExact() && !StringsToUnicode(link, p))
    return false;
  Piece piece;
  const TextEncoding encoding =
      (p->Flags() & IsUnicode) != 0 ? TextEncoding::Unicode : TextEncoding::Ansi;
  if (!WriteStringDataText(piece.W, text, encoding)) return false;
  p->Strings[i] = piece.Take();
  p->SetFlags(p->Flags() | kStringFlags[i]);
  return !p->Strings[i].empty();
}

}  // namespace

bool NewShellLink(uint8_t* out, std::size_t capacity, std::size_t* size) {
  Writer w(out, capacity);
  w.U32(kHeaderSize);
  w.Raw(Bytes(kLinkCLSID, sizeof kLinkCLSID));
  w.U32(IsUnicode);  // LinkFlags
  w.U32(0);          // FileAttributes
  w.Zeros(24);       // CreationTime, AccessTime, WriteTime
  w.U32(0);          // FileSize
  w.U32(0);          // IconIndex
  w.U32(1);          // ShowCommand: SW_SHOWNORMAL
  w.U16(0);          // HotKey
  w.Zeros(10);       // Reserved1, Reserved2, Reserved3
  w.U32(0);          // TerminalBlock
  if (!w.ok()) return false;
  *size = w.size();
  return true;
}

bool EditTarget(Bytes file, const char* target, uint8_t* out, std::size_t capacity,
                std::size_t* size) {
  ShellLink link;
  LinkParts p;
  if (!Open(file, &link, &p)) return false;
  char canonical[3 * kMaxWideUnits + 2];
  bool folder = false;
  const TargetForm form = CanonicalTarget(target, canonical, sizeof canonical - 1, &folder);
  if (form == TargetForm::None && target[0] != '\0') return false;

  uint32_t flags = p.Flags() & ~kTargetFlags;
  p.IDList = p.Info = Bytes();
  p.Strings[static_cast<std::size_t>(StringField::RelativePath)] = Bytes();
  for (uint32_t signature : kTargetBlocks) p.DropBlocks |= BlockBit(signature);
  // The attributes, times and size were the old target's.
  std::memset(p.Header + kFileAttributesOffset, 0, kFileSizeOffset + 4 - kFileAttributesOffset);

  if (form == TargetForm::LocalPath) {
    Piece idList;
    if (!WriteLocalIDList(idList.W, canonical, folder)) return false;
    p.IDList = idList.Take();
    flags |= HasLinkTargetIDList;
  }
  if (form == TargetForm::LocalPath || form == TargetForm::NetworkPath) {
    Piece info;
    if (!WriteLinkInfo(info.W, canonical, form)) return false;
    p.Info = info.Take();
    flags |= HasLinkInfo;
  }
  if (form == TargetForm::NetworkPath) {
    // The whole path, its final separator kept, where it fits the block.
    if (folder) std::strcat(canonical, "\\");
    Piece block;
    if (WriteEnvironmentBlock(block.W, EnvironmentVariableDataBlockSignature, canonical)) {
      p.NewBlock = block.Take();
      flags |= HasExpString;
    }
  }
  if (form == TargetForm::Environment) {
    Piece block;
    if (!WriteEnvironmentBlock(block.W, EnvironmentVariableDataBlockSignature, canonical))
      return false;
    p.NewBlock = block.Take();
    flags |= HasExpString | ForceNoLinkInfo | PreferEnvironmentPath;
  }
  if ((form == TargetForm::LocalPath && (p.IDList.empty() || p.Info.empty())) ||
      (form == TargetForm::Environment && p.NewBlock.empty()))
    return false;
  p.SetFlags(flags);
  return Close(p, out, capacity, size);
}

bool EditString(Bytes file, StringField field, const char* text, uint8_t* out,
                std::size_t capacity, std::size_t* size) {
  ShellLink link;
  LinkParts p;
  return Open(file, &link, &p) && PutString(link, &p, field, text) &&
         Close(p, out, capacity, size);
}

bool EditIcon(Bytes file, const char* icon, int32_t index, uint8_t* out,
              std::size_t capacity, std::size_t* size) {
  ShellLink link;
  LinkParts p;
  if (!Open(file, &link, &p) || !PutString(link, &p, StringField::IconLocation, icon))
    return false;
  p.DropBlocks |= BlockBit(IconEnvironmentDataBlockSignature);
  uint32_t flags = p.Flags() & ~HasExpIcon;
  if (HasEnvironmentReference(icon)) {
    Piece block;
    if (!WriteEnvironmentBlock(block.W, IconEnvironmentDataBlockSignature, icon)) return false;
    p.NewBlock = block.Take();
    if (p.NewBlock.empty()) return false;
    flags |= HasExpIcon;
  }
  p.SetFlags(flags);
  PutU32(p.Header + kIconIndexOffset, static_cast<uint32_t>(index));
  return Close(p, out, capacity, size);
}

void SetShowCommand(uint8_t* file, uint32_t showCommand) {
  PutU32(file + kShowCommandOffset, showCommand);
}

void SetHotKey(uint8_t* file, uint16_t hotKey) { PutU16(file + kHotKeyOffset, hotKey); }

bool WriteShellLink(const LinkFields& f, uint8_t* out, std::size_t capacity,
                    std::size_t* size) {
  static uint8_t spare[1024 * 1024];
  if (capacity > sizeof spare) capacity = sizeof spare;
  std::size_t n = 0;
  if (!NewShellLink(out, capacity, &n)) return false;
  // Each edit reads out and writes spare, then the result goes back.
  auto step = [&](bool ok) {
    if (!ok) return false;
    std::memcpy(out, spare, n);
    return true;
  };
  const struct {
    StringField Field;
    const char* Text;
  } strings[] = {{StringField::CommandLineArguments, f.Arguments},
                 {StringField::WorkingDir, f.WorkingDirectory},
                 {StringField::NameString, f.Description}};
  if (!step(EditTarget(Bytes(out, n), f.Target, spare, capacity, &n))) return false;
  for (const auto& s : strings)
    if (!step(EditString(Bytes(out, n), s.Field, s.Text, spare, capacity, &n))) return false;
  if (!step(EditIcon(Bytes(out, n), f.IconLocation, f.IconIndex, spare, capacity, &n)))
    return false;
  SetShowCommand(out, f.ShowCommand);
  SetHotKey(out, f.HotKey);
  *size = n;
  return true;
}

}  // namespace shllink
