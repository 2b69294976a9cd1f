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

}  // namespace
