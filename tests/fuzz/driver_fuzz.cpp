// The command line and the run driver over a shell link object that does
// what the input scripts: which calls fail and with what, and the text its
// getters give.  Every interface taken is released, and a run whose
// required call failed never ends in success.
//
// Input: one byte per scripted call (kCalls), then the getters' text, then
// the arguments, each ended by a NUL.
#include <cstring>
#include <iterator>

#include "command_line.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "internal.h"
#include "link_store.h"
#include "run_driver.h"

namespace {

enum Call {
  kCreate, kQueryInterface, kSetPath, kSetArguments, kSetWorkingDirectory,
  kSetShowCmd, kSetIconLocation, kSetHotkey, kSetDescription, kLoad, kResolve,
  kSave, kSaveCompleted, kGetPath, kGetArguments, kGetWorkingDirectory,
  kGetIconLocation, kGetDescription, kGetShowCmd, kGetHotkey, kCallCount
};

// Calls whose failure the run must report: every one but the getters whose
// failure Query passes over.
constexpr bool kRequired[kCallCount] = {
    true, true, true, true, true, true, true, true, true, true, true,
    true, true, false, false, false, false, true, false, false};

// What a scripted byte makes a call return: mostly success.
constexpr HRESULT kResults[] = {
    E_FAIL, E_INVALIDARG, E_OUTOFMEMORY, E_NOINTERFACE,
    HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
    static_cast<HRESULT>(0x80070000), static_cast<HRESULT>(0x80080100), S_FALSE};

class ScriptedLink final : public IShellLinkA, public IPersistFile {
 public:
  HRESULT Result[kCallCount];
  bool Called[kCallCount];
  const char* Text = "";
  int Refs = 0;

  HRESULT Make(Call call) {
    Called[call] = true;
    return Result[call];
  }
  HRESULT Get(Call call, LPSTR out, int cch) {
    HRESULT hr = Make(call);
    FUZZ_CHECK(out != nullptr && cch > 0);
    if (SUCCEEDED(hr)) {
      const std::size_t n = std::min(std::strlen(Text), static_cast<std::size_t>(cch - 1));
      std::memcpy(out, Text, n);
      out[n] = '\0';
    }
    return hr;
  }
  HRESULT Take(REFIID riid, void** ppv) {
    if (riid == IID_IShellLinkA) *ppv = static_cast<IShellLinkA*>(this);
    else if (riid == IID_IPersistFile) *ppv = static_cast<IPersistFile*>(this);
    else return E_NOINTERFACE;
    ++Refs;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    HRESULT hr = Make(kQueryInterface);
    return FAILED(hr) ? hr : Take(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++Refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    FUZZ_CHECK(Refs > 0);
    return static_cast<ULONG>(--Refs);
  }
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR p, int cch, WIN32_FIND_DATAA*, DWORD) override {
    return Get(kGetPath, p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR p, int cch) override {
    return Get(kGetDescription, p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR) override { return Make(kSetDescription); }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR p, int cch) override {
    return Get(kGetWorkingDirectory, p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR) override {
    return Make(kSetWorkingDirectory);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR p, int cch) override {
    return Get(kGetArguments, p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR) override { return Make(kSetArguments); }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* w) override {
    HRESULT hr = Make(kGetHotkey);
    if (SUCCEEDED(hr)) *w = static_cast<WORD>(std::strlen(Text) * 0x0101);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return Make(kSetHotkey); }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* s) override {
    HRESULT hr = Make(kGetShowCmd);
    if (SUCCEEDED(hr)) *s = static_cast<int>(std::strlen(Text)) - 3;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return Make(kSetShowCmd); }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR p, int cch, int* i) override {
    HRESULT hr = Get(kGetIconLocation, p, cch);
    if (SUCCEEDED(hr)) *i = -static_cast<int>(std::strlen(Text));
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR, int) override {
    return Make(kSetIconLocation);
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return Make(kResolve); }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR) override { return Make(kSetPath); }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return Make(kLoad); }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return Make(kSave); }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override {
    return Make(kSaveCompleted);
  }
};

ScriptedLink scripted;

HRESULT ScriptedFactory(REFIID riid, void** ppv) {
  HRESULT hr = scripted.Make(kCreate);
  return FAILED(hr) ? hr : scripted.Take(riid, ppv);
}

constexpr std::size_t kMaxArguments = 32;
char input[64 * 1024];

}  // namespace

int FuzzDriver(const uint8_t* data, std::size_t size) {
  if (size < kCallCount || size >= sizeof input) return 0;
  for (int call = 0; call < kCallCount; ++call) {
    const uint8_t b = data[call];
    scripted.Result[call] = b < 0xE0 ? S_OK : kResults[b % std::size(kResults)];
    scripted.Called[call] = false;
  }
  scripted.Refs = 0;

  // The text, then the arguments, each up to a NUL.
  const std::size_t length = size - kCallCount;
  std::memcpy(input, data + kCallCount, length);
  input[length] = '\0';
  char* pieces[kMaxArguments + 2] = {};
  char* argv[kMaxArguments + 2] = {};
  std::size_t count = 0;
  for (char* p = input; p <= input + length && count < kMaxArguments + 1;
       p += std::strlen(p) + 1)
    pieces[count++] = p;
  scripted.Text = pieces[0];
  argv[0] = const_cast<char*>("shortcut");
  int argc = 1;
  for (std::size_t i = 1; i < count; ++i) argv[argc++] = pieces[i];

  std::memset(&LinkRecord, 0, sizeof LinkRecord);
  LinkOptions = kLinkOptionsAtStart;
  TraceEnabled = false;
  const portable::ShellLinkFactory previous = portable::SetShellLinkFactory(ScriptedFactory);
  const int exitCode = fuzz::Silently([&] { return ShortcutMain(argc, argv); });
  portable::SetShellLinkFactory(previous);

  FUZZ_CHECK(scripted.Refs == 0);
  bool requiredFailed = false;
  for (int call = 0; call < kCallCount; ++call)
    requiredFailed |= scripted.Called[call] && kRequired[call] && FAILED(scripted.Result[call]);
  if (requiredFailed) FUZZ_CHECK(exitCode != 0);
  if (scripted.Called[kSave]) FUZZ_CHECK(LinkOptions.SelectedMode == MODE_CREATE ||
                                         LinkOptions.SelectedMode == MODE_EDIT);
  return 0;
}
