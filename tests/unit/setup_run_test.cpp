// dialprep's setup run against a recording runtime: the order of its steps,
// the paths and command lines it forms, a failure at every step and the
// exit code it gives, the tool held from its comparison to its start, the
// file redirection around the copies, and the desktop folder: the shell's,
// never another one that merely exists, never a link.
#include "setup_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace dialprep;

// The all users' desktop folders the shell of a French and an English XP
// names.
const std::string kXpBureau = "C:\\Documents and Settings\\All Users\\Bureau";
const std::string kXpDesktop = "C:\\Documents and Settings\\All Users\\Desktop";

class RecordingRuntime final : public Runtime {
 public:
  // What the runtime answers.
  std::string directory = "E:\\kit";
  bool directoryFails = false;
  std::set<std::string> missingSources;  // copies from these fail
  std::set<std::string> notAnsi;         // texts the ANSI code page lacks
  bool holdFails = false;                // the tool copy is not the kit's
  int32_t locale = 0x040C;
  std::string localeText = "040c";
  int localeResult = -1;  // -1: length of the text plus its NUL
  bool startFails = false;
  bool deleteFails = false;
  bool redirected = false;  // a 32-bit program on 64-bit Windows
  std::set<std::string> folders = {kXpBureau, kDesktopFolder};
  std::set<std::string> links;  // folders that are junctions or symbolic links
  std::string commonDesktop = kXpBureau;  // empty: the shell names none

  std::vector<std::string> calls;
  bool ended = false;
  int exitCode = -1;

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
  bool PlainFolderExists(const char* path) override {
    calls.push_back(std::string("PlainFolderExists ") + path);
    return folders.count(path) != 0 && links.count(path) == 0;
  }
  bool CommonDesktopFolder(char* buffer, std::size_t size) override {
    calls.push_back("CommonDesktopFolder");
    if (commonDesktop.empty() || commonDesktop.size() + 1 > size) return false;
    std::memcpy(buffer, commonDesktop.c_str(), commonDesktop.size() + 1);
    return true;
  }
  bool AnsiCodePageHolds(const char* text) override {
    calls.push_back(std::string("AnsiCodePageHolds ") + text);
    return notAnsi.count(text) == 0;
  }
  bool HoldProgram(const char* path, const char* original) override {
    calls.push_back(std::string("HoldProgram ") + path + " = " + original);
    return !holdFails;
  }
  void ReleaseProgram() override { calls.push_back("ReleaseProgram"); }
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
  void EndProgram(int code) override {
    calls.push_back("EndProgram " + std::to_string(code));
    ended = true;
    exitCode = code;
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
  EXPECT_EQ(SetupRun(rt), kSetupDone);
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
      "CommonDesktopFolder",
      "PlainFolderExists C:\\Documents and Settings\\All Users\\Bureau",
      "HoldProgram c:\\windows\\temp\\shortcut.exe = E:\\kit\\shortcut.exe",
      "StartProgram 2 " + kBureau,
      "ReleaseProgram",
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

// Every step runs whatever failed before it, and the exit code is the first
// that failed; the tool is started only when all three files were
// installed, and only while its copy is held as the kit's own.
TEST(SetupRun, TheExitCodeIsTheFirstStepThatFailed) {
  const std::string book = "E:\\kit\\rasphone.pbk", tool = "E:\\kit\\shortcut.exe",
                    icon = "E:\\kit\\zelvo.ico";
  const std::string shell = "C:\\Users\\Public\\Desktop";
  struct Row {
    const char* what;
    std::function<void(RecordingRuntime&)> set;
    int code;
    bool started;
  } rows[] = {
      {"all well", [](RecordingRuntime&) {}, kSetupDone, true},
      {"no phonebook", [&](RecordingRuntime& rt) { rt.missingSources = {book}; },
       kPhonebookNotInstalled, false},
      {"no tool", [&](RecordingRuntime& rt) { rt.missingSources = {tool}; }, kToolNotInstalled,
       false},
      {"no icon", [&](RecordingRuntime& rt) { rt.missingSources = {icon}; }, kIconNotInstalled,
       false},
      {"nothing in the kit", [&](RecordingRuntime& rt) { rt.missingSources = {book, tool, icon}; },
       kPhonebookNotInstalled, false},
      {"no current directory", [](RecordingRuntime& rt) { rt.directoryFails = true; },
       kPhonebookNotInstalled, false},
      {"no desktop folder at all", [](RecordingRuntime& rt) { rt.folders = {}; }, kNoDesktopFolder,
       false},
      {"no icon and no desktop folder",
       [&](RecordingRuntime& rt) {
         rt.missingSources = {icon};
         rt.folders = {};
       },
       kIconNotInstalled, false},
      {"the shell's desktop outside the code page",
       [&](RecordingRuntime& rt) {
         rt.folders = {shell};
         rt.commonDesktop = shell;
         rt.notAnsi = {shell};
       },
       kDesktopNotOnCommandLine, false},
      {"the tool copy is not the kit's", [](RecordingRuntime& rt) { rt.holdFails = true; },
       kToolCopyNotTheKits, false},
      {"the tool does not start", [](RecordingRuntime& rt) { rt.startFails = true; },
       kToolNotStarted, true},
      {"the desktop folder is a link", [](RecordingRuntime& rt) { rt.links = {kXpBureau}; },
       kNoDesktopFolder, false},
  };
  for (const Row& row : rows) {
    RecordingRuntime rt;
    row.set(rt);
    EXPECT_EQ(SetupRun(rt), row.code) << row.what;
    EXPECT_EQ(!Find(rt.calls, "StartProgram").empty(), row.started) << row.what;
    // Held from before the start until after it, and let go of again.
    const auto hold = std::find_if(rt.calls.begin(), rt.calls.end(), [](const std::string& c) {
      return c.rfind("HoldProgram", 0) == 0;
    });
    const auto start = std::find_if(rt.calls.begin(), rt.calls.end(), [](const std::string& c) {
      return c.rfind("StartProgram", 0) == 0;
    });
    if (row.started) {
      EXPECT_LT(hold, start) << row.what;
      EXPECT_EQ(*(start + 1), "ReleaseProgram") << row.what;
    }
    EXPECT_EQ(std::count(rt.calls.begin(), rt.calls.end(), "ReleaseProgram"),
              row.started ? 1 : 0)
        << row.what;
    EXPECT_EQ(std::count_if(rt.calls.begin(), rt.calls.end(),
                            [](const std::string& c) { return c.rfind("FileCopy", 0) == 0; }),
              3)
        << row.what << ": every copy is tried";
    EXPECT_EQ(rt.calls.back(), "EnableTimer on") << row.what;
    TimerTick(rt, SetupRun(rt));
    EXPECT_EQ(rt.exitCode, row.code) << row.what << ": the program ends with it";
  }
}

TEST(SetupRun, AFailingCurrentDirectoryLeavesThatSourceEmpty) {
  RecordingRuntime rt;
  rt.directoryFails = true;
  SetupRun(rt);
  EXPECT_EQ(Find(rt.calls, "FileCopy"), "FileCopy  -> c:\\windows\\system32\\ras\\rasphone.pbk");
}

TEST(SetupRun, AFailedLanguageQueryStartsTheDesktopCommand) {
  RecordingRuntime rt;
  rt.localeResult = 0;
  rt.commonDesktop = kXpDesktop;
  rt.folders = {kXpDesktop};
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
  }
}

// The shell names the folder.  On XP it is the language's, and the command
// is the language's own to the byte; since Vista a folder of the language's
// name is anyone's, and is never written into; only where the shell names
// none does the language pick it.  A missing folder or a link: nothing.
TEST(SetupRun, TheLinkGoesOnlyToTheDesktopTheShellNames) {
  const std::string publicDesktop = "C:\\Users\\Public\\Desktop";
  const auto in = [](const std::string& folder) {
    char command[kCommandSize];
    return CommandForFolder(folder.c_str(), command) ? std::string(command) : "";
  };
  const std::string tooLong(kCommandSize, 'x');
  struct Row {
    const char* what;
    const char* language;
    std::string shell;  // the folder the shell names; "" none
    std::set<std::string> folders, links;
    std::string command;  // "" none started
    int code;
  } rows[] = {
      {"French XP", "040c", kXpBureau, {kXpBureau}, {}, kBureauCommand, kSetupDone},
      {"English XP", "0409", kXpDesktop, {kXpDesktop}, {}, kDesktopCommand, kSetupDone},
      {"German XP", "0407", kXpDesktop, {kXpDesktop}, {}, kDesktopCommand, kSetupDone},
      {"French language on an English XP", "040c", kXpDesktop, {kXpDesktop}, {}, in(kXpDesktop),
       kSetupDone},
      {"French since Vista", "040c", publicDesktop, {publicDesktop}, {}, in(publicDesktop),
       kSetupDone},
      {"a user's Bureau since Vista", "040c", publicDesktop, {kBureauFolder, publicDesktop}, {},
       in(publicDesktop), kSetupDone},
      {"a user's Desktop since Vista", "0409", publicDesktop, {kDesktopFolder, publicDesktop}, {},
       in(publicDesktop), kSetupDone},
      {"the shell's folder is a link", "0409", publicDesktop, {publicDesktop}, {publicDesktop}, "",
       kNoDesktopFolder},
      {"the shell's folder is missing, a user's is there", "0409", publicDesktop,
       {kDesktopFolder}, {}, "", kNoDesktopFolder},
      {"the shell names none", "040c", "", {kBureauFolder}, {}, kBureauCommand, kSetupDone},
      {"the shell names none, the language's is a link", "040c", "", {kBureauFolder},
       {kBureauFolder}, "", kNoDesktopFolder},
      {"the shell names none, and there is none", "0409", "", {}, {}, "", kNoDesktopFolder},
      {"the shell's folder makes no command", "040c", tooLong, {tooLong}, {}, "",
       kDesktopNotOnCommandLine},
  };
  for (const Row& row : rows) {
    RecordingRuntime rt;
    rt.localeText = row.language;
    rt.commonDesktop = row.shell;
    rt.folders = row.folders;
    rt.links = row.links;
    EXPECT_EQ(SetupRun(rt), row.code) << row.what;
    EXPECT_EQ(Find(rt.calls, "StartProgram"),
              row.command.empty() ? "" : "StartProgram 2 " + row.command)
        << row.what;
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
    TimerTick(rt, kIconNotInstalled);
    const std::vector<std::string> expected = {"FileDelete c:\\windows\\temp\\shortcut.exe",
                                               "EndProgram 3"};
    EXPECT_EQ(rt.calls, expected);
  }
}

}  // namespace
