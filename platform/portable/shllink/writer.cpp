// Writing [MS-SHLLINK] files in the forms Windows itself writes.
//
//   target "C:\dir\file"      LinkTargetIDList (My Computer, drive, one file
//                             entry per name) and a LinkInfo with VolumeID
//                             and LocalBasePath;
//   target "\\server\share\x" a LinkInfo with CommonNetworkRelativeLink;
//   target with %NAME%, or    the text kept raw in an
//   with no folder            EnvironmentVariableDataBlock, as Windows' own
//                             Start-menu links keep theirs;
//   icon with %NAME%          also an IconEnvironmentDataBlock.
//
// Strings are stored as UTF-16 (IsUnicode); an empty text is left out.
#include <cstring>

#include "../unicode.h"
#include "format.h"

namespace shllink {
namespace {

constexpr std::size_t kMaxUnits = 1024;

constexpr uint8_t kMyComputerItem[20] = {
    0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A,
    0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

constexpr uint32_t kDriveFixed = 3;  // DRIVE_FIXED
constexpr uint16_t kAttributeDirectory = 0x10;
constexpr uint16_t kAttributeArchive = 0x20;

// A UTF-16 copy of a UTF-8 text.
struct Wide {
  char16_t Units[kMaxUnits];
  std::size_t Length = 0;
  bool Ok = false;

  explicit Wide(const char* text) {
    long n = portable::Utf8ToUtf16(text, Units, kMaxUnits, portable::Invalid::Replace);
    Ok = n >= 0;
    Length = Ok ? static_cast<std::size_t>(n) : 0;
  }
  bool Cp1252Exact() const {
    for (std::size_t i = 0; i < Length; ++i)
      if (portable::Utf16ToCp1252(Units[i]) == '?' && Units[i] != u'?') return false;
    return true;
  }
};

class Writer {
 public:
  Writer(uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  bool ok() const { return ok_; }
  std::size_t size() const { return used_; }

  void U8(uint8_t v) {
    if (used_ + 1 > capacity_) {
      ok_ = false;
      return;
    }
    out_[used_++] = v;
  }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Raw(const uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) U8(data[i]);
  }
  void Zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) U8(0);
  }
  // The text in Windows-1252, '?' for what it lacks, and a NUL.
  void Ansi(const Wide& text) {
    for (std::size_t i = 0; i < text.Length; ++i) U8(portable::Utf16ToCp1252(text.Units[i]));
    U8(0);
  }
  void Unicode(const Wide& text) {
    for (std::size_t i = 0; i < text.Length; ++i) U16(text.Units[i]);
  }
  void UnicodeZ(const Wide& text) {
    Unicode(text);
    U16(0);
  }
  // Patches a 16- or 32-bit value written earlier.
  void PatchU16(std::size_t at, uint16_t v) {
    if (at + 2 > used_) return;
    out_[at] = static_cast<uint8_t>(v);
    out_[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void PatchU32(std::size_t at, uint32_t v) {
    PatchU16(at, static_cast<uint16_t>(v));
    PatchU16(at + 2, static_cast<uint16_t>(v >> 16));
  }

 private:
  uint8_t* out_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "\\server\share..." with a server and a share name.
bool IsNetworkPath(const char* t) {
  if (t[0] != '\\' || t[1] != '\\') return false;
  const char* server = t + 2;
  const char* slash = std::strchr(server, '\\');
  return slash != nullptr && slash != server && slash[1] != '\0' && slash[1] != '\\';
}

// One file entry shell item (0x31 folder, 0x32 file) for a name.
void FileEntryItem(Writer& w, const Wide& name, bool folder) {
  const std::size_t start = w.size();
  w.U16(0);                                   // ItemIDSize, patched
  w.U8(folder ? 0x31 : 0x32);                 // type
  w.U8(0);
  w.U32(0);                                   // file size
  w.U32(0);                                   // modification date and time
  w.U16(folder ? kAttributeDirectory : kAttributeArchive);
  w.Ansi(name);                               // primary name
  if ((w.size() - start) % 2 != 0) w.U8(0);
  const std::size_t extension = w.size();
  w.U16(0);                                   // block size, patched
  w.U16(3);                                   // version
  w.U32(0xBEEF0004);
  w.U32(0);                                   // creation date and time
  w.U32(0);                                   // access date and time
  w.U16(0x14);
  w.U16(0);                                   // no localized name
  w.UnicodeZ(name);
  w.U16(static_cast<uint16_t>(extension - start));
  w.PatchU16(extension, static_cast<uint16_t>(w.size() - extension));
  w.PatchU16(start, static_cast<uint16_t>(w.size() - start));
}

// LinkTargetIDList for "X:\a\b\c".
void WriteLocalIDList(Writer& w, const char* target) {
  const std::size_t start = w.size();
  w.U16(0);  // IDListSize, patched
  w.Raw(kMyComputerItem, sizeof kMyComputerItem);
  // Volume item: "X:\" in a 22-byte field.
  w.U16(0x19);
  w.U8(0x2F);
  const uint8_t drive[3] = {static_cast<uint8_t>(target[0]), ':', '\\'};
  w.Raw(drive, 3);
  w.Zeros(22 - 3);

  const char* p = target + 3;
  while (*p != '\0') {
    const char* end = std::strchr(p, '\\');
    const std::size_t length = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
    if (length > 0) {
      char name[kMaxUnits];
      const std::size_t n = length < sizeof name ? length : sizeof name - 1;
      std::memcpy(name, p, n);
      name[n] = '\0';
      // A trailing backslash marks the last name as a folder too.
      FileEntryItem(w, Wide(name), end != nullptr);
    }
    p += length;
    if (*p == '\\') ++p;
  }
  w.U16(0);  // TerminalID
  w.PatchU16(start, static_cast<uint16_t>(w.size() - start - 2));
}

// LinkInfo.  Unicode copies of the paths follow when Windows-1252 cannot
// hold them.
void WriteLinkInfo(Writer& w, const char* target, TargetForm form) {
  const bool local = form == TargetForm::LocalPath;
  char netName[kMaxUnits] = {};
  const char* suffix = "";
  if (local) {
    suffix = "";
  } else {
    // NetName is "\\server\share", CommonPathSuffix what follows it.
    const char* share = std::strchr(target + 2, '\\') + 1;
    const char* rest = std::strchr(share, '\\');
    const std::size_t n = rest ? static_cast<std::size_t>(rest - target) : std::strlen(target);
    std::memcpy(netName, target, n < sizeof netName ? n : sizeof netName - 1);
    suffix = rest ? rest + 1 : "";
  }
  const Wide base(local ? target : "");
  const Wide net(netName);
  const Wide pathSuffix(suffix);
  const bool unicode = !(base.Cp1252Exact() && net.Cp1252Exact() && pathSuffix.Cp1252Exact());
  const uint32_t headerSize = unicode ? 0x24 : 0x1C;

  const std::size_t start = w.size();
  w.U32(0);  // LinkInfoSize, patched
  w.U32(headerSize);
  w.U32(local ? VolumeIDAndLocalBasePath : CommonNetworkRelativeLinkAndPathSuffix);
  const std::size_t offsets = w.size();
  w.Zeros(headerSize - 12);  // the offsets, patched
  auto here = [&]() { return static_cast<uint32_t>(w.size() - start); };

  if (local) {
    w.PatchU32(offsets + 0, here());  // VolumeIDOffset
    w.U32(0x11);                      // VolumeIDSize
    w.U32(kDriveFixed);
    w.U32(0);                         // DriveSerialNumber
    w.U32(0x10);                      // VolumeLabelOffset
    w.U8(0);                          // empty VolumeLabel
    w.PatchU32(offsets + 4, here());  // LocalBasePathOffset
    w.Ansi(base);
  } else {
    w.PatchU32(offsets + 8, here());  // CommonNetworkRelativeLinkOffset
    const std::size_t link = w.size();
    const uint32_t linkHeader = unicode ? 0x1C : 0x14;
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
}

void WriteStringData(Writer& w, const Wide& text) {
  if (text.Length == 0) return;
  w.U16(static_cast<uint16_t>(text.Length));
  w.Unicode(text);
}

// EnvironmentVariableDataBlock or IconEnvironmentDataBlock.
void WriteEnvironmentBlock(Writer& w, uint32_t signature, const Wide& text) {
  w.U32(kEnvironmentBlockSize);
  w.U32(signature);
  for (std::size_t i = 0; i < kEnvironmentAnsiSize; ++i)
    w.U8(i < text.Length ? portable::Utf16ToCp1252(text.Units[i]) : 0);
  for (std::size_t i = 0; i < kEnvironmentUnicodeSize / 2; ++i)
    w.U16(i < text.Length ? text.Units[i] : 0);
}

}  // namespace

bool HasEnvironmentReference(const char* text) {
  const char* open = std::strchr(text, '%');
  while (open != nullptr) {
    const char* close = std::strchr(open + 1, '%');
    if (close == nullptr) return false;
    if (close > open + 1) return true;
    open = close;
  }
  return false;
}

TargetForm TargetFormOf(const char* target) {
  if (target[0] == '\0') return TargetForm::None;
  if (HasEnvironmentReference(target)) return TargetForm::Environment;
  if (IsLetter(target[0]) && target[1] == ':' && target[2] == '\\')
    return TargetForm::LocalPath;
  if (IsNetworkPath(target)) return TargetForm::NetworkPath;
  return TargetForm::Environment;
}

bool WriteShellLink(const LinkFields& f, uint8_t* out, std::size_t capacity,
                    std::size_t* size) {
  *size = 0;
  const Wide target(f.Target);
  const Wide description(f.Description);
  const Wide workingDirectory(f.WorkingDirectory);
  const Wide arguments(f.Arguments);
  const Wide iconLocation(f.IconLocation);
  for (const Wide* text : {&target, &description, &workingDirectory, &arguments,
                           &iconLocation})
    if (!text->Ok || text->Length > 0xFFFF) return false;

  const TargetForm form = TargetFormOf(f.Target);
  const bool iconEnvironment = HasEnvironmentReference(f.IconLocation);
  if ((form == TargetForm::Environment && target.Length > kEnvironmentMaxUnits) ||
      (iconEnvironment && iconLocation.Length > kEnvironmentMaxUnits))
    return false;

  uint32_t flags = IsUnicode;
  switch (form) {
    case TargetForm::None: break;
    case TargetForm::LocalPath: flags |= HasLinkTargetIDList | HasLinkInfo; break;
    case TargetForm::NetworkPath: flags |= HasLinkInfo; break;
    case TargetForm::Environment:
      flags |= HasExpString | ForceNoLinkInfo | PreferEnvironmentPath;
      break;
  }
  if (description.Length > 0) flags |= HasName;
  if (workingDirectory.Length > 0) flags |= HasWorkingDir;
  if (arguments.Length > 0) flags |= HasArguments;
  if (iconLocation.Length > 0) flags |= HasIconLocation;
  if (iconEnvironment) flags |= HasExpIcon;

  Writer w(out, capacity);
  // ShellLinkHeader
  w.U32(kHeaderSize);
  w.Raw(kLinkCLSID, sizeof kLinkCLSID);
  w.U32(flags);
  w.U32(0);      // FileAttributes
  w.Zeros(24);   // CreationTime, AccessTime, WriteTime
  w.U32(0);      // FileSize
  w.U32(static_cast<uint32_t>(f.IconIndex));
  w.U32(f.ShowCommand);
  w.U16(f.HotKey);
  w.Zeros(10);   // Reserved1, Reserved2, Reserved3

  if (form == TargetForm::LocalPath) WriteLocalIDList(w, f.Target);
  if (form == TargetForm::LocalPath || form == TargetForm::NetworkPath)
    WriteLinkInfo(w, f.Target, form);

  WriteStringData(w, description);
  WriteStringData(w, workingDirectory);
  WriteStringData(w, arguments);
  WriteStringData(w, iconLocation);

  if (form == TargetForm::Environment)
    WriteEnvironmentBlock(w, EnvironmentVariableDataBlockSignature, target);
  if (iconEnvironment)
    WriteEnvironmentBlock(w, IconEnvironmentDataBlockSignature, iconLocation);
  w.U32(0);  // TerminalBlock

  if (!w.ok()) return false;
  *size = w.size();
  return true;
}

}  // namespace shllink
