// The argument loop: switches, numbers, icon values, help and refusals.
#include "test_support.h"

namespace {

TEST(ReadNumber, ReadsLikeTheCLibraryButWrapsAround) {
  struct Case {
    const char* Text;
    int32_t Value;
  } cases[] = {
      {"846", 846},       {"  -3", -3},         {"\t\n\v\f\r+7", 7},
      {"3x", 3},          {"abc", 0},           {"", 0},
      {"-", 0},           {"+-1", 0},           {"- 1", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},                {"4294967297", 1},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadNumber(c.Text), c.Value) << c.Text;
}

class ArgumentLoop : public testing::Test {
 protected:
  void SetUp() override { ResetRunState(); }

  // Returns the exit code when the loop ended the run, -1 when it went on.
  int Read(std::vector<std::string> args) {
    args.insert(args.begin(), "c:\\tools\\shortcut.exe");
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    int code = -1;
    testing::internal::CaptureStdout();
    bool goesOn = ReadArguments(static_cast<int>(argv.size()), argv.data(), &code);
    output_ = testing::internal::GetCapturedStdout();
    return goesOn ? -1 : code;
  }
  std::string output_;
};

TEST_F(ArgumentLoop, SwitchesFillOptionsAndFileName) {
  ASSERT_EQ(Read({"/f:c:\\x.lnk", "/a:create", "/T:t", "/p:p", "/W:w", "/r:3",
                  "/d:d", "/h:846"}),
            -1);
  EXPECT_STREQ(LinkRecord.FileName, "c:\\x.lnk");
  EXPECT_EQ(LinkOptions.SelectedMode, MODE_CREATE);
  EXPECT_STREQ(LinkOptions.TargetPath, "t");
  EXPECT_STREQ(LinkOptions.Arguments, "p");
  EXPECT_STREQ(LinkOptions.WorkingDirectory, "w");
  EXPECT_STREQ(LinkOptions.Description, "d");
  EXPECT_EQ(LinkOptions.RunStyle, 3);
  EXPECT_EQ(LinkOptions.HotKey, 846);
  EXPECT_EQ(output_, "");
}

TEST_F(ArgumentLoop, ActionTakesOneLetterAndKeepsEarlierChoiceOtherwise) {
  ASSERT_EQ(Read({"/A:X"}), -1);
  EXPECT_EQ(LinkOptions.SelectedMode, MODE_NONE);
  ASSERT_EQ(Read({"/A:q", "/A:Z", "/A:"}), -1);
  EXPECT_EQ(LinkOptions.SelectedMode, MODE_QUERY);
  ASSERT_EQ(Read({"/A:C", "/A:eq"}), -1);
  EXPECT_EQ(LinkOptions.SelectedMode, MODE_EDIT);
}

TEST_F(ArgumentLoop, EmptyValueIsGivenAndMarkerIsNot) {
  ASSERT_EQ(Read({"/T:", "/D:*undefined*"}), -1);
  EXPECT_STREQ(LinkOptions.TargetPath, "");
  EXPECT_STREQ(LinkOptions.Description, kUndefined);
}

TEST_F(ArgumentLoop, IconSplitsAtTheLastComma) {
  struct Case {
    const char* Arg;
    const char* Location;
    int32_t Index;
  } cases[] = {
      {"/I:shell32.dll,4", "shell32.dll", 4}, {"/I:a,b,3", "a,b", 3},
      {"/I:file.exe,", "file.exe", 0},        {"/I:file.exe,abc", "file.exe", 0},
      {"/I:file.exe, 5", "file.exe", 5},      {"/I:", "", 0},
      {"/I:x.ico", "x.ico", 0},               {"/I:x.ico,-7", "x.ico", -7},
  };
  for (const Case& c : cases) {
    ResetRunState();
    ASSERT_EQ(Read({"/I:old,9", c.Arg}), -1) << c.Arg;
    EXPECT_STREQ(LinkOptions.IconLocation, c.Location) << c.Arg;
    EXPECT_EQ(LinkOptions.IconIndex, c.Index) << c.Arg;
  }
}

TEST_F(ArgumentLoop, HelpEndsTheRunWithUsage) {
  for (const char* help : {"/?", "-?", "/HELP", "-Help"}) {
    ResetRunState();
    EXPECT_EQ(Read({"/F:x", help, "/X:never read"}), 1) << help;
    EXPECT_EQ(output_.rfind("\n\nShortcut [Version 1.10]\n", 0), 0u) << help;
  }
}

TEST_F(ArgumentLoop, UsageNamesTheProgramAfterItsLastBackslash) {
  EXPECT_EQ(Read({"/?"}), 1);
  EXPECT_NE(output_.find("\nshortcut.exe /F:filename /A:C|E|Q"), std::string::npos);
}

TEST_F(ArgumentLoop, AnythingElseIsInvalidAndStopsTheLoop) {
  for (const char* bad : {"/?x", "/help:", "/F", "/X:1", "", "/traceout", "F:x"}) {
    ResetRunState();
    EXPECT_EQ(Read({bad, "/F:later"}), 87) << bad;
    EXPECT_EQ(output_, "\nThe parameter \"" + std::string(bad) +
                           "\" is invalid.\n\nThe syntax of the command is incorrect.\n");
    EXPECT_STREQ(LinkRecord.FileName, "");
  }
}

TEST_F(ArgumentLoop, ValuesLongerThanTheirBufferAreRefused) {
  std::string fits(260, 'a');
  ASSERT_EQ(Read({"/D:" + fits, "/F:" + fits}), -1);
  EXPECT_EQ(std::string(LinkOptions.Description), fits);
  EXPECT_EQ(std::string(LinkRecord.FileName), fits);
  ResetRunState();
  EXPECT_EQ(Read({"/D:" + fits + "b"}), 87);
  EXPECT_STREQ(LinkOptions.Description, kUndefined);
}

TEST_F(ArgumentLoop, TraceLinesOnlyAfterTheHiddenSwitch) {
  ASSERT_EQ(Read({"/I:x.ico,2", "/H:1"}), -1);
  EXPECT_EQ(output_, "");
  EXPECT_FALSE(TraceEnabled);
  ASSERT_EQ(Read({"/TraceOut", "/I:x.ico,2", "/H:-1"}), -1);
  EXPECT_TRUE(TraceEnabled);
  EXPECT_EQ(output_,
            "\nszIconLocation: [x.ico,2], iIconIndex: [2]"
            "\nszIconLocation: [x.ico], iIconIndex: [2]"
            "\nwHotKey: [65535]"
            "\nHOTKEYF_ALT: [4], HOTKEYF_CONTROL: [2], HOTKEYF_EXT: [8], HOTKEYF_SHIFT: [1]");
}

TEST_F(ArgumentLoop, IconWithoutCommaTracesOnce) {
  ASSERT_EQ(Read({"/TraceOut", "/I:x.ico"}), -1);
  EXPECT_EQ(output_, "\nszIconLocation: [x.ico], iIconIndex: [0]");
}

}  // namespace
