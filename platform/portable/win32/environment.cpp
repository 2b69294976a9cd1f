// ExpandEnvironmentStringsA and ExpandEnvironmentStringsW over the process
// environment.
//
// %NAME% is replaced by the variable's value, the name matched without
// regard to ASCII case as Windows does.  An unknown name is left as it
// stands, both percent signs included, and scanning goes on after it; a
// lone percent sign is copied.  The result counts the bytes the whole
// expansion needs, terminator included: when that is more than nSize the
// buffer holds as much as fitted and the caller must not use it.  The wide
// form counts UTF-16 units, takes the text between the references unit for
// unit, and the values, which are UTF-8, as UTF-16.
#include <cstring>

#include "internal.h"
#include "platform.h"
#include "unicode.h"

extern char** environ;

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The value of the variable whose name is name[0..length), or nullptr.
const char* FindVariable(const char* name, std::size_t length) {
  if (length == 0) return nullptr;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* e = *entry;
    std::size_t i = 0;
    while (i < length && e[i] != '\0' && e[i] != '=' && Fold(e[i]) == Fold(name[i]))
      ++i;
    if (i == length && e[i] == '=') return e + i + 1;
  }
  return nullptr;
}

template <typename Char>
struct Output {
  Char* Buffer;
  DWORD Size;
  DWORD Needed = 0;  // without the terminator

  void Put(const Char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, ++Needed)
      if (Needed + 1 < Size) Buffer[Needed] = text[i];
  }
  DWORD End() {
    if (Size != 0) Buffer[Needed < Size ? Needed : Size - 1] = 0;
    return Needed + 1;
  }
};

// A UTF-8 value in UTF-16, one character at a time; bytes that are not
// UTF-8 travel as U+DC80..U+DCFF, as in a file name.
void PutUtf8(Output<WCHAR>& out, const char* value) {
  while (*value != '\0') {
    const std::size_t n = portable::Utf8SequenceLength(value);
    char one[5] = {};
    std::memcpy(one, value, n);
    WCHAR units[3];
    const long count = portable::Utf8ToUtf16(one, units, 3, portable::Invalid::EscapeBytes);
    out.Put(units, count > 0 ? static_cast<std::size_t>(count) : 0);
    value += n;
  }
}

}  // namespace

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetPortableLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Output<char> out{lpDst, nSize};
  const char* p = lpSrc;
  while (*p != '\0') {
    if (*p != '%') {
      const char* run = p;
      while (*p != '\0' && *p != '%') ++p;
      out.Put(run, static_cast<std::size_t>(p - run));
      continue;
    }
    const char* close = std::strchr(p + 1, '%');
    if (close == nullptr) {
      out.Put(p, std::strlen(p));
      break;
    }
    const std::size_t nameLength = static_cast<std::size_t>(close - (p + 1));
    if (const char* value = FindVariable(p + 1, nameLength)) {
      out.Put(value, std::strlen(value));
    } else {
      out.Put(p, nameLength + 2);
    }
    p = close + 1;
  }
  return out.End();
}

DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetPortableLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Output<WCHAR> out{lpDst, nSize};
  const WCHAR* p = lpSrc;
  while (*p != 0) {
    const WCHAR* close = *p == u'%' ? p + 1 : nullptr;
    while (close != nullptr && *close != 0 && *close != u'%') ++close;
    if (close == nullptr || *close == 0) {
      // Text, or a percent sign that no other closes.
      out.Put(p, 1);
      ++p;
      continue;
    }
    const std::size_t nameUnits = static_cast<std::size_t>(close - (p + 1));
    char name[1024];
    bool cut = false;
    const std::size_t nameLength = portable::Utf16ToUtf8(
        p + 1, nameUnits, name, sizeof name, portable::Invalid::EscapeBytes, &cut);
    const char* value = cut ? nullptr : FindVariable(name, nameLength);
    if (value != nullptr)
      PutUtf8(out, value);
    else
      out.Put(p, nameUnits + 2);
    p = close + 1;
  }
  return out.End();
}
