// MultiByteToWideChar, WideCharToMultiByte and CharNextA for an ANSI code
// page that is UTF-8.
#include "platform.h"
#include "unicode.h"

namespace {
DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() { return lastError; }

void SetPortableLastError(DWORD error) { lastError = error; }

int WINAPI MultiByteToWideChar(UINT, DWORD dwFlags, LPCSTR lpMultiByteStr,
                               int cbMultiByte, LPWSTR lpWideCharStr,
                               int cchWideChar) {
  // The tool converts whole terminated texts only.
  if (lpMultiByteStr == nullptr || cbMultiByte != -1 || lpWideCharStr == nullptr ||
      cchWideChar <= 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  // Without the flag, bytes that are not UTF-8 travel as U+DC80..U+DCFF.
  if ((dwFlags & MB_ERR_INVALID_CHARS) != 0 && !portable::IsValidUtf8(lpMultiByteStr)) {
    lastError = ERROR_NO_UNICODE_TRANSLATION;
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

int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               BOOL* lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
  // -1: the text and its terminator.
  std::size_t count = 0;
  if (cchWideChar == -1) {
    while (lpWideCharStr[count] != 0) ++count;
    ++count;
  } else {
    count = static_cast<std::size_t>(cchWideChar);
  }
  const char defaultChar = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
  std::size_t used = 0;
  for (std::size_t i = 0; i < count;) {
    const char16_t unit = lpWideCharStr[i];
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count &&
                      lpWideCharStr[i + 1] >= 0xDC00 && lpWideCharStr[i + 1] <= 0xDFFF;
    const std::size_t units = pair ? 2 : 1;
    char bytes[5];
    std::size_t n = 1;
    if (unit == 0) {
      bytes[0] = '\0';  // inside the count, a NUL is a character like any other
    } else if (!pair && unit >= 0xD800 && unit <= 0xDFFF) {
      bytes[0] = defaultChar;
      if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = TRUE;
    } else {
      n = portable::Utf16ToUtf8(lpWideCharStr + i, units, bytes, sizeof bytes,
                                portable::Invalid::Replace);
    }
    if (cbMultiByte > 0) {
      if (used + n > static_cast<std::size_t>(cbMultiByte)) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
      }
      for (std::size_t b = 0; b < n; ++b) lpMultiByteStr[used + b] = bytes[b];
    }
    used += n;
    i += units;
  }
  return static_cast<int>(used);
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  return const_cast<LPSTR>(lpsz + portable::Utf8SequenceLength(lpsz));
}
