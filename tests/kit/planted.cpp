// Someone else's program left at the tool copy's path, or someone else's
// DLL under a system DLL's name (the same source, built as a DLL): each
// start, or each load, adds a line to c:\planted.txt, so that the test sees
// whether its code ever ran: the command line of the program, its file and
// "wow64" or "native" (a 32-bit process on 64-bit Windows, or not),
// separated by tabs.  Put in the kit as its tool, it shows what dialprep
// started.  Given a number of seconds as its only argument, the program
// runs that long, and is the program of that name that is running.
#include <windows.h>

#include <cstdlib>

namespace {

void NoteRun() {
  HANDLE log = CreateFileW(L"c:\\planted.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    wchar_t file[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, file, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    DWORD written = 0;
    const wchar_t* parts[] = {GetCommandLineW(), L"\t", file,
                              wow64 ? L"\twow64\n" : L"\tnative\n"};
    for (const wchar_t* part : parts)
      WriteFile(log, part, lstrlenW(part) * sizeof(wchar_t), &written, nullptr);
    CloseHandle(log);
  }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) NoteRun();
  return TRUE;
}

int main(int argc, char** argv) {
  NoteRun();
  if (argc == 2) Sleep(static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) * 1000);
  return 0;
}
