// A shell link object whose every call returns what the test scripted
// (S_OK unless told otherwise) and which records the calls made on it, by
// their names (a getter by the same name through either interface).  The
// unit tests and the driver fuzz target both stand it in for the
// platform's object.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

class ScriptedShellLink final : public IShellLinkA, public IShellLinkW, public IPersistFile {
 public:
  static ScriptedShellLink& Instance() {
    static ScriptedShellLink instance;
    return instance;
  }
  // Takes the place of CoCreateInstance's object ("CoCreateInstance").
  static HRESULT Factory(REFIID riid, void** ppv) {
    ScriptedShellLink& self = Instance();
    HRESULT hr = self.ResultOf("CoCreateInstance");
    return FAILED(hr) ? hr : self.Take(riid, ppv);
  }
  void Reset() { *this = ScriptedShellLink(); }
  bool Called(const char* method) const {
    return std::find(calls.begin(), calls.end(), method) != calls.end();
  }

  std::map<std::string, HRESULT> results;  // by method name
  std::vector<std::string> calls;
  int refs = 0;
  bool misused = false;       // released too often, or a getter given no buffer
  // What every text getter gives; through IShellLinkW as MultiByteToWideChar
  // makes it, so that bytes that are not UTF-8 give half surrogate pairs.
  std::string text = "text";
  WORD hotKey = 0x0241;
  int showCmd = 7;
  int iconIndex = 5;
  std::string iconSet;  // the text SetIconLocation was given

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    HRESULT hr = ResultOf("QueryInterface");
    return FAILED(hr) ? hr : Take(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    calls.push_back("Release");
    misused |= refs <= 0;
    return static_cast<ULONG>(--refs);
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
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* w) override { return Give("GetHotkey", w, hotKey); }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return ResultOf("SetHotkey"); }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* s) override { return Give("GetShowCmd", s, showCmd); }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return ResultOf("SetShowCmd"); }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR p, int cch, int* i) override {
    HRESULT hr = Get("GetIconLocation", p, cch);
    if (SUCCEEDED(hr)) *i = iconIndex;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR icon, int) override {
    iconSet = icon != nullptr ? icon : "";
    return ResultOf("SetIconLocation");
  }
  HRESULT STDMETHODCALLTYPE GetPath(LPWSTR p, int cch, WIN32_FIND_DATAW*, DWORD) override {
    return Get("GetPath", p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR p, int cch) override {
    return Get("GetDescription", p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR p, int cch) override {
    return Get("GetWorkingDirectory", p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR p, int cch) override {
    return Get("GetArguments", p, cch);
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR p, int cch, int* i) override {
    HRESULT hr = Get("GetIconLocation", p, cch);
    if (SUCCEEDED(hr)) *i = iconIndex;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return ResultOf("Resolve"); }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR) override { return ResultOf("SetPath"); }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return ResultOf("Load"); }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR, BOOL) override { return ResultOf("Save"); }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override {
    return ResultOf("SaveCompleted");
  }

 private:
  HRESULT ResultOf(const char* method) {
    calls.push_back(method);
    auto it = results.find(method);
    return it == results.end() ? S_OK : it->second;
  }
  HRESULT Take(REFIID riid, void** ppv) {
    if (riid == IID_IShellLinkA) *ppv = static_cast<IShellLinkA*>(this);
    else if (riid == IID_IShellLinkW) *ppv = static_cast<IShellLinkW*>(this);
    else if (riid == IID_IPersistFile) *ppv = static_cast<IPersistFile*>(this);
    else return E_NOINTERFACE;
    ++refs;
    return S_OK;
  }
  HRESULT Get(const char* method, LPSTR out, int cch) {
    HRESULT hr = ResultOf(method);
    if (out == nullptr || cch <= 0) {
      misused = true;
    } else if (SUCCEEDED(hr)) {
      const std::size_t n = std::min(text.size(), static_cast<std::size_t>(cch - 1));
      std::memcpy(out, text.data(), n);
      out[n] = '\0';
    }
    return hr;
  }
  HRESULT Get(const char* method, LPWSTR out, int cch) {
    HRESULT hr = ResultOf(method);
    if (out == nullptr || cch <= 0) {
      misused = true;
    } else if (SUCCEEDED(hr)) {
      std::vector<WCHAR> wide(text.size() + 1);
      if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(),
                              static_cast<int>(wide.size())) == 0)
        wide[0] = 0;
      std::size_t n = 0;
      while (wide[n] != 0 && n + 1 < static_cast<std::size_t>(cch)) ++n;
      std::copy(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(n), out);
      out[n] = 0;
    }
    return hr;
  }
  template <typename T>
  HRESULT Give(const char* method, T* out, T value) {
    HRESULT hr = ResultOf(method);
    if (SUCCEEDED(hr)) *out = value;
    return hr;
  }
};
