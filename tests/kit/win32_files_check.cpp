// dialprep's Windows file operations, run on Windows (or Wine): a held
// program cannot be written, renamed or deleted, yet starts; a file that
// someone has open for writing, or whose bytes differ, is not held; a copy
// replaces a read-only file and clears its attribute (another name of the
// file keeps its bytes and the attribute), and fails on a folder.  The test
// runs it as an ordinary Unix user, to whom Wine refuses what it lets root
// do to a read-only file.  Prints one line a check and exits 1 when one
// failed.
#include <windows.h>

#include <cstdio>
#include <initializer_list>

#include "win32_files.h"

namespace {

int failed = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failed;
}

bool Write(const wchar_t* name, const char* text) {
  HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, text, lstrlenA(text), &n, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

bool Holds(const wchar_t* name, const char* text) {
  char buffer[16] = {};
  HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD n = 0;
  const bool ok = file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer - 1, &n, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok && lstrcmpA(buffer, text) == 0;
}

bool ReadOnly(const wchar_t* name) {
  return (GetFileAttributesW(name) & FILE_ATTRIBUTE_READONLY) != 0;
}

bool Opens(const wchar_t* name, DWORD access) {
  HANDLE file = CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

int main(int argc, char**) {
  if (argc > 1) return 0;  // started as the held program
  // A folder of its own, named in a script code page 1252 lacks.
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  lstrcatW(folder, L"dialprep-\x0141\x00f3d\x017a");
  CreateDirectoryW(folder, nullptr);
  SetCurrentDirectoryW(folder);
  char program[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  CopyFileA(program, "kit.exe", FALSE);

  Check(dialprep::CopyOver("kit.exe", "copy.exe"), "a copy is made");
  dialprep::HeldProgram held;
  Check(held.Hold("copy.exe", "kit.exe"), "the copy is held");
  Check(!Opens(L"copy.exe", GENERIC_WRITE), "a held program cannot be opened for writing");
  Check(!Opens(L"copy.exe", DELETE), "a held program cannot be opened for deleting");
  Check(!DeleteFileW(L"copy.exe"), "a held program cannot be deleted");
  Check(!MoveFileW(L"copy.exe", L"moved.exe"), "a held program cannot be renamed");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  wchar_t line[] = L"copy.exe /?";
  const bool started =
      CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process) != FALSE;
  Check(started, "a held program starts");
  held.Release();
  if (started) {
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  Check(DeleteFileW(L"copy.exe") != FALSE, "let go of, it can be deleted");

  Check(Write(L"other.exe", "other"), "another file is made");
  Check(!held.Hold("other.exe", "kit.exe"), "a file with other bytes is not held");
  CopyFileA(program, "open.exe", FALSE);
  HANDLE writer = CreateFileW(L"open.exe", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  Check(!held.Hold("open.exe", "kit.exe"), "a file someone may write is not held");
  CloseHandle(writer);

  Check(Write(L"old.txt", "old") && SetFileAttributesW(L"old.txt", FILE_ATTRIBUTE_READONLY),
        "a read-only file is made");
  Check(Write(L"new.txt", "new") && dialprep::CopyOver("new.txt", "old.txt") &&
            Holds(L"old.txt", "new"),
        "a copy replaces a read-only file");
  Check(!ReadOnly(L"old.txt"), "and clears its read-only attribute");
  Check(Write(L"kept.txt", "kept") && CreateHardLinkW(L"linked.txt", L"kept.txt", nullptr) &&
            SetFileAttributesW(L"kept.txt", FILE_ATTRIBUTE_READONLY) &&
            dialprep::CopyOver("new.txt", "linked.txt") && Holds(L"linked.txt", "new"),
        "a copy replaces a read-only file that has another name");
  Check(Holds(L"kept.txt", "kept") && ReadOnly(L"kept.txt"),
        "which keeps its bytes and attribute there");
  CreateDirectoryW(L"sub", nullptr);
  Check(!dialprep::CopyOver("new.txt", "sub"), "a copy onto a folder fails");
  Check(dialprep::AnsiCodePageHolds("Zelvo") && !dialprep::AnsiCodePageHolds("\xE2\x80\xA8"),
        "the ANSI code page holds ASCII, and no line separator");

  for (const wchar_t* name : {L"kit.exe", L"other.exe", L"open.exe", L"old.txt", L"new.txt",
                              L"kept.txt", L"linked.txt"}) {
    SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(name);
  }
  RemoveDirectoryW(L"sub");
  SetCurrentDirectoryW(L"..");
  RemoveDirectoryW(folder);
  return failed == 0 ? 0 : 1;
}
