// dialprep's setup run against a recording runtime: the order of its steps,
// the paths and command lines it forms, a failure at every step, the file
// redirection around the copies and the desktop folder of the shell.
#include "setup_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace dialprep;

class RecordingRuntime final : public Runtime {
 public:
  // What the runtime answers.
  std::string directory = "E:\\kit";
  bool directoryFails = false;
  std::set<std::string> missingSources;  // copies from these fail
  int32_t locale = 0x040C;
  std::string localeText = "040c";
  int localeResult = -1;  // -1: length of the text plus its NUL
  bool startFails = false;
  bool deleteFails = false;
  bool redirected = false;  // a 32-bit program on 64-bit Windows
  std::set<std::string> folders = {kBureauFolder, kDesktopFolder};
  std::string commonDesktop;  // empty: the shell reports none

  std::vector<std::string> calls;
  bool ended = false;

  bool CurrentDirectory(char* buffer, std::size_t size) override {
    calls.push_back("CurrentDirectory");
    if (directoryFails || directory.size() + 1 > size) return false;
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return true;
  }
  bool FileCopy(const char* source, const char* destination) override {
    calls.push_back(std::string("FileCopy ") + source + " -> " + destination);
    return source[0] != '\0' && missingSources.count(source) == 0;
  }
  bool FileRedirectionOff() override {
    calls.push_back("FileRedirectionOff");
    return redirected;
  }
  void FileRedirectionOn() override { calls.push_back("FileRedirectionOn"); }
  bool FolderExists(const char* path) override {
    calls.push_back(std::string("FolderExists ") + path);
    return folders.count(path) != 0;
  }
  bool CommonDesktopFolder(char* buffer, std::size_t size) override {
    calls.push_back("CommonDesktopFolder");
    if (commonDesktop.empty() || commonDesktop.size() + 1 > size) return false;
    std::memcpy(buffer, commonDesktop.c_str(), commonDesktop.size() + 1);
    return true;
  }
  int32_t UserDefaultLocale() override {
    calls.push_back("UserDefaultLocale");
    return locale;
  }
  int LocaleInfo(int32_t loc, int32_t type, char* buffer, int size) override {
    calls.push_back("LocaleInfo " + std::to_string(loc) + " " + std::to_string(type) + " " +
                    std::to_string(size));
    if (localeResult == 0) return 0;
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", localeText.c_str());
    return localeResult < 0 ? static_cast<int>(localeText.size()) + 1 : localeResult;
  }
  bool StartProgram(const char* commandLine, int windowStyle) override {
    calls.push_back("StartProgram " + std::to_string(windowStyle) + " " + commandLine);
    return !startFails;
  }
  bool FileDelete(const char* path) override {
    calls.push_back(std::string("FileDelete ") + path);
    return !deleteFails;
  }
  void SetTimerInterval(int ms) override { calls.push_back("SetTimerInterval " + std::to_string(ms)); }
  void EnableTimer(bool on) override { calls.push_back(on ? "EnableTimer on" : "EnableTimer off"); }
  void EndProgram() override {
    calls.push_back("EndProgram");
    ended = true;
  }
};

// The first call that begins with prefix, or "" when there is none.
std::string Find(const std::vector<std::string>& calls, const std::string& prefix) {
  for (const std::string& call : calls)
    if (call.compare(0, prefix.size(), prefix) == 0) return call;
  return "";
}

const std::string kBureau =
    "c:\\windows\\temp\\shortcut.exe /F:\"c:\\Documents and Settings\\All Users\\Bureau\\Zelvo "
    "ADSL.lnk\" /A:C /T:rasphone.exe /P:\"-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo\" "
    "/I:c:\\windows\\system32\\zelvo.ico";

TEST(SetupRun, StepsInOrderWithTheirPathsAndTheBureauCommand) {
  RecordingRuntime rt;
  SetupRun(rt);
  const std::vector<std::string> expected = {
      "EnableTimer off",
      "SetTimerInterval 2000",
      "CurrentDirectory",
      "CurrentDirectory",
      "CurrentDirectory",
      "FileRedirectionOff",
      "FileCopy E:\\kit\\rasphone.pbk -> c:\\windows\\system32\\ras\\rasphone.pbk",
      "FileCopy E:\\kit\\shortcut.exe -> c:\\windows\\temp\\shortcut.exe",
      "FileCopy E:\\kit\\zelvo.ico -> c:\\windows\\system32\\zelvo.ico",
      "UserDefaultLocale",
      "LocaleInfo 1036 9 1024",
      "FolderExists c:\\Documents and Settings\\All Users\\Bureau",
      "StartProgram 2 " + kBureau,
      "EnableTimer on",
  };
  EXPECT_EQ(rt.calls, expected);
  EXPECT_FALSE(rt.ended);
}

TEST(SetupRun, TheCommandLinesAreTheKitsOwn) {
  EXPECT_EQ(std::strlen(kBureauCommand), 199u);
  EXPECT_EQ(std::strlen(kDesktopCommand), 200u);
  EXPECT_EQ(kBureau, kBureauCommand);
  std::string desktop = kBureau;
  desktop.replace(desktop.find("Bureau"), 6, "Desktop");
  EXPECT_EQ(desktop, kDesktopCommand);
  char command[kCommandSize];
  ASSERT_TRUE(CommandForFolder(kBureauFolder, command));
  EXPECT_STREQ(command, kBureauCommand);
  ASSERT_TRUE(CommandForFolder(kDesktopFolder, command));
  EXPECT_STREQ(command, kDesktopCommand);
}

TEST(SetupRun, OnlyTheExactFrenchCodeChoosesBureau) {
  EXPECT_STREQ(CommandForLanguage("040c"), kBureauCommand);
  for (const char* code : {"040C", "0409", "0410", "0449", "0407", "", "040c ", "40c"})
    EXPECT_STREQ(CommandForLanguage(code), kDesktopCommand) << code;
}

TEST(SetupRun, ADriveRootGivesTwoBackslashesAsFormed) {
  RecordingRuntime rt;
  rt.directory = "D:\\";
  SetupRun(rt);
  EXPECT_EQ(Find(rt.calls, "FileCopy"),
            "FileCopy D:\\\\rasphone.pbk -> c:\\windows\\system32\\ras\\rasphone.pbk");
}

TEST(SetupRun, MissingFilesAreSkippedAndTheRunGoesOn) {
  RecordingRuntime rt;
  rt.missingSources = {"E:\\kit\\rasphone.pbk", "E:\\kit\\shortcut.exe", "E:\\kit\\zelvo.ico"};
  rt.startFails = true;  // no tool copy, so nothing to start
  SetupRun(rt);
  EXPECT_EQ(rt.calls.back(), "EnableTimer on") << "the timer is armed whatever failed";
  EXPECT_EQ(rt.calls.size(), 14u);
}

TEST(SetupRun, AFailingCurrentDirectoryLeavesThatSourceEmpty) {
  RecordingRuntime rt;
  rt.directoryFails = true;
  SetupRun(rt);
  EXPECT_EQ(Find(rt.calls, "FileCopy"), "FileCopy  -> c:\\windows\\system32\\ras\\rasphone.pbk");
  EXPECT_EQ(rt.calls.back(), "EnableTimer on");
}

TEST(SetupRun, AFailedLanguageQueryStartsTheDesktopCommand) {
  RecordingRuntime rt;
  rt.localeResult = 0;
  SetupRun(rt);
  EXPECT_EQ(Find(rt.calls, "StartProgram"), std::string("StartProgram 2 ") + kDesktopCommand);
}

// On 64-bit Windows the redirection is off for the three copies and for
// nothing else; where there is none to switch off, the copies are the same.
TEST(SetupRun, FileRedirectionIsOffExactlyAroundTheThreeCopies) {
  for (bool redirected : {true, false}) {
    RecordingRuntime rt;
    rt.redirected = redirected;
    rt.missingSources = {"E:\\kit\\shortcut.exe"};  // a failed copy changes nothing
    SetupRun(rt);
    std::vector<std::string> around;
    bool off = false;
    for (const std::string& call : rt.calls) {
      if (call == "FileRedirectionOff") off = true;
      if (off) around.push_back(call);
      if (call == "FileRedirectionOn") off = false;
    }
    std::vector<std::string> expected = {
        "FileRedirectionOff",
        "FileCopy E:\\kit\\rasphone.pbk -> c:\\windows\\system32\\ras\\rasphone.pbk",
        "FileCopy E:\\kit\\shortcut.exe -> c:\\windows\\temp\\shortcut.exe",
        "FileCopy E:\\kit\\zelvo.ico -> c:\\windows\\system32\\zelvo.ico",
        "FileRedirectionOn",
    };
    if (!redirected) {
      // Not switched off, so not switched on again: the run goes on as ever.
      expected.pop_back();
      around.resize(expected.size());
    }
    EXPECT_EQ(around, expected) << "redirected " << redirected;
    EXPECT_EQ(std::count(rt.calls.begin(), rt.calls.end(), "FileRedirectionOff"), 1);
    EXPECT_EQ(Find(rt.calls, "StartProgram"), "StartProgram 2 " + kBureau);
  }
}

// The language picks the folder; only when it is missing does the run ask
// the shell, and it then starts the same command in the shell's folder.
TEST(SetupRun, AMissingDesktopFolderGivesWayToTheShellsOne) {
  const std::string publicDesktop = "C:\\Users\\Public\\Desktop";
  const std::string inPublic =
      "c:\\windows\\temp\\shortcut.exe /F:\"C:\\Users\\Public\\Desktop\\Zelvo ADSL.lnk\" /A:C "
      "/T:rasphone.exe /P:\"-f c:\\windows\\system32\\ras\\rasphone.pbk -d Zelvo\" "
      "/I:c:\\windows\\system32\\zelvo.ico";
  const std::string tooLong(kCommandSize, 'x');
  struct Row {
    const char* what;
    const char* language;
    std::set<std::string> folders;
    std::string shell;  // what the shell reports; "" none
    std::string command;
    bool shellAsked;
  } rows[] = {
      {"French, Bureau there", "040c", {kBureauFolder}, publicDesktop, kBureau, false},
      {"English, Desktop there", "0409", {kDesktopFolder}, publicDesktop, kDesktopCommand, false},
      {"French since Vista", "040c", {kDesktopFolder, publicDesktop}, publicDesktop, inPublic,
       true},
      {"English, no All Users folder", "0409", {publicDesktop}, publicDesktop, inPublic, true},
      // Neither exists: the language's own command, which makes no link.
      {"the shell reports none", "040c", {kDesktopFolder}, "", kBureau, true},
      {"the shell's folder is missing", "0409", {}, publicDesktop, kDesktopCommand, true},
      {"the shell's folder makes no command", "040c", {tooLong}, tooLong, kBureau, true},
  };
  for (const Row& row : rows) {
    RecordingRuntime rt;
    rt.localeText = row.language;
    rt.folders = row.folders;
    rt.commonDesktop = row.shell;
    SetupRun(rt);
    EXPECT_EQ(Find(rt.calls, "StartProgram"), "StartProgram 2 " + row.command) << row.what;
    EXPECT_EQ(std::count_if(rt.calls.begin(), rt.calls.end(),
                            [](const std::string& c) { return c.rfind("StartProgram", 0) == 0; }),
              1)
        << row.what;
    EXPECT_EQ(!Find(rt.calls, "CommonDesktopFolder").empty(), row.shellAsked) << row.what;
    EXPECT_EQ(rt.calls.back(), "EnableTimer on") << row.what;
  }
}

TEST(GetLocaleText, TakesNMinusOneCharacters) {
  RecordingRuntime rt;
  char text[kLocaleBufferSize];
  rt.localeText = "0409";
  GetLocaleText(rt, 0x409, 9, text);
  EXPECT_STREQ(text, "0409");
  rt.localeResult = 3;  // the call says it wrote two characters and a NUL
  GetLocaleText(rt, 0x409, 9, text);
  EXPECT_STREQ(text, "04");
  rt.localeResult = 1;
  GetLocaleText(rt, 0x409, 9, text);
  EXPECT_STREQ(text, "");
  rt.localeResult = 0;
  GetLocaleText(rt, 0x409, 9, text);
  EXPECT_STREQ(text, "");
}

TEST(TimerTick, DeletesTheToolCopyAndEndsEvenWhenTheDeleteFails) {
  for (bool fails : {false, true}) {
    RecordingRuntime rt;
    rt.deleteFails = fails;
    TimerTick(rt);
    const std::vector<std::string> expected = {"FileDelete c:\\windows\\temp\\shortcut.exe",
                                               "EndProgram"};
    EXPECT_EQ(rt.calls, expected);
  }
}

}  // namespace
