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

void Copy(Runtime& runtime, const char* source, const char* destination) {
  (void)runtime.FileCopy(source, destination);
}

}  // namespace

const char* CommandForLanguage(const char* languageCode) {
  return std::strcmp(languageCode, "040c") == 0 ? kBureauCommand : kDesktopCommand;
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

void SetupRun(Runtime& runtime) {
  runtime.EnableTimer(false);
  runtime.SetTimerInterval(kTimerInterval);

  char phonebook[kPathSize], tool[kPathSize], icon[kPathSize];
  SourcePath(runtime, kPhonebookName, phonebook);
  SourcePath(runtime, kToolName, tool);
  SourcePath(runtime, kIconName, icon);

  char destination[kPathSize];
  if (Join(destination, kPhonebookDestination, kPhonebookName))
    Copy(runtime, phonebook, destination);
  if (Join(destination, kToolDestination, kToolName)) Copy(runtime, tool, destination);
  Copy(runtime, icon, kIconDestination);

  const int32_t locale = runtime.UserDefaultLocale();
  char languageCode[kLocaleBufferSize];
  GetLocaleText(runtime, locale, kLocaleDefaultLanguage, languageCode);

  (void)runtime.StartProgram(CommandForLanguage(languageCode), kWindowStyleMinimized);
  runtime.EnableTimer(true);
}

void TimerTick(Runtime& runtime) {
  char tool[kPathSize];
  if (Join(tool, kToolDestination, kToolName)) (void)runtime.FileDelete(tool);
  runtime.EndProgram();
}

}  // namespace dialprep
