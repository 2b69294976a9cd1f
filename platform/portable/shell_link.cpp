// The portable shell link object: IShellLinkA and IPersistFile over a link
// file held in memory.
//
// The object holds the link as its file: Load reads the file, each setter
// rebuilds the structures its field owns (shllink/edit.cpp), and Save
// writes the file back.  What no setter touched is saved exactly as it was
// loaded.  The getters read the fields out of the held file.
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

// A file being read, or a link being rebuilt; one at a time, never on the
// heap.
uint8_t spareBuffer[portable::kMaxLinkFileSize];

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

// A setter's text: valid UTF-8 that fits a field.
HRESULT CheckIn(LPCSTR text) {
  if (!portable::IsValidUtf8(text) || std::strlen(text) >= kFieldSize) return E_INVALIDARG;
  return S_OK;
}

bool FitsEnvironmentBlock(const char* text) {
  char16_t units[shllink::kEnvironmentMaxUnits + 1];
  return portable::Utf8ToUtf16(text, units, std::size(units), portable::Invalid::Replace) >= 0;
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

// The text of an environment-shaped block: its Unicode half where there is
// one, else its ANSI half.
void BlockText(const shllink::EnvironmentVariableDataBlock& block, char* out,
               std::size_t capacity) {
  shllink::TextToUtf8(block.TargetUnicode.Length > 0 ? block.TargetUnicode : block.TargetAnsi,
                      out, capacity);
}

// The path a LinkInfo names: the local base path or the network share,
// joined with the common path suffix.
void LinkInfoPath(const shllink::LinkInfo& info, char* out, std::size_t capacity) {
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
  CopyOut(joined, out, static_cast<int>(capacity));
}

// The target as GetPath gives it: the raw text of the environment block
// where there is one (that is what SLGP_RAWPATH asks for), else the
// LinkInfo path, else the file-system path of the ID list, else nothing.
// False when the ID list is malformed.
bool TargetPath(const shllink::ShellLink& link, char* out, std::size_t capacity) {
  using namespace shllink;
  const uint32_t flags = link.Header.LinkFlags;
  out[0] = '\0';
  if ((flags & HasExpString) != 0 && link.Extra.EnvironmentVariable.Present)
    BlockText(link.Extra.EnvironmentVariable, out, capacity);
  if (out[0] == '\0' && (flags & HasLinkInfo) != 0 && (flags & ForceNoLinkInfo) == 0)
    LinkInfoPath(link.Info, out, capacity);
  if (out[0] == '\0' && (flags & HasLinkTargetIDList) != 0)
    return IDListPath(link.IDList.IDList, out, capacity);
  return true;
}

class ShellLink final : public IShellLinkA, public IPersistFile {
 public:
  void Reset() {
    refs_ = 1;
    if (!shllink::NewShellLink(image_, sizeof image_, &size_)) size_ = 0;
    Parse();
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
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs_ == 1) held_.Close();
    return refs_ > 0 ? --refs_ : 0;
  }

  // ------------------------------------------------ IShellLinkA
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd,
                                    DWORD) override {
    if (pfd != nullptr) std::memset(pfd, 0, sizeof *pfd);
    char path[kFieldSize];
    if (!TargetPath(link_, path, sizeof path)) path[0] = '\0';
    HRESULT hr = CopyOut(path, pszFile, cch);
    if (FAILED(hr)) return hr;
    // As on Windows: success, but S_FALSE when there is no path to give.
    return path[0] == '\0' ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override {
    if (pszFile == nullptr) pszFile = "";
    HRESULT hr = CheckIn(pszFile);
    if (FAILED(hr)) return hr;
    // A raw target lives in an environment block of fixed size.
    if (shllink::TargetFormOf(pszFile) == shllink::TargetForm::Environment &&
        !FitsEnvironmentBlock(pszFile))
      return FromWin32(ERROR_FILENAME_EXCED_RANGE);
    return Rebuilt(shllink::EditTarget(Image(), pszFile, spareBuffer, sizeof spareBuffer, &spareSize_));
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override {
    return GetString(link_.Strings.NameString, pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override {
    return SetString(shllink::StringField::NameString, pszName);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override {
    return GetString(link_.Strings.WorkingDir, pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override {
    return SetString(shllink::StringField::WorkingDir, pszDir);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override {
    return GetString(link_.Strings.CommandLineArguments, pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override {
    return SetString(shllink::StringField::CommandLineArguments, pszArgs);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (pwHotkey == nullptr) return E_POINTER;
    *pwHotkey = link_.Header.HotKey;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) override {
    shllink::SetHotKey(image_, wHotkey);
    Parse();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (piShowCmd == nullptr) return E_POINTER;
    *piShowCmd = static_cast<int>(link_.Header.ShowCommand);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override {
    shllink::SetShowCommand(image_, static_cast<uint32_t>(iShowCmd));
    Parse();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch,
                                            int* piIcon) override {
    using namespace shllink;
    if (piIcon == nullptr) return E_POINTER;
    *piIcon = link_.Header.IconIndex;
    char icon[kFieldSize] = {};
    if ((link_.Header.LinkFlags & HasExpIcon) != 0 && link_.Extra.IconEnvironment.Present)
      BlockText(link_.Extra.IconEnvironment, icon, sizeof icon);
    if (icon[0] == '\0') TextToUtf8(link_.Strings.IconLocation, icon, sizeof icon);
    return CopyOut(icon, pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override {
    if (pszIconPath == nullptr) pszIconPath = "";
    HRESULT hr = CheckIn(pszIconPath);
    if (FAILED(hr)) return hr;
    if (shllink::HasEnvironmentReference(pszIconPath) && !FitsEnvironmentBlock(pszIconPath))
      return FromWin32(ERROR_FILENAME_EXCED_RANGE);
    return Rebuilt(shllink::EditIcon(Image(), pszIconPath, iIcon, spareBuffer,
                                     sizeof spareBuffer, &spareSize_));
  }
  // Nothing is searched, tracked or updated: the fields stay as loaded.
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }

  // ------------------------------------------------ IPersistFile
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    char name[kNameSize];
    HRESULT hr = NativeName(pszFileName, name);
    if (FAILED(hr)) return hr;
    std::size_t size = 0;
    // The file stays held for the save, which replaces it only while its
    // name still holds it.
    portable::HeldFile file;
    DWORD error = portable::ReadWholeFile(name, spareBuffer, sizeof spareBuffer, &size, &file);
    if (error != ERROR_SUCCESS) return FromWin32(error);

    shllink::ShellLink link;
    switch (shllink::ParseShellLink(shllink::Bytes(spareBuffer, size), &link)) {
      case shllink::ParseResult::Ok: break;
      case shllink::ParseResult::NotShellLink: return FromWin32(ERROR_BAD_FORMAT);
      case shllink::ParseResult::Malformed: return FromWin32(ERROR_FILE_CORRUPT);
    }
    char path[kFieldSize];
    if (!TargetPath(link, path, sizeof path)) return FromWin32(ERROR_FILE_CORRUPT);
    spareSize_ = size;
    (void)Rebuilt(true);
    std::strcpy(currentFile_, name);
    held_.Take(file);
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
    // The loaded file's own name replaces the file held since Load;
    // another name is resolved now.
    portable::HeldFile other;
    const bool loaded = held_.Holds() && std::strcmp(name, currentFile_) == 0;
    portable::HeldFile& file = loaded ? held_ : other;
    DWORD error = portable::WriteFileReplacing(name, image_, size_, &file);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (fRemember) {
      std::strcpy(currentFile_, name);
      held_.Take(file);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }

 private:
  shllink::Bytes Image() const { return shllink::Bytes(image_, size_); }

  // Reads the held file again after a change; it is well formed by making.
  void Parse() {
    if (shllink::ParseShellLink(Image(), &link_) != shllink::ParseResult::Ok)
      link_ = shllink::ShellLink();
  }

  // Takes the link that an edit (or Load) left in the spare buffer.
  HRESULT Rebuilt(bool ok) {
    if (!ok) return E_INVALIDARG;
    std::memcpy(image_, spareBuffer, spareSize_);
    size_ = spareSize_;
    Parse();
    return S_OK;
  }

  HRESULT GetString(const shllink::TextRef& text, LPSTR out, int cch) {
    char utf8[kFieldSize];
    shllink::TextToUtf8(text, utf8, sizeof utf8);
    return CopyOut(utf8, out, cch);
  }
  HRESULT SetString(shllink::StringField field, LPCSTR text) {
    if (text == nullptr) text = "";
    HRESULT hr = CheckIn(text);
    if (FAILED(hr)) return hr;
    return Rebuilt(shllink::EditString(Image(), field, text, spareBuffer, sizeof spareBuffer,
                                       &spareSize_));
  }

  ULONG refs_ = 0;
  uint8_t image_[portable::kMaxLinkFileSize];
  std::size_t size_ = 0;
  std::size_t spareSize_ = 0;
  shllink::ShellLink link_;  // the held file, read
  char currentFile_[kNameSize];
  portable::HeldFile held_;  // the file Load read, for Save
};

// A run works on one link at a time; two slots leave room for a test that
// holds one object while it makes another.
ShellLink objects[2];

}  // namespace

namespace portable {

HRESULT CreatePortableShellLink(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  // Texts of ANSI links are read in the code page the user names.
  if (!SelectAnsiCodePage()) return E_INVALIDARG;
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
