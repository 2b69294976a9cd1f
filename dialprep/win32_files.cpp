#include "win32_files.h"

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

  const DWORD attributes = GetFileAttributesW(to);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
    (void)SetFileAttributesW(to, attributes & ~FILE_ATTRIBUTE_READONLY);
  // The name itself, not what a link there points to; nobody else has it
  // open while it is written.
  HANDLE out = CreateFileW(to, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool done = out != INVALID_HANDLE_VALUE && IsPlainFile(out) &&
              SetFilePointer(out, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(out);
  static BYTE buffer[kChunk];
  for (DWORD got = kChunk; done && got == kChunk;)
    done = ReadFull(in, buffer, kChunk, &got) && WriteFull(out, buffer, got);
  if (out != INVALID_HANDLE_VALUE && !CloseHandle(out)) done = false;
  CloseHandle(in);
  return done;
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
