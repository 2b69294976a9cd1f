#include "link_store.h"

#include "command_line.h"
#include "print.h"

LINK_RECORD LinkRecord;
LINK_RECORD LoadedRecord;
bool RecordLoaded = false;

namespace {

// Wide form of FileName.  Every byte of FileName gives at most one UTF-16
// unit, so 261 units always hold the 260 bytes and the terminator.
constexpr int kWideNameSize = 261;

// The object's texts are read in UTF-16, so that the record's ANSI copy can
// be made without best fit and cut at a whole character.  Every character
// takes at least one byte of the record's 260 and at most two UTF-16 units:
// this much of a text always covers what the record keeps.
constexpr int kWideTextSize = 2 * kTextSize;

// Room for a text the object holds at full length, beyond the record's, in
// UTF-16 and in the ANSI code page (three bytes a unit at most, in UTF-8).
constexpr int kLongWideSize = static_cast<int>(kMaxLinkTextBytes) + 1;
constexpr int kLongTextSize = 3 * static_cast<int>(kMaxLinkTextBytes) + 1;

constexpr DWORD kResolveFlags = static_cast<DWORD>(SLR_NO_UI) | SLR_NOUPDATE |
                                SLR_NOSEARCH | SLR_NOTRACK;  // 0x39

void Trace(const char* format, HRESULT hr) {
  if (TraceEnabled) Print(format, static_cast<int>(hr));
}

// What the platform says, in words, of why a Load or Save failed.
void TraceNote() {
  if (!TraceEnabled) return;
  const char* note = LinkFailureNote();
  if (note[0] != '\0') Print("\nszNote: [%s]", note);
}

// FileName in UTF-16, terminated, or a failure when it cannot be converted.
[[nodiscard]] HRESULT WideFileName(WCHAR (&wide)[kWideNameSize]) {
  int n = MultiByteToWideChar(CP_ACP, 0, LinkRecord.FileName, -1, wide,
                              kWideNameSize);
  if (n <= 0) {
    wide[0] = 0;
    return E_INVALIDARG;
  }
  wide[kWideNameSize - 1] = 0;
  return S_OK;
}

// The link object and its file interface, created the same way for both
// operations: Create sets texts through IShellLinkA, Query reads them
// through IShellLinkW.  On failure nothing is left to release.
template <typename ShellLink>
[[nodiscard]] HRESULT OpenShellLink(REFIID iid, ShellLink** link, IPersistFile** file) {
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, iid,
                                reinterpret_cast<void**>(link));
  Trace("\nCoCreateInstance() returned [%d]", hr);
  if (FAILED(hr)) return hr;
  hr = (*link)->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file));
  Trace("\nIShellLink::QueryInterface() returned [%d]", hr);
  if (FAILED(hr)) {
    (*link)->Release();
    *link = nullptr;
  }
  return hr;
}

HRESULT CloseShellLink(IUnknown* link, IPersistFile* file, HRESULT hr) {
  file->Release();
  link->Release();
  return hr;
}

// Puts a text the object gave into its field (see WideToText), and the
// expansion of what the field kept into the expanded field where that fits
// it whole; an expansion that does not fit leaves the expanded field as it
// was.  Expanded in UTF-16, a variable's value shows no look-alike either.
void StoreText(WCHAR (&wide)[kWideTextSize], char (&field)[kTextSize]) {
  wide[kWideTextSize - 1] = 0;
  wide[WideToText(wide, field, nullptr)] = 0;  // what the field kept
}

void StoreWithExpansion(WCHAR (&wide)[kWideTextSize], char (&field)[kTextSize],
                        char (&expandedField)[kTextSize]) {
  StoreText(wide, field);
  WCHAR expanded[kWideTextSize] = {};
  const DWORD n = ExpandEnvironmentStringsW(wide, expanded, kWideTextSize);
  if (n == 0 || n > static_cast<DWORD>(kWideTextSize)) return;
  char text[kTextSize];
  if (expanded[WideToText(expanded, text, nullptr)] == 0) CopyText(expandedField, text);
}

// The icon's text as the loaded object holds it, whole, for an Edit that
// gives the same icon a new index: refused when it cannot be read whole, or
// when the ANSI code page does not hold it exactly, so that no cut text and
// no '?' ever takes the place of what the link holds.
[[nodiscard]] HRESULT LoadedIconText(IShellLinkA* link, char (&icon)[kLongTextSize]) {
  IShellLinkW* wideLink = nullptr;
  HRESULT hr = link->QueryInterface(IID_IShellLinkW, reinterpret_cast<void**>(&wideLink));
  if (FAILED(hr)) return hr;
  WCHAR wide[kLongWideSize] = {};
  int index = 0;
  hr = wideLink->GetIconLocation(wide, kLongWideSize, &index);
  wideLink->Release();
  if (FAILED(hr)) return hr;
  wide[kLongWideSize - 1] = 0;
  bool exact = true;
  const std::size_t taken = WideToText(wide, icon, &exact);
  // A text that fills the buffer may be longer in the object.
  if (wide[taken] != 0 || taken >= static_cast<std::size_t>(kLongWideSize - 1))
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  return exact ? S_OK : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
}


// One setter of the link object: the field it writes, whether that field
// differs from the link as loaded, and the line traced when it fails.
struct Setter {
  const char* FailureTrace;
  bool (*Differs)(const LINK_RECORD& now, const LINK_RECORD& loaded);
  HRESULT (*Call)(IShellLinkA* link, const LINK_RECORD& r, const char* icon);
};

// In the order the object is given them.
constexpr Setter kSetters[] = {
    {"\nIShellLink::SetPath() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) { return !TextEquals(a.TargetPath, b.TargetPath); },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) { return l->SetPath(r.TargetPath); }},
    {"\nIShellLink::SetArguments() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) { return !TextEquals(a.Arguments, b.Arguments); },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) { return l->SetArguments(r.Arguments); }},
    {"\nIShellLink::SetWorkingDirectory() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) {
       return !TextEquals(a.WorkingDirectory, b.WorkingDirectory);
     },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) {
       return l->SetWorkingDirectory(r.WorkingDirectory);
     }},
    {"\nIShellLink::SetShowCmd() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) { return a.RunStyle != b.RunStyle; },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) { return l->SetShowCmd(r.RunStyle); }},
    {"\nIShellLink::SetIconLocation() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) {
       return !TextEquals(a.IconLocation, b.IconLocation) || a.IconIndex != b.IconIndex;
     },
     [](IShellLinkA* l, const LINK_RECORD& r, const char* icon) {
       return l->SetIconLocation(icon, r.IconIndex);
     }},
    {"\nIShellLink::SetHotkey() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) { return a.HotKey != b.HotKey; },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) { return l->SetHotkey(r.HotKey); }},
    {"\nIShellLink::SetDescription() failed with [%i]",
     [](const LINK_RECORD& a, const LINK_RECORD& b) { return !TextEquals(a.Description, b.Description); },
     [](IShellLinkA* l, const LINK_RECORD& r, const char*) { return l->SetDescription(r.Description); }},
};

}  // namespace

HRESULT ShellLinkCreate() {
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  HRESULT hr = OpenShellLink(IID_IShellLinkA, &link, &file);
  if (FAILED(hr)) return hr;

  WCHAR wideName[kWideNameSize];
  hr = WideFileName(wideName);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  const LINK_RECORD& r = LinkRecord;
  // A new icon index with the icon's text unchanged: the object's own text
  // goes back with it, whole, for the record's copy may have been cut or
  // hold '?' for what the code page lacks.
  char loadedIcon[kLongTextSize] = {};
  const char* icon = r.IconLocation;
  const bool editing = RecordLoaded;
  if (editing) {
    hr = file->Load(wideName, STGM_READ);
    if (FAILED(hr)) {
      Trace("\nIPersistFile::Load() returned [%d]", hr);
      TraceNote();
      return CloseShellLink(link, file, hr);
    }
    if (TextEquals(r.IconLocation, LoadedRecord.IconLocation) &&
        r.IconIndex != LoadedRecord.IconIndex) {
      hr = LoadedIconText(link, loadedIcon);
      if (FAILED(hr)) {
        Trace("\nIShellLink::GetIconLocation() failed with [%i]", hr);
        return CloseShellLink(link, file, hr);
      }
      icon = loadedIcon;
    }
  }

  for (const Setter& setter : kSetters) {
    if (editing && !setter.Differs(r, LoadedRecord)) continue;
    hr = setter.Call(link, r, icon);
    if (FAILED(hr)) {
      Trace(setter.FailureTrace, hr);
      return CloseShellLink(link, file, hr);
    }
  }

  hr = file->Save(wideName, TRUE);
  if (FAILED(hr)) {
    Trace("\nIPersistFile::Save() failed with [%i]", hr);
    TraceNote();
    return CloseShellLink(link, file, hr);
  }
  hr = file->SaveCompleted(wideName);
  if (FAILED(hr)) {
    Trace("\nIPersistFile::SaveCompleted() failed with [%i]", hr);
    return CloseShellLink(link, file, hr);
  }
  return CloseShellLink(link, file, S_OK);
}

HRESULT ShellLinkQuery() {
  WCHAR target[kWideTextSize] = {};
  WCHAR arguments[kWideTextSize] = {};
  WCHAR workingDirectory[kWideTextSize] = {};
  WCHAR iconLocation[kWideTextSize] = {};
  WCHAR description[kWideTextSize] = {};
  int showCmd = 0;
  int iconIndex = 0;
  WORD hotKey = 0;

  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  HRESULT hr = OpenShellLink(IID_IShellLinkW, &link, &file);
  if (FAILED(hr)) return hr;

  WCHAR wideName[kWideNameSize];
  hr = WideFileName(wideName);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  hr = file->Load(wideName, STGM_READ);
  Trace("\nIPersistFile::Load() returned [%d]", hr);
  if (FAILED(hr)) {
    TraceNote();
    return CloseShellLink(link, file, hr);
  }

  hr = link->Resolve(nullptr, kResolveFlags);
  Trace("\nIShellLink::Resolve() returned [%d]", hr);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  LINK_RECORD& r = LinkRecord;
  WIN32_FIND_DATAW findData;
  hr = link->GetPath(target, kWideTextSize, &findData, SLGP_RAWPATH);
  Trace("\nIShellLink::GetPath() returned [%d]", hr);
  if (SUCCEEDED(hr)) StoreWithExpansion(target, r.TargetPath, r.TargetPathExpanded);

  if (SUCCEEDED(link->GetArguments(arguments, kWideTextSize)))
    StoreWithExpansion(arguments, r.Arguments, r.ArgumentsExpanded);

  if (SUCCEEDED(link->GetWorkingDirectory(workingDirectory, kWideTextSize)))
    StoreWithExpansion(workingDirectory, r.WorkingDirectory,
                       r.WorkingDirectoryExpanded);

  if (SUCCEEDED(link->GetShowCmd(&showCmd))) r.RunStyle = showCmd;

  if (SUCCEEDED(link->GetIconLocation(iconLocation, kWideTextSize, &iconIndex))) {
    r.IconIndex = iconIndex;
    StoreWithExpansion(iconLocation, r.IconLocation, r.IconLocationExpanded);
  }

  if (SUCCEEDED(link->GetHotkey(&hotKey))) r.HotKey = hotKey;

  hr = link->GetDescription(description, kWideTextSize);
  if (SUCCEEDED(hr)) StoreText(description, r.Description);

  if (FAILED(hr)) return CloseShellLink(link, file, hr);
  LoadedRecord = LinkRecord;
  RecordLoaded = true;
  return CloseShellLink(link, file, S_OK);
}
