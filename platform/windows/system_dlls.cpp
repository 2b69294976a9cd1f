// Where both programs of the kit take their DLLs from: the system folder
// only.  dialprep runs as an administrator from a folder anyone may have
// filled, and starts the tool from c:\windows\temp, where every user may
// make files; a DLL of a system name planted beside either program, or in
// the current folder, must never run.
//
// - The image's load configuration asks for the system folder for the
//   DLLs its imports need, before the first instruction of the program
//   (DependentLoadFlags, read by Windows 10 1607 and later).  MinGW's ld
//   2.40 (Debian 12) has no option to set it, so the program carries the
//   structure itself, under the name the linker takes it from.
// - The first code that runs, before main and WinMain, narrows the search
//   of every later load to the system folder (SetDefaultDllDirectories,
//   Windows 8, and 7 and Vista with KB2533623); where Windows lacks it,
//   it takes the current folder out of the search (SetDllDirectoryW(L""),
//   XP SP1 and later).  Both are looked up at run time, so that the
//   programs still start on a Windows without them.
// - A DLL the program loads itself is named by its full path in the system
//   folder (SystemLibraryExA).
#include <windows.h>

#include <cstddef>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);

template <typename Fn>
Fn Kernel32Procedure(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");  // loaded, not loaded anew
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

// Priority 101: ahead of every other initialiser of the program.
__attribute__((constructor(101))) void RestrictDllSearch() {
  const auto setDefault = Kernel32Procedure<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) return;
  const auto setDirectory = Kernel32Procedure<SetDllDirectoryWFn>("SetDllDirectoryW");
  if (setDirectory != nullptr) (void)setDirectory(L"");
}

// IMAGE_LOAD_CONFIG_DIRECTORY, up to and including SecurityCookie: 64 bytes
// on x86, the size Windows XP requires there, and no safe exception handler
// table (the program has none to give).  Every field but the size and
// DependentLoadFlags (called Reserved1 in MinGW's winnt.h) is 0, which
// changes nothing for any Windows.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfiguration() {
  IMAGE_LOAD_CONFIG_DIRECTORY configuration = {};
  configuration.Size = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SEHandlerTable);
  configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return configuration;
}

}  // namespace

extern "C" {

// The linker points the image's load configuration entry at this name.
extern const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used;
__attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used =
    LoadConfiguration();

}  // extern "C"

HMODULE WINAPI SystemLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  // A name with a folder in it, or a drive, is not a system DLL's.
  for (LPCSTR c = name; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || *c == ':') {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
  }
  WCHAR path[MAX_PATH];
  const UINT folder = GetSystemDirectoryW(path, MAX_PATH);
  if (folder == 0 || folder >= MAX_PATH - 1) return nullptr;
  path[folder] = L'\\';
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, path + folder + 1,
                          static_cast<int>(MAX_PATH - folder - 1)) == 0)
    return nullptr;
  return LoadLibraryExW(path, file, flags);
}
