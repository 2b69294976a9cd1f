// Editing [MS-SHLLINK] files: each edit makes a plan of the new file from
// the model of the old one, and Write places it.
#include "editor.h"

#include <cstring>

#include "../internal.h"
#include "../win32/unicode.h"
#include "bytes.h"
#include "reader.h"
#include "shell_items.h"
#include "target.h"

namespace shllink {
namespace {

// What describes a target beside its ID list, LinkInfo and relative path:
// two header flags that tell where to read it, and these blocks.  A new
// target drops them all.  The Darwin block names an installer product that
// would run in place of any target, so it goes with them.
constexpr uint32_t kTargetFlags = ForceNoLinkInfo | PreferEnvironmentPath;
constexpr BlockSignature kTargetBlocks[] = {
    EnvironmentVariableDataBlockSignature, TrackerDataBlockSignature,
    DarwinDataBlockSignature,              SpecialFolderDataBlockSignature,
    KnownFolderDataBlockSignature,         VistaAndAboveIDListDataBlockSignature};
constexpr uint8_t kTerminalBlock[kTerminalBlockSize] = {};

bool FitsEnvironmentBlock(const char* text) {
  const Wide wide(text);
  return wide.Ok && wide.Length <= kEnvironmentMaxUnits;
}

// A text an edit takes: valid UTF-8 that fits a field.
bool TextFits(const char* text) {
  return portable::IsValidUtf8(text) && std::strlen(text) <= kMaxLinkTextBytes;
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
  auto here = [&]() { return static_cast<uint32_t>(w.size() - start); };
  auto put = [&](std::size_t field, uint32_t value) { w.PatchU32(start + field, value); };
  w.Zeros(headerSize);
  put(LinkInfoAt::LinkInfoHeaderSize, headerSize);
  put(LinkInfoAt::LinkInfoFlags,
      local ? VolumeIDAndLocalBasePath : CommonNetworkRelativeLinkAndPathSuffix);
  if (local) {
    put(LinkInfoAt::VolumeIDOffset, here());
    const std::size_t volume = w.size();
    w.Zeros(kVolumeIDFieldsSize);
    w.PatchU32(volume + VolumeIDAt::VolumeIDSize, kVolumeIDMinSize);  // no label but its NUL
    w.PatchU32(volume + VolumeIDAt::DriveType, DRIVE_FIXED);
    w.PatchU32(volume + VolumeIDAt::VolumeLabelOffset, kVolumeIDFieldsSize);
    w.U8(0);  // an empty VolumeLabel
    put(LinkInfoAt::LocalBasePathOffset, here());
    w.Ansi(base);
  } else {
    using At = CommonNetworkRelativeLinkAt;
    put(LinkInfoAt::CommonNetworkRelativeLinkOffset, here());
    const std::size_t link = w.size();
    const uint32_t fields = unicode ? kNetworkLinkSizeUnicode : kNetworkLinkSize;
    w.Zeros(fields);
    w.PatchU32(link + At::CommonNetworkRelativeLinkFlags, ValidNetType);
    w.PatchU32(link + At::NetNameOffset, fields);
    w.PatchU32(link + At::NetworkProviderType, WNNC_NET_LANMAN);
    w.Ansi(net);
    if (unicode) {
      w.PatchU32(link + At::NetNameOffsetUnicode, static_cast<uint32_t>(w.size() - link));
      w.UnicodeZ(net);
    }
    w.PatchU32(link + At::CommonNetworkRelativeLinkSize, static_cast<uint32_t>(w.size() - link));
  }
  put(LinkInfoAt::CommonPathSuffixOffset, here());
  w.Ansi(pathSuffix);
  if (unicode) {
    if (local) {
      put(LinkInfoAt::LocalBasePathOffsetUnicode, here());
      w.UnicodeZ(base);
    }
    put(LinkInfoAt::CommonPathSuffixOffsetUnicode, here());
    w.UnicodeZ(pathSuffix);
  }
  put(LinkInfoAt::LinkInfoSize, here());
  return w.ok();
}

// 2.5.4 EnvironmentVariableDataBlock, or 2.5.5 IconEnvironmentDataBlock.
bool WriteEnvironmentBlock(Writer& w, BlockSignature signature, const char* text) {
  using At = EnvironmentVariableDataBlockAt;
  const Wide wide(text);
  if (!wide.Ok || wide.Length > kEnvironmentMaxUnits) return false;
  const std::size_t start = w.size();
  w.Zeros(kEnvironmentBlockSize);
  w.PatchU32(start + DataBlockAt::BlockSize, kEnvironmentBlockSize);
  w.PatchU32(start + DataBlockAt::BlockSignature, signature);
  uint8_t ansi[kEnvironmentAnsiSize] = {};
  // The ANSI copy keeps its terminator: at most 259 bytes of text.
  portable::Utf16ToAnsi(wide.Units, wide.Length, ansi, sizeof ansi - 1);
  w.Patch(start + At::TargetAnsi, Bytes(ansi, sizeof ansi));
  for (std::size_t i = 0; i < wide.Length; ++i)
    w.PatchU16(start + At::TargetUnicode + 2 * i, wide.Units[i]);
  return w.ok();
}

// 2.4 StringData: one string, its CountCharacters and its characters.
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
  return w.ok();
}

// ------------------------------------------------------------ placing a plan

// The structures before ExtraData in file order: the step of each in a
// plan, its bytes in a model, and the LinkFlags bit that says it is there.
struct Structure {
  const Step& (*StepIn)(const Plan&);
  Bytes (*BytesIn)(const ShellLink&);
  uint32_t Flag;
};
template <std::size_t I>
constexpr Structure kString{[](const Plan& p) -> const Step& { return p.Strings[I]; },
                            [](const ShellLink& l) { return l.Strings.Raw[I]; }, kStringFlags[I]};
static_assert(kStringCount == 5);
constexpr Structure kFileOrder[] = {
    {[](const Plan& p) -> const Step& { return p.Header; },
     [](const ShellLink& l) { return l.Header.Raw; }, 0},
    {[](const Plan& p) -> const Step& { return p.IDList; },
     [](const ShellLink& l) { return l.IDList.Raw; }, HasLinkTargetIDList},
    {[](const Plan& p) -> const Step& { return p.Info; },
     [](const ShellLink& l) { return l.Info.Raw; }, HasLinkInfo},
    kString<0>, kString<1>, kString<2>, kString<3>, kString<4>,
};

// The blocks a LinkFlags bit says are there.
constexpr struct {
  BlockSignature Signature;
  uint32_t Flag;
} kBlockFlags[] = {
    {EnvironmentVariableDataBlockSignature, HasExpString},
    {DarwinDataBlockSignature, HasDarwinID},
    {IconEnvironmentDataBlockSignature, HasExpIcon},
    {ShimDataBlockSignature, RunWithShimLayer},
};

const Step& BlockStep(const Plan& plan, uint32_t signature) {
  static const Step kKeep;
  const uint32_t kind = signature - kFirstBlockSignature;
  return kind < kBlockKinds ? plan.Blocks[kind] : kKeep;
}

Bytes Chosen(const Step& step, Bytes own) {
  return step.What == Action::New ? step.Made : step.What == Action::Keep ? own : Bytes();
}

// Calls visit(placed, found) for each structure a plan places over from,
// in file order; found is the same structure in back, a model of the file
// placed, whose blocks are taken in turn.
template <typename Visit>
void InFileOrder(const ShellLink& from, const Plan& plan, const ShellLink& back, Visit visit) {
  for (const Structure& s : kFileOrder)
    visit(Chosen(s.StepIn(plan), s.BytesIn(from)), s.BytesIn(back));
  const DataBlockList blocks = back.Extra.List();
  DataBlockList::Iterator found = blocks.begin();
  auto block = [&](Bytes placed) {
    visit(placed, found != blocks.end() ? (*found).Raw : Bytes());
    if (found != blocks.end()) ++found;
  };
  for (const DataBlock& b : from.Extra.List())
    if (BlockStep(plan, b.BlockSignature).What == Action::Keep) block(b.Raw);
  for (const Step& step : plan.Blocks)
    if (step.What == Action::New) block(step.Made);
  while (found != blocks.end()) block(Bytes());  // read, yet never placed
  visit(Chosen(plan.Tail, from.Extra.Tail), back.Extra.Tail);
}

// The LinkFlags of a plan's file: the header's own, but for the flags that
// tell a structure is there, which follow its step.
uint32_t LinkFlagsOf(const ShellLink& from, const Plan& plan, uint32_t own) {
  const uint32_t read = from.Header.LinkFlags;
  uint32_t flags = own;
  auto follow = [&](const Step& step, uint32_t flag) {
    const uint32_t now = step.What == Action::New ? flag : step.What == Action::Keep ? read : 0;
    flags = (flags & ~flag) | (now & flag);
  };
  for (const Structure& s : kFileOrder) follow(s.StepIn(plan), s.Flag);
  for (const auto& b : kBlockFlags) follow(BlockStep(plan, b.Signature), b.Flag);
  // IsUnicode tells the strings' encoding, and is set where they turn Unicode.
  follow(plan.ToUnicode ? Step{Action::New, Bytes()} : Step(), IsUnicode);
  return flags;
}

// ------------------------------------------------------------ making a plan

// Room for the new bytes of one edit.
uint8_t made[portable::kMaxLinkFileSize];

// An edit in the making: its plan, whose header is always new bytes (the
// old header's, or a new link's) with the fields the edit sets.
class Edit {
 public:
  explicit Edit(const ShellLink& from) : From(from) {
    if (from.Header.Raw.empty()) {
      made_.Zeros(kHeaderSize);
      Set(ShellLinkHeaderAt::HeaderSize, kHeaderSize);
      made_.Patch(ShellLinkHeaderAt::LinkCLSID, Bytes(kLinkCLSID, sizeof kLinkCLSID));
      Set(ShellLinkHeaderAt::ShowCommand, SW_SHOWNORMAL);
    } else {
      made_.Raw(from.Header.Raw);
    }
    Steps.Header = {Action::New, made_.Since(0)};
  }

  // A field of the new header.
  void Set(std::size_t field, uint32_t value) { made_.PatchU32(field, value); }
  void Set16(std::size_t field, uint16_t value) { made_.PatchU16(field, value); }
  // Zeros the fields from first up to the one at end.
  void Clear(std::size_t first, std::size_t end) {
    for (std::size_t at = first; at < end; at += 4) Set(at, 0);
  }

  // The bytes build writes, as New for step; false when they did not fit.
  template <typename Build>
  bool Make(Step& step, Build build) {
    const std::size_t start = made_.size();
    if (!build(made_) || !made_.ok()) return false;
    step = {Action::New, made_.Since(start)};
    return true;
  }
  // An environment-shaped block in place of those of its signature.
  bool AddBlock(BlockSignature signature, const char* text) {
    // A file that ended without a TerminalBlock gets one once a block follows.
    if (From.Extra.Tail.empty()) Steps.Tail = {Action::New, Bytes(kTerminalBlock)};
    return Make(Steps.Block(signature),
                [&](Writer& w) { return WriteEnvironmentBlock(w, signature, text); });
  }
  bool Unicode() const { return Steps.ToUnicode || (From.Header.LinkFlags & IsUnicode) != 0; }
  EditResult WriteTo(Image* to, ShellLink* model) { return Write(From, Steps, to, model); }

  const ShellLink& From;
  Plan Steps;

 private:
  Writer made_{made, sizeof made};
};

// One StringData text; the others turn Unicode with it where the file's
// code page cannot hold it.
EditResult SetString(Edit& e, StringField field, const char* text) {
  if (!TextFits(text)) return EditResult::BadText;
  const std::size_t i = static_cast<std::size_t>(field);
  if (text[0] == '\0') {
    e.Steps.Strings[i] = kDrop;
    return EditResult::Ok;
  }
  if (!e.Unicode()) {
    const Wide wide(text);
    if (!wide.Ok) return EditResult::NoRoom;
    if (!wide.AnsiExact()) {
      e.Steps.ToUnicode = true;
      for (std::size_t j = 0; j < kStringCount; ++j)
        if (j != i && e.From.Strings.Text[j].Present &&
            !e.Make(e.Steps.Strings[j],
                    [&](Writer& w) { return WriteAsUnicode(w, e.From.Strings.Text[j]); }))
          return EditResult::NoRoom;
    }
  }
  const TextEncoding encoding = e.Unicode() ? TextEncoding::Unicode : TextEncoding::Ansi;
  return e.Make(e.Steps.Strings[i],
                [&](Writer& w) { return WriteStringDataText(w, text, encoding); })
             ? EditResult::Ok
             : EditResult::NoRoom;
}

}  // namespace

EditResult Write(const ShellLink& from, const Plan& plan, Image* to, ShellLink* model) {
  static const ShellLink kNone;
  Writer w(to->Data, to->Capacity);
  InFileOrder(from, plan, kNone, [&](Bytes placed, Bytes) { w.Raw(placed); });
  if (!w.ok()) return EditResult::NoRoom;
  uint32_t own = 0;
  (void)ByteReader(w.Since(0)).ReadU32LE(ShellLinkHeaderAt::LinkFlags, &own);
  w.PatchU32(ShellLinkHeaderAt::LinkFlags, LinkFlagsOf(from, plan, own));
  // A read of the new file must find the structures placed, in their
  // order, each of the size it was placed with.
  if (ParseShellLink(w.Since(0), model) != ParseResult::Ok) return EditResult::Internal;
  bool same = true;
  InFileOrder(from, plan, *model,
              [&](Bytes placed, Bytes found) { same = same && found.size() == placed.size(); });
  if (!same) return EditResult::Internal;
  to->Size = w.size();
  return EditResult::Ok;
}

EditResult NewShellLink(Image* to, ShellLink* model) {
  static const ShellLink kNone;
  Edit e(kNone);
  e.Steps.ToUnicode = true;
  e.Steps.Tail = {Action::New, Bytes(kTerminalBlock)};
  return e.WriteTo(to, model);
}

EditResult EditTarget(const ShellLink& from, const char* target, Image* to, ShellLink* model) {
  if (!TextFits(target)) return EditResult::BadText;
  char canonical[3 * kMaxWideUnits + 1];
  char whole[sizeof canonical + 1];  // a network path with its final separator
  bool folder = false;
  const TargetForm form = CanonicalTarget(target, canonical, sizeof canonical, &folder);
  if (form == TargetForm::None && target[0] != '\0') return EditResult::NoRoom;
  Edit e(from);
  e.Clear(ShellLinkHeaderAt::FileAttributes, ShellLinkHeaderAt::IconIndex);
  e.Steps.IDList = e.Steps.Info = kDrop;
  e.Steps.Strings[static_cast<std::size_t>(StringField::RelativePath)] = kDrop;
  for (BlockSignature signature : kTargetBlocks) e.Steps.Block(signature) = kDrop;
  auto linkInfo = [&](Writer& w) { return WriteLinkInfo(w, canonical, form); };
  const char* blockText = nullptr;
  switch (form) {
    case TargetForm::None:
      break;
    case TargetForm::LocalPath:
      if (!e.Make(e.Steps.IDList,
                  [&](Writer& w) { return WriteLocalIDList(w, canonical, folder); }) ||
          !e.Make(e.Steps.Info, linkInfo))
        return EditResult::NoRoom;
      break;
    case TargetForm::NetworkPath:
      if (!e.Make(e.Steps.Info, linkInfo)) return EditResult::NoRoom;
      // The whole path, its final separator kept, where it fits the block.
      std::strcpy(whole, canonical);
      if (folder) std::strcat(whole, "\\");
      if (FitsEnvironmentBlock(whole)) blockText = whole;
      break;
    case TargetForm::Environment:
      if (!FitsEnvironmentBlock(canonical)) return EditResult::TooLong;
      blockText = canonical;
      break;
  }
  // An environment target is read from its block alone.
  e.Set(ShellLinkHeaderAt::LinkFlags,
        (from.Header.LinkFlags & ~kTargetFlags) |
            (form == TargetForm::Environment ? kTargetFlags : 0));
  if (blockText != nullptr && !e.AddBlock(EnvironmentVariableDataBlockSignature, blockText))
    return EditResult::NoRoom;
  return e.WriteTo(to, model);
}

EditResult EditString(const ShellLink& from, StringField field, const char* text, Image* to,
                      ShellLink* model) {
  Edit e(from);
  const EditResult result = SetString(e, field, text);
  return result == EditResult::Ok ? e.WriteTo(to, model) : result;
}

EditResult EditIcon(const ShellLink& from, const char* icon, int32_t index, Image* to,
                    ShellLink* model) {
  if (!TextFits(icon)) return EditResult::BadText;
  Edit e(from);
  e.Steps.Block(IconEnvironmentDataBlockSignature) = kDrop;
  if (HasEnvironmentReference(icon)) {
    if (!FitsEnvironmentBlock(icon)) return EditResult::TooLong;
    if (!e.AddBlock(IconEnvironmentDataBlockSignature, icon)) return EditResult::NoRoom;
  }
  e.Set(ShellLinkHeaderAt::IconIndex, static_cast<uint32_t>(index));
  const EditResult result = SetString(e, StringField::IconLocation, icon);
  return result == EditResult::Ok ? e.WriteTo(to, model) : result;
}

EditResult EditShowCommand(const ShellLink& from, uint32_t showCommand, Image* to,
                           ShellLink* model) {
  Edit e(from);
  e.Set(ShellLinkHeaderAt::ShowCommand, showCommand);
  return e.WriteTo(to, model);
}

EditResult EditHotKey(const ShellLink& from, uint16_t hotKey, Image* to, ShellLink* model) {
  Edit e(from);
  e.Set16(ShellLinkHeaderAt::HotKey, hotKey);
  return e.WriteTo(to, model);
}

}  // namespace shllink
