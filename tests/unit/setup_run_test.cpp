// dialprep's setup run against a recording runtime: the order of its steps,
// the paths and command lines it forms, and a failure at every step.
#include "setup_run.h"

#include <gtest/gtest.h>

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
      "FileCopy E:\\kit\\rasphone.pbk -> c:\\windows\\system32\\ras\\rasphone.pbk",
      "FileCopy E:\\kit\\shortcut.exe -> c:\\windows\\temp\\shortcut.exe",
      "FileCopy E:\\kit\\zelvo.ico -> c:\\windows\\system32\\zelvo.ico",
      "UserDefaultLocale",
      "LocaleInfo 1036 9 1024",
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
  EXPECT_EQ(rt.calls[5], "FileCopy D:\\\\rasphone.pbk -> c:\\windows\\system32\\ras\\rasphone.pbk");
}

TEST(SetupRun, MissingFilesAreSkippedAndTheRunGoesOn) {
  RecordingRuntime rt;
  rt.missingSources = {"E:\\kit\\rasphone.pbk", "E:\\kit\\shortcut.exe", "E:\\kit\\zelvo.ico"};
  rt.startFails = true;  // no tool copy, so nothing to start
  SetupRun(rt);
  EXPECT_EQ(rt.calls.back(), "EnableTimer on") << "the timer is armed whatever failed";
  EXPECT_EQ(rt.calls.size(), 12u);
}

TEST(SetupRun, AFailingCurrentDirectoryLeavesThatSourceEmpty) {
  RecordingRuntime rt;
  rt.directoryFails = true;
  SetupRun(rt);
  EXPECT_EQ(rt.calls[5], "FileCopy  -> c:\\windows\\system32\\ras\\rasphone.pbk");
  EXPECT_EQ(rt.calls.back(), "EnableTimer on");
}

TEST(SetupRun, AFailedLanguageQueryStartsTheDesktopCommand) {
  RecordingRuntime rt;
  rt.localeResult = 0;
  SetupRun(rt);
  EXPECT_EQ(rt.calls[10], std::string("StartProgram 2 ") + kDesktopCommand);
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
