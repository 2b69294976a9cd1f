// dialprep on Windows: the form frm_Main with its timer Timer1, over the
// Win32 API.  The setup run itself is in setup_run.cpp, the file operations
// in win32_files.cpp.
//
// Timer1 is a thread timer, not a window's: the program ends 2000 ms after
// its load event also where no window can be made.
#include <windows.h>
#include <shlobj.h>

#include "setup_run.h"
#include "win32_files.h"

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
    WCHAR wide[dialprep::kWidePathSize];
    const DWORD n = GetCurrentDirectoryW(dialprep::kWidePathSize, wide);
    return n != 0 && n < dialprep::kWidePathSize && dialprep::ToUtf8(wide, buffer, size);
  }
  bool FileCopy(const char* source, const char* destination) override {
    return dialprep::CopyOver(source, destination);
  }
  bool FileRedirectionOff() override {
    auto disable = Kernel32Procedure<Wow64DisableFn>("Wow64DisableWow64FsRedirection");
    return disable != nullptr && disable(&redirection_) != FALSE;
  }
  void FileRedirectionOn() override {
    auto revert = Kernel32Procedure<Wow64RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert != nullptr) (void)revert(redirection_);
  }
  bool PlainFolderExists(const char* path) override {
    WCHAR wide[dialprep::kWidePathSize];
    if (!dialprep::ToWide(path, wide)) return false;
    // The attributes of the name itself: a link there is not followed.
    const DWORD attributes = GetFileAttributesW(wide);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
  }
  bool CommonDesktopFolder(char* buffer, std::size_t size) override {
    WCHAR folder[MAX_PATH] = {};
    // S_FALSE: the shell names the folder, which does not exist.
    const HRESULT named = SHGetFolderPathW(nullptr, CSIDL_COMMON_DESKTOPDIRECTORY, nullptr,
                                           SHGFP_TYPE_CURRENT, folder);
    return (named == S_OK || named == S_FALSE) && folder[0] != L'\0' &&
           dialprep::ToUtf8(folder, buffer, size);
  }
  bool AnsiCodePageHolds(const char* text) override { return dialprep::AnsiCodePageHolds(text); }
  int32_t UserDefaultLocale() override { return static_cast<int32_t>(::GetUserDefaultLCID()); }
  int LocaleInfo(int32_t locale, int32_t type, char* buffer, int size) override {
    return ::GetLocaleInfoA(static_cast<LCID>(locale), static_cast<LCTYPE>(type), buffer, size);
  }
  bool HoldProgram(const char* path, const char* original) override {
    return program_.Hold(path, original);
  }
  void ReleaseProgram() override { program_.Release(); }
  bool StartProgram(const char* commandLine, int windowStyle) override {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process = {};
    WCHAR line[dialprep::kWidePathSize];  // CreateProcessW may write to it
    if (!dialprep::ToWide(commandLine, line) ||
        !CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
      return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
  bool FileDelete(const char* path) override { return dialprep::RemoveFile(path); }
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
  void EndProgram(int exitCode) override { ExitProcess(static_cast<UINT>(exitCode)); }

  // The exit code of the setup run, for the tick.
  int result = dialprep::kSetupDone;

 private:
  void Arm();
  dialprep::HeldProgram program_;
  PVOID redirection_ = nullptr;
  UINT interval_ = 0;
  UINT_PTR timer_ = 0;
};

Win32Runtime runtime;

void CALLBACK Timer1Tick(HWND, UINT, UINT_PTR, DWORD) {
  dialprep::TimerTick(runtime, runtime.result);
}

void Win32Runtime::Arm() {
  if (timer_ != 0) KillTimer(nullptr, timer_);
  timer_ = SetTimer(nullptr, 0, interval_, Timer1Tick);
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Closing the form before the tick ends the program as the tick does.
      dialprep::TimerTick(runtime, runtime.result);
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
  runtime.result = dialprep::SetupRun(runtime);  // the load event
  if (form != nullptr) ShowWindow(form, showCommand);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return runtime.result;
}
