// Someone else's DLL, planted under the name of a system DLL where a
// program may look for it: each load adds the loading program's path to
// c:\planted.txt, so that the test sees whether its code ever ran.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  HANDLE log = CreateFileW(L"c:\\planted.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    DWORD written = 0;
    WriteFile(log, program, static_cast<DWORD>(std::wcslen(program) * sizeof(wchar_t)), &written,
              nullptr);
    WriteFile(log, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(log);
  }
  return TRUE;
}
