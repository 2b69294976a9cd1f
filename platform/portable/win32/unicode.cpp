#include "unicode.h"

namespace portable {
namespace {

// Windows-1252 0x80..0x9F; 0 where the code page leaves a hole (those bytes
// map to the C1 control of the same number, as Windows does).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence; returns its length, or 0 when the bytes at
// text start no valid sequence (overlong forms and surrogates included).
std::size_t DecodeUtf8(const unsigned char* s, char32_t* cp) {
  const unsigned char b0 = s[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t n;
  char32_t value;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, value = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminator
    value = (value << 6) | (s[i] & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *cp = value;
  return n;
}

std::size_t EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

// Appends one character to dst if it fits in capacity - 1 bytes.
bool Append(char32_t cp, char* dst, std::size_t capacity, std::size_t* used) {
  char bytes[4];
  std::size_t n = EncodeUtf8(cp, bytes);
  if (*used + n > capacity - 1) return false;
  for (std::size_t i = 0; i < n; ++i) dst[(*used)++] = bytes[i];
  return true;
}

// Reads one code point from UTF-16 units; returns how many units it took.
std::size_t DecodeUtf16(char16_t first, char16_t second, bool haveSecond,
                        char32_t* cp) {
  if (first >= 0xD800 && first <= 0xDBFF && haveSecond && second >= 0xDC00 &&
      second <= 0xDFFF) {
    *cp = 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) +
          (static_cast<char32_t>(second) - 0xDC00);
    return 2;
  }
  *cp = first;
  return 1;
}

template <typename UnitAt>
std::size_t Utf16UnitsToUtf8(UnitAt unitAt, std::size_t count, char* dst,
                             std::size_t capacity, Invalid invalid, bool* cut) {
  if (cut != nullptr) *cut = false;
  if (capacity == 0) return 0;
  std::size_t used = 0;
  std::size_t i = 0;
  while (i < count) {
    const char16_t first = unitAt(i);
    if (first == 0) break;
    const bool haveSecond = i + 1 < count;
    char32_t cp;
    i += DecodeUtf16(first, haveSecond ? unitAt(i + 1) : 0, haveSecond, &cp);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (invalid == Invalid::EscapeBytes && cp >= 0xDC80 && cp <= 0xDCFF) {
        if (used + 1 > capacity - 1) {
          if (cut != nullptr) *cut = true;
          break;
        }
        dst[used++] = static_cast<char>(cp - 0xDC00);
        continue;
      }
      cp = kReplacement;
    }
    if (!Append(cp, dst, capacity, &used)) {
      if (cut != nullptr) *cut = true;
      break;
    }
  }
  dst[used] = '\0';
  return used;
}

}  // namespace

std::size_t Utf8SequenceLength(const char* text) {
  if (*text == '\0') return 0;
  char32_t cp;
  std::size_t n = DecodeUtf8(reinterpret_cast<const unsigned char*>(text), &cp);
  return n == 0 ? 1 : n;
}

bool IsValidUtf8(const char* text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  while (*s != 0) {
    char32_t cp;
    std::size_t n = DecodeUtf8(s, &cp);
    if (n == 0) return false;
    s += n;
  }
  return true;
}

long Utf8ToUtf16(const char* src, char16_t* dst, std::size_t capacity,
                 Invalid invalid) {
  if (capacity == 0) return -1;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  std::size_t used = 0;
  while (*s != 0) {
    char32_t cp;
    std::size_t n = DecodeUtf8(s, &cp);
    if (n == 0) {
      cp = invalid == Invalid::EscapeBytes ? 0xDC00 + *s : kReplacement;
      n = 1;
    }
    const std::size_t units = cp >= 0x10000 ? 2 : 1;
    if (used + units > capacity - 1) {
      dst[0] = 0;
      return -1;
    }
    if (units == 2) {
      dst[used++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      dst[used++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      dst[used++] = static_cast<char16_t>(cp);
    }
    s += n;
  }
  dst[used] = 0;
  return static_cast<long>(used);
}

std::size_t Utf16ToUtf8(const char16_t* src, std::size_t count, char* dst,
                        std::size_t capacity, Invalid invalid, bool* cut) {
  return Utf16UnitsToUtf8([src](std::size_t i) { return src[i]; }, count, dst,
                          capacity, invalid, cut);
}

std::size_t Utf16LEToUtf8(const uint8_t* src, std::size_t units, char* dst,
                          std::size_t capacity, bool* cut) {
  return Utf16UnitsToUtf8(
      [src](std::size_t i) {
        return static_cast<char16_t>(src[2 * i] | (src[2 * i + 1] << 8));
      },
      units, dst, capacity, Invalid::Replace, cut);
}

std::size_t Cp1252ToUtf8(const uint8_t* src, std::size_t count, char* dst,
                         std::size_t capacity, bool* cut) {
  if (cut != nullptr) *cut = false;
  if (capacity == 0) return 0;
  std::size_t used = 0;
  for (std::size_t i = 0; i < count && src[i] != 0; ++i) {
    char32_t cp = src[i];
    if (cp >= 0x80 && cp <= 0x9F && kCp1252High[cp - 0x80] != 0)
      cp = kCp1252High[cp - 0x80];
    if (!Append(cp, dst, capacity, &used)) {
      if (cut != nullptr) *cut = true;
      break;
    }
  }
  dst[used] = '\0';
  return used;
}

uint8_t Utf16ToCp1252(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<uint8_t>(unit);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == unit && unit != 0) return static_cast<uint8_t>(0x80 + i);
  if (unit >= 0x80 && unit <= 0x9F && kCp1252High[unit - 0x80] == 0)
    return static_cast<uint8_t>(unit);
  return '?';
}

}  // namespace portable
