// Shared by the unit tests: a fresh run state, captured output, and a
// scripted shell link object to stand in for the platform's.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "internal.h"
#include "link_store.h"
#include "platform.h"
#include "run_driver.h"

// Puts the process-wide state back as it is at process start.
inline void ResetRunState() {
  std::memset(&LinkRecord, 0, sizeof LinkRecord);
  std::memset(&LoadedRecord, 0, sizeof LoadedRecord);
  RecordLoaded = false;
  LinkOptions = kLinkOptionsAtStart;
  TraceEnabled = false;
}

// Runs the whole program in-process; returns its stdout and exit code.
struct RunResult {
  std::string Output;
  int ExitCode;
};
inline RunResult RunShortcut(const std::vector<const char*>& args) {
  ResetRunState();
  std::vector<std::string> storage{"shortcut"};
  for (const char* a : args) storage.emplace_back(a);
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  int code = ShortcutMain(static_cast<int>(storage.size()), argv.data());
  std::fflush(stdout);
  return {testing::internal::GetCapturedStdout(), code};
}

// A shell link object whose every call returns what the test scripted
// (S_OK unless told otherwise) and which records the calls made on it.
class ScriptedShellLink final : public IShellLinkA, public IPersistFile {
 public:
  static ScriptedShellLink& Instance() {
    static ScriptedShellLink instance;
    return instance;
  }
  void Reset() {
    results.clear();
    calls.clear();
    refs = 0;
    text = "text";
    createResult = S_OK;
  }
  HRESULT ResultOf(const std::string& method) {
    calls.push_back(method);
    auto it = results.find(method);
    return it == results.end() ? S_OK : it->second;
  }
  static HRESULT Factory(REFIID riid, void** ppv) {
    ScriptedShellLink& self = Instance();
    self.calls.push_back("CoCreateInstance");
    if (FAILED(self.createResult)) return self.createResult;
    return self.QueryInterfaceNoLog(riid, ppv);
  }
  HRESULT QueryInterfaceNoLog(REFIID riid, void** ppv) {
    if (riid == IID_IShellLinkA) *ppv = static_cast<IShellLinkA*>(this);
    else if (riid == IID_IPersistFile) *ppv = static_cast<IPersistFile*>(this);
    else return E_NOINTERFACE;
    ++refs;
    return S_OK;
  }

  std::map<std::string, HRESULT> results;
  std::vector<std::string> calls;
  HRESULT createResult = S_OK;
  int refs = 0;
  std::string text = "text";  // what every text getter gives

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    HRESULT hr = ResultOf("QueryInterface");
    return FAILED(hr) ? hr : QueryInterfaceNoLog(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    calls.push_back("Release");
    return static_cast<ULONG>(--refs);
  }
  HRESULT Get(const char* method, LPSTR out, int cch) {
    HRESULT hr = ResultOf(method);
    if (SUCCEEDED(hr)) std::snprintf(out, static_cast<std::size_t>(cch), "%s", text.c_str());
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR p, int cch, WIN32_FIND_DATAA*, DWORD) override {
    return Get("GetPath", p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR p, int cch) override {
    return Get("GetDescription", p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR) override { return ResultOf("SetDescription"); }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR p, int cch) override {
    return Get("GetWorkingDirectory", p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR) override {
    return ResultOf("SetWorkingDirectory");
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR p, int cch) override {
    return Get("GetArguments", p, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR) override { return ResultOf("SetArguments"); }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* w) override {
    HRESULT hr = ResultOf("GetHotkey");
    if (SUCCEEDED(hr)) *w = 0x0241;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return ResultOf("SetHotkey"); }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* s) override {
    HRESULT hr = ResultOf("GetShowCmd");
    if (SUCCEEDED(hr)) *s = 7;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return ResultOf("SetShowCmd"); }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR p, int cch, int* i) override {
    HRESULT hr = Get("GetIconLocation", p, cch);
    if (SUCCEEDED(hr)) *i = 5;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR, int) override {
    return ResultOf("SetIconLocation");
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return ResultOf("Resolve"); }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR) override { return ResultOf("SetPath"); }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return ResultOf("Load"); }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return ResultOf("Save"); }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override {
    return ResultOf("SaveCompleted");
  }
};

// Installs the scripted object for one test.
class WithScriptedShellLink : public testing::Test {
 protected:
  void SetUp() override {
    ScriptedShellLink::Instance().Reset();
    previous_ = portable::SetShellLinkFactory(&ScriptedShellLink::Factory);
    ResetRunState();
  }
  void TearDown() override { portable::SetShellLinkFactory(previous_); }
  ScriptedShellLink& link() { return ScriptedShellLink::Instance(); }

 private:
  portable::ShellLinkFactory previous_ = nullptr;
};
