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

// The command to start, in *command: the language's own while its folder
// exists; else the same command in the all users' desktop folder the shell
// reports, when that exists and can go on the command line (else nothing:
// kDesktopNotOnCommandLine); else the language's own, which then makes no
// link (kNoDesktopFolder).
SetupResult ChooseCommand(Runtime& runtime, const char* languageCode,
                          char (&fallback)[kCommandSize], const char** command) {
  *command = CommandForLanguage(languageCode);
  if (runtime.FolderExists(FolderForLanguage(languageCode))) return kSetupDone;
  char folder[kPathSize];
  if (!runtime.CommonDesktopFolder(folder, sizeof folder)) return kNoDesktopFolder;
  folder[sizeof folder - 1] = '\0';
  if (folder[0] == '\0' || !runtime.FolderExists(folder)) return kNoDesktopFolder;
  if (!runtime.AnsiCodePageHolds(folder) || !CommandForFolder(folder, fallback)) {
    *command = nullptr;
    return kDesktopNotOnCommandLine;
  }
  *command = fallback;
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

  char fallback[kCommandSize];
  const char* command = nullptr;
  const SetupResult choice = ChooseCommand(runtime, languageCode, fallback, &command);
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
