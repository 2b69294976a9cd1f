// MapVirtualKeyA and GetKeyNameTextA for a US keyboard layout.
//
// Two steps, as the layout tables of Windows work: a virtual-key code maps
// to the scan code of the key that produces it, and a scan code (extended
// bit clear) maps to the name of that key.  So a key that exists only as an
// extended key, such as Home, is named after its non-extended twin on the
// numeric keypad.  Character keys are named by the character they type;
// the other names are our own.
#include <cstring>

#include "platform.h"

namespace {

// Virtual-key code (index) to scan code; 0 where no key produces it.
constexpr BYTE kVirtualKeyToScan[128] = {
    // 0x00: mouse buttons and cancel have no key
    0x00, 0x00, 0x00, 0x46, 0x00, 0x00, 0x00, 0x00,
    // 0x08: back, tab, -, -, clear, return
    0x0E, 0x0F, 0x00, 0x00, 0x4C, 0x1C, 0x00, 0x00,
    // 0x10: shift, control, menu, pause, capital
    0x2A, 0x1D, 0x38, 0x45, 0x3A, 0x00, 0x00, 0x00,
    // 0x18: escape at 0x1B
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    // 0x20: space, prior, next, end, home, left, up, right
    0x39, 0x49, 0x51, 0x4F, 0x47, 0x4B, 0x48, 0x4D,
    // 0x28: down, select, print, execute, snapshot, insert, delete, help
    0x50, 0x00, 0x00, 0x00, 0x54, 0x52, 0x53, 0x63,
    // 0x30: '0' to '7'
    0x0B, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
    // 0x38: '8', '9'
    0x09, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    // 0x40: -, 'A' to 'G'
    0x00, 0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22,
    // 0x48: 'H' to 'O'
    0x23, 0x17, 0x24, 0x25, 0x26, 0x32, 0x31, 0x18,
    // 0x50: 'P' to 'W'
    0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11,
    // 0x58: 'X', 'Y', 'Z', left and right Windows keys, applications, -, sleep
    0x2D, 0x15, 0x2C, 0x5B, 0x5C, 0x5D, 0x00, 0x5F,
    // 0x60: numeric keypad 0 to 7
    0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47,
    // 0x68: keypad 8, 9, multiply, add, separator, subtract, decimal, divide
    0x48, 0x49, 0x37, 0x4E, 0x00, 0x4A, 0x53, 0x35,
    // 0x70: F1 to F8
    0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42,
    // 0x78: F9 to F16
    0x43, 0x44, 0x57, 0x58, 0x64, 0x65, 0x66, 0x67,
};

struct KeyName {
  BYTE ScanCode;
  const char* Name;
};

// Scan codes (extended bit clear) with a name.
constexpr KeyName kKeyNames[] = {
    {0x01, "Escape"},      {0x02, "1"},           {0x03, "2"},
    {0x04, "3"},           {0x05, "4"},           {0x06, "5"},
    {0x07, "6"},           {0x08, "7"},           {0x09, "8"},
    {0x0A, "9"},           {0x0B, "0"},           {0x0C, "-"},
    {0x0D, "="},           {0x0E, "Backspace"},   {0x0F, "Tab"},
    {0x10, "Q"},           {0x11, "W"},           {0x12, "E"},
    {0x13, "R"},           {0x14, "T"},           {0x15, "Y"},
    {0x16, "U"},           {0x17, "I"},           {0x18, "O"},
    {0x19, "P"},           {0x1A, "["},           {0x1B, "]"},
    {0x1C, "Enter"},       {0x1D, "Control"},     {0x1E, "A"},
    {0x1F, "S"},           {0x20, "D"},           {0x21, "F"},
    {0x22, "G"},           {0x23, "H"},           {0x24, "J"},
    {0x25, "K"},           {0x26, "L"},           {0x27, ";"},
    {0x28, "'"},           {0x29, "`"},           {0x2A, "Shift"},
    {0x2B, "\\"},          {0x2C, "Z"},           {0x2D, "X"},
    {0x2E, "C"},           {0x2F, "V"},           {0x30, "B"},
    {0x31, "N"},           {0x32, "M"},           {0x33, ","},
    {0x34, "."},           {0x35, "/"},           {0x36, "Right Shift"},
    {0x37, "Keypad *"},    {0x38, "Alt"},         {0x39, "Space"},
    {0x3A, "Caps Lock"},   {0x3B, "F1"},          {0x3C, "F2"},
    {0x3D, "F3"},          {0x3E, "F4"},          {0x3F, "F5"},
    {0x40, "F6"},          {0x41, "F7"},          {0x42, "F8"},
    {0x43, "F9"},          {0x44, "F10"},         {0x45, "Pause"},
    {0x46, "Scroll Lock"}, {0x47, "Keypad 7"},    {0x48, "Keypad 8"},
    {0x49, "Keypad 9"},    {0x4A, "Keypad -"},    {0x4B, "Keypad 4"},
    {0x4C, "Keypad 5"},    {0x4D, "Keypad 6"},    {0x4E, "Keypad +"},
    {0x4F, "Keypad 1"},    {0x50, "Keypad 2"},    {0x51, "Keypad 3"},
    {0x52, "Keypad 0"},    {0x53, "Keypad ."},    {0x54, "System Request"},
    {0x56, "\\"},          {0x57, "F11"},         {0x58, "F12"},
    {0x64, "F13"},         {0x65, "F14"},         {0x66, "F15"},
    {0x67, "F16"},
};

}  // namespace

UINT WINAPI MapVirtualKeyA(UINT uCode, UINT uMapType) {
  if (uMapType != MAPVK_VK_TO_VSC || uCode >= 128) return 0;
  return kVirtualKeyToScan[uCode];
}

int WINAPI GetKeyNameTextA(LONG lParam, LPSTR lpString, int cchSize) {
  if (lpString == nullptr || cchSize <= 0) return 0;
  const UINT scanCode = (static_cast<DWORD>(lParam) >> 16) & 0xFF;
  const bool extended = (static_cast<DWORD>(lParam) & (1u << 24)) != 0;
  if (extended || scanCode == 0) return 0;
  for (const KeyName& key : kKeyNames) {
    if (key.ScanCode != scanCode) continue;
    std::size_t n = std::strlen(key.Name);
    if (n > static_cast<std::size_t>(cchSize - 1)) n = static_cast<std::size_t>(cchSize - 1);
    std::memcpy(lpString, key.Name, n);
    lpString[n] = '\0';
    return static_cast<int>(n);
  }
  return 0;
}
