// A stand-in for shortcut.exe that is still running when dialprep's timer
// ticks: it waits ten seconds and does nothing else.
#include <windows.h>

int main() {
  Sleep(10000);
  return 0;
}
