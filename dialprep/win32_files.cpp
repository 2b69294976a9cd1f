#include "win32_files.h"

#include <cwchar>

namespace dialprep {
namespace {

// The piece of a file read or written at once.
constexpr DWORD kChunk = 16 * 1024;

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(file, &info) != FALSE &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Reads up to size bytes, fewer only at the end of the file.
bool ReadFull(HANDLE file, BYTE* buffer, DWORD size, DWORD* got) {
  *got = 0;
  while (*got < size) {
    DWORD n = 0;
    if (!ReadFile(file, buffer + *got, size - *got, &n, nullptr)) return false;
    if (n == 0) break;
    *got += n;
  }
  return true;
}

bool WriteFull(HANDLE file, const BYTE* buffer, DWORD size) {
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(file, buffer, size, &n, nullptr) || n == 0) return false;
    buffer += n;
    size -= n;
  }
  return true;
}

// Opens a file to read that nobody may write, rename or delete meanwhile.
HANDLE OpenShared(const WCHAR* name, DWORD flags) {
  return CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
}

bool SameBytes(HANDLE a, HANDLE b) {
  static BYTE bufferA[kChunk], bufferB[kChunk];
  for (;;) {
    DWORD gotA = 0, gotB = 0;
    if (!ReadFull(a, bufferA, kChunk, &gotA) || !ReadFull(b, bufferB, kChunk, &gotB) ||
        gotA != gotB)
      return false;
    for (DWORD i = 0; i < gotA; ++i)
      if (bufferA[i] != bufferB[i]) return false;
    if (gotA < kChunk) return true;
  }
}

// ntdll's NtSetInformationFile, which sets a file's attributes and marks it
// for deletion through a handle on every Windows NT (the kernel32 call for
// that, SetFileInformationByHandle, came with Vista).  The structures are
// the WDK's IO_STATUS_BLOCK, FILE_BASIC_INFORMATION and
// FILE_DISPOSITION_INFORMATION.
struct IoStatusBlock {
  union {
    LONG Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
struct FileBasicInformation {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;  // 0: unchanged
  ULONG FileAttributes;                                                   // 0: unchanged
};
struct FileDispositionInformation {
  BOOLEAN DeleteFile;
};
constexpr int kFileBasicInformation = 4;
constexpr int kFileDispositionInformation = 13;
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, IoStatusBlock*, PVOID, ULONG, int);

bool SetInformation(HANDLE file, void* information, ULONG size, int informationClass) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto set = ntdll == nullptr ? nullptr
                                    : reinterpret_cast<NtSetInformationFileFn>(
                                          reinterpret_cast<void (*)()>(
                                              GetProcAddress(ntdll, "NtSetInformationFile")));
  IoStatusBlock status = {};
  return set != nullptr && set(file, &status, information, size, informationClass) >= 0;
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FileBasicInformation basic = {};
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetInformation(file, &basic, sizeof basic, kFileBasicInformation);
}

// Whether the open file is the one its name names itself, as the system
// sees it.  Wine shows a Unix symbolic link to a file as that file, with no
// reparse point, and removing it through a handle removes the file it
// points to; only the final path of the handle tells them apart there.
// GetFinalPathNameByHandleW came with Vista: before it there are no
// symbolic links to files either.
bool NamesItself(HANDLE file, const WCHAR* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  const auto finalPath = kernel32 == nullptr
                             ? nullptr
                             : reinterpret_cast<FinalPathFn>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(kernel32, "GetFinalPathNameByHandleW")));
  if (finalPath == nullptr) return true;
  WCHAR full[kWidePathSize], named[kWidePathSize], opened[kWidePathSize];
  DWORD n = GetFullPathNameW(name, kWidePathSize, full, nullptr);
  if (n == 0 || n >= kWidePathSize) return false;
  n = GetLongPathNameW(full, named, kWidePathSize);  // no 8.3 names, as in the final path
  if (n == 0 || n >= kWidePathSize) return false;
  n = finalPath(file, opened, kWidePathSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= kWidePathSize) return false;
  const WCHAR* path = opened;
  if (wcsncmp(path, L"\\\\?\\", 4) == 0 && path[5] == L':') path += 4;  // \\?\C:\...
  return lstrcmpiW(path, named) == 0;
}

// Opens the name itself (a link there is not followed) with the access
// given, shared with everyone.
HANDLE OpenName(const WCHAR* name, DWORD access) {
  return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Frees the name for a new file.  What is there is opened as itself and
// removed through that handle: a folder, a symbolic link or a junction is
// refused and stays; a read-only file has the attribute cleared first.  A
// file with other names (hard links) loses only this one, and keeps its
// contents and its read-only attribute under the others.  True when the
// name is free.
//
// Windows gives FILE_WRITE_ATTRIBUTES to whoever may change a file's
// attributes, read-only or not.  Wine gives it only with Unix write
// access, which a read-only file (mode 0444) denies to its owner too, root
// aside, and it refuses a handle asking for that right alone as well.  So
// where the handle with it is refused, the name is opened once more without
// it, and the attributes are set through that same handle: Wine checks no
// right for that (its own SetFileAttributesW opens the name with none),
// while Windows, which does, refuses the change and so the copy.  Nothing
// is done by name alone: the one handle that is checked is the one that
// clears the attribute and deletes.
bool RemoveName(const WCHAR* name) {
  HANDLE file = OpenName(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    file = OpenName(name, DELETE | FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION info;
  bool removed = GetFileInformationByHandle(file, &info) != FALSE &&
                 (info.dwFileAttributes &
                  (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                 NamesItself(file, name);
  const bool readOnly = removed && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (readOnly) removed = SetAttributes(file, info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
  FileDispositionInformation disposition = {TRUE};
  removed = removed &&
            SetInformation(file, &disposition, sizeof disposition, kFileDispositionInformation);
  // The file stays where another name keeps it, or where it was not removed.
  if (readOnly && (!removed || info.nNumberOfLinks > 1))
    (void)SetAttributes(file, info.dwFileAttributes);
  CloseHandle(file);
  return removed;
}

}  // namespace

bool ToWide(const char* text, WCHAR (&wide)[kWidePathSize]) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, kWidePathSize) > 0;
}

bool ToUtf8(const WCHAR* wide, char* text, std::size_t size) {
  return WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, static_cast<int>(size), nullptr,
                             nullptr) > 0;
}

bool AnsiCodePageHolds(const char* text) {
  WCHAR wide[kWidePathSize];
  if (!ToWide(text, wide)) return false;
  char ansi[2 * kWidePathSize];
  BOOL usedDefault = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, nullptr,
                          &usedDefault) > 0)
    return usedDefault == FALSE;
  // A code page that takes neither the flag nor the question: UTF-8, which
  // holds every character.
  return GetACP() == CP_UTF8;
}

bool CopyOver(const char* source, const char* destination) {
  WCHAR from[kWidePathSize], to[kWidePathSize];
  if (!ToWide(source, from) || !ToWide(destination, to)) return false;
  HANDLE in = OpenShared(from, 0);
  if (in == INVALID_HANDLE_VALUE) return false;
  // A new file, made by this call: the name was free or has just been
  // freed, and anyone who takes it meanwhile makes the copy fail.  Nobody
  // else has it open while it is written.
  HANDLE out = RemoveName(to) ? CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr)
                              : INVALID_HANDLE_VALUE;
  bool done = out != INVALID_HANDLE_VALUE;
  static BYTE buffer[kChunk];
  for (DWORD got = kChunk; done && got == kChunk;)
    done = ReadFull(in, buffer, kChunk, &got) && WriteFull(out, buffer, got);
  if (out != INVALID_HANDLE_VALUE && !CloseHandle(out)) done = false;
  CloseHandle(in);
  return done;
}

bool RemoveFile(const char* path) {
  WCHAR wide[kWidePathSize];
  return ToWide(path, wide) && RemoveName(wide);
}

bool HeldProgram::Hold(const char* path, const char* original) {
  Release();
  WCHAR held[kWidePathSize], kit[kWidePathSize];
  if (!ToWide(path, held) || !ToWide(original, kit)) return false;
  file_ = OpenShared(held, FILE_FLAG_OPEN_REPARSE_POINT);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  HANDLE other = OpenShared(kit, 0);
  const bool same = IsPlainFile(file_) && other != INVALID_HANDLE_VALUE && SameBytes(file_, other);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
  if (!same) Release();
  return same;
}

void HeldProgram::Release() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

}  // namespace dialprep
