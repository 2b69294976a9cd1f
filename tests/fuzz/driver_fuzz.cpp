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
#include "scripted_shell_link.h"

namespace {

// The scripted calls, in the order of their bytes in the input.
constexpr const char* kCalls[] = {
    "CoCreateInstance", "QueryInterface", "SetPath", "SetArguments", "SetWorkingDirectory",
    "SetShowCmd", "SetIconLocation", "SetHotkey", "SetDescription", "Load", "Resolve",
    "Save", "SaveCompleted", "GetPath", "GetArguments", "GetWorkingDirectory",
    "GetIconLocation", "GetDescription", "GetShowCmd", "GetHotkey"};
constexpr std::size_t kCallCount = std::size(kCalls);

// Calls whose failure Query passes over; the run must report any other.
constexpr const char* kOptional[] = {"GetPath", "GetArguments", "GetWorkingDirectory",
                                     "GetIconLocation", "GetShowCmd", "GetHotkey"};

// What a scripted byte makes a call return: mostly success.
constexpr HRESULT kResults[] = {
    E_FAIL, E_INVALIDARG, E_OUTOFMEMORY, E_NOINTERFACE,
    HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
    static_cast<HRESULT>(0x80070000), static_cast<HRESULT>(0x80080100), S_FALSE};

constexpr std::size_t kMaxArguments = 32;
char input[64 * 1024];

}  // namespace

int FuzzDriver(const uint8_t* data, std::size_t size) {
  if (size < kCallCount || size >= sizeof input) return 0;
  ScriptedShellLink& scripted = ScriptedShellLink::Instance();
  scripted.Reset();
  for (std::size_t call = 0; call < kCallCount; ++call) {
    const uint8_t b = data[call];
    scripted.results[kCalls[call]] = b < 0xE0 ? S_OK : kResults[b % std::size(kResults)];
  }

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
  scripted.text = pieces[0];
  scripted.hotKey = static_cast<WORD>(scripted.text.size() * 0x0101);
  scripted.showCmd = static_cast<int>(scripted.text.size()) - 3;
  scripted.iconIndex = -static_cast<int>(scripted.text.size());
  argv[0] = const_cast<char*>("shortcut");
  int argc = 1;
  for (std::size_t i = 1; i < count; ++i) argv[argc++] = pieces[i];

  std::memset(&LinkRecord, 0, sizeof LinkRecord);
  LinkOptions = kLinkOptionsAtStart;
  TraceEnabled = false;
  const portable::ShellLinkFactory previous =
      portable::SetShellLinkFactory(&ScriptedShellLink::Factory);
  const int exitCode = fuzz::Silently([&] { return ShortcutMain(argc, argv); });
  portable::SetShellLinkFactory(previous);

  FUZZ_CHECK(scripted.refs == 0 && !scripted.misused);
  bool requiredFailed = false;
  for (const char* call : kCalls) {
    const bool optional = std::find_if(std::begin(kOptional), std::end(kOptional), [&](auto o) {
                            return std::strcmp(o, call) == 0;
                          }) != std::end(kOptional);
    requiredFailed |= !optional && scripted.Called(call) && FAILED(scripted.results[call]);
  }
  if (requiredFailed) FUZZ_CHECK(exitCode != 0);
  if (scripted.Called("Save")) FUZZ_CHECK(LinkOptions.SelectedMode == MODE_CREATE ||
                                          LinkOptions.SelectedMode == MODE_EDIT);
  return 0;
}
