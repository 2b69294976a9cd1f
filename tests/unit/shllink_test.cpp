// The link file codec, one structure at a time: real bytes first, then one
// field broken at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "shllink/bytes.h"
#include "shllink/reader.h"
#include "shllink/shell_items.h"
#include "shllink/target.h"
#include "test_support.h"

namespace {

using namespace shllink;
using Buffer = std::vector<uint8_t>;

Buffer Write(const LinkFields& fields) { return MakeLink(fields); }

TargetForm FormOf(const char* target) {
  char canonical[16 * 1024];
  bool folder;
  return CanonicalTarget(target, canonical, sizeof canonical, &folder);
}

std::string Utf8(const TextRef& text) {
  char buffer[2048];
  TextToUtf8(text, buffer, sizeof buffer);
  return buffer;
}

void PutU32(Buffer& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(Buffer& b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A header as Windows writes it: a link to a file with an ID list, a
// LinkInfo, a relative path and a working directory, show command 1.
const uint8_t kHeader[76] = {
    0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46, 0x9B, 0x00, 0x08, 0x00,
    0x20, 0x00, 0x00, 0x00, 0xD0, 0xE9, 0xEE, 0xF2, 0x15, 0x15, 0xC9, 0x01,
    0xD0, 0xE9, 0xEE, 0xF2, 0x15, 0x15, 0xC9, 0x01, 0xD0, 0xE9, 0xEE, 0xF2,
    0x15, 0x15, 0xC9, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x47, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00};

TEST(ShellLinkHeader, ReadsEveryField) {
  ShellLinkHeader h;
  ASSERT_EQ(ParseShellLinkHeader(Bytes(kHeader, sizeof kHeader), &h), ParseResult::Ok);
  EXPECT_EQ(h.LinkFlags, 0x0008009Bu);
  EXPECT_EQ(h.FileAttributes, 0x20u);
  EXPECT_EQ(h.CreationTime, 0x01C91515F2EEE9D0u);
  EXPECT_EQ(h.ShowCommand, 1u);
  EXPECT_EQ(h.HotKey, 0x0347);
  EXPECT_EQ(h.IconIndex, 0);
}

TEST(ShellLinkHeader, RefusesOtherFilesAndShortHeaders) {
  ShellLinkHeader h;
  Buffer b(kHeader, kHeader + sizeof kHeader);
  b[0] = 0x02;  // HeaderSize
  EXPECT_EQ(ParseShellLinkHeader(b, &h), ParseResult::NotShellLink);
  b[0] = 0x4C;
  b[5] ^= 0xFF;  // LinkCLSID
  EXPECT_EQ(ParseShellLinkHeader(b, &h), ParseResult::NotShellLink);
  b[5] ^= 0xFF;
  EXPECT_EQ(ParseShellLinkHeader(Bytes(b).first(75), &h), ParseResult::Malformed);
  EXPECT_EQ(ParseShellLinkHeader(Bytes(b).first(3), &h), ParseResult::NotShellLink);
  EXPECT_EQ(ParseShellLinkHeader(Bytes(), &h), ParseResult::NotShellLink);
}

TEST(LinkTargetIDList, WalksItemsToTheTerminalAndNamesTheirPath) {
  LinkFields f;
  f.Target = "C:\\Program Files\\Zelvo\\dial.exe";
  Buffer file = Write(f);
  LinkTargetIDList list;
  std::size_t consumed = 0;
  ASSERT_EQ(ParseLinkTargetIDList(Bytes(file).subspan(kHeaderSize), &list, &consumed),
            ParseResult::Ok);
  EXPECT_EQ(consumed, 2u + list.IDListSize);
  char path[512];
  ASSERT_TRUE(IDListPath(list.IDList, path, sizeof path));
  EXPECT_STREQ(path, "C:\\Program Files\\Zelvo\\dial.exe");
  // A path longer than the buffer is cut, and still terminated.
  char cut[8];
  std::memset(cut, 'x', sizeof cut);
  ASSERT_TRUE(IDListPath(list.IDList, cut, sizeof cut));
  EXPECT_EQ(std::string(cut, strnlen(cut, sizeof cut)), "C:\\Prog");
}

TEST(LinkTargetIDList, RefusesItemsThatRunPastTheList) {
  LinkFields f;
  f.Target = "C:\\a.exe";
  Buffer file = Write(f);
  LinkTargetIDList list;
  std::size_t consumed;
  Buffer broken = file;
  PutU16(broken, kHeaderSize, 0xFFF0);  // IDListSize past the file
  EXPECT_EQ(ParseLinkTargetIDList(Bytes(broken).subspan(kHeaderSize), &list, &consumed),
            ParseResult::Malformed);
  broken = file;
  PutU16(broken, kHeaderSize + 2, 0x7FFF);  // first ItemIDSize past the list
  EXPECT_EQ(ParseLinkTargetIDList(Bytes(broken).subspan(kHeaderSize), &list, &consumed),
            ParseResult::Malformed);
  broken = file;
  PutU16(broken, kHeaderSize + 2, 1);  // an item smaller than its size field
  EXPECT_EQ(ParseLinkTargetIDList(Bytes(broken).subspan(kHeaderSize), &list, &consumed),
            ParseResult::Malformed);
}

TEST(LinkTargetIDList, VirtualFoldersHaveNoPath) {
  // The root item of the Control Panel, then the terminal.
  const uint8_t items[] = {0x14, 0x00, 0x1F, 0x80, 0x20, 0x20, 0xEC, 0x21, 0xEA, 0x3A, 0x69,
                           0x10, 0xA2, 0xDD, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D, 0x00, 0x00};
  char path[64] = "unchanged";
  ASSERT_TRUE(IDListPath(Bytes(items, sizeof items), path, sizeof path));
  EXPECT_STREQ(path, "");
}

// The LinkInfo that the writer puts after the ID list of a local target.
struct LocalLinkInfo {
  Buffer File;
  std::size_t At = 0;
};
LocalLinkInfo LocalLink(const char* target) {
  LinkFields f;
  f.Target = target;
  LocalLinkInfo l{Write(f)};
  const std::size_t idListSize = l.File[kHeaderSize] | (l.File[kHeaderSize + 1] << 8);
  l.At = kHeaderSize + 2 + idListSize;
  return l;
}

TEST(LinkInfo, VolumeIDAndLocalBasePath) {
  LocalLinkInfo l = LocalLink("C:\\Windows\\notepad.exe");
  LinkInfo info;
  std::size_t consumed;
  ASSERT_EQ(ParseLinkInfo(Bytes(l.File).subspan(l.At), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(consumed, info.LinkInfoSize);
  EXPECT_EQ(info.LinkInfoHeaderSize, 0x1Cu);
  EXPECT_EQ(info.LinkInfoFlags, VolumeIDAndLocalBasePath);
  EXPECT_EQ(info.Volume.DriveType, 3u);
  EXPECT_EQ(Utf8(info.LocalBasePath), "C:\\Windows\\notepad.exe");
  EXPECT_EQ(Utf8(info.CommonPathSuffix), "");
}

TEST(LinkInfo, UnicodePathsWhenWindows1252CannotHoldThem) {
  LocalLinkInfo l = LocalLink("C:\\説明\\café.txt");
  LinkInfo info;
  std::size_t consumed;
  ASSERT_EQ(ParseLinkInfo(Bytes(l.File).subspan(l.At), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(info.LinkInfoHeaderSize, 0x24u);
  EXPECT_EQ(info.LocalBasePath.Encoding, TextEncoding::Unicode);
  EXPECT_EQ(Utf8(info.LocalBasePath), "C:\\説明\\café.txt");
}

TEST(LinkInfo, EveryOffsetIsCheckedAgainstTheStructure) {
  LocalLinkInfo l = LocalLink("C:\\a.exe");
  // LinkInfoSize, LinkInfoHeaderSize, VolumeIDOffset, LocalBasePathOffset,
  // CommonPathSuffixOffset: each set past the end in turn.
  for (std::size_t field : {0u, 4u, 12u, 16u, 24u}) {
    Buffer broken = l.File;
    PutU32(broken, l.At + field, 0x7FFFFFF0);
    LinkInfo info;
    std::size_t consumed;
    EXPECT_EQ(ParseLinkInfo(Bytes(broken).subspan(l.At), &info, &consumed),
              ParseResult::Malformed)
        << "field at " << field;
  }
  // A local base path with no terminator inside the structure.
  Buffer broken = l.File;
  const uint32_t size = broken[l.At] | (broken[l.At + 1] << 8);
  for (std::size_t i = l.At + 0x1C; i < l.At + size; ++i)
    if (broken[i] == 0) broken[i] = 'x';
  LinkInfo info;
  std::size_t consumed;
  EXPECT_EQ(ParseLinkInfo(Bytes(broken).subspan(l.At), &info, &consumed), ParseResult::Malformed);
}

TEST(CommonNetworkRelativeLink, NetNameAndSuffix) {
  LinkFields f;
  f.Target = "\\\\server\\share\\dir\\file.txt";
  Buffer file = Write(f);
  LinkInfo info;
  std::size_t consumed;
  ASSERT_EQ(ParseLinkInfo(Bytes(file).subspan(kHeaderSize), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(info.LinkInfoFlags, CommonNetworkRelativeLinkAndPathSuffix);
  EXPECT_EQ(Utf8(info.NetworkLink.NetName), "\\\\server\\share");
  EXPECT_EQ(Utf8(info.CommonPathSuffix), "dir\\file.txt");
  EXPECT_EQ(info.NetworkLink.NetworkProviderType, WNNC_NET_LANMAN);

  f.Target = "\\\\サーバー\\share\\file.txt";
  file = Write(f);
  ASSERT_EQ(ParseLinkInfo(Bytes(file).subspan(kHeaderSize), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(Utf8(info.NetworkLink.NetName), "\\\\サーバー\\share");
}

TEST(StringData, CountedUnicodeAndAnsiStrings) {
  // Arguments "ab" (Unicode), then an icon location "c:" (ANSI).
  const uint8_t unicode[] = {0x02, 0x00, 'a', 0, 'b', 0};
  StringData s;
  std::size_t consumed;
  ASSERT_EQ(ParseStringData(Bytes(unicode, sizeof unicode), HasArguments | IsUnicode, &s, &consumed),
            ParseResult::Ok);
  EXPECT_EQ(consumed, sizeof unicode);
  EXPECT_EQ(Utf8(s[StringField::CommandLineArguments]), "ab");

  const uint8_t ansi[] = {0x03, 0x00, 'c', ':', 0xE9};
  ASSERT_EQ(ParseStringData(Bytes(ansi, sizeof ansi), HasIconLocation, &s, &consumed),
            ParseResult::Ok);
  EXPECT_EQ(Utf8(s[StringField::IconLocation]), "c:é");

  const uint8_t overrun[] = {0x10, 0x00, 'a', 0};
  EXPECT_EQ(ParseStringData(Bytes(overrun, sizeof overrun), HasName | IsUnicode, &s, &consumed),
            ParseResult::Malformed);
}

TEST(ExtraData, EnvironmentBlocksAndTheTerminal) {
  LinkFields f;
  f.Target = "%WINDIR%\\notepad.exe";
  f.IconLocation = "%WINDIR%\\notepad.exe";
  Buffer file = Write(f);
  ShellLink link;
  ASSERT_EQ(ParseShellLink(file, &link), ParseResult::Ok);
  EXPECT_EQ(link.Header.LinkFlags & (HasLinkTargetIDList | HasLinkInfo), 0u);
  EXPECT_NE(link.Header.LinkFlags & HasExpString, 0u);
  EXPECT_NE(link.Header.LinkFlags & HasExpIcon, 0u);
  ASSERT_TRUE(link.Extra.EnvironmentVariable.Present());
  EXPECT_EQ(Utf8(link.Extra.EnvironmentVariable.TargetUnicode), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(Utf8(link.Extra.EnvironmentVariable.TargetAnsi), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(Utf8(link.Extra.IconEnvironment.TargetUnicode), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(file[file.size() - 4] | file[file.size() - 3] | file[file.size() - 2] |
                file[file.size() - 1],
            0) << "ends with the TerminalBlock";
}

TEST(ExtraData, UnknownBlocksAreSkippedAndOversizedOnesRefused) {
  Buffer blocks = {0x0C, 0, 0, 0, 0x0E, 0, 0, 0xA0, 1, 2, 3, 4,  // unknown, 12 bytes
                   0, 0, 0, 0};
  ExtraData extra;
  ASSERT_EQ(ParseExtraData(blocks, &extra), ParseResult::Ok);
  EXPECT_EQ(extra.UnknownBlocks, 1u);
  EXPECT_EQ(extra.Blocks.size(), 12u);
  EXPECT_EQ(extra.Tail.size(), 4u);

  blocks[0] = 0x40;  // BlockSize past the data
  EXPECT_EQ(ParseExtraData(blocks, &extra), ParseResult::Malformed);
  blocks[0] = 0x06;  // too small for a size and a signature
  EXPECT_EQ(ParseExtraData(blocks, &extra), ParseResult::Malformed);

  // A known block shorter than its structure.
  Buffer shortEnvironment = {0x10, 0, 0, 0, 0x01, 0, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ParseExtraData(shortEnvironment, &extra), ParseResult::Malformed);
}

// The file entry items of a written target: 'd' for a folder, 'f' a file.
std::string ItemKinds(const LinkTargetIDList& list) {
  std::string kinds;
  const ByteReader r(list.IDList);
  uint16_t size = 0;
  for (std::size_t at = 0; r.ReadU16LE(at, &size) && size != 0; at += size) {
    uint8_t type = 0;
    EXPECT_TRUE(r.ReadU8(at + 2, &type));
    if ((type & 0x70) == 0x30) kinds += (type & 0x01) ? 'd' : 'f';
  }
  return kinds;
}

// How a target text is stored: its form, the path its ID list names, the
// kinds of its items, and the path its LinkInfo or environment block holds.
TEST(TargetForm, StoredAsWindowsStoresIt) {
  struct Case {
    const char* Target;
    TargetForm Form;
    const char* IDListPath;  // nullptr: no ID list
    const char* Items;
    const char* Stored;      // LinkInfo path, or the environment block's text
  };
  const Case cases[] = {
      {"", TargetForm::None, nullptr, "", ""},
      {"C:\\x.exe", TargetForm::LocalPath, "C:\\x.exe", "f", "C:\\x.exe"},
      {"c:\\", TargetForm::LocalPath, "c:\\", "", "c:\\"},
      {"C:\\Windows/System32\\cmd.exe", TargetForm::LocalPath,
       "C:\\Windows\\System32\\cmd.exe", "ddf", "C:\\Windows\\System32\\cmd.exe"},
      {"C:/Windows/notepad.exe", TargetForm::LocalPath, "C:\\Windows\\notepad.exe", "df",
       "C:\\Windows\\notepad.exe"},
      {"C:\\a\\..\\b\\.\\c.exe", TargetForm::LocalPath, "C:\\b\\c.exe", "df", "C:\\b\\c.exe"},
      {"C:\\a\\\\b", TargetForm::LocalPath, "C:\\a\\b", "df", "C:\\a\\b"},
      {"C:\\..\\..\\x", TargetForm::LocalPath, "C:\\x", "f", "C:\\x"},
      {"C:\\Users\\Public", TargetForm::LocalPath, "C:\\Users\\Public", "df",
       "C:\\Users\\Public"},
      {"C:\\Users\\Public\\", TargetForm::LocalPath, "C:\\Users\\Public", "dd",
       "C:\\Users\\Public"},
      {"C:\\100%\\x.exe", TargetForm::LocalPath, "C:\\100%\\x.exe", "df", "C:\\100%\\x.exe"},
      {"\\\\srv\\share", TargetForm::NetworkPath, nullptr, "", "\\\\srv\\share"},
      {"\\\\srv\\share\\dir\\file.txt", TargetForm::NetworkPath, nullptr, "",
       "\\\\srv\\share\\dir\\file.txt"},
      {"//srv/share//dir/./x/../file.txt", TargetForm::NetworkPath, nullptr, "",
       "\\\\srv\\share\\dir\\file.txt"},
      {"\\\\srv\\share\\", TargetForm::NetworkPath, nullptr, "", "\\\\srv\\share\\"},
      {"\\\\srv", TargetForm::Environment, nullptr, "", "\\\\srv"},
      {"rasphone.exe", TargetForm::Environment, nullptr, "", "rasphone.exe"},
      {"C:x.exe", TargetForm::Environment, nullptr, "", "C:x.exe"},
      {"%WINDIR%/x/../x.exe", TargetForm::Environment, nullptr, "", "%WINDIR%/x/../x.exe"},
      {"C:\\%A%\\x.exe", TargetForm::Environment, nullptr, "", "C:\\%A%\\x.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Target);
    EXPECT_EQ(FormOf(c.Target), c.Form);
    LinkFields f;
    f.Target = c.Target;
    const Buffer file = Write(f);
    ShellLink link;
    ASSERT_EQ(ParseShellLink(file, &link), ParseResult::Ok);
    const uint32_t flags = link.Header.LinkFlags;
    ASSERT_EQ((flags & HasLinkTargetIDList) != 0, c.IDListPath != nullptr);
    if (c.IDListPath != nullptr) {
      char path[512];
      ASSERT_TRUE(IDListPath(link.IDList.IDList, path, sizeof path));
      EXPECT_STREQ(path, c.IDListPath);
      EXPECT_EQ(ItemKinds(link.IDList), c.Items);
    }
    std::string stored;
    if ((flags & HasLinkInfo) != 0) {
      stored = Utf8(link.Info.LocalBasePath.Present ? link.Info.LocalBasePath
                                                    : link.Info.NetworkLink.NetName);
      const std::string suffix = Utf8(link.Info.CommonPathSuffix);
      if (!suffix.empty()) stored += "\\" + suffix;
    }
    // Windows 10 keeps a network path whole in the environment block too.
    if ((flags & HasExpString) != 0) stored = Utf8(link.Extra.EnvironmentVariable.TargetUnicode);
    EXPECT_EQ(stored, c.Stored);
  }
}

TEST(WholeFile, EveryTruncationFailsCleanly) {
  LinkFields f;
  f.Target = "C:\\Program Files\\Zelvo\\dial.exe";
  f.Arguments = "-d Zelvo";
  f.IconLocation = "%WINDIR%\\zelvo.ico";
  f.Description = "Zelvo";
  Buffer file = Write(f);
  ShellLink link;
  ASSERT_EQ(ParseShellLink(file, &link), ParseResult::Ok);
  // Cut anywhere before the final terminal block: never Ok with garbage,
  // never a read past the end (the sanitizers watch that).
  // A file may end where ExtraData starts, before its one block; nowhere
  // else inside a structure.
  const std::size_t extraStart = file.size() - 4 - kEnvironmentBlockSize;
  for (std::size_t n = 0; n + 4 < file.size(); ++n) {
    Buffer cut(file.begin(), file.begin() + static_cast<long>(n));
    ParseResult r = ParseShellLink(cut, &link);
    if (n == extraStart) continue;
    EXPECT_NE(r, ParseResult::Ok) << "cut at " << n;
  }
}

TEST(WholeFile, FlippedBytesNeverReadOutside) {
  LinkFields f;
  f.Target = "\\\\server\\share\\dir\\file.txt";
  f.WorkingDirectory = "C:\\w";
  Buffer file = Write(f);
  ShellLink link;
  for (std::size_t i = 0; i < file.size(); ++i) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      Buffer broken = file;
      broken[i] = value;
      (void)ParseShellLink(broken, &link);  // any result, no fault
    }
  }
}

}  // namespace
