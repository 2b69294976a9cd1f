// Building the structures of [MS-SHLLINK] files in the forms Windows itself
// writes them:
//
//   target "C:\dir\file"      LinkTargetIDList (My Computer, drive, one file
//                             entry per name) and a LinkInfo with VolumeID
//                             and LocalBasePath;
//   target "\\server\share\x" a LinkInfo with CommonNetworkRelativeLink, and
//                             the whole path in an
//                             EnvironmentVariableDataBlock, as Windows 10
//                             writes it;
//   target with %NAME%, or    the text kept raw in an
//   with no folder            EnvironmentVariableDataBlock, as Windows' own
//                             Start-menu links keep theirs;
//   icon with %NAME%          also an IconEnvironmentDataBlock.
//
// Drive and network paths are made canonical first, as Windows does before
// it builds an ID list.  ANSI copies of texts are in the ANSI code page.
#include <cstring>

#include "../unicode.h"
#include "format.h"
#include "writer.h"

namespace shllink {
namespace {

constexpr uint8_t kMyComputerItem[20] = {
    0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A,
    0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

constexpr uint32_t kDriveFixed = 3;  // DRIVE_FIXED
constexpr uint16_t kAttributeDirectory = 0x10;
constexpr uint16_t kAttributeArchive = 0x20;

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

}  // namespace

// ------------------------------------------------------------ Writer

void Writer::U8(uint8_t v) {
  if (used_ + 1 > capacity_) {
    ok_ = false;
    return;
  }
  out_[used_++] = v;
}

void Writer::U16(uint16_t v) {
  U8(static_cast<uint8_t>(v));
  U8(static_cast<uint8_t>(v >> 8));
}

void Writer::U32(uint32_t v) {
  U16(static_cast<uint16_t>(v));
  U16(static_cast<uint16_t>(v >> 16));
}

void Writer::Raw(Bytes data) {
  if (data.size() > capacity_ - used_) {
    ok_ = false;
    return;
  }
  if (!data.empty()) std::memcpy(out_ + used_, data.data(), data.size());
  used_ += data.size();
}

void Writer::Zeros(std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) U8(0);
}

void Writer::Ansi(const Wide& text) {
  uint8_t bytes[3 * kMaxWideUnits];
  Raw(Bytes(bytes, portable::Utf16ToAnsi(text.Units, text.Length, bytes, sizeof bytes)));
  U8(0);
}

void Writer::Unicode(const Wide& text) {
  for (std::size_t i = 0; i < text.Length; ++i) U16(text.Units[i]);
}

void Writer::UnicodeZ(const Wide& text) {
  Unicode(text);
  U16(0);
}

void Writer::PatchU16(std::size_t at, uint16_t v) {
  if (at + 2 > used_) return;
  out_[at] = static_cast<uint8_t>(v);
  out_[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Writer::PatchU32(std::size_t at, uint32_t v) {
  PatchU16(at, static_cast<uint16_t>(v));
  PatchU16(at + 2, static_cast<uint16_t>(v >> 16));
}

Wide::Wide(const char* text) {
  const long n = portable::Utf8ToUtf16(text, Units, kMaxWideUnits, portable::Invalid::Replace);
  Ok = n >= 0;
  Length = Ok ? static_cast<std::size_t>(n) : 0;
}

bool Wide::AnsiExact() const {
  uint8_t bytes[3 * kMaxWideUnits];
  bool exact = true;
  portable::Utf16ToAnsi(Units, Length, bytes, sizeof bytes, &exact);
  return exact;
}

// ------------------------------------------------------------ target forms

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

TargetForm CanonicalTarget(const char* target, char* out, std::size_t capacity,
                           bool* folder) {
  *folder = false;
  if (capacity == 0) return TargetForm::None;
  out[0] = '\0';
  if (target[0] == '\0') return TargetForm::None;
  const std::size_t length = std::strlen(target);
  auto raw = [&]() {
    if (length >= capacity) return TargetForm::None;
    std::memcpy(out, target, length + 1);
    return TargetForm::Environment;
  };
  if (HasEnvironmentReference(target) || length >= capacity) return raw();

  // Separators as backslashes, runs of them as one past a UNC lead.
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = target[i] == '/' ? '\\' : target[i];
    if (c == '\\' && n > 1 && out[n - 1] == '\\') continue;
    out[n++] = c;
  }
  out[n] = '\0';

  // The root that "." and ".." never climb above: "X:\", or "\\server\share".
  std::size_t root;
  TargetForm form;
  if (IsLetter(out[0]) && out[1] == ':' && out[2] == '\\') {
    root = 3;
    form = TargetForm::LocalPath;
  } else if (IsNetworkPath(out)) {
    const char* share = std::strchr(out + 2, '\\') + 1;
    const char* end = std::strchr(share, '\\');
    root = end ? static_cast<std::size_t>(end - out) : n;
    form = TargetForm::NetworkPath;
  } else {
    return raw();
  }
  *folder = n > root && out[n - 1] == '\\';

  // The names after the root, one at a time, into place.
  std::size_t write = root;
  std::size_t read = root;
  while (read < n) {
    while (read < n && out[read] == '\\') ++read;
    std::size_t end = read;
    while (end < n && out[end] != '\\') ++end;
    const std::size_t nameLength = end - read;
    if (nameLength == 1 && out[read] == '.') {
      // stays where it is
    } else if (nameLength == 2 && out[read] == '.' && out[read + 1] == '.') {
      while (write > root && out[write - 1] != '\\') --write;
      if (write > root) --write;  // the separator before the name
    } else if (nameLength > 0) {
      if (write > 0 && out[write - 1] != '\\') out[write++] = '\\';
      std::memmove(out + write, out + read, nameLength);
      write += nameLength;
    }
    read = end;
  }
  out[write] = '\0';
  return form;
}

TargetForm TargetFormOf(const char* target) {
  char canonical[kMaxWideUnits * 3 + 1];
  bool folder;
  return CanonicalTarget(target, canonical, sizeof canonical, &folder);
}

// ------------------------------------------------------------ structures

bool WriteLocalIDList(Writer& w, const char* path, bool folder) {
  const std::size_t start = w.size();
  w.U16(0);  // IDListSize, patched
  w.Raw(Bytes(kMyComputerItem, sizeof kMyComputerItem));
  // Volume item: "X:\" in a 22-byte field.
  w.U16(0x19);
  w.U8(0x2F);
  const uint8_t drive[3] = {static_cast<uint8_t>(path[0]), ':', '\\'};
  w.Raw(Bytes(drive, 3));
  w.Zeros(22 - 3);

  const char* p = path + 3;
  while (*p != '\0') {
    const char* end = std::strchr(p, '\\');
    const std::size_t length = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
    char name[kMaxWideUnits];
    if (length >= sizeof name) return false;
    std::memcpy(name, p, length);
    name[length] = '\0';
    const Wide wide(name);
    if (!wide.Ok) return false;
    // The last name is a folder when the target said so.
    FileEntryItem(w, wide, end != nullptr || folder);
    p += length;
    if (*p == '\\') ++p;
  }
  w.U16(0);  // TerminalID
  if (w.size() - start - 2 > 0xFFFF) return false;
  w.PatchU16(start, static_cast<uint16_t>(w.size() - start - 2));
  return w.ok();
}

// Unicode copies of the paths follow when the ANSI code page cannot hold
// them.
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
  return w.ok();
}

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

}  // namespace shllink
