#include "text.h"

#include "platform.h"

namespace {

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The most bytes one character takes in an ANSI code page (UTF-8 included).
constexpr int kCharBytes = 8;

bool IsHighSurrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One character (one UTF-16 unit, or a surrogate pair) in the ANSI code
// page; 0 when the code page does not hold it exactly.
int CharToAnsi(const WCHAR* c, int units, char (&bytes)[kCharBytes]) {
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, c, units, bytes, kCharBytes,
                              nullptr, &usedDefault);
  if (n <= 0)  // a code page that takes neither (UTF-8): its own check
    n = WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, c, units, bytes, kCharBytes, nullptr,
                            nullptr);
  return usedDefault ? 0 : n;
}

}  // namespace

bool CopyText(std::span<char> dst, const char* src) {
  if (dst.empty()) return false;
  std::size_t used = 0;
  const char* p = src;
  while (*p != '\0') {
    const char* next = CharNextA(p);
    std::size_t width = static_cast<std::size_t>(next - p);
    if (used + width > dst.size() - 1) {
      dst[used] = '\0';
      return false;
    }
    for (std::size_t i = 0; i < width; ++i) dst[used++] = p[i];
    p = next;
  }
  dst[used] = '\0';
  return true;
}

std::size_t WideToText(const WCHAR* src, std::span<char> dst, bool* exact) {
  if (exact != nullptr) *exact = true;
  if (dst.empty()) return 0;
  std::size_t used = 0;
  std::size_t i = 0;
  while (src[i] != 0) {
    const int units = IsHighSurrogate(src[i]) && IsLowSurrogate(src[i + 1]) ? 2 : 1;
    char bytes[kCharBytes];
    int n = 1;
    if (src[i] < 0x80)
      bytes[0] = static_cast<char>(src[i]);  // ASCII is itself in every ANSI code page
    else
      n = CharToAnsi(src + i, units, bytes);
    const bool held = n > 0;
    if (!held) {
      bytes[0] = '?';
      n = 1;
    }
    if (used + static_cast<std::size_t>(n) > dst.size() - 1) break;
    if (!held && exact != nullptr) *exact = false;
    for (int b = 0; b < n; ++b) dst[used++] = bytes[b];
    i += static_cast<std::size_t>(units);
  }
  dst[used] = '\0';
  return i;
}

bool TextEquals(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool TextEqualsIgnoreCase(const char* a, const char* b) {
  while (*a != '\0' && FoldAscii(*a) == FoldAscii(*b)) {
    ++a;
    ++b;
  }
  return FoldAscii(*a) == FoldAscii(*b);
}

bool TextStartsWithIgnoreCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*text == '\0' || FoldAscii(*text) != FoldAscii(*prefix)) return false;
  }
  return true;
}

const char* FindLastChar(const char* text, char c) {
  const char* found = nullptr;
  for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
    if (*p == c) found = p;
  }
  return found;
}

char* FindLastChar(char* text, char c) {
  return const_cast<char*>(FindLastChar(static_cast<const char*>(text), c));
}
