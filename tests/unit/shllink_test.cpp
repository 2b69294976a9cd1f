// The link file codec, one structure at a time: links written out byte by
// byte, read and written back; then one field broken at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "shllink/bytes.h"
#include "shllink/editor.h"
#include "shllink/reader.h"
#include "shllink/shell_items.h"
#include "shllink/target.h"
#include "test_support.h"
#include "win32/unicode.h"

namespace {

using namespace shllink;
using Buffer = std::vector<uint8_t>;

// The example of [MS-SHLLINK] section 3: a link to C:\test\a.txt with an ID
// list, a LinkInfo, a relative path, a working directory and a tracker block.
const uint8_t kDocumentExample[] = {
    // ShellLinkHeader: HeaderSize, LinkCLSID
    0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x46,
    // LinkFlags: HasLinkTargetIDList, HasLinkInfo, HasRelativePath, HasWorkingDir, IsUnicode,
    // EnableTargetMetadata; FileAttributes: FILE_ATTRIBUTE_ARCHIVE
    0x9B, 0x00, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00,
    // CreationTime, AccessTime, WriteTime
    0xD0, 0xE9, 0xEE, 0xF2, 0x15, 0x15, 0xC9, 0x01, 0xD0, 0xE9, 0xEE, 0xF2, 0x15, 0x15, 0xC9, 0x01,
    0xD0, 0xE9, 0xEE, 0xF2, 0x15, 0x15, 0xC9, 0x01,
    // FileSize, IconIndex 0, ShowCommand SW_SHOWNORMAL, HotKey none, Reserved1 to Reserved3
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // LinkTargetIDList: IDListSize 0xBD; the root item of My Computer
    0xBD, 0x00, 0x14, 0x00, 0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8,
    0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D,
    // the volume item of drive C
    0x19, 0x00, 0x2F, 0x43, 0x3A, 0x5C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // a file entry, the folder test
    0x46, 0x00, 0x31, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x39, 0x69, 0xA3, 0x10, 0x00, 0x74, 0x65,
    0x73, 0x74, 0x00, 0x00, 0x32, 0x00, 0x07, 0x00, 0x04, 0x00, 0xEF, 0xBE, 0x2C, 0x39, 0x65, 0xA3,
    0x2C, 0x39, 0x69, 0xA3, 0x26, 0x00, 0x00, 0x00, 0x03, 0x1E, 0x00, 0x00, 0x00, 0x00, 0xF5, 0x1E,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x74, 0x00, 0x65, 0x00, 0x73, 0x00,
    0x74, 0x00, 0x00, 0x00, 0x14, 0x00,
    // a file entry, the file a.txt
    0x48, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x39, 0x69, 0xA3, 0x20, 0x00, 0x61, 0x2E,
    0x74, 0x78, 0x74, 0x00, 0x34, 0x00, 0x07, 0x00, 0x04, 0x00, 0xEF, 0xBE, 0x2C, 0x39, 0x69, 0xA3,
    0x2C, 0x39, 0x69, 0xA3, 0x26, 0x00, 0x00, 0x00, 0x2D, 0x6E, 0x00, 0x00, 0x00, 0x00, 0x96, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x61, 0x00, 0x2E, 0x00, 0x74, 0x00,
    0x78, 0x00, 0x74, 0x00, 0x00, 0x00, 0x14, 0x00,
    // TerminalID
    0x00, 0x00,
    // LinkInfo: LinkInfoSize 0x3C, LinkInfoHeaderSize 0x1C, LinkInfoFlags VolumeIDAndLocalBasePath,
    // VolumeIDOffset 0x1C, LocalBasePathOffset 0x2D, CommonNetworkRelativeLinkOffset 0,
    // CommonPathSuffixOffset 0x3B
    0x3C, 0x00, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00,
    0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3B, 0x00, 0x00, 0x00,
    // VolumeID: VolumeIDSize 0x11, DriveType DRIVE_FIXED, DriveSerialNumber, VolumeLabelOffset 0x10,
    // an empty VolumeLabel
    0x11, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x81, 0x8A, 0x7A, 0x30, 0x10, 0x00, 0x00, 0x00,
    0x00,
    // LocalBasePath C:\test\a.txt, CommonPathSuffix empty
    0x43, 0x3A, 0x5C, 0x74, 0x65, 0x73, 0x74, 0x5C, 0x61, 0x2E, 0x74, 0x78, 0x74, 0x00, 0x00,
    // StringData: RELATIVE_PATH .\a.txt
    0x07, 0x00, 0x2E, 0x00, 0x5C, 0x00, 0x61, 0x00, 0x2E, 0x00, 0x74, 0x00, 0x78, 0x00, 0x74, 0x00,
    // WORKING_DIR C:\test
    0x07, 0x00, 0x43, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x74, 0x00, 0x65, 0x00, 0x73, 0x00, 0x74, 0x00,
    // TrackerDataBlock: BlockSize 0x60, BlockSignature, Length 0x58, Version 0, MachineID chris-xps
    0x60, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0xA0, 0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x63, 0x68, 0x72, 0x69, 0x73, 0x2D, 0x78, 0x70, 0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // Droid, DroidBirth
    0x40, 0x78, 0xC7, 0x94, 0x47, 0xFA, 0xC7, 0x46, 0xB3, 0x56, 0x5C, 0x2D, 0xC6, 0xB6, 0xD1, 0x15,
    0xEC, 0x46, 0xCD, 0x7B, 0x22, 0x7F, 0xDD, 0x11, 0x94, 0x99, 0x00, 0x13, 0x72, 0x16, 0x87, 0x4A,
    0x40, 0x78, 0xC7, 0x94, 0x47, 0xFA, 0xC7, 0x46, 0xB3, 0x56, 0x5C, 0x2D, 0xC6, 0xB6, 0xD1, 0x15,
    0xEC, 0x46, 0xCD, 0x7B, 0x22, 0x7F, 0xDD, 0x11, 0x94, 0x99, 0x00, 0x13, 0x72, 0x16, 0x87, 0x4A,
    // TerminalBlock
    0x00, 0x00, 0x00, 0x00,
};

// A link with ANSI strings, as Windows before 2000 writes them.
const uint8_t kAnsiLink[] = {
    // ShellLinkHeader: HeaderSize, LinkCLSID
    0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x46,
    // LinkFlags: HasName, HasWorkingDir, HasArguments (ANSI strings); FileAttributes 0
    0x34, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // CreationTime, AccessTime, WriteTime, FileSize: none
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // IconIndex 2, ShowCommand 7 (SW_SHOWMINNOACTIVE), HotKey 0x0653 (Ctrl+Alt+S), Reserved1 to
    // Reserved3
    0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x53, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,
    // StringData: NAME_STRING Zelvo été, é being 0xE9 in code page 1252
    0x09, 0x00, 0x5A, 0x65, 0x6C, 0x76, 0x6F, 0x20, 0xE9, 0x74, 0xE9,
    // WORKING_DIR C:\Zelvo
    0x08, 0x00, 0x43, 0x3A, 0x5C, 0x5A, 0x65, 0x6C, 0x76, 0x6F,
    // COMMAND_LINE_ARGUMENTS -d Zelvo
    0x08, 0x00, 0x2D, 0x64, 0x20, 0x5A, 0x65, 0x6C, 0x76, 0x6F,
    // TerminalBlock
    0x00, 0x00, 0x00, 0x00,
};

// A link with a ConsoleDataBlock and nothing else.
const uint8_t kConsoleLink[] = {
    // ShellLinkHeader: HeaderSize, LinkCLSID
    0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x46,
    // LinkFlags: IsUnicode; FileAttributes 0
    0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // CreationTime, AccessTime, WriteTime, FileSize, IconIndex: none; ShowCommand SW_SHOWNORMAL;
    // HotKey none; Reserved1 to Reserved3
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // ConsoleDataBlock: BlockSize 0xCC, BlockSignature
    0xCC, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0xA0,
    // FillAttributes 0x56, PopupFillAttributes 0xF3, ScreenBufferSizeX 120, ScreenBufferSizeY 3000,
    // WindowSizeX 120, WindowSizeY 50, WindowOriginX 0, WindowOriginY 0, Unused1, Unused2
    0x56, 0x00, 0xF3, 0x00, 0x78, 0x00, 0xB8, 0x0B, 0x78, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // FontSize 14 high, FontFamily 0x36 (FF_MODERN, TrueType), FontWeight 400
    0x00, 0x00, 0x0E, 0x00, 0x36, 0x00, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00,
    // FaceName Consolas
    0x43, 0x00, 0x6F, 0x00, 0x6E, 0x00, 0x73, 0x00, 0x6F, 0x00, 0x6C, 0x00, 0x61, 0x00, 0x73, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // CursorSize 25, FullScreen 0, QuickEdit 1, InsertMode 1, AutoPosition 1, HistoryBufferSize 50,
    // NumberOfHistoryBuffers 4, HistoryNoDup 0
    0x19, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // ColorTable
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80, 0x80, 0x00,
    0x80, 0x00, 0x00, 0x00, 0x01, 0x24, 0x56, 0x00, 0xEE, 0xED, 0xF0, 0x00, 0xC0, 0xC0, 0xC0, 0x00,
    0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00,
    0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00,
    // TerminalBlock
    0x00, 0x00, 0x00, 0x00,
};

std::string Utf8(const TextRef& text) {
  static char buffer[4 * 0xFFFF];
  TextToUtf8(text, buffer, sizeof buffer);
  return buffer;
}

uint32_t U32(Bytes b, std::size_t at) {
  uint32_t v = 0;
  EXPECT_TRUE(ByteReader(b).ReadU32LE(at, &v));
  return v;
}
void PutU32(Buffer& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(Buffer& b, std::size_t at, uint16_t v) {
  b.at(at) = static_cast<uint8_t>(v);
  b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}

// ANSI texts in code page 1252, as when SHORTCUT_CODEPAGE is not set.
void InCodePage1252() {
  unsetenv("SHORTCUT_CODEPAGE");
  ASSERT_TRUE(portable::SelectAnsiCodePage());
}

ShellLink Read(Bytes file) {
  ShellLink link;
  EXPECT_EQ(ParseShellLink(file, &link), ParseResult::Ok);
  return link;
}

// What an edit of a link's model writes, and the model of that.
struct Edited {
  EditResult Result;
  Buffer File;
  ShellLink Model;
};
using EditOf = std::function<EditResult(const ShellLink&, Image*, ShellLink*)>;
Edited Edit(const ShellLink& from, const EditOf& edit) {
  static uint8_t out[1 << 20];
  Image to{out, sizeof out};
  Edited e;
  e.Result = edit(from, &to, &e.Model);
  e.File.assign(out, out + (e.Result == EditResult::Ok ? to.Size : 0));
  return e;
}
EditOf SetText(StringField field, const std::string& text) {
  return [=](const ShellLink& l, Image* to, ShellLink* m) {
    return EditString(l, field, text.c_str(), to, m);
  };
}

// Where a link's LinkInfo starts: after the header and the ID list.
std::size_t LinkInfoStart(Bytes file) {
  uint16_t idListSize = 0;
  EXPECT_TRUE(ByteReader(file).ReadU16LE(kHeaderSize + LinkTargetIDListAt::IDListSize,
                                         &idListSize));
  return kHeaderSize + LinkTargetIDListAt::IDList + idListSize;
}

constexpr std::size_t kRelativePath = static_cast<std::size_t>(StringField::RelativePath);
constexpr std::size_t kWorkingDir = static_cast<std::size_t>(StringField::WorkingDir);

struct Literal {
  const char* What;
  Bytes File;
  uint32_t LinkFlags;
  int32_t IconIndex;
  uint32_t ShowCommand;
  uint16_t HotKey;
  const char* Strings[kStringCount];  // nullptr: absent
  const char* Target;                 // the ID list's path and LinkInfo's
  std::vector<uint32_t> Blocks;
};
const Literal kLiterals[] = {
    {"[MS-SHLLINK] section 3", Bytes(kDocumentExample),
     HasLinkTargetIDList | HasLinkInfo | HasRelativePath | HasWorkingDir | IsUnicode |
         0x00080000 /* EnableTargetMetadata */,
     0, 1, 0,
     {nullptr, ".\\a.txt", "C:\\test", nullptr, nullptr}, "C:\\test\\a.txt",
     {TrackerDataBlockSignature}},
    {"ANSI", Bytes(kAnsiLink), HasName | HasWorkingDir | HasArguments, 2, 7, 0x0653,
     {"Zelvo \u00E9t\u00E9", nullptr, "C:\\Zelvo", "-d Zelvo", nullptr}, "", {}},
    {"console", Bytes(kConsoleLink), IsUnicode, 0, 1, 0, {}, "", {ConsoleDataBlockSignature}},
};

TEST(Literals, ReadFieldByField) {
  InCodePage1252();
  for (const Literal& l : kLiterals) {
    SCOPED_TRACE(l.What);
    const ShellLink link = Read(l.File);
    EXPECT_EQ(link.Header.LinkFlags, l.LinkFlags);
    EXPECT_EQ(link.Header.IconIndex, l.IconIndex);
    EXPECT_EQ(link.Header.ShowCommand, l.ShowCommand);
    EXPECT_EQ(link.Header.HotKey, l.HotKey);
    for (std::size_t i = 0; i < kStringCount; ++i) {
      EXPECT_EQ(link.Strings.Text[i].Present, l.Strings[i] != nullptr) << i;
      EXPECT_EQ(Utf8(link.Strings.Text[i]), l.Strings[i] ? l.Strings[i] : "") << i;
    }
    char path[256];
    IDListPath(link.IDList.IDList, path, sizeof path);
    EXPECT_STREQ(path, l.Target);
    EXPECT_EQ(Utf8(link.Info.LocalBasePath), l.Target);
    std::vector<uint32_t> blocks;
    for (const DataBlock& block : link.Extra.List()) blocks.push_back(block.BlockSignature);
    EXPECT_EQ(blocks, l.Blocks);
  }
}

// A plan that keeps everything, and edits that set a field to the value it
// has, write the link back as it was.
TEST(Literals, ANoOpEditWritesThemBackByteForByte) {
  InCodePage1252();
  for (const Literal& l : kLiterals) {
    SCOPED_TRACE(l.What);
    const ShellLink link = Read(l.File);
    std::vector<std::pair<std::string, EditOf>> edits = {
        {"nothing", [](const ShellLink& from, Image* to, ShellLink* m) {
           return Write(from, Plan(), to, m);
         }},
        {"show command", [&](const ShellLink& from, Image* to, ShellLink* m) {
           return EditShowCommand(from, l.ShowCommand, to, m);
         }},
        {"hotkey", [&](const ShellLink& from, Image* to, ShellLink* m) {
           return EditHotKey(from, l.HotKey, to, m);
         }},
    };
    for (std::size_t i = 0; i < kStringCount; ++i)
      if (l.Strings[i] != nullptr)
        edits.emplace_back("string " + std::to_string(i),
                           SetText(static_cast<StringField>(i), l.Strings[i]));
    for (const auto& [what, edit] : edits) {
      const Edited e = Edit(link, edit);
      EXPECT_EQ(e.Result, EditResult::Ok) << what;
      EXPECT_TRUE(e.File == Buffer(l.File.begin(), l.File.end())) << what;
    }
  }
}

TEST(ShellLinkHeader, RefusesOtherFilesAndShortHeaders) {
  const Buffer file(std::begin(kDocumentExample), std::end(kDocumentExample));
  ShellLinkHeader h;
  Buffer b = file;
  PutU32(b, ShellLinkHeaderAt::HeaderSize, 0x02);
  EXPECT_EQ(ParseShellLinkHeader(b, &h), ParseResult::NotShellLink);
  b = file;
  b[ShellLinkHeaderAt::LinkCLSID + 1] ^= 0xFF;
  EXPECT_EQ(ParseShellLinkHeader(b, &h), ParseResult::NotShellLink);
  EXPECT_EQ(ParseShellLinkHeader(Bytes(file).first(kHeaderSize - 1), &h), ParseResult::Malformed);
  EXPECT_EQ(ParseShellLinkHeader(Bytes(file).first(3), &h), ParseResult::NotShellLink);
  EXPECT_EQ(ParseShellLinkHeader(Bytes(), &h), ParseResult::NotShellLink);
}

// One rule for the reader, the walk and the path: items fit the list, are
// at least their ItemIDSize long, and a TerminalID ends them.
TEST(LinkTargetIDList, OneRuleForTheReaderAndThePath) {
  const Bytes example = Bytes(kDocumentExample).subspan(kHeaderSize);
  const Buffer myComputer(example.begin() + LinkTargetIDListAt::IDList,
                          example.begin() + LinkTargetIDListAt::IDList + kRootItemSize);
  auto list = [](std::initializer_list<Buffer> items) {
    Buffer b = {0, 0};
    for (const Buffer& item : items) b.insert(b.end(), item.begin(), item.end());
    PutU16(b, LinkTargetIDListAt::IDListSize, static_cast<uint16_t>(b.size() - 2));
    return b;
  };
  const Buffer terminal = {0, 0};
  struct Case {
    const char* What;
    Buffer List;
    ParseResult Result;
    const char* Path;
  };
  const Case cases[] = {
      {"the example's",
       Buffer(example.begin(), example.begin() + LinkInfoStart(kDocumentExample) - kHeaderSize),
       ParseResult::Ok, "C:\\test\\a.txt"},
      {"Control Panel",
       list({{0x14, 0x00, 0x1F, 0x80, 0x20, 0x20, 0xEC, 0x21, 0xEA, 0x3A, 0x69, 0x10, 0xA2,
              0xDD, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D},
             terminal}),
       ParseResult::Ok, ""},
      {"an item of size 2", list({{0x02, 0x00}, terminal}), ParseResult::Ok, ""},
      {"My Computer and an item of size 2", list({myComputer, {0x02, 0x00}, terminal}),
       ParseResult::Ok, ""},
      {"an item of size 1", list({{0x01, 0x00}, terminal}), ParseResult::Malformed, ""},
      {"an item past the list", list({{0x08, 0x00, 0x31, 0x00}, terminal}),
       ParseResult::Malformed, ""},
      {"no TerminalID", list({myComputer}), ParseResult::Malformed, ""},
      {"half a TerminalID", list({myComputer, {0x00}}), ParseResult::Malformed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    LinkTargetIDList parsed;
    std::size_t consumed = 0;
    const ParseResult result = ParseLinkTargetIDList(c.List, &parsed, &consumed);
    EXPECT_EQ(result, c.Result);
    const Bytes items = Bytes(c.List).subspan(LinkTargetIDListAt::IDList);
    EXPECT_EQ(ItemIDList(items).Sound(), c.Result == ParseResult::Ok);
    char path[64] = "unchanged";
    IDListPath(items, path, sizeof path);
    EXPECT_STREQ(path, c.Path);
    if (result == ParseResult::Ok) {
      EXPECT_EQ(consumed, c.List.size());
    }
  }
  LinkTargetIDList parsed;
  std::size_t consumed = 0;
  EXPECT_EQ(ParseLinkTargetIDList(Buffer{0xFF, 0x00, 0x00, 0x00}, &parsed, &consumed),
            ParseResult::Malformed) << "IDListSize past the data";
  // A path longer than the buffer is cut, and still terminated.
  char cut[8];
  std::memset(cut, 'x', sizeof cut);
  IDListPath(example.subspan(LinkTargetIDListAt::IDList), cut, sizeof cut);
  EXPECT_EQ(std::string(cut, strnlen(cut, sizeof cut)), "C:\\test");
}

TEST(LinkInfo, EveryOffsetIsCheckedAgainstTheStructure) {
  const Buffer file(std::begin(kDocumentExample), std::end(kDocumentExample));
  const std::size_t start = LinkInfoStart(file);
  using At = LinkInfoAt;
  for (std::size_t field : {At::LinkInfoSize, At::LinkInfoHeaderSize, At::VolumeIDOffset,
                            At::LocalBasePathOffset, At::CommonPathSuffixOffset}) {
    Buffer broken = file;
    PutU32(broken, start + field, 0x7FFFFFF0);
    LinkInfo info;
    std::size_t consumed;
    EXPECT_EQ(ParseLinkInfo(Bytes(broken).subspan(start), &info, &consumed),
              ParseResult::Malformed)
        << "field at " << field;
  }
  // A local base path with no terminator inside the structure.
  Buffer broken = file;
  const uint32_t size = U32(broken, start + At::LinkInfoSize);
  const uint32_t path = U32(broken, start + At::LocalBasePathOffset);
  for (std::size_t i = start + path; i < start + size; ++i)
    if (broken[i] == 0) broken[i] = 'x';
  LinkInfo info;
  std::size_t consumed;
  EXPECT_EQ(ParseLinkInfo(Bytes(broken).subspan(start), &info, &consumed), ParseResult::Malformed);
}

TEST(LinkInfo, UnicodePathsWhenWindows1252CannotHoldThem) {
  LinkFields f;
  f.Target = "C:\\説明\\café.txt";
  const Buffer file = MakeLink(f);
  LinkInfo info;
  std::size_t consumed;
  ASSERT_EQ(ParseLinkInfo(Bytes(file).subspan(LinkInfoStart(file)), &info, &consumed),
            ParseResult::Ok);
  EXPECT_EQ(info.LinkInfoHeaderSize, kLinkInfoHeaderSizeUnicode);
  EXPECT_EQ(info.LocalBasePath.Encoding, TextEncoding::Unicode);
  EXPECT_EQ(Utf8(info.LocalBasePath), "C:\\説明\\café.txt");
}

TEST(CommonNetworkRelativeLink, NetNameAndSuffix) {
  LinkFields f;
  f.Target = "\\\\server\\share\\dir\\file.txt";
  Buffer file = MakeLink(f);
  LinkInfo info;
  std::size_t consumed;
  ASSERT_EQ(ParseLinkInfo(Bytes(file).subspan(kHeaderSize), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(info.LinkInfoFlags, CommonNetworkRelativeLinkAndPathSuffix);
  EXPECT_EQ(Utf8(info.NetworkLink.NetName), "\\\\server\\share");
  EXPECT_EQ(Utf8(info.CommonPathSuffix), "dir\\file.txt");
  EXPECT_EQ(info.NetworkLink.NetworkProviderType, WNNC_NET_LANMAN);

  f.Target = "\\\\サーバー\\share\\file.txt";
  file = MakeLink(f);
  ASSERT_EQ(ParseLinkInfo(Bytes(file).subspan(kHeaderSize), &info, &consumed), ParseResult::Ok);
  EXPECT_EQ(Utf8(info.NetworkLink.NetName), "\\\\サーバー\\share");
}

TEST(StringData, CountedUnicodeAndAnsiStrings) {
  // Arguments "ab" (Unicode), then an icon location "c:é" (ANSI).
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
  Buffer file = MakeLink(f);
  const ShellLink link = Read(file);
  EXPECT_EQ(link.Header.LinkFlags & (HasLinkTargetIDList | HasLinkInfo), 0u);
  EXPECT_NE(link.Header.LinkFlags & HasExpString, 0u);
  EXPECT_NE(link.Header.LinkFlags & HasExpIcon, 0u);
  ASSERT_TRUE(link.Extra.EnvironmentVariable.Present());
  EXPECT_EQ(Utf8(link.Extra.EnvironmentVariable.TargetUnicode), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(Utf8(link.Extra.EnvironmentVariable.TargetAnsi), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(Utf8(link.Extra.IconEnvironment.TargetUnicode), "%WINDIR%\\notepad.exe");
  EXPECT_EQ(U32(file, file.size() - kTerminalBlockSize), 0u) << "ends with the TerminalBlock";
}

TEST(ExtraData, UnknownBlocksAreKeptAndOversizedOnesRefused) {
  Buffer blocks = {0x0C, 0, 0, 0, 0x0E, 0, 0, 0xA0, 1, 2, 3, 4,  // unknown, 12 bytes
                   0, 0, 0, 0};
  ExtraData extra;
  ASSERT_EQ(ParseExtraData(blocks, &extra), ParseResult::Ok);
  EXPECT_EQ((*extra.List().begin()).BlockSignature, 0xA000000Eu);
  EXPECT_EQ(extra.Blocks.size(), 12u);
  EXPECT_EQ(extra.Tail.size(), kTerminalBlockSize);

  blocks[DataBlockAt::BlockSize] = 0x40;  // past the data
  EXPECT_EQ(ParseExtraData(blocks, &extra), ParseResult::Malformed);
  blocks[DataBlockAt::BlockSize] = 0x06;  // too small for a size and a signature
  EXPECT_EQ(ParseExtraData(blocks, &extra), ParseResult::Malformed);

  // A known block shorter than its structure.
  Buffer shortEnvironment = {0x10, 0, 0, 0, 0x01, 0, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ParseExtraData(shortEnvironment, &extra), ParseResult::Malformed);
}

// The file entry items of a written target: 'd' for a folder, 'f' a file.
std::string ItemKinds(const LinkTargetIDList& list) {
  std::string kinds;
  for (const Bytes item : ItemIDList(list.IDList))
    if ((item[kItemTypeAt] & kItemTypeMask) == kFileEntryType)
      kinds += (item[kItemTypeAt] & kFileEntryFolder) ? 'd' : 'f';
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
    char canonical[16 * 1024];
    bool folder;
    EXPECT_EQ(CanonicalTarget(c.Target, canonical, sizeof canonical, &folder), c.Form);
    LinkFields f;
    f.Target = c.Target;
    const Buffer file = MakeLink(f);
    const ShellLink link = Read(file);
    const uint32_t flags = link.Header.LinkFlags;
    ASSERT_EQ((flags & HasLinkTargetIDList) != 0, c.IDListPath != nullptr);
    if (c.IDListPath != nullptr) {
      char path[512];
      IDListPath(link.IDList.IDList, path, sizeof path);
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

// The header's presence flags follow the plan's steps, whatever the header
// placed says: a structure kept keeps its flag as read, one dropped clears
// it, one made anew sets it.  The header's other flags are its own.  Bytes
// placed that a read of the new file does not find as they were placed
// are the editor's own fault, told apart from a caller's.
TEST(Write, PresenceFlagsFollowTheSteps) {
  InCodePage1252();
  const uint32_t kEnableTargetMetadata = 0x00080000;
  const uint32_t read = U32(Bytes(kDocumentExample), ShellLinkHeaderAt::LinkFlags);
  Buffer header(kDocumentExample, kDocumentExample + kHeaderSize);
  PutU32(header, ShellLinkHeaderAt::LinkFlags, HasName | HasExpIcon | ForceNoLinkInfo);
  Buffer environment(kEnvironmentBlockSize, 0);
  PutU32(environment, DataBlockAt::BlockSize, kEnvironmentBlockSize);
  PutU32(environment, DataBlockAt::BlockSignature, EnvironmentVariableDataBlockSignature);
  const Buffer shortBlock = {0x0C, 0, 0, 0, 0x04, 0, 0, 0xA0, 0xE4, 0x04, 0, 0, 0, 0, 0, 0};
  Buffer darwinFlagOnly(std::begin(kDocumentExample), std::end(kDocumentExample));
  PutU32(darwinFlagOnly, ShellLinkHeaderAt::LinkFlags, read | HasDarwinID);
  struct Case {
    const char* What;
    Bytes File;
    std::function<void(Plan&)> Make;
    EditResult Result;
    uint32_t LinkFlags;
  };
  const Case cases[] = {
      {"a header of other flags", Bytes(kDocumentExample),
       [&](Plan& p) { p.Header = {Action::New, Bytes(header)}; }, EditResult::Ok,
       (read & ~kEnableTargetMetadata) | ForceNoLinkInfo},
      {"LinkInfo dropped", Bytes(kDocumentExample), [](Plan& p) { p.Info = kDrop; },
       EditResult::Ok, read & ~HasLinkInfo},
      {"the ID list, LinkInfo and two strings dropped", Bytes(kDocumentExample),
       [](Plan& p) {
         p.IDList = p.Info = p.Strings[kRelativePath] = p.Strings[kWorkingDir] = kDrop;
       },
       EditResult::Ok, IsUnicode | kEnableTargetMetadata},
      {"a new environment block, and a tracker dropped", Bytes(kDocumentExample),
       [&](Plan& p) {
         p.Block(EnvironmentVariableDataBlockSignature) = {Action::New, Bytes(environment)};
         p.Block(TrackerDataBlockSignature) = kDrop;
       },
       EditResult::Ok, read | HasExpString},
      {"a flag without its block, kept", Bytes(darwinFlagOnly), [](Plan&) {}, EditResult::Ok,
       read | HasDarwinID},
      {"a flag without its block, the block dropped", Bytes(darwinFlagOnly),
       [](Plan& p) { p.Block(DarwinDataBlockSignature) = kDrop; }, EditResult::Ok, read},
      {"a block longer than its BlockSize", Bytes(kDocumentExample),
       [&](Plan& p) { p.Block(ConsoleFEDataBlockSignature) = {Action::New, Bytes(shortBlock)}; },
       EditResult::Internal, 0},
      {"ANSI strings kept while the strings turn Unicode", Bytes(kAnsiLink),
       [](Plan& p) { p.ToUnicode = true; }, EditResult::Internal, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Plan plan;
    c.Make(plan);
    const Edited e = Edit(Read(c.File), [&](const ShellLink& from, Image* to, ShellLink* m) {
      return Write(from, plan, to, m);
    });
    ASSERT_EQ(e.Result, c.Result);
    if (e.Result == EditResult::Ok) {
      EXPECT_EQ(e.Model.Header.LinkFlags, c.LinkFlags);
    }
  }
}

// A text longer than any the tool sets, in a link from elsewhere, stays
// whole when the string next to it is edited, also when that edit turns
// the strings of an ANSI link into Unicode.
TEST(Edit, ATextOver4KiBStaysWholeBesideAnEditedOne) {
  InCodePage1252();
  const std::string longText(kMaxLinkTextBytes + 904, 'a');
  struct Case {
    const char* What;
    bool Unicode;
    const char* NewWorkingDir;
  };
  const Case cases[] = {
      {"Unicode", true, "C:\\work"},
      {"ANSI", false, "C:\\work"},
      {"ANSI, turned Unicode", false, "C:\\\u2713"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Buffer file(kDocumentExample, kDocumentExample + kHeaderSize);
    PutU32(file, ShellLinkHeaderAt::LinkFlags,
           HasWorkingDir | HasArguments | (c.Unicode ? IsUnicode : 0u));
    for (const std::string& text : {std::string("w"), longText}) {
      file.push_back(static_cast<uint8_t>(text.size()));
      file.push_back(static_cast<uint8_t>(text.size() >> 8));
      for (char ch : text) {
        file.push_back(static_cast<uint8_t>(ch));
        if (c.Unicode) file.push_back(0);
      }
    }
    file.insert(file.end(), kTerminalBlockSize, 0);
    const Edited e = Edit(Read(file), SetText(StringField::WorkingDir, c.NewWorkingDir));
    ASSERT_EQ(e.Result, EditResult::Ok);
    EXPECT_EQ(Utf8(e.Model.Strings[StringField::WorkingDir]), c.NewWorkingDir);
    EXPECT_EQ(Utf8(e.Model.Strings[StringField::CommandLineArguments]), longText);
  }
}

TEST(WholeFile, EveryTruncationFailsCleanly) {
  LinkFields f;
  f.Target = "C:\\Program Files\\Zelvo\\dial.exe";
  f.Arguments = "-d Zelvo";
  f.IconLocation = "%WINDIR%\\zelvo.ico";
  f.Description = "Zelvo";
  Buffer file = MakeLink(f);
  ShellLink link;
  ASSERT_EQ(ParseShellLink(file, &link), ParseResult::Ok);
  // Cut anywhere before the final terminal block: never Ok with garbage,
  // never a read past the end (the sanitizers watch that).
  // A file may end where ExtraData starts, before its one block; nowhere
  // else inside a structure.
  const std::size_t extraStart = file.size() - kTerminalBlockSize - kEnvironmentBlockSize;
  for (std::size_t n = 0; n + kTerminalBlockSize < file.size(); ++n) {
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
  Buffer file = MakeLink(f);
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
