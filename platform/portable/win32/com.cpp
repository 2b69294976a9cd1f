// COM on a system without it: start-up and tear-down have nothing to do,
// and CoCreateInstance knows the one class the tool asks for.
#include "internal.h"
#include "platform.h"

const CLSID CLSID_ShellLink = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {
    0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkW = {
    0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {
    0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
portable::ShellLinkFactory shellLinkFactory = portable::CreatePortableShellLink;
}

namespace portable {
ShellLinkFactory SetShellLinkFactory(ShellLinkFactory factory) {
  ShellLinkFactory previous = shellLinkFactory;
  shellLinkFactory = factory != nullptr ? factory : CreatePortableShellLink;
  return previous;
}
}  // namespace portable

HRESULT WINAPI CoInitialize(LPVOID) { return S_OK; }

void WINAPI CoUninitialize() {}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD,
                                REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  if (!(rclsid == CLSID_ShellLink)) return REGDB_E_CLASSNOTREG;
  portable::ClearNote();  // a new object has failed at nothing yet
  return shellLinkFactory(riid, ppv);
}
