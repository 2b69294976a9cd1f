#include "run_driver.h"

#include "command_line.h"
#include "link_store.h"
#include "print.h"
#include "query_report.h"
#include "text.h"

namespace {

// Network error numbers, whose texts live in netmsg.dll.
constexpr DWORD kNetworkErrorFirst = 2100;
constexpr DWORD kNetworkErrorEnd = 3000;

constexpr DWORD kMessageFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                FORMAT_MESSAGE_IGNORE_INSERTS |
                                FORMAT_MESSAGE_FROM_SYSTEM;  // 0x1300
constexpr DWORD kMessageLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

void Trace(const char* format, int value) {
  if (TraceEnabled) Print(format, value);
}

bool IsGiven(const char* text) { return !TextEquals(text, kUndefined); }

void MergeText(const char* option, char (&field)[kTextSize]) {
  if (IsGiven(option)) CopyText(field, option);
}

}  // namespace

void MergeOptions(int32_t selectedMode) {
  const LINK_OPTIONS& o = LinkOptions;
  LINK_RECORD& r = LinkRecord;
  MergeText(o.TargetPath, r.TargetPath);
  MergeText(o.Arguments, r.Arguments);
  MergeText(o.WorkingDirectory, r.WorkingDirectory);
  MergeText(o.Description, r.Description);
  if (o.RunStyle != kNumberUndefined)
    r.RunStyle = o.RunStyle;
  else if (selectedMode == MODE_CREATE)
    r.RunStyle = 1;
  if (IsGiven(o.IconLocation)) {
    CopyText(r.IconLocation, o.IconLocation);
    r.IconIndex = o.IconIndex;
  }
  if ((o.HotKey & 0xFFFF) != kNumberUndefined)
    r.HotKey = static_cast<uint16_t>(o.HotKey & 0xFFFF);
}

int32_t MapResultCode(int32_t resultCode, bool* mapped) {
  *mapped = false;
  const int32_t facility = HRESULT_FACILITY(resultCode);
  if (facility != FACILITY_WIN32 && facility != FACILITY_WINDOWS)
    return resultCode;
  const int32_t code = HRESULT_CODE(resultCode);
  // A failure that carries no error number keeps its HRESULT.
  if (resultCode < 0 && code == 0) return resultCode;
  *mapped = true;
  return code;
}

void SystemErrorText(DWORD errorNumber) {
  HMODULE module = nullptr;
  if (errorNumber >= kNetworkErrorFirst && errorNumber < kNetworkErrorEnd)
    module = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  DWORD flags = kMessageFlags;
  if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;

  char* allocated = nullptr;
  DWORD n = FormatMessageA(flags, module, errorNumber, kMessageLanguage,
                           reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
  if (n != 0 && allocated != nullptr) {
    char text[512];
    CopyText(text, allocated);
    Print("%s", text);
    LocalFree(allocated);
  }
  if (module != nullptr) FreeLibrary(module);
}

namespace {

// The final message of a run: success, or the error and its system text.
// Returns the code it was given.
int32_t FinalMessage(int32_t resultCode) {
  if (resultCode == 0) {
    Print("\nThe command completed successfully.\n");
  } else {
    Print("\nSystem error %i has occurred.\n\n", resultCode);
    SystemErrorText(static_cast<DWORD>(resultCode));
  }
  return resultCode;
}

}  // namespace

int ShortcutMain(int argc, char* argv[]) {
  // Arguments the code page changed on their way in (a name it cannot hold,
  // turned into '?' or a look-alike) are not read at all.
  if (!CheckCommandLineA()) return FinalMessage(static_cast<int32_t>(GetLastError()));

  int exitCode = 0;
  if (!ReadArguments(argc, argv, &exitCode)) return exitCode;

  const char* programPath = argc > 0 ? argv[0] : "";
  if (LinkRecord.FileName[0] == '\0') {
    UsageScreen(programPath);
    return kExitUsage;
  }

  if (TraceEnabled) Print("\nCalling CoInitialize()");
  (void)CoInitialize(nullptr);
  const int32_t mode = LinkOptions.SelectedMode;
  Trace("\nSelectedMode: [%i]", mode);

  int32_t resultCode = 0;
  switch (mode) {
    case MODE_CREATE:
      MergeOptions(mode);
      resultCode = ShellLinkCreate();
      Trace("\nShellLinkCreate() returned [%i]", resultCode);
      break;
    case MODE_EDIT:
      resultCode = ShellLinkQuery();
      Trace("\nShellLinkQuery() returned [%i]", resultCode);
      if (resultCode != 0) break;
      MergeOptions(mode);
      resultCode = ShellLinkCreate();
      Trace("\nShellLinkCreate() returned [%i]", resultCode);
      break;
    case MODE_QUERY:
      resultCode = ShellLinkQuery();
      Trace("\nShellLinkQuery() returned [%i]", resultCode);
      if (resultCode == 0) ShellLinkReport();
      break;
    default:
      UsageScreen(programPath);
      resultCode = 1;
      break;
  }

  if (TraceEnabled) Print("\nCalling CoUninitialize()");
  CoUninitialize();

  bool mapped = false;
  resultCode = MapResultCode(resultCode, &mapped);
  if (mapped) Trace("\nHRESULT_CODE(ResultCode): [%i]", resultCode);
  Trace("\nExiting with result code [%i]", resultCode);

  return FinalMessage(resultCode);
}
