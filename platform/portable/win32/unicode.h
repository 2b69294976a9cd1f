// Conversions between the texts of these systems (UTF-8 bytes), UTF-16 and
// Windows-1252, over caller-owned fixed buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portable {

// How a conversion treats what it cannot represent.
enum class Invalid {
  // Invalid UTF-8 bytes become U+DC80..U+DCFF and back again, so that a
  // file name that is not UTF-8 survives the trip through UTF-16.
  EscapeBytes,
  // Invalid input becomes U+FFFD (to UTF-8) or '?' (to Windows-1252).
  Replace,
};

bool IsValidUtf8(const char* text);

// Length in bytes of the UTF-8 sequence that starts at text, 1 for a byte
// that starts no valid sequence, 0 at the terminator.
std::size_t Utf8SequenceLength(const char* text);

// Converts the NUL-terminated UTF-8 text into at most capacity - 1 UTF-16
// units and a terminator.  Returns the number of units written, without the
// terminator, or -1 when the text does not fit (dst then holds "").
long Utf8ToUtf16(const char* src, char16_t* dst, std::size_t capacity,
                 Invalid invalid);

// Converts count UTF-16 units (stopping early at a NUL) into UTF-8, cut at
// a character boundary to fit capacity - 1 bytes, and terminates it.
// Returns the number of bytes written; *cut tells whether anything was lost.
std::size_t Utf16ToUtf8(const char16_t* src, std::size_t count, char* dst,
                        std::size_t capacity, Invalid invalid,
                        bool* cut = nullptr);

// The same for little-endian UTF-16 bytes inside a file.
std::size_t Utf16LEToUtf8(const uint8_t* src, std::size_t units, char* dst,
                          std::size_t capacity, bool* cut = nullptr);

// Windows-1252 bytes (stopping early at a NUL) into UTF-8, cut to fit.
std::size_t Cp1252ToUtf8(const uint8_t* src, std::size_t count, char* dst,
                         std::size_t capacity, bool* cut = nullptr);

// One UTF-16 unit into Windows-1252; '?' where the code page has no
// character for it.
uint8_t Utf16ToCp1252(char16_t unit);

}  // namespace portable

namespace portable {

// ---------------------------------------------------------------- ANSI
// Link files keep some texts in the ANSI code page of the Windows that
// wrote them, and do not record which one it was.  The environment
// variable SHORTCUT_CODEPAGE names it by its Windows number (1251, 932,
// ...); unset or empty, it is 1252, Western European.

// Takes the code page from the environment.  Returns false, and keeps
// 1252, when the value names no code page this system can convert.
bool SelectAnsiCodePage();

// ANSI bytes (stopping early at a NUL) into UTF-8, cut at a character
// boundary to fit capacity - 1 bytes, terminated.  Bytes the code page
// does not define become U+FFFD.
std::size_t AnsiToUtf8(const uint8_t* src, std::size_t count, char* dst,
                       std::size_t capacity, bool* cut = nullptr);

// count UTF-16 units into ANSI bytes, unterminated, cut at a character
// boundary to fit capacity.  '?' stands for what the code page lacks, and
// *exact (when given) tells whether that ever happened.  Returns the
// number of bytes written.
std::size_t Utf16ToAnsi(const char16_t* src, std::size_t count, uint8_t* dst,
                        std::size_t capacity, bool* exact = nullptr);

}  // namespace portable
