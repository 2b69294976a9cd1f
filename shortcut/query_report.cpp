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

// A value as it goes into the report: on one line, CR and LF shown as '?',
// so that no value can start a line a reader would take for another key.
// Neither byte is ever part of a double-byte character.
class OneLine {
 public:
  explicit OneLine(const char* value) {
    CopyText(line_, value);
    for (char& c : line_)
      if (c == '\r' || c == '\n') c = '?';
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
