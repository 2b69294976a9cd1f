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

// Room for a text the object holds at full length, beyond the record's.
constexpr int kLongTextSize = kMaxLinkTextBytes + 1;

constexpr DWORD kResolveFlags = static_cast<DWORD>(SLR_NO_UI) | SLR_NOUPDATE |
                                SLR_NOSEARCH | SLR_NOTRACK;  // 0x39

void Trace(const char* format, HRESULT hr) {
  if (TraceEnabled) Print(format, static_cast<int>(hr));
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
// operations.  On failure nothing is left to release.
[[nodiscard]] HRESULT OpenShellLink(IShellLinkA** link, IPersistFile** file) {
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IShellLinkA, reinterpret_cast<void**>(link));
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

HRESULT CloseShellLink(IShellLinkA* link, IPersistFile* file, HRESULT hr) {
  file->Release();
  link->Release();
  return hr;
}

// Copies raw into its field and, where the expansion fits the buffer, the
// expansion into the expanded field.  An expansion that did not fit leaves
// the expanded field as it was.
void StoreWithExpansion(char (&raw)[kTextSize], char (&field)[kTextSize],
                        char (&expandedField)[kTextSize]) {
  raw[kTextSize - 1] = '\0';
  CopyText(field, raw);
  char expanded[kTextSize] = {};
  DWORD n = ExpandEnvironmentStringsA(raw, expanded, kTextSize);
  if (n != 0 && n <= kTextSize) {
    expanded[kTextSize - 1] = '\0';
    CopyText(expandedField, expanded);
  }
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
  HRESULT hr = OpenShellLink(&link, &file);
  if (FAILED(hr)) return hr;

  WCHAR wideName[kWideNameSize];
  hr = WideFileName(wideName);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  const LINK_RECORD& r = LinkRecord;
  // A new icon index with the icon's text unchanged: the object's own text
  // goes back with it, whole, for the record's copy may have been cut.
  char loadedIcon[kLongTextSize] = {};
  const char* icon = r.IconLocation;
  const bool editing = RecordLoaded;
  if (editing) {
    hr = file->Load(wideName, STGM_READ);
    if (FAILED(hr)) {
      Trace("\nIPersistFile::Load() returned [%d]", hr);
      return CloseShellLink(link, file, hr);
    }
    int index = 0;
    if (TextEquals(r.IconLocation, LoadedRecord.IconLocation) &&
        SUCCEEDED(link->GetIconLocation(loadedIcon, kLongTextSize, &index)))
      icon = loadedIcon;
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
  char target[kTextSize] = {};
  char arguments[kTextSize] = {};
  char workingDirectory[kTextSize] = {};
  char iconLocation[kTextSize] = {};
  char description[kTextSize] = {};
  int showCmd = 0;
  int iconIndex = 0;
  WORD hotKey = 0;

  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  HRESULT hr = OpenShellLink(&link, &file);
  if (FAILED(hr)) return hr;

  WCHAR wideName[kWideNameSize];
  hr = WideFileName(wideName);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  hr = file->Load(wideName, STGM_READ);
  Trace("\nIPersistFile::Load() returned [%d]", hr);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  hr = link->Resolve(nullptr, kResolveFlags);
  Trace("\nIShellLink::Resolve() returned [%d]", hr);
  if (FAILED(hr)) return CloseShellLink(link, file, hr);

  LINK_RECORD& r = LinkRecord;
  WIN32_FIND_DATAA findData;
  hr = link->GetPath(target, kTextSize, &findData, SLGP_RAWPATH);
  Trace("\nIShellLink::GetPath() returned [%d]", hr);
  if (SUCCEEDED(hr)) StoreWithExpansion(target, r.TargetPath, r.TargetPathExpanded);

  if (SUCCEEDED(link->GetArguments(arguments, kTextSize)))
    StoreWithExpansion(arguments, r.Arguments, r.ArgumentsExpanded);

  if (SUCCEEDED(link->GetWorkingDirectory(workingDirectory, kTextSize)))
    StoreWithExpansion(workingDirectory, r.WorkingDirectory,
                       r.WorkingDirectoryExpanded);

  if (SUCCEEDED(link->GetShowCmd(&showCmd))) r.RunStyle = showCmd;

  if (SUCCEEDED(link->GetIconLocation(iconLocation, kTextSize, &iconIndex))) {
    r.IconIndex = iconIndex;
    StoreWithExpansion(iconLocation, r.IconLocation, r.IconLocationExpanded);
  }

  if (SUCCEEDED(link->GetHotkey(&hotKey))) r.HotKey = hotKey;

  hr = link->GetDescription(description, kTextSize);
  if (SUCCEEDED(hr)) {
    description[kTextSize - 1] = '\0';
    CopyText(r.Description, description);
  }

  if (FAILED(hr)) return CloseShellLink(link, file, hr);
  LoadedRecord = LinkRecord;
  RecordLoaded = true;
  return CloseShellLink(link, file, S_OK);
}
