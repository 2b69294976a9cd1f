// The ANSI code page of link files: Windows-1252 from the table in
// unicode.cpp, any other through the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "unicode.h"

namespace portable {
namespace {

constexpr unsigned kDefaultCodePage = 1252;

// The converters of a code page other than 1252; none while it is 1252.
iconv_t toUtf8 = reinterpret_cast<iconv_t>(-1);
iconv_t fromUtf16 = reinterpret_cast<iconv_t>(-1);

bool IsOpen(iconv_t handle) { return handle != reinterpret_cast<iconv_t>(-1); }

// Writes out what the converter holds back.  Those of code pages with
// combining marks (1255, 1258) keep each character until they see that no
// mark follows it: unflushed, a text would lose its last character.
bool Flush(iconv_t handle, char** out, std::size_t* outLeft) {
  return iconv(handle, nullptr, nullptr, out, outLeft) != static_cast<std::size_t>(-1);
}

void CloseConverters() {
  if (IsOpen(toUtf8)) iconv_close(toUtf8);
  if (IsOpen(fromUtf16)) iconv_close(fromUtf16);
  toUtf8 = fromUtf16 = reinterpret_cast<iconv_t>(-1);
}

// The code page number of the setting, 0 when it is not a number.
unsigned ParseCodePage(const char* text) {
  unsigned value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || value > 99999) return 0;
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  return value;
}

// The iconv name of a Windows code page.
void IconvName(unsigned codePage, char (&name)[16]) {
  if (codePage == 65001)
    std::snprintf(name, sizeof name, "UTF-8");
  else
    std::snprintf(name, sizeof name, "CP%u", codePage);
}

}  // namespace

bool SelectAnsiCodePage() {
  CloseConverters();
  const char* setting = std::getenv("SHORTCUT_CODEPAGE");
  if (setting == nullptr || setting[0] == '\0') return true;
  const unsigned codePage = ParseCodePage(setting);
  if (codePage == 0) return false;
  if (codePage == kDefaultCodePage) return true;
  char name[16];
  IconvName(codePage, name);
  toUtf8 = iconv_open("UTF-8", name);
  fromUtf16 = iconv_open(name, "UTF-16LE");
  if (IsOpen(toUtf8) && IsOpen(fromUtf16)) return true;
  CloseConverters();
  return false;
}

std::size_t AnsiToUtf8(const uint8_t* src, std::size_t count, char* dst,
                       std::size_t capacity, bool* cut) {
  if (!IsOpen(toUtf8)) return Cp1252ToUtf8(src, count, dst, capacity, cut);
  if (cut != nullptr) *cut = false;
  if (capacity == 0) return 0;
  std::size_t length = 0;
  while (length < count && src[length] != 0) ++length;

  iconv(toUtf8, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(src));
  std::size_t inLeft = length;
  char* out = dst;
  std::size_t outLeft = capacity - 1;
  bool whole = true;
  while (inLeft > 0) {
    if (iconv(toUtf8, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1))
      break;
    if (errno == E2BIG) {
      whole = false;
      break;
    }
    // A byte the code page does not define, or a lead byte at the end.  What
    // came before it goes out first.
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    if (!Flush(toUtf8, &out, &outLeft) || outLeft < 3) {
      whole = false;
      break;
    }
    std::memcpy(out, kReplacement, 3);
    out += 3;
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  if (whole && !Flush(toUtf8, &out, &outLeft)) whole = false;
  if (cut != nullptr) *cut = !whole;
  *out = '\0';
  return static_cast<std::size_t>(out - dst);
}

std::size_t Utf16ToAnsi(const char16_t* src, std::size_t count, uint8_t* dst,
                        std::size_t capacity, bool* exact) {
  if (exact != nullptr) *exact = true;
  std::size_t used = 0;
  if (!IsOpen(fromUtf16)) {
    for (std::size_t i = 0; i < count && used < capacity; ++i) {
      const uint8_t byte = Utf16ToCp1252(src[i]);
      if (byte == '?' && src[i] != u'?' && exact != nullptr) *exact = false;
      dst[used++] = byte;
    }
    return used;
  }
  iconv(fromUtf16, nullptr, nullptr, nullptr, nullptr);
  for (std::size_t i = 0; i < count;) {
    // One character at a time: a surrogate pair is one.
    const std::size_t units =
        (src[i] >= 0xD800 && src[i] <= 0xDBFF && i + 1 < count &&
         src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) ? 2 : 1;
    uint8_t le[4];
    for (std::size_t u = 0; u < units; ++u) {
      le[2 * u] = static_cast<uint8_t>(src[i + u]);
      le[2 * u + 1] = static_cast<uint8_t>(src[i + u] >> 8);
    }
    char converted[16];
    char* in = reinterpret_cast<char*>(le);
    std::size_t inLeft = 2 * units;
    char* out = converted;
    std::size_t outLeft = sizeof converted;
    std::size_t n;
    if (iconv(fromUtf16, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
        !Flush(fromUtf16, &out, &outLeft)) {
      iconv(fromUtf16, nullptr, nullptr, nullptr, nullptr);
      converted[0] = '?';
      n = 1;
      if (exact != nullptr) *exact = false;
    } else {
      n = static_cast<std::size_t>(out - converted);
    }
    if (used + n > capacity) break;
    std::memcpy(dst + used, converted, n);
    used += n;
    i += units;
  }
  return used;
}

}  // namespace portable
