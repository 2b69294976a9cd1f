// Closes dialprep's window as a user would, well before its timer ticks,
// and tells whether the program then ended at once.  Exit code 0: it
// ended within a second of the close; 1: no window within 10 s; 2: the
// program went on.
#include <windows.h>

int main() {
  HWND form = nullptr;
  for (int i = 0; i < 200 && form == nullptr; ++i) {
    form = FindWindowA("frm_Main", "dialprep");
    if (form == nullptr) Sleep(50);
  }
  if (form == nullptr) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(form, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  PostMessageA(form, WM_CLOSE, 0, 0);
  DWORD waited = process != nullptr ? WaitForSingleObject(process, 1000) : WAIT_FAILED;
  return waited == WAIT_OBJECT_0 ? 0 : 2;
}
