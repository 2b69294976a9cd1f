// The query report: every field of LinkRecord, and the hotkey in words.
#pragma once

#include <cstdint>

// Size of the hotkey text buffer; the longest text is 39 characters.
inline constexpr int kHotKeyTextSize = 200;

// Prints the report of LinkRecord: a [FileName] header and Key=Value lines.
void ShellLinkReport();

// Writes the readable form of a hotkey word into text, e.g. "Ctrl+Shift+N",
// "None" or "Invalid".
void HotKeyText(uint16_t hotKey, char (&text)[kHotKeyTextSize]);
