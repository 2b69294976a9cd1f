// The portable shell link object: IShellLinkA and IPersistFile over the
// link file reader and writer.
//
// Texts come and go in UTF-8, the ANSI code page of these systems.  A
// setter refuses text that is not valid UTF-8, or that no link field could
// hold, with E_INVALIDARG; nothing is ever mangled.  A file name is UTF-16
// whose bytes that were not UTF-8 travel as U+DC80..U+DCFF (see
// MultiByteToWideChar), so any native name works.
#include <cstring>
#include <iterator>

#include "internal.h"
#include "platform.h"
#include "shllink/format.h"
#include "unicode.h"

namespace {

// Room for the longest text a field takes: the description holds up to
// 1024 characters on Windows (INFOTIPSIZE), the other fields less.
constexpr std::size_t kFieldSize = 4 * 1024 + 1;
constexpr std::size_t kNameSize = 4096;

// The link file being read or written; one at a time, never on the heap.
uint8_t fileBuffer[portable::kMaxLinkFileSize];

HRESULT FromWin32(DWORD error) { return HRESULT_FROM_WIN32(error); }

// Copies a UTF-8 text into a getter's buffer of cch bytes, cut at a
// character boundary.
HRESULT CopyOut(const char* text, LPSTR out, int cch) {
  if (out == nullptr || cch <= 0) return E_INVALIDARG;
  const std::size_t capacity = static_cast<std::size_t>(cch);
  std::size_t used = 0;
  const char* p = text;
  while (*p != '\0') {
    const std::size_t n = portable::Utf8SequenceLength(p);
    if (used + n > capacity - 1) break;
    std::memcpy(out + used, p, n);
    used += n;
    p += n;
  }
  out[used] = '\0';
  return S_OK;
}

// Takes a setter's text: valid UTF-8 that fits the field.
HRESULT CopyIn(LPCSTR text, char (&field)[kFieldSize]) {
  if (text == nullptr) text = "";
  if (!portable::IsValidUtf8(text) || std::strlen(text) >= kFieldSize)
    return E_INVALIDARG;
  std::strcpy(field, text);
  return S_OK;
}

// The native name of a UTF-16 file name.
HRESULT NativeName(LPCOLESTR wide, char (&name)[kNameSize]) {
  if (wide == nullptr || wide[0] == 0) return E_INVALIDARG;
  std::size_t length = 0;
  while (wide[length] != 0) ++length;
  bool cut = false;
  portable::Utf16ToUtf8(wide, length, name, kNameSize,
                        portable::Invalid::EscapeBytes, &cut);
  return cut ? FromWin32(ERROR_FILENAME_EXCED_RANGE) : S_OK;
}

class ShellLink final : public IShellLinkA, public IPersistFile {
 public:
  void Reset() {
    refs_ = 1;
    path_[0] = arguments_[0] = workingDirectory_[0] = description_[0] = '\0';
    iconLocation_[0] = '\0';
    iconIndex_ = 0;
    showCmd_ = 1;  // SW_SHOWNORMAL
    hotKey_ = 0;
    currentFile_[0] = '\0';
  }
  bool InUse() const { return refs_ != 0; }

  // ------------------------------------------------ IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellLinkA) {
      *ppv = static_cast<IShellLinkA*>(this);
    } else if (riid == IID_IPersistFile) {
      *ppv = static_cast<IPersistFile*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ++refs_;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return refs_ > 0 ? --refs_ : 0; }

  // ------------------------------------------------ IShellLinkA
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd,
                                    DWORD) override {
    if (pfd != nullptr) std::memset(pfd, 0, sizeof *pfd);
    HRESULT hr = CopyOut(path_, pszFile, cch);
    if (FAILED(hr)) return hr;
    // As on Windows: success, but S_FALSE when there is no path to give.
    return path_[0] == '\0' ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override {
    char path[kFieldSize];
    HRESULT hr = CopyIn(pszFile, path);
    if (FAILED(hr)) return hr;
    // A raw target lives in an environment block of fixed size.
    if (shllink::TargetFormOf(path) == shllink::TargetForm::Environment &&
        !FitsEnvironmentBlock(path))
      return FromWin32(ERROR_FILENAME_EXCED_RANGE);
    std::strcpy(path_, path);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override {
    return CopyOut(description_, pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override {
    return CopyIn(pszName, description_);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override {
    return CopyOut(workingDirectory_, pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override {
    return CopyIn(pszDir, workingDirectory_);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override {
    return CopyOut(arguments_, pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override {
    return CopyIn(pszArgs, arguments_);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (pwHotkey == nullptr) return E_POINTER;
    *pwHotkey = hotKey_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) override {
    hotKey_ = wHotkey;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (piShowCmd == nullptr) return E_POINTER;
    *piShowCmd = showCmd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override {
    showCmd_ = iShowCmd;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch,
                                            int* piIcon) override {
    if (piIcon == nullptr) return E_POINTER;
    *piIcon = iconIndex_;
    return CopyOut(iconLocation_, pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override {
    char icon[kFieldSize];
    HRESULT hr = CopyIn(pszIconPath, icon);
    if (FAILED(hr)) return hr;
    if (shllink::HasEnvironmentReference(icon) && !FitsEnvironmentBlock(icon))
      return FromWin32(ERROR_FILENAME_EXCED_RANGE);
    std::strcpy(iconLocation_, icon);
    iconIndex_ = iIcon;
    return S_OK;
  }
  // Nothing is searched, tracked or updated: the fields stay as loaded.
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }

  // ------------------------------------------------ IPersistFile
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    char name[kNameSize];
    HRESULT hr = NativeName(pszFileName, name);
    if (FAILED(hr)) return hr;
    std::size_t size = 0;
    DWORD error = portable::ReadWholeFile(name, fileBuffer, sizeof fileBuffer, &size);
    if (error != ERROR_SUCCESS) return FromWin32(error);

    shllink::ShellLink link;
    switch (shllink::ParseShellLink(shllink::Bytes(fileBuffer, size), &link)) {
      case shllink::ParseResult::Ok: break;
      case shllink::ParseResult::NotShellLink: return FromWin32(ERROR_BAD_FORMAT);
      case shllink::ParseResult::Malformed: return FromWin32(ERROR_FILE_CORRUPT);
    }
    if (!TakeFields(link)) return FromWin32(ERROR_FILE_CORRUPT);
    std::strcpy(currentFile_, name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR pszFileName, BOOL fRemember) override {
    char name[kNameSize];
    if (pszFileName == nullptr) {
      if (currentFile_[0] == '\0') return E_INVALIDARG;
      std::strcpy(name, currentFile_);
    } else {
      HRESULT hr = NativeName(pszFileName, name);
      if (FAILED(hr)) return hr;
    }
    shllink::LinkFields fields;
    fields.Target = path_;
    fields.Arguments = arguments_;
    fields.WorkingDirectory = workingDirectory_;
    fields.Description = description_;
    fields.IconLocation = iconLocation_;
    fields.IconIndex = iconIndex_;
    fields.ShowCommand = static_cast<uint32_t>(showCmd_);
    fields.HotKey = hotKey_;
    std::size_t size = 0;
    if (!shllink::WriteShellLink(fields, fileBuffer, sizeof fileBuffer, &size))
      return E_INVALIDARG;
    DWORD error = portable::WriteFileReplacing(name, fileBuffer, size);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (fRemember) std::strcpy(currentFile_, name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }

 private:
  static bool FitsEnvironmentBlock(const char* text) {
    char16_t units[shllink::kEnvironmentMaxUnits + 1];
    return portable::Utf8ToUtf16(text, units, std::size(units),
                                 portable::Invalid::Replace) >= 0;
  }

  // The fields of a parsed file, as GetPath and the other getters give them.
  bool TakeFields(const shllink::ShellLink& link) {
    using namespace shllink;
    const uint32_t flags = link.Header.LinkFlags;
    const ExtraData& extra = link.Extra;
    const StringData& s = link.Strings;

    // The target: the raw text of the environment block where there is one
    // (that is what SLGP_RAWPATH asks for), else the LinkInfo path, else
    // the file-system path of the ID list, else nothing.
    path_[0] = '\0';
    if ((flags & HasExpString) != 0 && extra.EnvironmentVariable.Present) {
      const EnvironmentVariableDataBlock& env = extra.EnvironmentVariable;
      TextToUtf8(env.TargetUnicode.Length > 0 ? env.TargetUnicode : env.TargetAnsi,
                 path_, sizeof path_);
    }
    if (path_[0] == '\0' && (flags & HasLinkInfo) != 0 &&
        (flags & ForceNoLinkInfo) == 0)
      LinkInfoPath(link.Info);
    if (path_[0] == '\0' && (flags & HasLinkTargetIDList) != 0 &&
        !IDListPath(link.IDList.IDList, path_, sizeof path_))
      return false;

    TextToUtf8(s.NameString, description_, sizeof description_);
    TextToUtf8(s.WorkingDir, workingDirectory_, sizeof workingDirectory_);
    TextToUtf8(s.CommandLineArguments, arguments_, sizeof arguments_);
    iconLocation_[0] = '\0';
    if ((flags & HasExpIcon) != 0 && extra.IconEnvironment.Present) {
      const IconEnvironmentDataBlock& icon = extra.IconEnvironment;
      TextToUtf8(icon.TargetUnicode.Length > 0 ? icon.TargetUnicode : icon.TargetAnsi,
                 iconLocation_, sizeof iconLocation_);
    }
    if (iconLocation_[0] == '\0')
      TextToUtf8(s.IconLocation, iconLocation_, sizeof iconLocation_);
    iconIndex_ = link.Header.IconIndex;
    showCmd_ = static_cast<int>(link.Header.ShowCommand);
    hotKey_ = link.Header.HotKey;
    return true;
  }

  void LinkInfoPath(const shllink::LinkInfo& info) {
    using namespace shllink;
    char base[kFieldSize];
    char suffix[kFieldSize];
    TextToUtf8(info.CommonPathSuffix, suffix, sizeof suffix);
    if ((info.LinkInfoFlags & VolumeIDAndLocalBasePath) != 0) {
      TextToUtf8(info.LocalBasePath, base, sizeof base);
    } else if ((info.LinkInfoFlags & CommonNetworkRelativeLinkAndPathSuffix) != 0) {
      TextToUtf8(info.NetworkLink.NetName, base, sizeof base);
    } else {
      return;
    }
    const std::size_t baseLength = std::strlen(base);
    const bool needSeparator = suffix[0] != '\0' && baseLength > 0 &&
                               base[baseLength - 1] != '\\';
    char joined[2 * kFieldSize + 1];
    std::strcpy(joined, base);
    if (needSeparator) std::strcat(joined, "\\");
    std::strcat(joined, suffix);
    CopyOut(joined, path_, static_cast<int>(sizeof path_));
  }

  ULONG refs_ = 0;
  char path_[kFieldSize];
  char arguments_[kFieldSize];
  char workingDirectory_[kFieldSize];
  char description_[kFieldSize];
  char iconLocation_[kFieldSize];
  int iconIndex_ = 0;
  int showCmd_ = 1;
  WORD hotKey_ = 0;
  char currentFile_[kNameSize];
};

// A run works on one link at a time; two slots leave room for a test that
// holds one object while it makes another.
ShellLink objects[2];

}  // namespace

namespace portable {

HRESULT CreatePortableShellLink(REFIID riid, void** ppv) {
  for (ShellLink& object : objects) {
    if (object.InUse()) continue;
    object.Reset();
    HRESULT hr = object.QueryInterface(riid, ppv);
    object.Release();  // the reference the caller asked for remains
    return hr;
  }
  return E_OUTOFMEMORY;
}

}  // namespace portable
