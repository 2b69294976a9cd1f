// The portable shell link object: IShellLinkA, IShellLinkW and IPersistFile
// over a link file held in memory.
//
// The object holds the link as its file and the model read from it: Load
// reads the file, each setter makes the file anew in the second of two
// buffers (shllink/editor.cpp) and takes it in place of the first, and Save
// writes the file back.  What no setter touched is saved exactly as it was
// loaded.  The getters read the fields out of the model.
//
// Texts come and go in UTF-8, the ANSI code page of these systems.  A
// setter refuses text that is not valid UTF-8, or that no link field could
// hold, with E_INVALIDARG; nothing is ever mangled.  The wide getters give
// a text the file holds in UTF-16 unit for unit, so that half of a surrogate
// pair, which no UTF-8 can carry, reaches the caller as it is.  A file name is UTF-16
// whose bytes that were not UTF-8 travel as U+DC80..U+DCFF (see
// MultiByteToWideChar), so any native name works.
#include <algorithm>
#include <cstring>

#include "internal.h"
#include "platform.h"
#include "shllink/bytes.h"
#include "shllink/editor.h"
#include "shllink/reader.h"
#include "shllink/shell_items.h"
#include "win32/unicode.h"

namespace {

constexpr std::size_t kFieldSize = kMaxLinkTextBytes + 1;
constexpr std::size_t kNameSize = 4096;

HRESULT FromWin32(DWORD error) { return HRESULT_FROM_WIN32(error); }

// What the object answers for an edit that failed.
HRESULT FromEdit(shllink::EditResult result) {
  switch (result) {
    case shllink::EditResult::Ok: return S_OK;
    case shllink::EditResult::TooLong: return FromWin32(ERROR_FILENAME_EXCED_RANGE);
    case shllink::EditResult::Internal: return E_UNEXPECTED;
    case shllink::EditResult::BadText:
    case shllink::EditResult::NoRoom: break;
  }
  return E_INVALIDARG;
}

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

// Copies UTF-16 units (up to a NUL) into a wide getter's buffer of cch
// units, cut before a surrogate pair that does not fit whole.
HRESULT CopyOutWide(const char16_t* units, std::size_t count, LPWSTR out, int cch) {
  if (out == nullptr || cch <= 0) return E_INVALIDARG;
  const std::size_t capacity = static_cast<std::size_t>(cch) - 1;
  std::size_t used = 0;
  while (used < count && units[used] != 0) {
    const bool pair = units[used] >= 0xD800 && units[used] <= 0xDBFF && used + 1 < count &&
                      units[used + 1] >= 0xDC00 && units[used + 1] <= 0xDFFF;
    const std::size_t n = pair ? 2 : 1;
    if (used + n > capacity) break;
    for (std::size_t i = 0; i < n; ++i) out[used + i] = units[used + i];
    used += n;
  }
  out[used] = 0;
  return S_OK;
}

// A UTF-8 text for a wide getter.
HRESULT CopyOutWide(const char* text, LPWSTR out, int cch) {
  char16_t units[shllink::kMaxWideUnits];
  const long n = portable::Utf8ToUtf16(text, units, std::size(units), portable::Invalid::Replace);
  return CopyOutWide(units, n > 0 ? static_cast<std::size_t>(n) : 0, out, cch);
}

// A text of the file for a wide getter: UTF-16 as it stands, ANSI through
// UTF-8.
HRESULT CopyOutWide(const shllink::TextRef& text, LPWSTR out, int cch) {
  if (text.Encoding == shllink::TextEncoding::Ansi || text.Data == nullptr) {
    char utf8[kFieldSize];
    shllink::TextToUtf8(text, utf8, sizeof utf8);
    return CopyOutWide(utf8, out, cch);
  }
  char16_t units[shllink::kMaxWideUnits];
  const std::size_t count = std::min<std::size_t>(text.Length, std::size(units));
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>(text.Data[2 * i] | (text.Data[2 * i + 1] << 8));
  return CopyOutWide(units, count, out, cch);
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

// The text of an environment-shaped block (its Unicode half where there is
// one, else its ANSI half) where the flag says the block counts and its text
// is not empty; else nullptr.
const shllink::TextRef* BlockText(const shllink::ShellLink& link, uint32_t flag,
                                  const shllink::EnvironmentVariableDataBlock& block) {
  if ((link.Header.LinkFlags & flag) == 0 || !block.Present()) return nullptr;
  const shllink::TextRef& text =
      block.TargetUnicode.Length > 0 ? block.TargetUnicode : block.TargetAnsi;
  return text.Length > 0 && (text.Data[0] != 0 || (text.Encoding != shllink::TextEncoding::Ansi &&
                                                   text.Data[1] != 0))
             ? &text
             : nullptr;
}

// The icon's text: its environment block's, else the IconLocation string's.
const shllink::TextRef& IconText(const shllink::ShellLink& link) {
  const shllink::TextRef* block =
      BlockText(link, shllink::HasExpIcon, link.Extra.IconEnvironment);
  return block != nullptr ? *block : link.Strings[shllink::StringField::IconLocation];
}

// A text of the file for a getter, in UTF-8.
HRESULT CopyOut(const shllink::TextRef& text, LPSTR out, int cch) {
  char utf8[kFieldSize];
  shllink::TextToUtf8(text, utf8, sizeof utf8);
  return CopyOut(utf8, out, cch);
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
void TargetPath(const shllink::ShellLink& link, char* out, std::size_t capacity) {
  using namespace shllink;
  const uint32_t flags = link.Header.LinkFlags;
  out[0] = '\0';
  if (const TextRef* text = BlockText(link, HasExpString, link.Extra.EnvironmentVariable))
    TextToUtf8(*text, out, capacity);
  if (out[0] == '\0' && (flags & HasLinkInfo) != 0 && (flags & ForceNoLinkInfo) == 0)
    LinkInfoPath(link.Info, out, capacity);
  if (out[0] == '\0' && (flags & HasLinkTargetIDList) != 0)
    IDListPath(link.IDList.IDList, out, capacity);
}

class LinkObject final : public IShellLinkA, public IShellLinkW, public IPersistFile {
 public:
  void Reset() {
    refs_ = 1;
    (void)Took(shllink::NewShellLink(&Spare().File, &Spare().Model));
    currentFile_[0] = '\0';
  }
  bool InUse() const { return refs_ != 0; }

  // ------------------------------------------------ IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellLinkA) {
      *ppv = static_cast<IShellLinkA*>(this);
    } else if (riid == IID_IShellLinkW) {
      *ppv = static_cast<IShellLinkW*>(this);
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
    if (refs_ == 1) heldFile_.Close();
    return refs_ > 0 ? --refs_ : 0;
  }

  // ------------------------------------------------ IShellLinkA
  HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA* pfd,
                                    DWORD) override {
    if (pfd != nullptr) std::memset(pfd, 0, sizeof *pfd);
    char path[kFieldSize];
    TargetPath(Link(), path, sizeof path);
    HRESULT hr = CopyOut(path, pszFile, cch);
    if (FAILED(hr)) return hr;
    // As on Windows: success, but S_FALSE when there is no path to give.
    return path[0] == '\0' ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override {
    if (pszFile == nullptr) pszFile = "";
    return Took(shllink::EditTarget(Link(), pszFile, &Spare().File, &Spare().Model));
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override {
    return CopyOut(Link().Strings[shllink::StringField::NameString], pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override {
    return SetString(shllink::StringField::NameString, pszName);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override {
    return CopyOut(Link().Strings[shllink::StringField::WorkingDir], pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override {
    return SetString(shllink::StringField::WorkingDir, pszDir);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override {
    return CopyOut(Link().Strings[shllink::StringField::CommandLineArguments], pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override {
    return SetString(shllink::StringField::CommandLineArguments, pszArgs);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* pwHotkey) override {
    if (pwHotkey == nullptr) return E_POINTER;
    *pwHotkey = Link().Header.HotKey;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) override {
    return Took(shllink::EditHotKey(Link(), wHotkey, &Spare().File, &Spare().Model));
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* piShowCmd) override {
    if (piShowCmd == nullptr) return E_POINTER;
    *piShowCmd = static_cast<int>(Link().Header.ShowCommand);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override {
    return Took(shllink::EditShowCommand(Link(), static_cast<uint32_t>(iShowCmd), &Spare().File,
                                         &Spare().Model));
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch,
                                            int* piIcon) override {
    if (piIcon == nullptr) return E_POINTER;
    *piIcon = Link().Header.IconIndex;
    return CopyOut(IconText(Link()), pszIconPath, cch);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override {
    if (pszIconPath == nullptr) pszIconPath = "";
    return Took(shllink::EditIcon(Link(), pszIconPath, iIcon, &Spare().File, &Spare().Model));
  }
  // ------------------------------------------------ IShellLinkW (getters)
  HRESULT STDMETHODCALLTYPE GetPath(LPWSTR pszFile, int cch, WIN32_FIND_DATAW* pfd,
                                    DWORD) override {
    if (pfd != nullptr) std::memset(pfd, 0, sizeof *pfd);
    const shllink::ShellLink& link = Link();
    if (const auto* text = BlockText(link, shllink::HasExpString, link.Extra.EnvironmentVariable))
      return CopyOutWide(*text, pszFile, cch);
    char path[kFieldSize];
    TargetPath(link, path, sizeof path);
    HRESULT hr = CopyOutWide(path, pszFile, cch);
    return FAILED(hr) || path[0] != '\0' ? hr : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR pszName, int cch) override {
    return CopyOutWide(Link().Strings[shllink::StringField::NameString], pszName, cch);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR pszDir, int cch) override {
    return CopyOutWide(Link().Strings[shllink::StringField::WorkingDir], pszDir, cch);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR pszArgs, int cch) override {
    return CopyOutWide(Link().Strings[shllink::StringField::CommandLineArguments], pszArgs, cch);
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR pszIconPath, int cch, int* piIcon) override {
    if (piIcon == nullptr) return E_POINTER;
    *piIcon = Link().Header.IconIndex;
    return CopyOutWide(IconText(Link()), pszIconPath, cch);
  }

  // Nothing is searched, tracked or updated: the fields stay as loaded.
  HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return S_OK; }

  // ------------------------------------------------ IPersistFile
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, DWORD) override {
    char name[kNameSize];
    HRESULT hr = NativeName(pszFileName, name);
    if (FAILED(hr)) return hr;
    Held& spare = Spare();
    std::size_t size = 0;
    // What was read stays held for the save, which writes over the file
    // only while it still holds just that.  A link on a share is read
    // through SMB, where the server's rules hold.
    portable::HeldFile file;
    DWORD error =
        portable::LinkFileWayOf(name).Read(name, spare.Data, sizeof spare.Data, &size, &file);
    if (error != ERROR_SUCCESS) return FromWin32(error);

    spare.File.Size = size;
    switch (shllink::ParseShellLink(shllink::Bytes(spare.Data, size), &spare.Model)) {
      case shllink::ParseResult::Ok: break;
      case shllink::ParseResult::NotShellLink: return FromWin32(ERROR_BAD_FORMAT);
      case shllink::ParseResult::Malformed: return FromWin32(ERROR_FILE_CORRUPT);
    }
    (void)Took(shllink::EditResult::Ok);
    std::strcpy(currentFile_, name);
    heldFile_.Take(file);
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
    // The current file's name is saved over what was read (or last saved)
    // of it, which then holds what this save wrote.  Another name is looked
    // at now, and becomes the current file only where fRemember says so,
    // as for IPersistFile on Windows: a copy saved elsewhere leaves the
    // current file as it was held, for the next save over it.
    const bool current = std::strcmp(name, currentFile_) == 0;
    portable::HeldFile other;
    portable::HeldFile& file = current ? heldFile_ : other;
    const shllink::Image& image = held_[current_].File;
    DWORD error = portable::LinkFileWayOf(name).Save(name, image.Data, image.Size, &file);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (fRemember && !current) {
      std::strcpy(currentFile_, name);
      heldFile_.Take(other);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }

 private:
  // A link file and its model.
  struct Held {
    uint8_t Data[portable::kMaxLinkFileSize];
    shllink::Image File{Data, sizeof Data};
    shllink::ShellLink Model;
  };

  const shllink::ShellLink& Link() const { return held_[current_].Model; }
  Held& Spare() { return held_[1 - current_]; }

  // Takes the link that an edit (or Load) left in the spare buffer.
  HRESULT Took(shllink::EditResult result) {
    if (result == shllink::EditResult::Ok) current_ = 1 - current_;
    return FromEdit(result);
  }

  HRESULT SetString(shllink::StringField field, LPCSTR text) {
    if (text == nullptr) text = "";
    return Took(shllink::EditString(Link(), field, text, &Spare().File, &Spare().Model));
  }

  ULONG refs_ = 0;
  Held held_[2];
  int current_ = 0;
  char currentFile_[kNameSize];
  portable::HeldFile heldFile_;  // what of currentFile_ was read, or last saved
};

// A run works on one link at a time.
LinkObject object;

}  // namespace

namespace portable {

HRESULT CreatePortableShellLink(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  // Texts of ANSI links are read in the code page the user names.
  if (!SelectAnsiCodePage()) return E_INVALIDARG;
  if (object.InUse()) return E_OUTOFMEMORY;
  object.Reset();
  HRESULT hr = object.QueryInterface(riid, ppv);
  object.Release();  // the reference the caller asked for remains
  return hr;
}

}  // namespace portable
