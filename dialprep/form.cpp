// dialprep on Windows: the form frm_Main with its timer Timer1, over the
// Win32 API.  The setup run itself is in setup_run.cpp.
//
// Timer1 is a thread timer, not a window's: the program ends 2000 ms after
// its load event also where no window can be made.
#include <windows.h>
#include <shlobj.h>

#include "setup_run.h"

namespace {

constexpr char kFormClass[] = "frm_Main";
constexpr char kCaption[] = "dialprep";
constexpr int kClientWidth = 312;   // 4680 twips
constexpr int kClientHeight = 206;  // 3090 twips

// The WOW64 pair of kernel32, looked up at run time: a system without them
// (32-bit Windows XP) still starts the program, and runs as it always did.
using Wow64DisableFn = BOOL(WINAPI*)(PVOID*);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID);

template <typename Fn>
Fn Kernel32Procedure(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  // Through void(*)() so that the compiler takes the cast as meant.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

class Win32Runtime final : public dialprep::Runtime {
 public:
  bool CurrentDirectory(char* buffer, std::size_t size) override {
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
    return n != 0 && n < size;
  }
  bool FileCopy(const char* source, const char* destination) override {
    return CopyFileA(source, destination, FALSE) != 0;
  }
  bool FileRedirectionOff() override {
    auto disable = Kernel32Procedure<Wow64DisableFn>("Wow64DisableWow64FsRedirection");
    return disable != nullptr && disable(&redirection_) != FALSE;
  }
  void FileRedirectionOn() override {
    auto revert = Kernel32Procedure<Wow64RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert != nullptr) (void)revert(redirection_);
  }
  bool FolderExists(const char* path) override {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  bool CommonDesktopFolder(char* buffer, std::size_t size) override {
    char folder[MAX_PATH] = {};
    // S_OK only: S_FALSE says the folder does not exist.
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT,
                         folder) != S_OK)
      return false;
    if (lstrlenA(folder) + 1 > static_cast<int>(size)) return false;
    lstrcpynA(buffer, folder, static_cast<int>(size));
    return true;
  }
  int32_t UserDefaultLocale() override { return static_cast<int32_t>(::GetUserDefaultLCID()); }
  int LocaleInfo(int32_t locale, int32_t type, char* buffer, int size) override {
    return ::GetLocaleInfoA(static_cast<LCID>(locale), static_cast<LCTYPE>(type), buffer, size);
  }
  bool StartProgram(const char* commandLine, int windowStyle) override {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process = {};
    char line[1024];
    lstrcpynA(line, commandLine, sizeof line);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
  bool FileDelete(const char* path) override { return DeleteFileA(path) != 0; }
  void SetTimerInterval(int milliseconds) override {
    interval_ = static_cast<UINT>(milliseconds);
    if (timer_ != 0) Arm();
  }
  void EnableTimer(bool enabled) override {
    if (enabled) {
      Arm();
    } else if (timer_ != 0) {
      KillTimer(nullptr, timer_);
      timer_ = 0;
    }
  }
  void EndProgram() override { ExitProcess(0); }

 private:
  void Arm();
  PVOID redirection_ = nullptr;
  UINT interval_ = 0;
  UINT_PTR timer_ = 0;
};

Win32Runtime runtime;

void CALLBACK Timer1Tick(HWND, UINT, UINT_PTR, DWORD) { dialprep::TimerTick(runtime); }

void Win32Runtime::Arm() {
  if (timer_ != 0) KillTimer(nullptr, timer_);
  timer_ = SetTimer(nullptr, 0, interval_, Timer1Tick);
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Closing the form before the tick ends the program as the tick does.
      dialprep::TimerTick(runtime);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND CreateForm(HINSTANCE instance) {
  WNDCLASSA formClass = {};
  formClass.lpfnWndProc = FormProc;
  formClass.hInstance = instance;
  formClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  formClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  formClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  formClass.lpszClassName = kFormClass;
  if (RegisterClassA(&formClass) == 0) return nullptr;
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRect(&frame, style, FALSE);
  return CreateWindowA(kFormClass, kCaption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                       frame.right - frame.left, frame.bottom - frame.top, nullptr,
                       nullptr, instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  HWND form = CreateForm(instance);  // may fail where there is no display
  dialprep::SetupRun(runtime);       // the load event
  if (form != nullptr) ShowWindow(form, showCommand);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
