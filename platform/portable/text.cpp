// MultiByteToWideChar and CharNextA for an ANSI code page that is UTF-8.
#include "platform.h"
#include "unicode.h"

namespace {
DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() { return lastError; }

void SetPortableLastError(DWORD error) { lastError = error; }

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr,
                               int cbMultiByte, LPWSTR lpWideCharStr,
                               int cchWideChar) {
  // The tool converts whole terminated texts only.
  if (lpMultiByteStr == nullptr || cbMultiByte != -1 || lpWideCharStr == nullptr ||
      cchWideChar <= 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  long n = portable::Utf8ToUtf16(lpMultiByteStr, lpWideCharStr,
                                 static_cast<std::size_t>(cchWideChar),
                                 portable::Invalid::EscapeBytes);
  if (n < 0) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  return static_cast<int>(n + 1);
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  return const_cast<LPSTR>(lpsz + portable::Utf8SequenceLength(lpsz));
}
