#include "query_report.h"

#include <cstring>

#include "link_store.h"
#include "platform.h"
#include "print.h"

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

  Print("\n[%s]", r.FileName);
  Print("\nTargetPath=%s", r.TargetPath);
  Print("\nTargetPathExpanded=%s", r.TargetPathExpanded);
  Print("\nArguments=%s", r.Arguments);
  Print("\nArgumentsExpanded=%s", r.ArgumentsExpanded);
  Print("\nWorkingDirectory=%s", r.WorkingDirectory);
  Print("\nWorkingDirectoryExpanded=%s", r.WorkingDirectoryExpanded);
  Print("\nRunStyle=%i", static_cast<int>(r.RunStyle));
  Print("\nIconLocation=%s,%i", r.IconLocation, static_cast<int>(r.IconIndex));
  Print("\nIconLocationExpanded=%s,%i", r.IconLocationExpanded,
        static_cast<int>(r.IconIndex));
  Print("\nHotKey=%i (%s)", static_cast<int>(r.HotKey), hotKeyText);
  Print("\nDescription=%s", r.Description);
  Print("\n");
}
