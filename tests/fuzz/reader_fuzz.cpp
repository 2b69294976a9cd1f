// The link reader on any bytes, and the object's getters over what it read:
// no fault, the reader's verdict as the object's, and getters that cut
// their texts to the caller's buffer, each cut a prefix of the whole text.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "internal.h"
#include "shllink/bytes.h"
#include "shllink/reader.h"
#include "shllink/shell_items.h"

namespace {

constexpr std::size_t kWhole = 8192;  // more than any field holds

void Decode(const shllink::TextRef& text) {
  static char out[kWhole];
  shllink::TextToUtf8(text, out, sizeof out);
  FUZZ_CHECK(std::strlen(out) < sizeof out);
}

void DecodeAll(const shllink::ShellLink& link) {
  for (const shllink::TextRef& text : link.Strings.Text) Decode(text);
  const shllink::ExtraData& e = link.Extra;
  for (const shllink::TextRef* text :
       {&e.EnvironmentVariable.TargetAnsi, &e.EnvironmentVariable.TargetUnicode,
        &e.IconEnvironment.TargetAnsi, &e.IconEnvironment.TargetUnicode,
        &link.Info.LocalBasePath, &link.Info.CommonPathSuffix, &link.Info.NetworkLink.NetName})
    Decode(*text);
  static char path[kWhole];
  shllink::IDListPath(link.IDList.IDList, path, sizeof path);
}

// Each text getter, whole and into buffers too small for it.
struct Getter {
  HRESULT (*Get)(IShellLinkA* link, char* out, int cch);
};
constexpr Getter kGetters[] = {
    {[](IShellLinkA* l, char* o, int n) { return l->GetPath(o, n, nullptr, SLGP_RAWPATH); }},
    {[](IShellLinkA* l, char* o, int n) { return l->GetArguments(o, n); }},
    {[](IShellLinkA* l, char* o, int n) { return l->GetWorkingDirectory(o, n); }},
    {[](IShellLinkA* l, char* o, int n) { return l->GetDescription(o, n); }},
    {[](IShellLinkA* l, char* o, int n) {
      int index = 0;
      return l->GetIconLocation(o, n, &index);
    }},
};

void CheckGetters(IShellLinkA* link, std::size_t seed) {
  static char whole[kWhole];
  static char part[kWhole];
  for (const Getter& g : kGetters) {
    FUZZ_CHECK(SUCCEEDED(g.Get(link, whole, sizeof whole)));
    const std::size_t length = std::strlen(whole);
    FUZZ_CHECK(length < sizeof whole);
    for (int cch : {1, 2, 3 + static_cast<int>(seed % 5), 261}) {
      std::memset(part, 0x7F, sizeof part);
      FUZZ_CHECK(SUCCEEDED(g.Get(link, part, cch)));
      const std::size_t cut = std::strlen(part);
      FUZZ_CHECK(cut < static_cast<std::size_t>(cch));
      FUZZ_CHECK(std::memcmp(part, whole, cut) == 0);
      FUZZ_CHECK(part[cch] == 0x7F);  // nothing written past the buffer
      FUZZ_CHECK(length < static_cast<std::size_t>(cch) ? cut == length : cch - cut <= 4);
    }
  }
}

// The same through IShellLinkW, in UTF-16 units: a cut keeps a surrogate
// pair whole or leaves it out.
struct WideGetter {
  HRESULT (*Get)(IShellLinkW* link, WCHAR* out, int cch);
};
constexpr WideGetter kWideGetters[] = {
    {[](IShellLinkW* l, WCHAR* o, int n) { return l->GetPath(o, n, nullptr, SLGP_RAWPATH); }},
    {[](IShellLinkW* l, WCHAR* o, int n) { return l->GetArguments(o, n); }},
    {[](IShellLinkW* l, WCHAR* o, int n) { return l->GetWorkingDirectory(o, n); }},
    {[](IShellLinkW* l, WCHAR* o, int n) { return l->GetDescription(o, n); }},
    {[](IShellLinkW* l, WCHAR* o, int n) {
      int index = 0;
      return l->GetIconLocation(o, n, &index);
    }},
};

std::size_t WideLength(const WCHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

void CheckWideGetters(IShellLinkA* link, std::size_t seed) {
  IShellLinkW* wide = nullptr;
  FUZZ_CHECK(link->QueryInterface(IID_IShellLinkW, reinterpret_cast<void**>(&wide)) == S_OK);
  static WCHAR whole[kWhole];
  static WCHAR part[kWhole];
  for (const WideGetter& g : kWideGetters) {
    FUZZ_CHECK(SUCCEEDED(g.Get(wide, whole, static_cast<int>(kWhole))));
    const std::size_t length = WideLength(whole);
    for (int cch : {1, 2, 3 + static_cast<int>(seed % 5), 261}) {
      std::fill(std::begin(part), std::end(part), WCHAR{0x7F});
      FUZZ_CHECK(SUCCEEDED(g.Get(wide, part, cch)));
      const std::size_t cut = WideLength(part);
      FUZZ_CHECK(cut < static_cast<std::size_t>(cch));
      FUZZ_CHECK(std::equal(part, part + cut, whole));
      FUZZ_CHECK(part[cch] == 0x7F);  // nothing written past the buffer
      FUZZ_CHECK(length < static_cast<std::size_t>(cch) ? cut == length : cch - cut <= 2);
    }
  }
  wide->Release();
}

}  // namespace

int FuzzReader(const uint8_t* data, std::size_t size) {
  static shllink::ShellLink link;
  link = shllink::ShellLink();
  const shllink::ParseResult parsed = shllink::ParseShellLink(shllink::Bytes(data, size), &link);
  if (parsed == shllink::ParseResult::Ok) DecodeAll(link);

  if (size > portable::kMaxLinkFileSize) return 0;
  const fuzz::File& file = fuzz::FileNamed("read.lnk");
  fuzz::WriteFile(file, data, size);
  fuzz::Object object = fuzz::CreateObject();
  const HRESULT hr = fuzz::Load(object, file);
  FUZZ_CHECK(hr == S_OK || hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT) ||
             hr == HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
  // The reader's verdict alone decides.
  FUZZ_CHECK((parsed == shllink::ParseResult::Ok) == (hr == S_OK));
  FUZZ_CHECK((parsed == shllink::ParseResult::NotShellLink) ==
             (hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)));
  if (hr == S_OK) {
    CheckGetters(object.Link, size);
    CheckWideGetters(object.Link, size);
  }
  fuzz::ReleaseObject(&object);
  return 0;
}
