// Text helpers over NUL-terminated texts in fixed buffers.
//
// Texts are in the ANSI code page.  Searches walk characters with CharNextA,
// so that the trail byte of a double-byte character is never taken for a
// backslash or a comma.  Case is folded for A-Z only: every text the tool
// compares without regard to case is an ASCII switch or help word, and a
// lead or trail byte is never an ASCII letter's match.
#pragma once

#include <cstddef>
#include <span>

#include "platform.h"

// The size of every text buffer of the tool: 260 bytes of text and a NUL.
inline constexpr std::size_t kTextSize = 261;

// Copies src into dst, cut to fit at a character boundary, always
// terminated.  Returns false when src had to be cut.
bool CopyText(std::span<char> dst, const char* src);

// The ANSI form of a UTF-16 text, as many whole characters as fit in dst,
// terminated: each character the code page holds as itself, any other as
// '?', never as a look-alike (best fit would make the Polish L with stroke
// an "L", the yen sign a backslash).  Returns the number of UTF-16 units it
// took (the whole text when it fitted); *exact, when given, tells whether
// every character it took was held.
std::size_t WideToText(const WCHAR* src, std::span<char> dst, bool* exact);

// Byte for byte, case-sensitive.
bool TextEquals(const char* a, const char* b);

// Equal without regard to the case of A-Z.
bool TextEqualsIgnoreCase(const char* a, const char* b);

// text begins with prefix, without regard to the case of A-Z.
bool TextStartsWithIgnoreCase(const char* text, const char* prefix);

// The last occurrence of the ASCII character c in text, walking characters;
// nullptr when there is none.
const char* FindLastChar(const char* text, char c);
char* FindLastChar(char* text, char c);
