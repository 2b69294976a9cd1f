#include "query_report.h"

#include <cstring>

#include "link_store.h"
#include "platform.h"
#include "print.h"
#include "text.h"

namespace {

struct Modifier {
  BYTE Flag;
  const char* Word;
};

// In the order they are written.
constexpr Modifier kModifiers[] = {
    {HOTKEYF_CONTROL, "Ctrl+"},
    {HOTKEYF_SHIFT, "Shift+"},
    {HOTKEYF_ALT, "Alt+"},
    {HOTKEYF_EXT, "Ext+"},
};

// GetKeyNameTextA is given room for 19 characters and the NUL.
constexpr int kKeyNameSize = 20;

// Characters a report line shows as '?': each could move a terminal's
// cursor, start a line for a reader that splits lines the Unicode way, or
// turn the direction of the text, so that a value could pass for another
// key or hide what it says.  The C0 controls but TAB; DEL and the C1
// controls; the line and paragraph separators; the bidirectional controls.
struct CodePointRange {
  uint32_t First;
  uint32_t Last;
};
constexpr CodePointRange kShownAsQuestionMark[] = {
    {0x0000, 0x0008}, {0x000A, 0x001F}, {0x007F, 0x009F}, {0x061C, 0x061C},
    {0x200E, 0x200F}, {0x2028, 0x202E}, {0x2066, 0x2069},
};

// The longest character of an ANSI code page, in bytes (UTF-8 included).
constexpr std::size_t kCharBytes = 8;

// The code point of the width bytes at c when they are one character of
// the code page; false for a byte that starts none.
bool OneCodePoint(const char* c, std::size_t width, uint32_t* codePoint) {
  char one[kCharBytes + 1] = {};
  if (width > kCharBytes) return false;
  std::memcpy(one, c, width);
  WCHAR wide[4];
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, one, -1, wide, 4);
  if (n == 2 && (wide[0] < 0xD800 || wide[0] > 0xDFFF)) {
    *codePoint = wide[0];
    return true;
  }
  if (n == 3 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 &&
      wide[1] <= 0xDFFF) {
    *codePoint = 0x10000 + ((static_cast<uint32_t>(wide[0]) - 0xD800) << 10) +
                 (static_cast<uint32_t>(wide[1]) - 0xDC00);
    return true;
  }
  return false;
}

// The character at p: its width in bytes, and whether it prints as itself
// (it is a character of the code page, and none of kShownAsQuestionMark).
// CharNextA gives the width; where that is no character, as in UTF-8 taken
// for the ANSI code page on Windows, whose CharNextA walks bytes, the
// shortest longer run that is one character.
std::size_t NextCharacter(const char* p, bool* printable) {
  // ASCII is itself in every ANSI code page, and a byte below 0x80 where a
  // character starts is one.
  const unsigned char first = static_cast<unsigned char>(*p);
  if (first < 0x80) {
    *printable = first == '\t' || (first >= 0x20 && first < 0x7F);
    return 1;
  }
  std::size_t width = static_cast<std::size_t>(CharNextA(p) - p);
  uint32_t codePoint = 0;
  bool whole = OneCodePoint(p, width, &codePoint);
  for (std::size_t longer = width + 1; !whole && longer <= 4 && p[longer - 1] != '\0'; ++longer)
    if (OneCodePoint(p, longer, &codePoint)) {
      whole = true;
      width = longer;
    }
  *printable = whole;
  for (const CodePointRange& range : kShownAsQuestionMark)
    if (codePoint >= range.First && codePoint <= range.Last) *printable = false;
  return width;
}

// A value as it goes into the report: on one line, every character of
// kShownAsQuestionMark, and every byte that starts no character, shown as
// one '?'.  The link keeps the value as it is.
class OneLine {
 public:
  explicit OneLine(const char* value) {
    std::size_t used = 0;
    for (const char* p = value; *p != '\0' && used < kTextSize - 1;) {
      bool printable = false;
      const std::size_t width = NextCharacter(p, &printable);
      if (!printable) {
        line_[used++] = '?';
      } else if (used + width <= kTextSize - 1) {
        std::memcpy(line_ + used, p, width);
        used += width;
      } else {
        break;
      }
      p += width;
    }
    line_[used] = '\0';
  }
  const char* c_str() const { return line_; }

 private:
  char line_[kTextSize];
};

}  // namespace

void HotKeyText(uint16_t hotKey, char (&text)[kHotKeyTextSize]) {
  std::memset(text, 0, sizeof text);
  const unsigned virtualKey = hotKey & 0xFFu;
  const unsigned flags = (hotKey >> 8) & 0xFFu;

  if (virtualKey == 0 || virtualKey >= 128) {
    std::strcpy(text, (virtualKey == 0 && flags == 0) ? "None" : "Invalid");
    return;
  }

  std::size_t used = 0;
  for (const Modifier& modifier : kModifiers) {
    if ((flags & modifier.Flag) == 0) continue;
    const std::size_t n = std::strlen(modifier.Word);
    std::memcpy(text + used, modifier.Word, n);
    used += n;
  }

  const UINT scanCode = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  (void)GetKeyNameTextA(static_cast<LONG>(scanCode << 16), text + used,
                        kKeyNameSize);
}

void ShellLinkReport() {
  const LINK_RECORD& r = LinkRecord;
  char hotKeyText[kHotKeyTextSize];
  HotKeyText(r.HotKey, hotKeyText);

  Print("\n[%s]", OneLine(r.FileName).c_str());
  Print("\nTargetPath=%s", OneLine(r.TargetPath).c_str());
  Print("\nTargetPathExpanded=%s", OneLine(r.TargetPathExpanded).c_str());
  Print("\nArguments=%s", OneLine(r.Arguments).c_str());
  Print("\nArgumentsExpanded=%s", OneLine(r.ArgumentsExpanded).c_str());
  Print("\nWorkingDirectory=%s", OneLine(r.WorkingDirectory).c_str());
  Print("\nWorkingDirectoryExpanded=%s", OneLine(r.WorkingDirectoryExpanded).c_str());
  Print("\nRunStyle=%i", static_cast<int>(r.RunStyle));
  Print("\nIconLocation=%s,%i", OneLine(r.IconLocation).c_str(), static_cast<int>(r.IconIndex));
  Print("\nIconLocationExpanded=%s,%i", OneLine(r.IconLocationExpanded).c_str(),
        static_cast<int>(r.IconIndex));
  Print("\nHotKey=%i (%s)", static_cast<int>(r.HotKey), hotKeyText);
  Print("\nDescription=%s", OneLine(r.Description).c_str());
  Print("\n");
}
