#include "setup_run.h"

#include <cstring>

namespace dialprep {
namespace {

// Room for a path: the current directory and a file name.
constexpr std::size_t kPathSize = 1024 + 32;

// dst = a followed by b; false (and dst empty) when that does not fit.
bool Join(char (&dst)[kPathSize], const char* a, const char* b) {
  const std::size_t la = std::strlen(a), lb = std::strlen(b);
  dst[0] = '\0';
  if (la + lb + 1 > kPathSize) return false;
  std::memcpy(dst, a, la);
  std::memcpy(dst + la, b, lb + 1);
  return true;
}

// The current directory followed by name, read anew.  A step that fails
// leaves the source empty, and the copy that uses it fails in turn.
void SourcePath(Runtime& runtime, const char* name, char (&path)[kPathSize]) {
  char directory[kPathSize];
  path[0] = '\0';
  if (!runtime.CurrentDirectory(directory, sizeof directory)) return;
  directory[sizeof directory - 1] = '\0';
  (void)Join(path, directory, name);
}

// Copies source to the destination a followed by b.
bool Install(Runtime& runtime, const char* source, const char* a, const char* b = "") {
  char destination[kPathSize];
  return Join(destination, a, b) && runtime.FileCopy(source, destination);
}

// Whether two paths are the same text but for the case of ASCII letters
// (the shell writes "C:", the kit's commands "c:").
bool SamePath(const char* a, const char* b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (; *a != '\0' && *b != '\0'; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

// The command to start, in *command, or nullptr: nothing is started.  The
// shell's all users' desktop folder is asked first.  Where it is the
// folder the language picks (XP), the language's own command; else the
// same command with the shell's folder, when that can go on the command
// line (else kDesktopNotOnCommandLine).  The language's folder only where
// the shell names none.  A folder that is missing or a link gives
// kNoDesktopFolder.
SetupResult ChooseCommand(Runtime& runtime, const char* languageCode,
                          char (&named)[kCommandSize], const char** command) {
  *command = nullptr;
  const char* own = FolderForLanguage(languageCode);
  char folder[kPathSize];
  if (!runtime.CommonDesktopFolder(folder, sizeof folder)) folder[0] = '\0';
  folder[sizeof folder - 1] = '\0';
  const bool shellNames = folder[0] != '\0';
  if (!runtime.PlainFolderExists(shellNames ? folder : own)) return kNoDesktopFolder;
  if (!shellNames || SamePath(folder, own)) {
    *command = CommandForLanguage(languageCode);
    return kSetupDone;
  }
  if (!runtime.AnsiCodePageHolds(folder) || !CommandForFolder(folder, named))
    return kDesktopNotOnCommandLine;
  *command = named;
  return kSetupDone;
}

}  // namespace

const char* CommandForLanguage(const char* languageCode) {
  return std::strcmp(languageCode, "040c") == 0 ? kBureauCommand : kDesktopCommand;
}

const char* FolderForLanguage(const char* languageCode) {
  return std::strcmp(languageCode, "040c") == 0 ? kBureauFolder : kDesktopFolder;
}

bool CommandForFolder(const char* folder, char (&command)[kCommandSize]) {
  const std::size_t lh = std::strlen(kCommandHead), lf = std::strlen(folder),
                    lt = std::strlen(kCommandTail);
  command[0] = '\0';
  if (lh + lf + lt + 1 > kCommandSize) return false;
  std::memcpy(command, kCommandHead, lh);
  std::memcpy(command + lh, folder, lf);
  std::memcpy(command + lh + lf, kCommandTail, lt + 1);
  return true;
}

void GetLocaleText(Runtime& runtime, int32_t locale, int32_t infoType,
                   char (&result)[kLocaleBufferSize]) {
  result[0] = '\0';
  char buffer[kLocaleBufferSize] = {};
  const int n = runtime.LocaleInfo(locale, infoType, buffer, kLocaleBufferSize);
  if (n <= 0 || n > kLocaleBufferSize) return;  // n - 1 would be negative
  std::memcpy(result, buffer, static_cast<std::size_t>(n - 1));
  result[n - 1] = '\0';
}

int SetupRun(Runtime& runtime) {
  runtime.EnableTimer(false);
  runtime.SetTimerInterval(kTimerInterval);

  char phonebook[kPathSize], tool[kPathSize], icon[kPathSize];
  SourcePath(runtime, kPhonebookName, phonebook);
  SourcePath(runtime, kToolName, tool);
  SourcePath(runtime, kIconName, icon);

  // Each step goes on whatever failed before it; the first failure is the
  // exit code.
  SetupResult result = kSetupDone;
  const auto failed = [&result](SetupResult step) {
    if (result == kSetupDone) result = step;
  };

  // The copies go to the real system folders also for a 32-bit program on
  // 64-bit Windows; the redirection is off for these three calls only.
  const bool redirectionOff = runtime.FileRedirectionOff();
  if (!Install(runtime, phonebook, kPhonebookDestination, kPhonebookName))
    failed(kPhonebookNotInstalled);
  if (!Install(runtime, tool, kToolDestination, kToolName)) failed(kToolNotInstalled);
  if (!Install(runtime, icon, kIconDestination)) failed(kIconNotInstalled);
  if (redirectionOff) runtime.FileRedirectionOn();
  // No link to a file that was not installed, and no program but the tool
  // just copied.
  const bool installed = result == kSetupDone;

  const int32_t locale = runtime.UserDefaultLocale();
  char languageCode[kLocaleBufferSize];
  GetLocaleText(runtime, locale, kLocaleDefaultLanguage, languageCode);

  char named[kCommandSize];
  const char* command = nullptr;
  const SetupResult choice = ChooseCommand(runtime, languageCode, named, &command);
  if (choice != kSetupDone) failed(choice);

  if (installed && command != nullptr) {
    // From the comparison to the start, nobody can change the copy.
    char toolCopy[kPathSize];
    if (!Join(toolCopy, kToolDestination, kToolName) || !runtime.HoldProgram(toolCopy, tool)) {
      failed(kToolCopyNotTheKits);
    } else {
      if (!runtime.StartProgram(command, kWindowStyleMinimized)) failed(kToolNotStarted);
      runtime.ReleaseProgram();
    }
  }
  runtime.EnableTimer(true);
  return result;
}

void TimerTick(Runtime& runtime, int exitCode) {
  char tool[kPathSize];
  if (Join(tool, kToolDestination, kToolName)) (void)runtime.FileDelete(tool);
  runtime.EndProgram(exitCode);
}

}  // namespace dialprep
