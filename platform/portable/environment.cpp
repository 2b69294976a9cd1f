// ExpandEnvironmentStringsA over the process environment.
//
// %NAME% is replaced by the variable's value, the name matched without
// regard to ASCII case as Windows does.  An unknown name is left as it
// stands, both percent signs included, and scanning goes on after it; a
// lone percent sign is copied.  The result counts the bytes the whole
// expansion needs, terminator included: when that is more than nSize the
// buffer holds as much as fitted and the caller must not use it.
#include <cstring>

#include "internal.h"
#include "platform.h"

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

struct Output {
  LPSTR Buffer;
  DWORD Size;
  DWORD Needed = 0;  // without the terminator

  void Put(const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i, ++Needed)
      if (Needed + 1 < Size) Buffer[Needed] = text[i];
  }
};

}  // namespace

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (lpSrc == nullptr || (lpDst == nullptr && nSize != 0)) {
    SetPortableLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Output out{lpDst, nSize};
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
  if (nSize != 0) lpDst[out.Needed < nSize ? out.Needed : nSize - 1] = '\0';
  return out.Needed + 1;
}
