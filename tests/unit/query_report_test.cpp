// The query report and the hotkey in words.
#include "query_report.h"

#include <cstring>

#include "test_support.h"

namespace {

std::string Text(uint16_t hotKey) {
  char text[kHotKeyTextSize];
  std::memset(text, 'x', sizeof text);
  HotKeyText(hotKey, text);
  for (std::size_t i = std::strlen(text); i < sizeof text; ++i)
    EXPECT_EQ(text[i], '\0') << "the buffer is zero-filled past the text";
  return text;
}

TEST(HotKeyText, NoneAndInvalid) {
  EXPECT_EQ(Text(0), "None");
  EXPECT_EQ(Text(0x0200), "Invalid");
  EXPECT_EQ(Text(0x00A0), "Invalid");
  EXPECT_EQ(Text(0x0380), "Invalid");
  EXPECT_EQ(Text(0x0080), "Invalid");
  EXPECT_EQ(Text(0xFF00), "Invalid");
}

TEST(HotKeyText, ModifierWordsInTheirFixedOrder) {
  EXPECT_EQ(Text(846), "Ctrl+Shift+N");
  EXPECT_EQ(Text(0x0F41), "Ctrl+Shift+Alt+Ext+A");
  EXPECT_EQ(Text(0x0C41), "Alt+Ext+A");
  EXPECT_EQ(Text(0x1041), "A") << "flag bits 0x10 and up add nothing";
  EXPECT_EQ(Text(0xFF41), "Ctrl+Shift+Alt+Ext+A");
}

TEST(HotKeyText, KeyNamesFollowTheLayoutTables) {
  EXPECT_EQ(Text(0x0031), "1");
  EXPECT_EQ(Text(0x0070), "F1");
  EXPECT_EQ(Text(0x007F), "F16") << "127 is still a key";
  EXPECT_EQ(Text(0x0024), "Keypad 7") << "Home is named after its keypad twin";
  EXPECT_EQ(Text(0x006F), "/") << "keypad divide shares its scan code with /";
  EXPECT_EQ(Text(0x0207), "Ctrl+") << "a key with no name adds nothing";
  EXPECT_EQ(Text(0x0001), "");
}

TEST(ShellLinkReport, ThirteenLinesExactlyAsStored) {
  ResetRunState();
  CopyText(LinkRecord.FileName, "c:\\x y.lnk");
  CopyText(LinkRecord.TargetPath, "%WINDIR%\\a.exe");
  CopyText(LinkRecord.TargetPathExpanded, "C:\\WINDOWS\\a.exe");
  CopyText(LinkRecord.Arguments, "\"quoted\" 100%");
  LinkRecord.RunStyle = -2;
  LinkRecord.IconIndex = -5;
  LinkRecord.HotKey = 0xFFFF;
  testing::internal::CaptureStdout();
  ShellLinkReport();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\n[c:\\x y.lnk]"
            "\nTargetPath=%WINDIR%\\a.exe"
            "\nTargetPathExpanded=C:\\WINDOWS\\a.exe"
            "\nArguments=\"quoted\" 100%"
            "\nArgumentsExpanded="
            "\nWorkingDirectory="
            "\nWorkingDirectoryExpanded="
            "\nRunStyle=-2"
            "\nIconLocation=,-5"
            "\nIconLocationExpanded=,-5"
            "\nHotKey=65535 (Invalid)"
            "\nDescription="
            "\n");
}

// Whatever could move a terminal's cursor, start a line for a reader that
// splits lines the Unicode way, or turn the text around prints as one '?',
// in the header and in every value; a tab and every other character print
// as they are.
TEST(ShellLinkReport, ControlsPrintAsQuestionMarks) {
  struct Row {
    const char* value;
    const char* shown;
  } rows[] = {
      {"\x1B[1A\x1B[2K", "?[1A?[2K"},                     // CSI: cursor up, erase line
      {"\x1B]0;title\x07", "?]0;title?"},                 // OSC ended by BEL
      {"a\x0B" "b\x0C" "c\r\nd", "a?b?c??d"},            // VT, FF, CR LF
      {"\x01\x1F\x7F", "???"},                           // C0 and DEL
      {"\xC2\x85\xC2\x9B\xC2\x80\xC2\x9F", "????"},      // C1: NEL, CSI, the first and last
      {"\xE2\x80\xA8\xE2\x80\xA9", "??"},                // line and paragraph separators
      {"\xE2\x80\xAE" "exe.txt", "?exe.txt"},            // right-to-left override
      {"\xE2\x80\x8E\xE2\x80\x8F\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD"
       "\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9\xD8\x9C", "???????????"},
      {"\xFF\x9B", "??"},                                // bytes that start no character
      {"tab\there", "tab\there"},
      {"caf\xC3\xA9 \xE8\xA1\xA8 \xE2\x80\xA6 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE8\xA1\xA8 \xE2\x80\xA6 \xF0\x9F\x98\x80"},
  };
  for (const Row& row : rows) {
    ResetRunState();
    CopyText(LinkRecord.FileName, row.value);
    CopyText(LinkRecord.TargetPath, row.value);
    CopyText(LinkRecord.IconLocationExpanded, row.value);
    CopyText(LinkRecord.Description, row.value);
    testing::internal::CaptureStdout();
    ShellLinkReport();
    const std::string shown = row.shown;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n[" + shown + "]"
              "\nTargetPath=" + shown +
              "\nTargetPathExpanded="
              "\nArguments="
              "\nArgumentsExpanded="
              "\nWorkingDirectory="
              "\nWorkingDirectoryExpanded="
              "\nRunStyle=0"
              "\nIconLocation=,0"
              "\nIconLocationExpanded=" + shown + ",0"
              "\nHotKey=0 (None)"
              "\nDescription=" + shown +
              "\n")
        << row.value;
  }
}

}  // namespace
