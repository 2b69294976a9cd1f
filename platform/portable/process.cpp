#include <cstdio>
#include <cstdlib>

#include "platform.h"

void WINAPI ExitProcess(UINT uExitCode) {
  std::fflush(stdout);
  // Only the low 8 bits reach the parent; never let a failure read as 0.
  int status = static_cast<int>(uExitCode & 0xFF);
  if (uExitCode != 0 && status == 0) status = 255;
  std::exit(status);
}

BOOL WINAPI CheckCommandLineA() { return TRUE; }
