// The check of the ANSI command line against the UTF-16 one (platform.h).
#include "platform.h"

namespace {

// The longest command line a process can be given, in UTF-16 units with
// its terminating zero: a longer ANSI form converted back cannot match.
constexpr int kCommandLineUnits = 32768;
WCHAR ansiConvertedBack[kCommandLineUnits];

}  // namespace

BOOL WINAPI CheckCommandLineA() {
  const LPCWSTR given = GetCommandLineW();
  const int n = MultiByteToWideChar(CP_ACP, 0, GetCommandLineA(), -1, ansiConvertedBack,
                                    kCommandLineUnits);
  if (n == 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
  // n counts the terminating zero: both lines end at the same place or a
  // unit differs before either ends.
  bool same = n > 0;
  for (int i = 0; same && i < n; ++i) same = ansiConvertedBack[i] == given[i];
  if (same) return TRUE;
  SetLastError(ERROR_NO_UNICODE_TRANSLATION);
  return FALSE;
}
