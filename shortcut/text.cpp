#include "text.h"

#include "platform.h"

namespace {

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
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
