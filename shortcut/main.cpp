#include "platform.h"
#include "print.h"
#include "run_driver.h"

int main(int argc, char* argv[]) {
  int exitCode = ShortcutMain(argc, argv);
  // Output that was lost fails a run that would have succeeded; a run that
  // failed keeps its own number.
  const DWORD outputError = FinishOutput();
  if (exitCode == 0) exitCode = static_cast<int>(outputError);
  ExitProcess(static_cast<UINT>(exitCode));
}
