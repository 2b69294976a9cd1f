// Someone else's program left at the tool copy's path: each start adds its
// command line to c:\planted.txt, so that the test sees whether dialprep
// started it.  Given a number of seconds as its only argument, it runs that
// long, and is the program of that name that is running.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

int main(int argc, char** argv) {
  HANDLE log = CreateFileW(L"c:\\planted.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(log, line, static_cast<DWORD>(std::wcslen(line) * sizeof(wchar_t)), &written,
              nullptr);
    WriteFile(log, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(log);
  }
  if (argc == 2) Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) * 1000);
  return 0;
}
