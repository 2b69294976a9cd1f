// Load, save, load through the shell link object's COM interfaces only: a
// link the object reads it writes back byte for byte, the second load gives
// every field the first gave, and saving that again gives the same bytes.
// Then one field is set anew: that field changes, and no other.
#include <cstring>

#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "internal.h"

namespace {

constexpr int kWhole = 8192;  // more than any field holds

struct Fields {
  HRESULT PathResult;
  char Path[kWhole];
  char Arguments[kWhole];
  char WorkingDirectory[kWhole];
  char Description[kWhole];
  char IconLocation[kWhole];
  int IconIndex;
  int ShowCmd;
  WORD HotKey;
};

void Read(IShellLinkA* link, Fields* f) {
  f->PathResult = link->GetPath(f->Path, kWhole, nullptr, SLGP_RAWPATH);
  FUZZ_CHECK(SUCCEEDED(f->PathResult));
  FUZZ_CHECK(SUCCEEDED(link->GetArguments(f->Arguments, kWhole)));
  FUZZ_CHECK(SUCCEEDED(link->GetWorkingDirectory(f->WorkingDirectory, kWhole)));
  FUZZ_CHECK(SUCCEEDED(link->GetDescription(f->Description, kWhole)));
  FUZZ_CHECK(SUCCEEDED(link->GetIconLocation(f->IconLocation, kWhole, &f->IconIndex)));
  FUZZ_CHECK(SUCCEEDED(link->GetShowCmd(&f->ShowCmd)));
  FUZZ_CHECK(SUCCEEDED(link->GetHotkey(&f->HotKey)));
}

void CheckSame(const Fields& a, const Fields& b) {
  FUZZ_CHECK(a.PathResult == b.PathResult);
  FUZZ_CHECK(std::strcmp(a.Path, b.Path) == 0);
  FUZZ_CHECK(std::strcmp(a.Arguments, b.Arguments) == 0);
  FUZZ_CHECK(std::strcmp(a.WorkingDirectory, b.WorkingDirectory) == 0);
  FUZZ_CHECK(std::strcmp(a.Description, b.Description) == 0);
  FUZZ_CHECK(std::strcmp(a.IconLocation, b.IconLocation) == 0);
  FUZZ_CHECK(a.IconIndex == b.IconIndex);
  FUZZ_CHECK(a.ShowCmd == b.ShowCmd);
  FUZZ_CHECK(a.HotKey == b.HotKey);
}

Fields loaded, reloaded;
// One field set anew: the field the edit owns takes the new value, and
// every other field reads as before.
void EditOneField(const fuzz::Object& object, uint8_t pick, Fields* expected) {
  IShellLinkA* link = object.Link;
  switch (pick % 5) {
    case 0:
      FUZZ_CHECK(link->SetDescription("Zelvo \xE2\x9C\x93") == S_OK);  // not in 1252
      std::strcpy(expected->Description, "Zelvo \xE2\x9C\x93");
      break;
    case 1:
      FUZZ_CHECK(link->SetArguments("") == S_OK);
      expected->Arguments[0] = '\0';
      break;
    case 2:
      FUZZ_CHECK(link->SetWorkingDirectory("C:\\w") == S_OK);
      std::strcpy(expected->WorkingDirectory, "C:\\w");
      break;
    case 3:
      FUZZ_CHECK(link->SetIconLocation("%SystemRoot%\\z.ico", 7) == S_OK);
      std::strcpy(expected->IconLocation, "%SystemRoot%\\z.ico");
      expected->IconIndex = 7;
      break;
    default:
      FUZZ_CHECK(link->SetPath("C:/Zelvo/../dial.exe") == S_OK);
      std::strcpy(expected->Path, "C:\\dial.exe");
      expected->PathResult = S_OK;
      break;
  }
}

uint8_t saved[portable::kMaxLinkFileSize + 1];
uint8_t savedAgain[portable::kMaxLinkFileSize + 1];

}  // namespace

int FuzzRoundTrip(const uint8_t* data, std::size_t size) {
  if (size > portable::kMaxLinkFileSize) return 0;
  const fuzz::File& input = fuzz::FileNamed("input.lnk");
  const fuzz::File& first = fuzz::FileNamed("first.lnk");
  const fuzz::File& second = fuzz::FileNamed("second.lnk");
  fuzz::WriteFile(input, data, size);

  fuzz::Object object = fuzz::CreateObject();
  if (FAILED(fuzz::Load(object, input))) {
    fuzz::ReleaseObject(&object);
    return 0;
  }
  Read(object.Link, &loaded);
  FUZZ_CHECK(fuzz::Save(object, first) == S_OK);
  // What the object loaded and did not change, it writes back as it was.
  FUZZ_CHECK(fuzz::ReadFile(first, saved, sizeof saved) == size);
  FUZZ_CHECK(size == 0 || std::memcmp(saved, data, size) == 0);
  fuzz::ReleaseObject(&object);

  fuzz::Object other = fuzz::CreateObject();
  FUZZ_CHECK(fuzz::Load(other, first) == S_OK);
  Read(other.Link, &reloaded);
  CheckSame(loaded, reloaded);
  FUZZ_CHECK(fuzz::Save(other, second) == S_OK);
  const std::size_t n = fuzz::ReadFile(first, saved, sizeof saved);
  FUZZ_CHECK(fuzz::ReadFile(second, savedAgain, sizeof savedAgain) == n);
  FUZZ_CHECK(std::memcmp(saved, savedAgain, n) == 0);

  // (A link near the size limit may have no room left to grow.)
  if (size + 64 * 1024 < portable::kMaxLinkFileSize) {
    EditOneField(other, size > 0 ? data[size - 1] : 0, &loaded);
    FUZZ_CHECK(fuzz::Save(other, second) == S_OK);
    fuzz::ReleaseObject(&other);
    fuzz::Object edited = fuzz::CreateObject();
    FUZZ_CHECK(fuzz::Load(edited, second) == S_OK);
    Read(edited.Link, &reloaded);
    CheckSame(loaded, reloaded);
    fuzz::ReleaseObject(&edited);
    return 0;
  }
  fuzz::ReleaseObject(&other);
  return 0;
}
