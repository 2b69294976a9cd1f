#include <cstdio>

#include "platform.h"
#include "run_driver.h"

int main(int argc, char* argv[]) {
  const int exitCode = ShortcutMain(argc, argv);
  std::fflush(stdout);
  ExitProcess(static_cast<UINT>(exitCode));
}
